// The main job as a person runs it: backup, restore, verify and demo through
// the host's own entry point (and the real diskway-host.exe where a run must be
// killed), checked against the files themselves.
#include <algorithm>
#include <cwctype>
#include <functional>
#include <map>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "host/cli/Commands.h"
#include "host/cli/Summary.h"
#include "host/jobs/Transfer.h"
#include "host/jobs/TreeWalk.h"
#include "host/jobs/verify/TreeVerify.h"
#include "host/session/Format.h"
#include "host/session/LoadedPlugin.h"
#include "host/session/Text.h"
#include "instance/PluginImplementation.h"
#include "tests/host/CapturedOutput.h"
#include "tests/support/NativeShell.h"
#include "tests/support/RegistryOverride.h"
#include "tests/support/TempFolder.h"
#include "vmlib/ScopedHandle.h"
#include "vmlib/WindowsApi.h"

namespace {

using hosttest::HostRun;
using test::Contains;
using test::Pattern;
using test::ReadFileBytes;
using test::ToVirtual;
using test::WriteFileBytes;

constexpr uint64_t kJanuary2024 = 133497828000000000ull; // FILETIME of 2024-01-15 09:00 UTC
constexpr uint64_t kHour = 36000000000ull, kSecond = 10000000ull;
const wchar_t kNonAscii[] = L"caf\u00e9 \u4e2d\u6587 \U0001F389.txt";

FILETIME AsFileTime(uint64_t ticks) { return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)}; }

