// Prints the version resource of each file named on the command line, as
// Windows reads it for a file's properties and an installer reads it to tell
// an old file from a new one, one line a file:
//   NAME FILEVERSION PRODUCTVERSION FileVersion ProductVersion ProductName OriginalFilename FileDescription
// Exits with 1 when a file has no readable resource.
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "vmlib/WindowsApi.h"

namespace {

// The text of one string under the first language the resource declares.
std::wstring StringValue(const void* block, const wchar_t* key) {
  WORD* translation = nullptr;
  UINT size = 0;
  if (!::VerQueryValueW(block, L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &size) ||
      size < 2 * sizeof(WORD))
    return L"-";
  wchar_t path[80];
  std::swprintf(path, 80, L"\\StringFileInfo\\%04x%04x\\%ls", translation[0], translation[1], key);
  wchar_t* value = nullptr;
  if (!::VerQueryValueW(block, path, reinterpret_cast<void**>(&value), &size) || size == 0) return L"-";
  return value;
}

bool PrintVersion(const wchar_t* file) {
  DWORD unused = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(file, &unused);
  if (size == 0) {
    const DWORD error = ::GetLastError();
    std::fwprintf(stderr, L"%ls: no version resource (error %lu)\n", file, error);
    return false;
  }
  std::vector<char> block(size);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedSize = 0;
  if (!::GetFileVersionInfoW(file, 0, size, block.data()) ||
      !::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize) || fixedSize < sizeof(*fixed)) {
    std::fwprintf(stderr, L"%ls: unreadable version resource\n", file);
    return false;
  }
  const wchar_t* name = std::wcsrchr(file, L'\\');
  std::fwprintf(stdout, L"%ls %u.%u.%u.%u %u.%u.%u.%u", name != nullptr ? name + 1 : file,
                HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
                LOWORD(fixed->dwFileVersionLS), HIWORD(fixed->dwProductVersionMS), LOWORD(fixed->dwProductVersionMS),
                HIWORD(fixed->dwProductVersionLS), LOWORD(fixed->dwProductVersionLS));
  for (const wchar_t* key : {L"FileVersion", L"ProductVersion", L"ProductName", L"OriginalFilename", L"FileDescription"})
    std::fwprintf(stdout, L" %ls", StringValue(block.data(), key).c_str());
  std::fwprintf(stdout, L"\n");
  return true;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
  bool allRead = argc > 1;
  for (int i = 1; i < argc; ++i) allRead = PrintVersion(argv[i]) && allRead;
  return allRead ? 0 : 1;
}
