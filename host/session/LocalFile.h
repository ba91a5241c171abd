// Local files of the computer the host runs on, opened with the wide Win32
// calls. Every failure throws HostError naming the path and the system's words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "vmlib/ScopedHandle.h"

namespace host {

VMLib::UniqueFile OpenLocalForReading(const std::wstring& path);
// `replace` false: fails when the file exists.
VMLib::UniqueFile CreateLocalFile(const std::wstring& path, bool replace);
// Creates a new file that this handle can write, move and remove.
VMLib::UniqueFile CreateLocalTemporary(const std::wstring& path);
// Opens or creates; every write lands at the end.
VMLib::UniqueFile OpenLocalForAppending(const std::wstring& path);

// Bytes read into `buffer`, 0 at the end of the file.
uint32_t ReadLocal(const VMLib::UniqueFile& file, const std::wstring& path, void* buffer, uint32_t size);
void WriteLocal(HANDLE file, const std::wstring& path, const void* data, size_t size);

// The Windows path of a virtual path, reaching what the plug-in reaches:
// "\\?\C:\..." for "C$\...", and for a persistent network drive (which
// may be no drive letter of this process) the share of the plug-in's own
// mapping, "\\?\UNC\server\share\..."; empty for the root, which is no path.
std::wstring LocalPathOf(const std::wstring& virtualPath);
// What LocalPathOf puts in place of a drive's "X$": "\\?\X:", or the share.
std::wstring LocalDriveOf(wchar_t letter);

// Empty when the virtual path names the item itself, as told through a
// handle to it: under Wine a link to a file has no reparse bit and opens as
// its target, so neither its attributes nor its name tell. Else why not:
// "'C$\x' is a link to '\\?\Z:\y'", or why it could not be told. Empty too
// when nothing answers to the name.
std::wstring LinkAt(const std::wstring& virtualPath);

// Tells whether another program holds a file so that the plug-in's plain
// read would fail and it would read a shadow copy instead, by opening the
// file as the plug-in does and closing it at once. Looks go one folder
// after another, so the last file's folder is held from one look to the
// next: an open relative to it costs Wine's server less than one by the
// full name, which it resolves again at every level.
class HeldFileLook {
public:
  // `path`: the file's Windows path.
  bool HeldByAnotherProgram(const std::wstring& path);

private:
  std::wstring folderPath_;
  VMLib::UniqueFile folder_;
};

// False where no shadow copy can be taken of the drive of the virtual path
// ("C$\..."): one that is not a local fixed disk (a network drive, a
// removable or optical one, a letter only the plug-in maps), or whose file
// system the shadow copy service does not serve (FAT, exFAT). True where it
// cannot tell.
bool ShadowCopiesPossibleOn(const std::wstring& virtualPath);

// The bytes this user may still write on the volume that holds the folder
// at the virtual path: asked of the folder itself, so a volume mounted in a
// folder counts, not its drive's root. Nothing when it cannot be asked.
std::optional<uint64_t> FreeSpaceOf(const std::wstring& virtualFolder);

// Creates the folder and its missing parents; an existing folder is fine.
void CreateLocalFolder(const std::wstring& path);

// The whole file; fails for files larger than `limit` bytes.
std::string ReadSmallFile(const std::wstring& path, size_t limit);

} // namespace host
