#include "host/session/LocalFile.h"

#include <algorithm>
#include <cwctype>

#include "host/session/HostError.h"
#include "host/session/Text.h"
#include "items/HeldFolders.h"
#include "vmlib/VMLib.h"

namespace host {

namespace {

[[noreturn]] void ThrowFileError(const wchar_t* action, const std::wstring& path, DWORD error) {
  throw HostError(std::wstring(action) + L" '" + path + L"': " + SystemErrorText(error));
}

// The handle, or null with the reason in `error`.
VMLib::UniqueFile TryOpenLocal(const std::wstring& path, DWORD access, DWORD share, DWORD disposition,
                               DWORD& error) {
  VMLib::UniqueFile file(::CreateFileW(path.c_str(), access, share, /*security=*/nullptr, disposition,
                                       FILE_ATTRIBUTE_NORMAL, /*templateFile=*/nullptr));
  error = file ? ERROR_SUCCESS : ::GetLastError();
  return file;
}

VMLib::UniqueFile OpenLocal(const std::wstring& path, DWORD access, DWORD share, DWORD disposition,
                            const wchar_t* action) {
  DWORD error = ERROR_SUCCESS;
  VMLib::UniqueFile file = TryOpenLocal(path, access, share, disposition, error);
  if (!file) ThrowFileError(action, path, error);
  return file;
}

// The share a persistent network drive stands for (its "RemotePath" below
// HKCU\Network), found as the plug-in finds it: the subkey's name in upper
// case against the letter as given. Empty for any other drive.
std::wstring RemotePathOf(wchar_t letter) {
  VMLib::system::CRegistry registry(HKEY_CURRENT_USER);
  for (std::wstring name : registry.EnumSubKeys(L"Network")) {
    for (wchar_t& c : name) c = static_cast<wchar_t>(std::towupper(c));
    if (name.size() != 1 || name[0] != letter || !registry.Open(std::wstring(L"Network\\") + letter)) continue;
    std::wstring remote;
    const bool found = registry.Read(L"RemotePath", remote);
    registry.Close();
    if (found) return remote;
  }
  return {};
}

} // namespace

VMLib::UniqueFile OpenLocalForReading(const std::wstring& path) {
  return OpenLocal(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, L"cannot open");
}

std::wstring LocalDriveOf(wchar_t letter) {
  const std::wstring remote = RemotePathOf(letter);
  if (remote.empty()) return std::wstring(L"\\\\?\\") + letter + L":";
  // "\\server\share" in its long form, which reaches the same folder and
  // takes paths of any length.
  return remote.rfind(L"\\\\", 0) == 0 ? L"\\\\?\\UNC\\" + remote.substr(2) : remote;
}

std::wstring LocalPathOf(const std::wstring& virtualPath) {
  if (virtualPath.size() < 2) return {};
  // The second character is only a place holder ("C$", "C:" alike).
  return LocalDriveOf(virtualPath[0]) + (virtualPath.size() == 2 ? L"\\" : virtualPath.substr(2));
}

std::wstring LinkAt(const std::wstring& virtualPath) {
  items::HeldFolders folders;
  items::HeldFolder* folder = nullptr;
  std::wstring name;
  items::Refusal refusal;
  VMLib::UniqueFile item;
  items::ItemFacts facts;
  const DWORD error = folders.OpenItem(LocalPathOf(virtualPath), items::OpenRequest(), item, facts, refusal, folder, name);
  // A drive root has no folder above it to be a link in.
  if (error == ERROR_INVALID_NAME || error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return L"";
  if (error != ERROR_SUCCESS) return L"cannot tell whether " + Quoted(virtualPath) + L" is a link: " + SystemErrorText(error);
  if (facts.HoldsLinkItself()) return Quoted(virtualPath) + L" is a link";
  if (!facts.IsLink()) return L"";
  std::wstring reached;
  items::FinalPathOf(item.get(), reached);
  return Quoted(virtualPath) + L" is a link to " + Quoted(reached);
}

bool HeldFileLook::HeldByAnotherProgram(const std::wstring& path) {
  std::wstring folderPath;
  std::wstring name;
  items::SplitParent(path, folderPath, name);
  if (folderPath != folderPath_) {
    folderPath_ = items::OpenRoot(folderPath, folder_) == 0 ? folderPath : std::wstring();
  }
  DWORD error = ERROR_SUCCESS;
  if (folder_) {
    VMLib::UniqueFile file;
    error = items::OpenRelative(folder_.get(), name, items::OpenRequest::ForReading(), file);
  } else {
    TryOpenLocal(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, error);
  }
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

bool ShadowCopiesPossibleOn(const std::wstring& virtualPath) {
  if (virtualPath.empty()) return false;
  const wchar_t root[] = {virtualPath[0], L':', L'\\', L'\0'};
  if (::GetDriveTypeW(root) != DRIVE_FIXED) return false;
  wchar_t fileSystem[MAX_PATH + 1] = {};
  if (!::GetVolumeInformationW(root, /*name=*/nullptr, 0, /*serial=*/nullptr, /*maxComponent=*/nullptr,
                               /*flags=*/nullptr, fileSystem, MAX_PATH + 1)) {
    return true;
  }
  const std::wstring name = fileSystem;
  return name == L"NTFS" || name == L"ReFS";
}

VMLib::UniqueFile CreateLocalFile(const std::wstring& path, bool replace) {
  return OpenLocal(path, GENERIC_WRITE, /*share=*/0, replace ? CREATE_ALWAYS : CREATE_NEW, L"cannot create");
}

VMLib::UniqueFile CreateLocalTemporary(const std::wstring& path) {
  return OpenLocal(path, GENERIC_WRITE | DELETE, /*share=*/0, CREATE_NEW, L"cannot create");
}

VMLib::UniqueFile OpenLocalForAppending(const std::wstring& path) {
  return OpenLocal(path, FILE_APPEND_DATA, FILE_SHARE_READ, OPEN_ALWAYS, L"cannot open");
}

uint32_t ReadLocal(const VMLib::UniqueFile& file, const std::wstring& path, void* buffer, uint32_t size) {
  DWORD read = 0;
  if (!::ReadFile(file.get(), buffer, size, &read, /*overlapped=*/nullptr)) {
    const DWORD error = ::GetLastError();
    ThrowFileError(L"cannot read", path, error);
  }
  return read;
}

void WriteLocal(HANDLE file, const std::wstring& path, const void* data, size_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(file, bytes, chunk, &written, /*overlapped=*/nullptr)) {
      const DWORD error = ::GetLastError();
      ThrowFileError(L"cannot write", path, error);
    }
    bytes += written;
    size -= written;
  }
}

std::optional<uint64_t> FreeSpaceOf(const std::wstring& virtualFolder) {
  ULARGE_INTEGER available{};
  if (!::GetDiskFreeSpaceExW(LocalPathOf(virtualFolder).c_str(), &available, /*total=*/nullptr, /*free=*/nullptr)) {
    return std::nullopt;
  }
  return available.QuadPart;
}

void CreateLocalFolder(const std::wstring& path) {
  // Levels that exist, or cannot be made (a drive, a server), fail here
  // harmlessly; only the last one decides.
  for (size_t separator = path.find_first_of(L"\\/"); separator != std::wstring::npos;
       separator = path.find_first_of(L"\\/", separator + 1)) {
    ::CreateDirectoryW(path.substr(0, separator).c_str(), /*security=*/nullptr);
  }
  if (!::CreateDirectoryW(path.c_str(), /*security=*/nullptr)) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_ALREADY_EXISTS) ThrowFileError(L"cannot create folder", path, error);
  }
}

std::string ReadSmallFile(const std::wstring& path, size_t limit) {
  const VMLib::UniqueFile file = OpenLocalForReading(path);
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(file.get(), &size)) {
    const DWORD error = ::GetLastError();
    ThrowFileError(L"cannot read", path, error);
  }
  if (static_cast<uint64_t>(size.QuadPart) > limit) {
    throw HostError(L"'" + path + L"' is larger than " + std::to_wstring(limit) + L" bytes");
  }
  std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
  size_t done = 0;
  while (done < bytes.size()) {
    const uint32_t read = ReadLocal(file, path, bytes.data() + done, static_cast<uint32_t>(bytes.size() - done));
    if (read == 0) break;
    done += read;
  }
  bytes.resize(done);
  return bytes;
}

} // namespace host
