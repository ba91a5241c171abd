// The demo: the main job on a sample tree generated afresh each run, with
// the things real trees hold that a backup must get right, and one file held
// open the way a running program holds its database or log.
#include <cstdint>
#include <string>
#include <vector>

#include "host/cli/Commands.h"
#include "host/cli/Summary.h"
#include "host/session/Format.h"
#include "host/session/LocalFile.h"
#include "host/session/Text.h"
#include "vmlib/DirectoryReader.h"
#include "vmlib/ScopedHandle.h"
#include "vmlib/WindowsApi.h"

namespace host {

namespace {

const wchar_t kDemoFolderName[] = L"diskway-demo";
const wchar_t kHeldFile[] = L"logs\\held-open.log";
// Marks a folder as the demo's own, which the next run may empty.
const wchar_t kMarkerFile[] = L"made-by-diskway-demo.txt";
// 2024-01-15 09:00 UTC in FILETIME units: sample files look a few months old.
constexpr uint64_t kSampleEpoch = 133497828000000000ull;
constexpr uint64_t kHour = 36000000000ull;

struct SampleFolder {
  const wchar_t* path;
  const wchar_t* stem;      // file names: stem + number + extension
  const wchar_t* extension;
  int files;
  uint32_t minimumSize;
  uint32_t maximumSize;
};

const SampleFolder kSampleFolders[] = {
    {L"documents", L"note-", L".txt", 60, 200, 8000},
    {L"documents\\reports 2024", L"report-", L".csv", 40, 1024, 40 * 1024},
    {L"documents\\reports 2024\\archive", L"old-report-", L".csv", 20, 512, 16 * 1024},
    {L"photos", L"album-", L".png", 5, 50 * 1024, 120 * 1024},
    {L"photos\\\u00e9t\u00e9 \u00e0 Paris", L"photo-", L".jpg", 30, 20 * 1024, 200 * 1024},
    {L"\u4e2d\u6587\u8d44\u6599", L"\u6587\u4ef6-", L".txt", 20, 100, 4000},
    {L"emoji \U0001F4E6 box", L"\U0001F389 party-", L".txt", 10, 100, 2000},
    {L"logs", L"log-", L".txt", 100, 50, 3000},
    {L"empty folder", L"", L"", 0, 0, 0},
};

struct LargeFile {
  const wchar_t* path;
  uint32_t size;
};

const LargeFile kLargeFiles[] = {
    {L"big\\video.bin", 2u << 20},
    {L"big\\archive.zip", 3u << 20},
    {L"big\\disk-image.bin", 5u << 20},
};

struct SpecialFile {
  const wchar_t* path;
  uint32_t attributes;
};

const SpecialFile kSpecialFiles[] = {
    {L"settings\\read-only.ini", FILE_ATTRIBUTE_READONLY},
    {L"settings\\hidden.dat", FILE_ATTRIBUTE_HIDDEN},
    {L"settings\\read-only and hidden.cfg", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN},
    {L"settings\\caf\u00e9 cr\u00e8me.txt", FILE_ATTRIBUTE_ARCHIVE},
    {kHeldFile, FILE_ATTRIBUTE_ARCHIVE},
};

// Deep enough that the file's path passes the classic 260-character limit
// wherever the demo folder is.
const wchar_t kDeepLevel[] = L"a folder with a rather long name, to go past the classic limit";
constexpr int kDeepLevels = 5;

class SampleWriter {
public:
  explicit SampleWriter(std::wstring root) : root_(std::move(root)) {}

  // One level; its parent exists.
  void Folder(const std::wstring& relative) {
    // "\\?\": the deep folders pass what the classic Win32 paths allow.
    const std::wstring path = L"\\\\?\\" + ChildPath(root_, relative);
    if (!::CreateDirectoryW(path.c_str(), /*security=*/nullptr)) {
      const DWORD error = ::GetLastError();
      throw HostError(L"cannot create " + Quoted(path) + L": " + SystemErrorText(error));
    }
    ++totals.folders;
  }

  void File(const std::wstring& relative, uint32_t size, uint32_t attributes) {
    const std::wstring path = L"\\\\?\\" + root_ + L"\\" + relative;
    {
      const VMLib::UniqueFile file = CreateLocalFile(path, /*replace=*/true);
      Fill(size);
      WriteLocal(file.get(), path, buffer_.data(), size);
      const uint64_t ticks = kSampleEpoch + kHour * ++count_;
      FILETIME time;
      time.dwLowDateTime = static_cast<DWORD>(ticks);
      time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
      ::SetFileTime(file.get(), &time, /*lastAccess=*/nullptr, &time);
    }
    if (attributes != FILE_ATTRIBUTE_ARCHIVE && !::SetFileAttributesW(path.c_str(), attributes)) {
      const DWORD error = ::GetLastError();
      throw HostError(L"cannot set the attributes of " + Quoted(path) + L": " + SystemErrorText(error));
    }
    ++totals.files;
    totals.bytes += size;
  }

