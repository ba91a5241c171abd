// The main job as a person runs it: backup, restore, verify and demo through
// the real diskway-host.exe, checked against the files themselves.
#include <cwctype>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "host/Commands.h"
#include "host/Transfer.h"
#include "tests/doubles/provider/TestProviderControl.h"
#include "tests/e2e/HostProcess.h"
#include "tests/host/CapturedOutput.h"
#include "tests/support/TempFolder.h"
#include "vmlib/ScopedHandle.h"
#include "vmlib/WindowsApi.h"

namespace {

using e2e::HostRun;
using e2e::RunUnixShell;
using e2e::ThroughZ;
using e2e::UnixPathOf;
using test::ReadFileBytes;
using test::ToVirtual;
using test::WriteFileBytes;

constexpr uint64_t kJanuary2024 = 133497828000000000ull; // FILETIME of 2024-01-15 09:00 UTC
constexpr uint64_t kHour = 36000000000ull;
const wchar_t kNonAscii[] = L"caf\u00e9 \u4e2d\u6587 \U0001F389.txt";

std::string Pattern(size_t size, uint64_t seed) {
  std::string bytes(size, '\0');
  uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
  for (char& byte : bytes) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    byte = static_cast<char>(state >> 24);
  }
  return bytes;
}

FILETIME FileTime(uint64_t ticks) {
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(ticks);
  time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return time;
}

// Creation and last write time of a file or folder.
void SetTimes(const std::wstring& path, uint64_t ticks) {
  const VMLib::UniqueFile item(::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  const FILETIME time = FileTime(ticks);
  ASSERT_TRUE(item && ::SetFileTime(item.get(), &time, nullptr, &time)) << "cannot set the times";
}

void WriteFile(const std::wstring& path, const std::string& bytes, uint64_t ticks, uint32_t attributes = 0) {
  WriteFileBytes(path, bytes);
  SetTimes(path, ticks);
  if (attributes != 0) ::SetFileAttributesW(path.c_str(), attributes);
}

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

// What a copy must keep of every item below `root`, read with Win32 alone:
// the attributes a copy restores, the last write time, the contents.
void Describe(const std::wstring& root, const std::wstring& relative, std::map<std::wstring, std::string>& items) {
  const std::wstring folder = relative.empty() ? root : root + L"\\" + relative;
  WIN32_FIND_DATAW data;
  const VMLib::UniqueFind find(::FindFirstFileW((folder + L"\\*").c_str(), &data));
  if (!find) return;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring item = relative.empty() ? name : relative + L"\\" + name;
    const uint32_t kept = data.dwFileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                                   FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY);
    const uint64_t written =
        static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32 | data.ftLastWriteTime.dwLowDateTime;
    std::string text = "attributes " + std::to_string(kept) + ", written " + std::to_string(written);
    if (kept & FILE_ATTRIBUTE_DIRECTORY) {
      Describe(root, item, items);
    } else {
      const std::string bytes = ReadFileBytes(root + L"\\" + item);
      text += ", " + std::to_string(bytes.size()) + " bytes, hash " + std::to_string(std::hash<std::string>()(bytes));
    }
    items[item] = text;
  } while (::FindNextFileW(find.get(), &data));
}

std::map<std::wstring, std::string> Describe(const std::wstring& root) {
  std::map<std::wstring, std::string> items;
  Describe(root, L"", items);
  return items;
}

// `mebibytes` of patterned bytes, one mebibyte at a time.
void WriteLargeFile(const std::wstring& path, uint64_t mebibytes, uint64_t seed) {
  const VMLib::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(file.valid());
  for (uint64_t chunk = 0; chunk < mebibytes; ++chunk) {
    const std::string bytes = Pattern(1 << 20, seed + chunk);
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
  }
}

bool Contains(const std::wstring& text, const std::wstring& part) {
  return text.find(part) != std::wstring::npos;
}

class MainJob : public ::testing::Test {
protected:
  // diskway-host.exe with a data folder of the test's own.
  HostRun Host(std::vector<std::wstring> args) const {
    args.insert(args.begin(), {L"--data", temp / L"data"});
    return e2e::RunHost(args);
  }

  test::TempFolder temp;
  const std::wstring src = temp / L"src";
  const std::wstring dst = temp / L"dst";
};

