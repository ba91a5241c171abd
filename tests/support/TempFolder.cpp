#include "tests/support/TempFolder.h"

#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "vmlib/ScopedHandle.h"
#include "vmlib/WindowsApi.h"

namespace test {

namespace fs = std::filesystem;

TempFolder::TempFolder() {
  wchar_t base[MAX_PATH + 1] = {};
  ::GetTempPathW(MAX_PATH, base);
  std::wstring root = base;
  if (!root.empty() && root.back() == L'\\') root.pop_back();
  // Process id and a counter keep parallel test processes apart.
  static unsigned counter = 0;
  for (;;) {
    path_ = root + L"\\dw-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
    if (::CreateDirectoryW(path_.c_str(), nullptr)) break;
    const DWORD error = ::GetLastError();
    if (error != ERROR_ALREADY_EXISTS) {
      ADD_FAILURE() << "cannot create temporary folder, error " << error;
      break;
    }
  }
}

TempFolder::~TempFolder() { RemoveAll(path_); }

std::wstring TempFolder::virtualPath() const { return ToVirtual(path_); }

std::wstring ToVirtual(const std::wstring& windowsPath) {
  std::wstring result = windowsPath;
  if (result.size() >= 2 && result[1] == L':') result[1] = L'$';
  return result;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  VMLib::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD error = ::GetLastError();
    ADD_FAILURE() << "cannot create test file, error " << error;
    return;
  }
  DWORD written = 0;
  if (!bytes.empty() && !::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
    ADD_FAILURE() << "cannot write test file";
  }
}

std::string ReadFileBytes(const std::wstring& path) {
  VMLib::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    ADD_FAILURE() << "cannot open test file for reading";
    return {};
  }
  std::string bytes;
  char buffer[65536];
  DWORD got = 0;
  while (::ReadFile(file.get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) bytes.append(buffer, got);
  return bytes;
}

void MakeFolder(const std::wstring& path) {
  std::error_code ec;
  fs::create_directories(path, ec);
  if (ec) ADD_FAILURE() << "cannot create test folder: " << ec.message();
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

uint32_t Attributes(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()); }

void RemoveAll(const std::wstring& path) {
  if (path.empty() || !Exists(path)) return;
  // Through "\\?\" so names Windows would otherwise rewrite (trailing dots
  // and blanks, device names) are removed as they are; folders are removed
  // after their contents, links never entered.
  const std::wstring root = path.rfind(L"\\\\?\\", 0) == 0 ? path : L"\\\\?\\" + path;
  std::vector<std::pair<std::wstring, bool>> pending{{root, false}};
  while (!pending.empty()) {
    auto [current, expanded] = pending.back();
    const DWORD attributes = ::GetFileAttributesW(current.c_str());
    ::SetFileAttributesW(current.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      ::DeleteFileW(current.c_str());
      pending.pop_back();
      continue;
    }
    if (expanded || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      ::RemoveDirectoryW(current.c_str());
      pending.pop_back();
      continue;
    }
    pending.back().second = true;
    WIN32_FIND_DATAW data;
    VMLib::UniqueFind search(::FindFirstFileW((current + L"\\*").c_str(), &data));
    if (!search) continue;
    do {
      const std::wstring name = data.cFileName;
      if (name != L"." && name != L"..") pending.push_back({current + L"\\" + name, false});
    } while (::FindNextFileW(search.get(), &data));
  }
}

} // namespace test