  TreeTotals totals;

private:
  // Different bytes in every file, the same on every run.
  void Fill(uint32_t size) {
    buffer_.resize(size);
    for (size_t i = 0; i < size; ++i) {
      state_ ^= state_ << 13;
      state_ ^= state_ >> 7;
      state_ ^= state_ << 17;
      buffer_[i] = static_cast<char>(state_ >> 32);
    }
  }

  std::wstring root_;
  std::vector<char> buffer_;
  uint64_t state_ = 0x9E3779B97F4A7C15ull;
  uint64_t count_ = 0;
};

std::wstring Numbered(int number) {
  return (number < 10 ? L"00" : number < 100 ? L"0" : L"") + std::to_wstring(number);
}

// The relative path of the deep file, whose full path passes 260 characters.
std::wstring WriteSampleTree(SampleWriter& writer) {
  for (const SampleFolder& folder : kSampleFolders) {
    writer.Folder(folder.path);
    for (int i = 1; i <= folder.files; ++i) {
      const uint32_t span = folder.maximumSize - folder.minimumSize;
      const uint32_t size = folder.minimumSize + static_cast<uint32_t>(i * 7919u % (span + 1));
      writer.File(std::wstring(folder.path) + L"\\" + folder.stem + Numbered(i) + folder.extension, size,
                  FILE_ATTRIBUTE_ARCHIVE);
    }
  }
  writer.Folder(L"big");
  for (const LargeFile& file : kLargeFiles) writer.File(file.path, file.size, FILE_ATTRIBUTE_ARCHIVE);
  writer.Folder(L"settings");
  for (const SpecialFile& file : kSpecialFiles) writer.File(file.path, 1500, file.attributes);
  std::wstring deep = L"deep";
  writer.Folder(deep);
  for (int level = 1; level <= kDeepLevels; ++level) {
    deep += L"\\" + std::to_wstring(level) + L" " + kDeepLevel;
    writer.Folder(deep);
  }
  deep += L"\\a file more than 260 characters from the drive root.txt";
  writer.File(deep, 4096, FILE_ATTRIBUTE_ARCHIVE);
  return deep;
}

std::wstring DemoFolder(const Options& options) {
  if (!options.operands.empty()) return TrimmedPath(options.operands.front());
  wchar_t temp[MAX_PATH + 1] = {};
  const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
  if (length == 0 || length > MAX_PATH) {
    const DWORD error = ::GetLastError();
    throw HostError(L"cannot find the temporary folder: " + SystemErrorText(error));
  }
  return TrimmedPath(temp) + L"\\" + kDemoFolderName;
}

// "C:\dir" as the plug-in names it: "C$\dir".
std::wstring VirtualOf(const std::wstring& local) {
  if (local.size() < 3 || local[1] != L':' || local[2] != L'\\') {
    throw HostError(L"the demo folder " + Quoted(local) + L" must be a full path on a drive, like C:\\demo");
  }
  return std::wstring(1, local[0]) + L"$" + local.substr(2);
}

// The demo empties its folder: only one that is new, empty or its own.
void RequireDemoFolder(const std::wstring& folder) {
  VMLib::DirectoryReader reader;
  if (!reader.Open(L"\\\\?\\" + folder)) return;
  bool empty = true;
  while (reader.Next() == VMLib::DirectoryReader::Result::Entry) {
    if (reader.Name() == std::wstring(kMarkerFile)) return;
    empty = false;
  }
  if (!empty) {
    throw HostError(L"the demo folder " + Quoted(folder) + L" holds files the demo did not make, and the demo "
                    L"empties its folder first; give a new or empty folder");
  }
}

// Only the held file may be missing, and only for want of a shadow copy.
bool OnlyTheHeldFile(const CopyReport& backup, const VerifyReport& verify) {
  for (const ItemFailure& failure : backup.failures) {
    if (failure.kind != FailureKind::Locked || failure.relative != kHeldFile) return false;
  }
  for (const Difference& difference : verify.differences) {
    if (difference.kind != DifferenceKind::MissingInTarget || difference.relative != kHeldFile) return false;
  }
  return backup.stopReason.empty();
}

} // namespace

int RunDemo(const CommandContext& context) {
  // The one warning the demo brings about, for the file it holds open, is
  // explained in the backup summary; the plug-in prints it itself as well.
  context.log.SetConsoleLevel(Error);
  const PluginDescription plugin = context.plugin.Describe();
  const std::wstring folder = DemoFolder(context.options);
  const std::wstring source = folder + L"\\source";
  const std::wstring backup = folder + L"\\backup";
  IBackupDataWrite& writer = context.plugin.Writer();

  RequireDemoFolder(folder);
  // Cleared through the plug-in, which removes read-only files and paths of
  // any length.
  FileInfo existing;
  if (writer.QueryFileInfo(VirtualOf(folder), existing) == StatusSuccess) {
    const uint64_t mark = context.log.MessageCount();
    const uint32_t status = writer.RemoveFolder(VirtualOf(folder));
    if (status != StatusSuccess) throw PluginFailure(context.log, mark, L"cannot clear " + Quoted(folder), status);
  }
  CreateLocalFolder(source);
  {
    const std::wstring marker = folder + L"\\" + kMarkerFile;
    const std::string text = "Made by the diskway-host demo, which empties this folder on its next run.\n";
    WriteLocal(CreateLocalFile(marker, /*replace=*/true).get(), marker, text.data(), text.size());
  }
  SampleWriter sample(source);
  const std::wstring deep = WriteSampleTree(sample);
  context.out.Write(
      L"Diskway demo: the main job (backup, then verify) on a generated sample tree\n" +
      Field(L"Plug-in", plugin.name + L" " + plugin.version) + Field(L"Demo folder", folder) +
      Field(L"Sample tree", CountOf(sample.totals.files, L"file") + L" and " +
                                CountOf(sample.totals.folders, L"folder") + L" (" + FormatSize(sample.totals.bytes) +
                                L") in source: read-only and hidden files, an empty folder, names in \u00e9, "
                                L"\u4e2d\u6587 and emoji, a path of " +
                                std::to_wstring(source.size() + 1 + deep.size()) + L" characters") +
      Field(L"Held open", std::wstring(kHeldFile) + L", with share mode 0, as a running program holds its files") +
      L"\n");

  CopyReport copied;
  {
    const std::wstring held = L"\\\\?\\" + source + L"\\" + kHeldFile;
    const VMLib::UniqueFile hold(::CreateFileW(held.c_str(), GENERIC_READ, /*share=*/0, /*security=*/nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, /*templateFile=*/nullptr));
    if (!hold) {
      const DWORD error = ::GetLastError();
      throw HostError(L"cannot hold " + Quoted(held) + L" open: " + SystemErrorText(error));
    }
    context.out.Write(L"== Backup of source to backup\n");
    const CopySettings settings{context.options.bufferSize, false, false};
    copied = CopyTree(context.plugin.Reader(), writer, context.log, context.out, VirtualOf(source),
                      VirtualOf(backup), settings);
    ReportSummary(context, CopySummary(copied, L"Backup", settings));
  }

  context.out.Write(L"\n== Verify of backup against source (the held file is free again)\n");
  const VerifyReport verified = VerifyTrees(context.plugin.Reader(), writer, context.log, context.out,
                                            VirtualOf(source), VirtualOf(backup), context.options.bufferSize,
                                            context.options.copyAcl);
  ReportSummary(context, VerifySummary(verified, [](const Difference& difference) -> std::wstring {
                  if (difference.kind != DifferenceKind::MissingInTarget || difference.relative != kHeldFile) {
                    return L"";
                  }
                  return L"expected: the demo held this file open during the backup, and no shadow copy could be "
                         L"read (see the backup summary)";
                }));

  const bool identical = copied.complete() && verified.differences.empty();
  const bool expected = OnlyTheHeldFile(copied, verified);
  std::wstring result = L"\nDemo result: ";
  if (identical) {
    result += L"the backup is identical to the sample tree, the held file included" +
              std::wstring(copied.fromShadowCopy > 0 ? L" (read from a shadow copy).\n" : L".\n");
  } else if (expected) {
    result += L"the backup is identical to the sample tree, except for the file held open, which only a shadow "
              L"copy could have read; shadow copies need Windows and administrator rights. Under Wine the "
              L"system's shadow-copy service is absent (its vssapi.dll is a stub); the test suite reads locked "
              L"files through the real provider and a stand-in for that service (./diskway test -R vss_service).\n";
  } else {
    result += L"the backup differs from the sample tree in ways the demo did not arrange (see above).\n";
  }
  context.out.Write(result + L"Sample tree and backup stay in " + folder + L" until the next demo run.\n");
  return identical || expected ? 0 : 1;
}

} // namespace host