// The tree commands, with one thread and with several: every rule and every
// summary line the same.
class TreeJob : public MainJob, public ::testing::WithParamInterface<int> {
protected:
  HostRun Host(std::vector<std::wstring> args) const {
    if (args[0] == L"backup" || args[0] == L"restore" || args[0] == L"verify") {
      args.insert(args.end(), {L"--threads", std::to_wstring(GetParam())});
    }
    return MainJob::Host(args);
  }
};
INSTANTIATE_TEST_SUITE_P(Threads, TreeJob, ::testing::Values(1, 4));

TEST_P(TreeJob, BackupAndRestoreKeepContentsTimesAndAttributes) {
  MakeTree(src);
  const HostRun backup = Host({L"backup", ToVirtual(src), ToVirtual(dst)});
  ASSERT_EQ(backup.exitCode, 0) << backup.output;
  EXPECT_EQ(Describe(dst), Describe(src));
  EXPECT_EQ(Describe(src).size(), 9u);

  const HostRun verify = Host({L"verify", ToVirtual(src), ToVirtual(dst)});
  EXPECT_EQ(verify.exitCode, 0) << verify.output;
  EXPECT_TRUE(Contains(verify.output, L"6 files and 3 folders (3.0 MiB) checked, no differences")) << verify.output;

  const std::wstring restored = temp / L"restored";
  const HostRun restore = Host({L"restore", ToVirtual(dst), ToVirtual(restored), L"--buffer", L"64K"});
  ASSERT_EQ(restore.exitCode, 0) << restore.output;
  EXPECT_EQ(Describe(restored), Describe(src));
  EXPECT_EQ(Host({L"verify", ToVirtual(src), ToVirtual(restored)}).exitCode, 0);

  // Jobs that cannot start: a missing SRC; SRC and DST in one another, also
  // when spelled in other case or reached through a second drive letter.
  const HostRun absent = Host({L"backup", ToVirtual(temp / L"absent"), ToVirtual(dst)});
  EXPECT_EQ(absent.exitCode, 2);
  EXPECT_TRUE(Contains(absent.output, L"does not exist")) << absent.output;
  const std::wstring srcThroughZ = ThroughZ(UnixPathOf(src));
  std::wstring shouted = src;
  for (wchar_t& c : shouted) c = static_cast<wchar_t>(::towupper(c));
  for (const auto& [from, to, refusal] : std::vector<std::tuple<std::wstring, std::wstring, std::wstring>>{
           {src, src + L"\\copy", L"lies inside SRC"},
           {src, srcThroughZ + L"\\copy", L"lies inside SRC"},
           {srcThroughZ + L"\\sub", src, L"lies inside DST"},
           {src, shouted, L"are the same folder"}}) {
    const HostRun refused = Host({L"backup", ToVirtual(from), ToVirtual(to)});
    EXPECT_EQ(refused.exitCode, 2) << refused.output;
    EXPECT_TRUE(Contains(refused.output, refusal)) << refused.output;
  }
  EXPECT_FALSE(test::Exists(src + L"\\copy"));
  EXPECT_EQ(Describe(src), Describe(restored));
}