// Creation and last write time of a file or folder.
void SetTimes(const std::wstring& path, uint64_t ticks) {
  const VMLib::UniqueFile item(::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  const FILETIME time = AsFileTime(ticks);
  ASSERT_TRUE(item && ::SetFileTime(item.get(), &time, nullptr, &time)) << "cannot set the times";
}

void WriteFile(const std::wstring& path, const std::string& bytes, uint64_t ticks, uint32_t attributes = 0) {
  WriteFileBytes(path, bytes);
  SetTimes(path, ticks);
  if (attributes != 0) ::SetFileAttributesW(path.c_str(), attributes);
}

// Past 4 GiB the size needs both halves of the record; sparse, so cheap.
void WriteSparse(const std::wstring& path, int64_t bytes) {
  const VMLib::UniqueFile sparse(
      ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size;
  size.QuadPart = bytes;
  ASSERT_TRUE(::SetFilePointerEx(sparse.get(), size, nullptr, FILE_BEGIN) && ::SetEndOfFile(sparse.get()));
}

// A FAT32 drive under the plug-in's own writer: it keeps write times in
// steps of 2 s and creation times in steps of 10 ms, its listing shows them
// `shift` later (as after a change of daylight-saving time, FAT keeping
// local time), and with `warn` the plug-in warns while it applies an item's
// information, as it does of an ACL it could not set. Without `keepsTimes`
// it sets times of its own instead, as some WebDAV and NAS drives do.
class FatDrive final : public PluginImplementation {
public:
  FatDrive(IPluginLog& log, IPluginHost& host) : PluginImplementation(&log, &host, InstanceWrite), log_(log) {}
  int64_t shift = 0;
  bool warn = false, keepsTimes = true;

  uint32_t ApplyFileInfo(const std::wstring& path, const FileInfo& info) override {
    FileInfo kept = info;
    kept.lastWriteTime -= kept.lastWriteTime % static_cast<int64_t>(2 * kSecond);
    kept.creationTime -= kept.creationTime % 100000;
    // One that does not keep them sets its own, here a whole second long past.
    if (!keepsTimes) kept.lastWriteTime = kept.creationTime = 1700000000LL * kSecond;
    if (warn) log_.Log(Warning, (L"Can't set file ACL rights for '" + path + L"'").c_str());
    return PluginImplementation::ApplyFileInfo(path, kept);
  }
  uint32_t ListFolder(const std::wstring& path, FolderList& list) override {
    const uint32_t status = PluginImplementation::ListFolder(path, list);
    for (FolderEntry& entry : list) entry.info.lastWriteTime += shift;
    return status;
  }

private:
  IPluginLog& log_;
};

// Folders and files of every kind a copy must keep; the folders' times are
// set last, as a copy must set them.
void MakeTree(const std::wstring& root) {
  test::MakeFolder(root + L"\\empty");
  test::MakeFolder(root + L"\\sub\\deeper");
  WriteFile(root + L"\\a.txt", "alpha", kJanuary2024);
  WriteFile(root + L"\\hidden.txt", "hush", kJanuary2024 + kHour, FILE_ATTRIBUTE_HIDDEN);
  WriteFile(root + L"\\" + kNonAscii, "\xC3\xA9t\xC3\xA9", kJanuary2024 + 2 * kHour);
  WriteFile(root + L"\\sub\\b.bin", Pattern(3 << 20, 1), kJanuary2024 + 3 * kHour);
  WriteFile(root + L"\\sub\\read-only.txt", "fixed", kJanuary2024 + 4 * kHour, FILE_ATTRIBUTE_READONLY);
  WriteFile(root + L"\\sub\\deeper\\c.txt", "gamma", kJanuary2024 + 5 * kHour);
  SetTimes(root + L"\\sub\\deeper", kJanuary2024 + 6 * kHour);
  SetTimes(root + L"\\sub", kJanuary2024 + 7 * kHour);
  SetTimes(root + L"\\empty", kJanuary2024 + 8 * kHour);
}

// What a copy must keep of every item below `root`: the attributes a copy
// restores, the last write time, the contents.
std::map<std::wstring, std::string> Describe(const std::wstring& root) {
  return test::Describe(root, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
}

// Drive T: is a 1 MiB tmpfs where ./diskway test could mount one.
bool HaveSmallDrive() {
  ULARGE_INTEGER total{};
  return ::GetDiskFreeSpaceExW(L"T:\\", nullptr, &total, nullptr) && total.QuadPart <= (4u << 20);
}


// diskway-host.exe from the test's own folder as a child process, killed as
// soon as `due` says so (asked every millisecond): its exit code, -1 when
// killed. The arguments hold no quotes and end in no backslash, so quoting
// each whole is how the C runtime splits them.
int RunHostProgram(const std::vector<std::wstring>& args, const std::function<bool()>& due) {
  std::wstring commandLine = L"\"" + host::ExecutableFolder() + L"\\diskway-host.exe\"";
  for (const std::wstring& arg : args) commandLine += L" \"" + arg + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, /*inheritHandles=*/FALSE, 0, nullptr, nullptr,
                        &startup, &started)) {
    ADD_FAILURE() << "CreateProcessW failed with " << ::GetLastError();
    return -2;
  }
  const VMLib::UniqueKernelHandle process(started.hProcess);
  const VMLib::UniqueKernelHandle threadHandle(started.hThread);
  bool killed = false;
  while (!killed && ::WaitForSingleObject(process.get(), 1) == WAIT_TIMEOUT) {
    killed = due() && ::TerminateProcess(process.get(), 9);
  }
  ::WaitForSingleObject(process.get(), INFINITE);
  DWORD exitCode = 0;
  ::GetExitCodeProcess(process.get(), &exitCode);
  return killed ? -1 : static_cast<int>(exitCode);
}

// The tree commands run with one thread and with several (TreeJob): every
// rule and every summary line the same.
class MainJob : public ::testing::Test {
protected:
  // The host with a data folder of the test's own, in a run that must end
  // with `exitCode` and print each of `parts`.
  HostRun Expect(std::vector<std::wstring> args, int exitCode, const std::vector<std::wstring>& parts = {}) const {
    if (threads != 0 && (args[0] == L"backup" || args[0] == L"restore" || args[0] == L"verify")) {
      args.insert(args.end(), {L"--threads", std::to_wstring(threads)});
    }
    args.insert(args.begin(), {L"--data", temp / L"data"});
    const HostRun run = hosttest::Run(args);
    EXPECT_EQ(run.exitCode, exitCode) << run.output;
    for (const std::wstring& part : parts) {
      EXPECT_TRUE(Contains(run.output, part)) << "no '" << part << "' in\n" << run.output;
    }
    return run;
  }

  int threads = 0;
  test::TempFolder temp;
  const std::wstring src = temp / L"src", dst = temp / L"dst";
};

class TreeJob : public MainJob, public ::testing::WithParamInterface<int> {
protected:
  TreeJob() { threads = GetParam(); }
};
INSTANTIATE_TEST_SUITE_P(Threads, TreeJob, ::testing::Values(1, 4));

TEST_P(TreeJob, BackupRestoreAndIncrementalKeepTheTreeAndVerifyNamesEveryDifference) {
  MakeTree(src);
  ASSERT_EQ(Expect({L"backup", ToVirtual(src), ToVirtual(dst)}, 0).exitCode, 0);
  EXPECT_EQ(Describe(dst), Describe(src));
  EXPECT_EQ(Describe(src).size(), 9u);
  Expect({L"verify", ToVirtual(src), ToVirtual(dst)}, 0, {L"6 files and 3 folders (3.0 MiB) checked, no differences"});
  const std::wstring restored = temp / L"restored";
  Expect({L"restore", ToVirtual(dst), ToVirtual(restored), L"--buffer", L"64K"}, 0);
  EXPECT_EQ(Describe(restored), Describe(src));

  // Jobs that cannot start: a missing SRC; SRC and DST in one another, also
  // when spelled in other case or reached through a second drive letter.
  const std::string onZ = test::UnixPathOf(src);
  std::wstring srcThroughZ = L"Z:" + std::wstring(onZ.begin(), onZ.end());
  std::replace(srcThroughZ.begin(), srcThroughZ.end(), L'/', L'\\');
  std::wstring shouted = src;
  for (wchar_t& c : shouted) c = static_cast<wchar_t>(::towupper(c));
  for (const auto& [from, to, refusal] : std::vector<std::tuple<std::wstring, std::wstring, std::wstring>>{
           {temp / L"absent", dst, L"does not exist"},
           {src, src + L"\\copy", L"lies inside SRC"},
           {src, srcThroughZ + L"\\copy", L"lies inside SRC"},
           {srcThroughZ + L"\\sub", src, L"lies inside DST"},
           {src, shouted, L"are the same folder"}}) {
    Expect({L"backup", ToVirtual(from), ToVirtual(to)}, 2, {refusal});
  }
  EXPECT_FALSE(test::Exists(src + L"\\copy"));
  EXPECT_EQ(Describe(src), Describe(restored));

  // A folder in DST gets the source's attributes again, even where those are none.
  ::SetFileAttributesW((dst + L"\\empty").c_str(), FILE_ATTRIBUTE_HIDDEN);
  Expect({L"backup", ToVirtual(src), ToVirtual(dst), L"--incremental"}, 0,
         {L"Copied:    0 files", L"Skipped:   6 unchanged files"});
  EXPECT_EQ(Describe(dst), Describe(src));
  // Same size and time in DST count as unchanged even when the bytes are not:
  // that the damaged copy stays proves the file was not read again.
  WriteFile(src + L"\\a.txt", "alpha, changed", kJanuary2024 + 9 * kHour);
  WriteFile(dst + L"\\sub\\deeper\\c.txt", "GAMMA", kJanuary2024 + 5 * kHour);
  Expect({L"backup", ToVirtual(src), ToVirtual(dst), L"--incremental"}, 0, {L"Copied:    1 file and"});
  EXPECT_EQ(ReadFileBytes(dst + L"\\a.txt"), "alpha, changed");
  EXPECT_EQ(ReadFileBytes(dst + L"\\sub\\deeper\\c.txt"), "GAMMA");
  Expect({L"backup", ToVirtual(src), ToVirtual(temp / L"never"), L"--dry-run"}, 0,
         {L"would copy sub\\b.bin (3.0 MiB)"});
  EXPECT_FALSE(test::Exists(temp / L"never"));

  ::DeleteFileW((dst + L"\\a.txt").c_str());
  WriteFileBytes(dst + L"\\extra.txt", "new");
  WriteFileBytes(dst + L"\\sub\\b.bin", "short");
  SetTimes(dst + L"\\" + kNonAscii, kJanuary2024);
  ::SetFileAttributesW((dst + L"\\sub\\read-only.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
  const HostRun verify = Expect(
      {L"verify", ToVirtual(src), ToVirtual(dst)}, 1,
      {L"missing in DST: a.txt\n", L"extra in DST: extra.txt\n", L"size: sub\\b.bin: SRC 3145728 bytes, DST 5 bytes",
       L"content: sub\\deeper\\c.txt: SHA-256 ", L"time: " + std::wstring(kNonAscii) + L": created SRC ",
       L"attributes: sub\\read-only.txt: SRC R, DST -"});
  EXPECT_FALSE(Contains(verify.output, L"hidden.txt")) << verify.output;
  EXPECT_FALSE(Contains(verify.output, L"time: sub\\deeper\\c.txt")) << verify.output;
}

// A case-sensitive source (Z: is the Linux root) with two names Windows takes
// for one, a link out of the tree and a link back up; then a restore into a
// tree whose file and folder are links to places outside it. links.sh makes
// one such tree per thread count natively, as Windows calls cannot.
TEST_P(TreeJob, CaseClashesAndLinksAreNamedAndNeverWrittenThrough) {
  const std::wstring root = LINK_FIXTURE L"\\e2e-" + std::to_wstring(threads);
  if (!(test::Attributes(root + L"\\src\\out-link") & FILE_ATTRIBUTE_REPARSE_POINT)) {
    GTEST_SKIP() << "no link to a folder in the fixture (made natively by the link_fixture test)";
  }
  const std::wstring source = ToVirtual(root + L"\\src");
  const std::wstring notFollowed = L"  Not followed: 2 links to folders (what they lead to was not copied)\n"
                                   L"    out-link\n    sub\\loop\n";
  const std::wstring reason = L"its name differs only in case from Index.html; DST cannot hold both\n";
  Expect({L"backup", source, ToVirtual(dst)}, 1,
         {L"(" + std::to_wstring(threads) + L" worker", L"Failed:    1 item\n    index.html\n      " + reason, notFollowed});
  EXPECT_EQ(Describe(dst).size(), 3u) << "only Index.html, sub and sub\\b.txt";
  EXPECT_EQ(ReadFileBytes(dst + L"\\Index.html"), "upper");
  Expect({L"verify", source, ToVirtual(dst)}, 1,
         {L"  case: index.html: " + reason + notFollowed + L"Verify finished", L"checked, 1 difference\n"});
  Expect({L"restore", ToVirtual(dst), ToVirtual(root + L"\\restore")}, 1,
         {L"    sub\n      DST holds a link to a folder under this name",
          L"    Index.html\n      DST holds a link under this name: "});
  EXPECT_EQ(ReadFileBytes(root + L"\\outside\\secret.txt"), "kept") << "written through the link to a file";
  EXPECT_FALSE(test::Exists(root + L"\\outside\\b.txt")) << "written through the link to a folder";
  // On Z: the exact name comes first, so this removes the lower-case file alone.
  ASSERT_TRUE(::DeleteFileW((root + L"\\src\\index.html").c_str()));
  EXPECT_EQ(ReadFileBytes(root + L"\\src\\Index.html"), "upper");
  Expect({L"backup", source, ToVirtual(temp / L"again")}, 0, {L"Failed:    0 items\n" + notFollowed});

  // Two names Wine reads as one are neither merged nor taken for a case clash.
  const std::wstring inexact = ToVirtual(LINK_FIXTURE L"\\inexact");
  Expect({L"backup", inexact, ToVirtual(temp / L"inexact")}, 1,
         {L"Failed:    2 items\n", L"\n      the name could not be read exactly: SRC gave 2 items this one name"});
  EXPECT_EQ(test::FolderItems(temp / L"inexact").size(), 1u) << "only good.txt";
  Expect({L"verify", inexact, ToVirtual(temp / L"inexact")}, 1, {L"  unreadable: bad", L"checked, 2 differences"});
}

// ACLs as Wine keeps them (as Unix modes): what --copy-acl carries comes
// back as listed, without a warning; verify --copy-acl names each item a
// copy without them differs in.
TEST_P(TreeJob, AclsComeBackAsListedAndVerifyNamesTheItemsACopyWithoutThemLost) {
  const std::wstring modes = ToVirtual(LINK_FIXTURE L"\\modes"), copy = ToVirtual(temp / L"acl");
  Expect({L"backup", modes, ToVirtual(dst)}, 0);
  Expect({L"verify", modes, ToVirtual(dst), L"--copy-acl"}, 1,
         {L"  acl: private\\: DACL SRC D:", L"  acl: private.txt: DACL SRC D:", L"checked, 2 differences"});
  for (const auto& [job, from, to] : {std::tuple{L"backup", modes, copy}, {L"restore", copy, ToVirtual(temp / L"back")}}) {
    const HostRun run = Expect({job, from, to, L"--copy-acl"}, 0, {L"Failed:    0 items\n"});
    EXPECT_FALSE(Contains(run.output, L"WARNING") || Contains(run.output, L"Metadata:")) << run.output;
  }
  Expect({L"verify", modes, ToVirtual(temp / L"back"), L"--copy-acl"}, 0, {L"checked, no differences"});
}

// FAT32 simulated over C:: the host learns its steps by reading a time back,
// skips and verifies copies whose times it rounded, also an hour off, but
// not five seconds more, nor where times are not kept at all; refuses a file of 4 GiB before copying it; and a
// warning while an item's information is applied leaves it copied, on a
// line and count of its own, the job incomplete.
TEST_F(MainJob, FatDriveRoundsTimesRefusesLargeFilesAndMetadataWarningsAreCounted) {
  const host::LocationStore locations(temp / L"data");
  host::PluginHost pluginHost(temp / L"data", false, locations);
  hosttest::CapturedOutput out;
  host::HostLog log(out);
  host::LoadedPlugin plugin(host::ExecutableFolder() + L"\\Diskway.dll", log, pluginHost);
  FatDrive fat(log, pluginHost);
  test::MakeFolder(src);
  WriteFile(src + L"\\odd.txt", "odd", kJanuary2024 + 12345678);
  WriteSparse(src + L"\\huge.bin", 5LL << 32);
  const auto copy = [&](bool incremental) {
    return host::CopyTree(plugin.Reader(), fat, log, out, ToVirtual(src), ToVirtual(dst), {1 << 20, incremental, false});
  };
  const host::CopyReport first = copy(false);
  EXPECT_TRUE(first.failures.size() == 1 && Contains(first.failures[0].reason, L"on a FAT drive, which holds no"));
  EXPECT_NE(Describe(dst)[L"odd.txt"].find("written " + std::to_string(kJanuary2024) + ","), std::string::npos);
  // Rounded, and also an hour off, the copies are unchanged (only huge.bin
  // is missing); a whole step apart, or five seconds more, their write times differ.
  const auto verify = [&] {
    return host::VerifyTrees(plugin.Reader(), fat, log, out, ToVirtual(src), ToVirtual(dst), 1 << 20, false);
  };
  for (const auto& [shift, skipped, differences] : {std::tuple{int64_t{2 * kSecond + 12345678}, 0u, 2u},
                                                    {int64_t{0}, 1u, 1u}, {int64_t{kHour}, 1u, 1u},
                                                    {int64_t{kHour + 5 * kSecond}, 0u, 2u}}) {
    fat.shift = shift;
    EXPECT_EQ(copy(true).skippedFiles, skipped) << shift;
    EXPECT_EQ(verify().differences.size(), differences) << shift;
  }
  fat.warn = true;
  const std::wstring summary = host::CopySummary(copy(false), L"Backup", {});
  EXPECT_TRUE(Contains(summary, L"Copied:    1 file and 0 folders") && Contains(summary, L"Failed:    1 item\n") &&
              Contains(summary, L"Metadata:  2 items copied, metadata not applied\n") &&
              Contains(summary, L"    odd.txt\n      copied, metadata not applied: Can't set file ACL rights for "))
      << summary;
  // Times a drive does not keep (it sets its own) are never trusted: the
  // file is copied again, and verify goes by its contents, each saying so.
  ::DeleteFileW((src + L"\\huge.bin").c_str()); // no longer refused: the drive is no FAT
  fat.warn = fat.keepsTimes = false;
  EXPECT_EQ(copy(true).skippedFiles, 0u);
  EXPECT_TRUE(verify().differences.empty());
  EXPECT_TRUE(Contains(out.text(), L" does not keep last write times (one set there came back far from it), so "
                                   L"--incremental cannot tell an unchanged file by it: every file is copied again") &&
              Contains(out.text(), L"they are not compared, the contents of every file are\n"))
      << out.text();
}

TEST_P(TreeJob, FullDiskLeavesNoPartialFileAndStops) {
  if (!HaveSmallDrive()) GTEST_SKIP() << "no small drive T: (./diskway test mounts a 1 MiB tmpfs there as root)";
  test::MakeFolder(src);
  for (const wchar_t* big : {L"a", L"c", L"e", L"f"}) WriteFileBytes(src + L"\\" + big + L"-big.bin", Pattern(1536 << 10, 2));
  WriteFileBytes(src + L"\\b-small.txt", "fits");
  WriteFileBytes(src + L"\\d-small.txt", "never tried");
  // With several threads as the folder of Z: that the drive is mounted on:
  // a full volume there is full too, whatever Z: has free.
  const std::wstring target = (threads == 1 ? L"T:" : TINY_FOLDER) + std::wstring(L"\\e2e-") +
                              std::to_wstring(::GetCurrentProcessId());

  const HostRun full = Expect({L"backup", ToVirtual(src), ToVirtual(target)}, 1,
                              {L"    a-big.bin\n      the disk holding", L"Stopped early: the disk holding"});
  // Four workers start files that fail for space: every figure counts all
  // the items listed (each with one line of reason), all those for space.
  const auto listed = [&full](const wchar_t* reason) {
    const std::wregex pattern(reason);
    return std::distance(std::wsregex_iterator(full.output.begin(), full.output.end(), pattern), {});
  };
  EXPECT_TRUE(Contains(full.output, L"Failed:    " + host::CountOf(listed(L"\n      "), L"item") + L"\n") &&
              Contains(full.output, L"is full: " + host::CountOf(listed(L"\n      the disk holding"), L"file")))
      << full.output;
  EXPECT_FALSE(test::Exists(target + L"\\a-big.bin") || test::Exists(target + L"\\c-big.bin"))
      << "a partial copy was left behind";
  // Several threads may have started it before the second file failed.
  EXPECT_FALSE(threads == 1 && test::Exists(target + L"\\d-small.txt"))
      << "the copy went on after the second file that did not fit";
  test::RemoveAll(target);

  // A new version that does not fit beside the old one leaves the old one.
  const std::string old = Pattern(600 << 10, 4);
  test::MakeFolder(target);
  WriteFile(target + L"\\kept.bin", old, kJanuary2024);
  const std::wstring newer = temp / L"newer";
  test::MakeFolder(newer);
  WriteFile(newer + L"\\kept.bin", Pattern(600 << 10, 5), kJanuary2024 + kHour);
  Expect({L"backup", ToVirtual(newer), ToVirtual(target)}, 1, {L"; the old copy is kept\n"});
  EXPECT_TRUE(ReadFileBytes(target + L"\\kept.bin") == old) << "the old copy changed";
  EXPECT_EQ(test::FolderItems(target).size(), 1u) << "the temporary file was left behind";
  // So does get onto a local file.
  Expect({L"get", ToVirtual(newer + L"\\kept.bin"), target + L"\\kept.bin"}, 1);
  EXPECT_TRUE(ReadFileBytes(target + L"\\kept.bin") == old) << "get changed the local file";
  EXPECT_EQ(test::FolderItems(target).size(), 1u) << "get left its temporary file behind";
  test::RemoveAll(target);
}

// Links made natively (links.sh) on both sides of every command that writes,
// reached through Z: and through a network drive that only the plug-in's
// mapping makes (N$, the share links.sh makes): what lies outside the target
// keeps its bytes and its mode, and each item left alone is named with its
// reason.
TEST_F(MainJob, LinksOnEitherSideNeverChangeWhatLiesOutside) {
  const std::wstring root = LINK_FIXTURE L"\\hostile";
  const std::wstring from = root + L"\\src", to = root + L"\\dst", outside = root + L"\\outside";
  ASSERT_TRUE(test::Exists(host::TemporaryPathFor(to + L"\\c.txt"))) << "links.sh plants its link under another name";
  const std::wstring planted = host::TemporaryPathFor(to + L"\\p.txt");
  ASSERT_EQ(test::RunNative(to, "printf old-p > p.txt && ln ../outside/planted.txt '" + test::UnixPathOf(planted) + "'"), 0);
  const test::RegistryOverride registry;
  test::RegistryOverride::AddNetworkDrive(L"N", L"\\\\srv\\share");
  const std::wstring link = L"DST holds a link under this name: ";
  WriteFileBytes(temp / L"put.txt", "put");
  for (const std::wstring& tree : {ToVirtual(root), std::wstring(L"N$\\hostile")}) {
    const std::wstring source = tree + L"\\src", target = tree + L"\\dst";
    Expect({L"backup", source, target}, 1,
           {L"045b179ae3dab8f4.partial\n      named as a partial copy of a run that did not finish, but not removed",
            L"    a.txt\n      " + link, L"    b.txt\n", L"    c.txt\n      its copy would be written under ",
            L"    d.txt\n      " + link, L"    f.txt\n      " + link, L"    zero\n",
            L"    sep\\b\n      its name holds '\\', which Windows takes for a separator"});
    EXPECT_EQ(ReadFileBytes(to + L"\\c.txt"), "old-c");
    EXPECT_EQ(ReadFileBytes(to + L"\\g.txt"), "new-g");
    EXPECT_FALSE(test::Exists(to + L"\\zero")) << "what was read from /dev/zero was kept";
    // Into the 1 MiB drive, where a read without its bound would end too.
    if (HaveSmallDrive()) {
      Expect({L"get", source + L"\\zero", L"T:\\zero"}, 1, {L"zero', which bounds the read"});
      EXPECT_FALSE(test::Exists(L"T:\\zero"));
    }
    // A link back to the SRC file, or a second name of it, has its size and
    // time, but is no copy.
    Expect({L"backup", source, target, L"--incremental"}, 1,
           {L"    d.txt\n      " + link, L"f.txt' under a second name (a hard link)"});
    Expect({L"verify", source, target}, 1,
           {L"type: a.txt: a file in SRC, in DST ", L"type: d.txt: ", L"type: f.txt: ", L"unreadable: sep\\b: its"});
    EXPECT_EQ(ReadFileBytes(to + L"\\sep\\b"), "good");
    Expect({L"put", temp / L"put.txt", target + L"\\a.txt"}, 1, {L"a.txt' is a link to "});
    Expect({L"put", temp / L"put.txt", target + L"\\b.txt"}, 1); // dangling
    // The replacement's temporary name planted as another name of a file outside.
    Expect({L"put", temp / L"put.txt", target + L"\\p.txt"}, 0);
    EXPECT_EQ(ReadFileBytes(to + L"\\p.txt"), "put");
    // A local link is replaced by the file, never written through.
    for (const wchar_t* local : {L"\\local\\link.txt", L"\\local\\dangling.txt"}) {
      Expect({L"get", source + L"\\c.txt", root + local}, 0);
      EXPECT_EQ(ReadFileBytes(root + local), "new-c");
    }
    EXPECT_EQ(ReadFileBytes(outside + L"\\ro.txt"), "read-only outside");
    EXPECT_TRUE(test::Attributes(outside + L"\\ro.txt") & FILE_ATTRIBUTE_READONLY) << "made writable";
    EXPECT_EQ(ReadFileBytes(outside + L"\\planted.txt"), "planted");
    EXPECT_EQ(test::FolderItems(outside).size(), 2u) << "created through a dangling link";
  }
  // DST inside SRC, spelled through the share and through Z:.
  Expect({L"backup", L"N$\\hostile\\src", ToVirtual(from + L"\\copy"), L"--dry-run"}, 2, {L"lies inside SRC"});
}

// A drive letter for a folder inside SRC (Q:, made by the entry script)
// hides the nesting from every name and from the check at the start; the
// copy finds it by identity as it goes, either way round.
TEST_F(MainJob, DriveLetterForAFolderInsideTheOtherTreeIsFoundWhileCopying) {
  const std::wstring nest = NEST_FOLDER;
  if (!test::IsFolder(L"Q:\\")) GTEST_SKIP() << "no drive Q: (the entry script makes it before the tests)";
  for (const wchar_t* made : {L"\\dst", L"\\sub\\dst", L"\\sub\\sub", L"\\sub\\c.txt"}) {
    test::RemoveAll(nest + made);
  }
  test::MakeFolder(nest + L"\\sub\\sub");
  WriteFileBytes(nest + L"\\sub\\sub\\c.txt", "c");
  // DST is a folder of SRC's: checked against every one before anything is written.
  WriteFileBytes(nest + L"\\c.txt", "top");
  Expect({L"backup", ToVirtual(nest), L"Q$"}, 2,
         {L"DST 'Q$' is SRC's folder '" + ToVirtual(nest) + L"\\sub', reached under another name"});
  EXPECT_FALSE(test::Exists(L"Q:\\c.txt")) << "written into a folder of SRC";
  ::DeleteFileW((nest + L"\\c.txt").c_str());
  Expect({L"backup", ToVirtual(nest), L"Q$\\dst", L"--threads", L"1"}, 1,
         {L"    sub\\dst\n      this folder is DST 'Q$\\dst' itself, reached under another name"});
  EXPECT_EQ(ReadFileBytes(L"Q:\\dst\\sub\\sub\\c.txt"), "c");
  EXPECT_FALSE(test::Exists(L"Q:\\dst\\sub\\dst")) << "DST was copied into itself";
  // Copied into DST, SRC's sub would land on SRC itself: c.txt over itself.
  Expect({L"backup", L"Q$", ToVirtual(nest), L"--threads", L"1"}, 1,
         {L"    sub\n      DST '" + ToVirtual(nest) + L"\\sub' is SRC 'Q$' itself", L"Stopped early: "});
  EXPECT_EQ(ReadFileBytes(nest + L"\\sub\\sub\\c.txt"), "c");
}

// The root of an empty drive (E:, made by the entry script) has no entry at
// all, which the plug-in reports as a listing that failed: each job takes it
// for an empty folder, on either side.
TEST_F(MainJob, EmptyDriveRootIsAnEmptyFolder) {
  if (!test::IsFolder(L"E:\\")) GTEST_SKIP() << "no drive E: (the entry script makes it before the tests)";
  const auto empty = [] {
    for (const WIN32_FIND_DATAW& item : test::FolderItems(L"E:")) {
      test::RemoveAll(L"E:\\" + std::wstring(item.cFileName));
    }
  };
  empty();
  Expect({L"restore", L"E$", ToVirtual(dst)}, 0, {L"Copying 0 files and 0 folders", L"Failed:    0 items"});
  Expect({L"verify", ToVirtual(dst), L"E$"}, 0, {L"'E$' is an empty drive, taken as an empty folder"});
  MakeTree(src);
  Expect({L"backup", ToVirtual(src), L"E$"}, 0, {L"Failed:    0 items"});
  EXPECT_EQ(Describe(L"E:"), Describe(src));
  empty();
}

// The real diskway-host.exe, killed while it replaces a file: its exit code is
// the program's own; the next run mends what the killed one left.
TEST_F(MainJob, KilledReplacingRunLeavesTheOldCopyAndTheNextRunMendsIt) {
  test::MakeFolder(src);
  test::MakeFolder(dst);
  const std::string old = Pattern(1 << 20, 6);
  WriteFile(dst + L"\\big.bin", old, kJanuary2024);
  WriteFileBytes(src + L"\\big.bin", Pattern(64 << 20, 7));
  WriteFileBytes(src + L"\\small.txt", "small");
  const std::wstring partial = host::TemporaryPathFor(dst + L"\\big.bin");
  // Small buffers, so the copy is still under way when the file is seen.
  const std::vector<std::wstring> backup = {L"--data", temp / L"data", L"backup", ToVirtual(src), ToVirtual(dst),
                                            L"--buffer", L"4K"};
  const int killed = RunHostProgram(backup, [&] {
    WIN32_FILE_ATTRIBUTE_DATA data;
    return ::GetFileAttributesExW(partial.c_str(), GetFileExInfoStandard, &data) && data.nFileSizeLow > (2u << 20);
  });
  ASSERT_EQ(killed, -1) << "the host finished before it could be killed mid-file";
  EXPECT_TRUE(ReadFileBytes(dst + L"\\big.bin") == old) << "the old copy changed";
  EXPECT_TRUE(test::Exists(partial));

  Expect({L"backup", ToVirtual(src), ToVirtual(dst), L"--incremental"}, 0, {L"Failed:    0 items\n"});
  EXPECT_FALSE(test::Exists(partial)) << "the killed run's temporary file was not removed";
  Expect({L"verify", ToVirtual(src), ToVirtual(dst)}, 0, {L"checked, no differences"});
  EXPECT_EQ(RunHostProgram({L"stat", ToVirtual(src + L"\\absent")}, [] { return false; }), 1);
}

// The single-item commands a person browses and tidies storage with, each
// checked against the file system; put replaces a file whole, leaving no
// temporary file beside it.
TEST_F(MainJob, ItemCommandsActOnTheFileSystem) {
  const std::string large = Pattern(24 << 20, 0);
  WriteFileBytes(temp / L"large.bin", large);
  WriteFileBytes(temp / L"remote.bin", "the old one, replaced whole");
  Expect({L"put", temp / L"large.bin", ToVirtual(temp / L"remote.bin")}, 0);
  EXPECT_EQ(test::FolderItems(temp.path()).size(), 3u) << "a temporary file was left beside the target";
  Expect({L"get", ToVirtual(temp / L"remote.bin"), temp / L"back.bin", L"--buffer", L"256K"}, 0);
  EXPECT_TRUE(ReadFileBytes(temp / L"remote.bin") == large);
  EXPECT_TRUE(ReadFileBytes(temp / L"back.bin") == large);
  Expect({L"get", ToVirtual(temp / L"absent"), temp / L"absent.bin"}, 1);
  EXPECT_FALSE(test::Exists(temp / L"absent.bin")) << "created before the plug-in opened the file";

  WriteFile(temp / L"item.txt", "12345", kJanuary2024, FILE_ATTRIBUTE_HIDDEN);
  Expect({L"info"}, 0, {L"Computer 1.0", L"3 (read, write)", L"C$"});
  Expect({L"ls", ToVirtual(temp.path())}, 0, {L"item.txt"});
  // The host adds its own epoch to the plug-in's times, so a copy that keeps
  // times exactly still shows here if the plug-in counts from another one.
  Expect({L"stat", ToVirtual(temp / L"item.txt")}, 0,
         {L"5 bytes", host::Field(L"Modified", host::FormatFileTime(AsFileTime(kJanuary2024)))});
  WriteSparse(temp / L"sparse.bin", (5LL << 32) + 7);
  Expect({L"stat", ToVirtual(temp / L"sparse.bin")}, 0, {L"21474836487 bytes"});
  Expect({L"df", ToVirtual(temp.path())}, 0, {L"Free:"});
  Expect({L"mkdir", ToVirtual(temp / L"a\\b\\c")}, 0);
  EXPECT_TRUE(test::IsFolder(temp / L"a\\b\\c"));
  Expect({L"mv", ToVirtual(temp / L"item.txt"), ToVirtual(temp / L"a\\b\\moved.txt")}, 0);
  EXPECT_EQ(ReadFileBytes(temp / L"a\\b\\moved.txt"), "12345");
  Expect({L"rm", ToVirtual(temp / L"a")}, 0);
  EXPECT_FALSE(test::Exists(temp / L"a"));
  Expect({L"mkdir", ToVirtual(temp / L"bad?name")}, 1, {L"contains forbidden"});
  // What is not a virtual path never reaches the plug-in, which would take
  // it relative to the host's current folder.
  Expect({L"put", temp / L"item.txt", L"y"}, 2, {L"'y' is not a virtual path"});
  EXPECT_FALSE(test::Exists(L"y"));
}

TEST_F(MainJob, DemoExplainsTheFileItHeldOpen) {
  test::MakeFolder(temp / L"demo");
  WriteFileBytes(temp / L"demo\\mine.txt", "not the demo's");
  Expect({L"demo", temp / L"demo"}, 2);
  EXPECT_TRUE(test::Exists(temp / L"demo\\mine.txt"));
  ::DeleteFileW((temp / L"demo\\mine.txt").c_str());
  Expect({L"demo", temp / L"demo"}, 0,
         {L"1 file was locked by another program and could not be read from a shadow copy: ",
          L"  missing in DST: logs\\held-open.log\n      expected: the demo held this file open",
          L"Verify finished in ",
          L"Demo result: the backup is identical to the sample tree, except for the file held open"});
  EXPECT_TRUE(test::Exists(temp / L"demo\\backup\\settings\\read-only and hidden.cfg"));
}

} // namespace