// A case-sensitive source (Z: is the Linux root) with two names Windows takes
// for one, a link out of the tree and a link back up; then a restore into a
// tree whose file and folder are links to places outside it.
TEST_P(TreeJob, CaseClashesAndLinksAreNamedAndNeverWrittenThrough) {
  const std::string root = "/tmp/diskway-e2e-" + std::to_string(::GetCurrentProcessId());
  RunUnixShell("rm -rf " + root + " && mkdir -p " + root + "/src/sub " + root + "/outside " + root +
               "/restore && printf upper > " + root + "/src/Index.html && printf lower > " + root +
               "/src/index.html && printf kept > " + root + "/outside/secret.txt && printf b > " + root +
               "/src/sub/b.txt && ln -s " + root + "/outside " + root + "/src/out-link && ln -s .. " + root +
               "/src/sub/loop && ln -s " + root + "/outside/secret.txt " + root + "/restore/Index.html && ln -s " +
               root + "/outside " + root + "/restore/sub");
  const std::wstring source = ToVirtual(ThroughZ(root + "/src"));
  const HostRun backup = Host({L"backup", source, ToVirtual(dst)});
  const HostRun verify = Host({L"verify", source, ToVirtual(dst)});
  const HostRun restore = Host({L"restore", ToVirtual(dst), ToVirtual(ThroughZ(root + "/restore"))});
  const std::wstring outside = ThroughZ(root + "/outside");
  const std::string secret = ReadFileBytes(outside + L"\\secret.txt");
  const bool restoredIntoLink = test::Exists(outside + L"\\b.txt");
  const std::string restoredFile = ReadFileBytes(ThroughZ(root + "/restore/Index.html"));
  RunUnixShell("rm " + root + "/src/index.html");
  const HostRun linksOnly = Host({L"backup", source, ToVirtual(temp / L"again")});
  RunUnixShell("rm -rf " + root);

  EXPECT_EQ(backup.exitCode, 1) << backup.output;
  EXPECT_TRUE(Contains(backup.output, L"Failed:    1 item\n    index.html\n      its name differs only in case from "
                                      L"Index.html; DST cannot hold both\n"))
      << backup.output;
  const std::wstring notFollowed = L"  Not followed: 2 links to folders (what they lead to was not copied)\n"
                                   L"    out-link\n    sub\\loop\n";
  EXPECT_TRUE(Contains(backup.output, notFollowed)) << backup.output;
  std::map<std::wstring, std::string> copied = Describe(dst);
  EXPECT_EQ(copied.size(), 3u) << "only Index.html, sub and sub\\b.txt";
  EXPECT_EQ(ReadFileBytes(dst + L"\\Index.html"), "upper");

  EXPECT_EQ(verify.exitCode, 1) << verify.output;
  EXPECT_TRUE(Contains(verify.output, L"  case: index.html: its name differs only in case from Index.html; DST "
                                      L"cannot hold both\n" + notFollowed + L"Verify finished"))
      << verify.output;
  EXPECT_TRUE(Contains(verify.output, L"checked, 1 difference\n")) << verify.output;

  EXPECT_EQ(restore.exitCode, 1) << restore.output;
  EXPECT_TRUE(Contains(restore.output, L"    sub\n      DST holds a link to a folder under this name")) << restore.output;
  EXPECT_EQ(secret, "kept") << "written through the link to a file";
  EXPECT_FALSE(restoredIntoLink) << "written through the link to a folder";
  EXPECT_EQ(restoredFile, "upper") << "the link to a file was not replaced by the file";

  EXPECT_EQ(linksOnly.exitCode, 0) << linksOnly.output;
  EXPECT_TRUE(Contains(linksOnly.output, L"Failed:    0 items\n" + notFollowed)) << linksOnly.output;
}

TEST_P(TreeJob, IncrementalBackupCopiesOnlyWhatChanged) {
  MakeTree(src);
  ASSERT_EQ(Host({L"backup", ToVirtual(src), ToVirtual(dst)}).exitCode, 0);
  const HostRun again = Host({L"backup", ToVirtual(src), ToVirtual(dst), L"--incremental"});
  EXPECT_EQ(again.exitCode, 0) << again.output;
  EXPECT_TRUE(Contains(again.output, L"Copied:    0 files")) << again.output;
  EXPECT_TRUE(Contains(again.output, L"Skipped:   6 unchanged files")) << again.output;

  // Same size and time in DST count as unchanged even when the bytes are not:
  // that the damaged copy stays proves the file was not read again.
  WriteFile(src + L"\\a.txt", "alpha, changed", kJanuary2024 + 9 * kHour);
  WriteFile(dst + L"\\sub\\deeper\\c.txt", "GAMMA", kJanuary2024 + 5 * kHour);
  const HostRun changed = Host({L"backup", ToVirtual(src), ToVirtual(dst), L"--incremental"});
  EXPECT_EQ(changed.exitCode, 0) << changed.output;
  EXPECT_TRUE(Contains(changed.output, L"Copied:    1 file and")) << changed.output;
  EXPECT_EQ(ReadFileBytes(dst + L"\\a.txt"), "alpha, changed");
  EXPECT_EQ(ReadFileBytes(dst + L"\\sub\\deeper\\c.txt"), "GAMMA");

  const HostRun dryRun = Host({L"backup", ToVirtual(src), ToVirtual(temp / L"never"), L"--dry-run"});
  EXPECT_EQ(dryRun.exitCode, 0) << dryRun.output;
  EXPECT_TRUE(Contains(dryRun.output, L"would copy sub\\b.bin (3.0 MiB)")) << dryRun.output;
  EXPECT_FALSE(test::Exists(temp / L"never"));
}

TEST_P(TreeJob, VerifyNamesEveryKindOfDifference) {
  MakeTree(src);
  ASSERT_EQ(Host({L"backup", ToVirtual(src), ToVirtual(dst)}).exitCode, 0);
  ::DeleteFileW((dst + L"\\a.txt").c_str());
  WriteFileBytes(dst + L"\\extra.txt", "new");
  WriteFileBytes(dst + L"\\sub\\b.bin", "short");
  WriteFile(dst + L"\\sub\\deeper\\c.txt", "GAMMA", kJanuary2024 + 5 * kHour);
  SetTimes(dst + L"\\" + kNonAscii, kJanuary2024);
  ::SetFileAttributesW((dst + L"\\sub\\read-only.txt").c_str(), FILE_ATTRIBUTE_NORMAL);

  const HostRun verify = Host({L"verify", ToVirtual(src), ToVirtual(dst)});
  EXPECT_EQ(verify.exitCode, 1);
  for (const std::wstring& line : std::vector<std::wstring>{
           L"missing in DST: a.txt\n", L"extra in DST: extra.txt\n",
           L"size: sub\\b.bin: SRC 3145728 bytes, DST 5 bytes",
        L"content: sub\\deeper\\c.txt: SHA-256 ", L"time: " + std::wstring(kNonAscii) + L": created SRC ",
        L"attributes: sub\\read-only.txt: SRC R, DST -"}) {
    EXPECT_TRUE(Contains(verify.output, line)) << "no '" << line << "' in\n" << verify.output;
  }
  EXPECT_FALSE(Contains(verify.output, L"hidden.txt")) << verify.output;
  EXPECT_FALSE(Contains(verify.output, L"time: sub\\deeper\\c.txt")) << verify.output;
}

TEST_F(MainJob, LockedFileArrivesWholeFromTheSnapshot) {
  const VMLib::UniqueModule providerModule(::LoadLibraryW(L"vsnp_2003.dll"));
  const TestProviderControl provider(providerModule.get());
  ASSERT_TRUE(provider.Resolved()) << "vsnp_2003.dll beside the tests must be the scriptable provider";
  provider.Reset();
  const std::string contents = Pattern(200000, 7);
  MakeTree(src);
  WriteFileBytes(src + L"\\held.db", contents);
  // The provider hands out this folder as the snapshot of the volume: the
  // file sits there at its path below the volume root.
  const std::wstring snapshot = temp / L"snapshot";
  const std::wstring copy = snapshot + L"\\" + (src + L"\\held.db").substr(3);
  test::MakeFolder(copy.substr(0, copy.rfind(L'\\')));
  WriteFileBytes(copy, contents);
  provider.SetSnapshotRoot(snapshot.c_str());
  const VMLib::UniqueFile held = test::HoldExclusively(src + L"\\held.db");
  ASSERT_TRUE(held.valid());

  // In-process, so that this test can script the provider the plug-in loads.
  hosttest::CapturedOutput out;
  hosttest::CapturedOutput err;
  const int exitCode = host::Run({L"--data", temp / L"data", L"backup", ToVirtual(src), ToVirtual(dst)}, out, err);
  EXPECT_EQ(exitCode, 0) << out.text() << err.text();
  EXPECT_TRUE(Contains(out.text(), L"Snapshot:  1 locked file read from a shadow copy")) << out.text();
  EXPECT_EQ(ReadFileBytes(dst + L"\\held.db"), contents);
}

TEST_P(TreeJob, FullDiskLeavesNoPartialFileAndStops) {
  ULARGE_INTEGER total{};
  if (!::GetDiskFreeSpaceExW(L"T:\\", nullptr, &total, nullptr) || total.QuadPart > (4u << 20)) {
    GTEST_SKIP() << "no small drive T: (./diskway test mounts a 1 MiB tmpfs there when run as root)";
  }
  test::MakeFolder(src);
  WriteFileBytes(src + L"\\a-big.bin", Pattern(1536 << 10, 2));
  WriteFileBytes(src + L"\\b-small.txt", "fits");
  WriteFileBytes(src + L"\\c-big.bin", Pattern(1536 << 10, 3));
  WriteFileBytes(src + L"\\d-small.txt", "never tried");
  const std::wstring target = L"T:\\e2e-" + std::to_wstring(::GetCurrentProcessId());

  const HostRun backup = Host({L"backup", ToVirtual(src), ToVirtual(target)});
  const bool bigLeft = test::Exists(target + L"\\a-big.bin") || test::Exists(target + L"\\c-big.bin");
  const bool smallTried = test::Exists(target + L"\\d-small.txt");
  test::RemoveAll(target);
  EXPECT_EQ(backup.exitCode, 1) << backup.output;
  EXPECT_TRUE(Contains(backup.output, L"    a-big.bin\n      the disk holding")) << backup.output;
  EXPECT_TRUE(Contains(backup.output, L"Stopped early: the disk holding")) << backup.output;
  EXPECT_FALSE(bigLeft) << "a partial copy was left behind";
  // Several threads may have started it before the second file failed.
  if (GetParam() == 1) {
    EXPECT_FALSE(smallTried) << "the copy went on after the second file that did not fit";
  }

  // A new version that does not fit beside the old one leaves the old one.
  const std::string old = Pattern(600 << 10, 4);
  test::MakeFolder(target);
  WriteFile(target + L"\\kept.bin", old, kJanuary2024);
  const std::wstring newer = temp / L"newer";
  test::MakeFolder(newer);
  WriteFile(newer + L"\\kept.bin", Pattern(600 << 10, 5), kJanuary2024 + kHour);
  const HostRun replace = Host({L"backup", ToVirtual(newer), ToVirtual(target)});
  const std::string kept = ReadFileBytes(target + L"\\kept.bin");
  const size_t left = test::FolderItems(target).size();
  test::RemoveAll(target);
  EXPECT_EQ(replace.exitCode, 1) << replace.output;
  EXPECT_TRUE(Contains(replace.output, L"; the old copy is kept\n")) << replace.output;
  EXPECT_TRUE(kept == old) << "the old copy changed";
  EXPECT_EQ(left, 1u) << "the temporary file was left behind";
}

TEST_F(MainJob, KilledReplacingRunLeavesTheOldCopyAndTheNextRunMendsIt) {
  test::MakeFolder(src);
  test::MakeFolder(dst);
  const std::string old = Pattern(1 << 20, 6);
  WriteFile(dst + L"\\big.bin", old, kJanuary2024);
  WriteLargeFile(src + L"\\big.bin", 256, 7);
  WriteFileBytes(src + L"\\small.txt", "small");
  const std::wstring partial = host::TemporaryPathFor(dst + L"\\big.bin");
  // Small buffers, so the copy is still under way when the file is seen.
  const bool killed = e2e::KillHostWhen(
      {L"--data", temp / L"data", L"backup", ToVirtual(src), ToVirtual(dst), L"--buffer", L"4K"}, [&] {
        WIN32_FILE_ATTRIBUTE_DATA data;
        return ::GetFileAttributesExW(partial.c_str(), GetFileExInfoStandard, &data) && data.nFileSizeLow > (2u << 20);
      });
  ASSERT_TRUE(killed) << "the host finished before it could be killed mid-file";
  EXPECT_TRUE(ReadFileBytes(dst + L"\\big.bin") == old) << "the old copy changed";
  EXPECT_TRUE(test::Exists(partial));

  const HostRun again = Host({L"backup", ToVirtual(src), ToVirtual(dst), L"--incremental"});
  EXPECT_EQ(again.exitCode, 0) << again.output;
  EXPECT_FALSE(test::Exists(partial)) << "the killed run's temporary file was not removed";
  const HostRun verify = Host({L"verify", ToVirtual(src), ToVirtual(dst)});
  EXPECT_EQ(verify.exitCode, 0) << verify.output;
  EXPECT_TRUE(Contains(verify.output, L"checked, no differences")) << verify.output;
}

TEST_F(MainJob, GetAndPutOfALargeFileAreByteIdentical) {
  const std::wstring local = temp / L"large.bin";
  WriteLargeFile(local, 100, 0);
  const std::wstring remote = temp / L"remote.bin";
  const std::wstring back = temp / L"back.bin";
  WriteFileBytes(remote, "the old one, replaced whole");
  const HostRun put = Host({L"put", local, ToVirtual(remote)});
  ASSERT_EQ(put.exitCode, 0) << put.output;
  EXPECT_EQ(test::FolderItems(temp.path()).size(), 3u) << "a temporary file was left beside the target";
  const HostRun get = Host({L"get", ToVirtual(remote), back, L"--buffer", L"256K"});
  ASSERT_EQ(get.exitCode, 0) << get.output;
  const std::string original = ReadFileBytes(local);
  EXPECT_TRUE(ReadFileBytes(remote) == original);
  EXPECT_TRUE(ReadFileBytes(back) == original);
}

// The single-item commands a person browses and tidies storage with, each
// checked against the file system.
TEST_F(MainJob, ItemCommandsActOnTheFileSystem) {
  WriteFile(temp / L"item.txt", "12345", kJanuary2024, FILE_ATTRIBUTE_HIDDEN);
  const HostRun info = Host({L"info"});
  EXPECT_EQ(info.exitCode, 0) << info.output;
  EXPECT_TRUE(Contains(info.output, L"Computer 1.0")) << info.output;
  EXPECT_TRUE(Contains(info.output, L"C$")) << info.output;

  const HostRun listing = Host({L"ls", ToVirtual(temp.path())});
  EXPECT_EQ(listing.exitCode, 0) << listing.output;
  EXPECT_TRUE(Contains(listing.output, L"item.txt")) << listing.output;
  const HostRun stat = Host({L"stat", ToVirtual(temp / L"item.txt")});
  EXPECT_EQ(stat.exitCode, 0) << stat.output;
  EXPECT_TRUE(Contains(stat.output, L"5 bytes")) << stat.output;
  EXPECT_EQ(Host({L"stat", ToVirtual(temp / L"absent")}).exitCode, 1);
  const HostRun space = Host({L"df", ToVirtual(temp.path())});
  EXPECT_EQ(space.exitCode, 0) << space.output;
  EXPECT_TRUE(Contains(space.output, L"Free:")) << space.output;

  EXPECT_EQ(Host({L"mkdir", ToVirtual(temp / L"a\\b\\c")}).exitCode, 0);
  EXPECT_TRUE(::GetFileAttributesW((temp / L"a\\b\\c").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(Host({L"mv", ToVirtual(temp / L"item.txt"), ToVirtual(temp / L"a\\b\\moved.txt")}).exitCode, 0);
  EXPECT_EQ(ReadFileBytes(temp / L"a\\b\\moved.txt"), "12345");
  EXPECT_EQ(Host({L"rm", ToVirtual(temp / L"a")}).exitCode, 0);
  EXPECT_FALSE(test::Exists(temp / L"a"));
  const HostRun refused = Host({L"mkdir", ToVirtual(temp / L"bad?name")});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_TRUE(Contains(refused.output, L"contains forbidden")) << refused.output;
  // What is not a virtual path never reaches the plug-in, which would take
  // it relative to the host's current folder.
  const HostRun notVirtual = Host({L"put", temp / L"item.txt", L"y"});
  EXPECT_EQ(notVirtual.exitCode, 2);
  EXPECT_TRUE(Contains(notVirtual.output, L"'y' is not a virtual path")) << notVirtual.output;
  EXPECT_FALSE(test::Exists(L"y"));
}

TEST_F(MainJob, DemoExplainsTheFileItHeldOpen) {
  test::MakeFolder(temp / L"demo");
  WriteFileBytes(temp / L"demo\\mine.txt", "not the demo's");
  const HostRun refused = Host({L"demo", temp / L"demo"});
  EXPECT_EQ(refused.exitCode, 2) << refused.output;
  EXPECT_TRUE(test::Exists(temp / L"demo\\mine.txt"));
  ::DeleteFileW((temp / L"demo\\mine.txt").c_str());
  const HostRun demo = Host({L"demo", temp / L"demo"});
  EXPECT_EQ(demo.exitCode, 0) << demo.output;
  for (const wchar_t* line :
       {L"1 file was locked by another program and could not be read from a shadow copy: ",
        L"  missing in DST: logs\\held-open.log\n      expected: the demo held this file open",
        L"Verify finished in ",
        L"Demo result: the backup is identical to the sample tree, except for the file held open"}) {
    EXPECT_TRUE(Contains(demo.output, line)) << "no '" << line << "' in\n" << demo.output;
  }
  EXPECT_TRUE(test::Exists(temp / L"demo\\backup\\settings\\read-only and hidden.cfg"));
}

} // namespace
