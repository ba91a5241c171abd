#include "tests/support/TempFolder.h"

#include <cwchar>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <system_error>
#include <utility>

#include <gtest/gtest.h>


namespace test {

namespace fs = std::filesystem;

namespace {

std::wstring Long(const std::wstring& path) { return path.rfind(L"\\\\?\\", 0) == 0 ? path : L"\\\\?\\" + path; }

} // namespace

TempFolder::TempFolder() {
  wchar_t base[MAX_PATH + 1] = {};
  const DWORD length = ::GetTempPathW(MAX_PATH, base); // ends in a separator
  // Process id and a counter keep parallel test processes apart.
  static unsigned counter = 0;
  do {
    path_ = std::wstring(base, length) + L"dw-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
            std::to_wstring(++counter);
  } while (!::CreateDirectoryW(path_.c_str(), nullptr) && ::GetLastError() == ERROR_ALREADY_EXISTS);
  if (!IsFolder(path_)) ADD_FAILURE() << "cannot create temporary folder";
}

TempFolder::~TempFolder() { RemoveAll(path_); }

std::wstring ToVirtual(const std::wstring& windowsPath) {
  std::wstring result = windowsPath;
  if (result.size() >= 2 && result[1] == L':') result[1] = L'$';
  return result;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  std::ofstream file(fs::path(path), std::ios::binary | std::ios::trunc);
  if (!file.write(bytes.data(), static_cast<std::streamsize>(bytes.size())).flush()) {
    ADD_FAILURE() << "cannot write test file";
  }
}

std::string ReadFileBytes(const std::wstring& path) {
  std::ifstream file(fs::path(path), std::ios::binary);
  if (!file) ADD_FAILURE() << "cannot open test file for reading";
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void MakeFolder(const std::wstring& path) {
  std::error_code ec;
  fs::create_directories(path, ec);
  if (ec) ADD_FAILURE() << "cannot create test folder: " << ec.message();
}

std::string Pattern(size_t size, uint64_t seed) {
  std::mt19937_64 random(seed);
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(random() >> 24);
  return bytes;
}

VMLib::UniqueFile HoldExclusively(const std::wstring& path) {
  VMLib::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) ADD_FAILURE() << "cannot hold the test file";
  return file;
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool IsFolder(const std::wstring& path) { return Exists(path) && (Attributes(path) & FILE_ATTRIBUTE_DIRECTORY); }

uint32_t Attributes(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()); }

void RemoveAll(const std::wstring& path) {
  if (path.empty() || !Exists(path)) return;
  // Through "\\?\" so names Windows would otherwise rewrite (trailing dots
  // and blanks, device names) are removed as they are; folders are removed
  // after their contents, links never entered.
  std::vector<std::pair<std::wstring, bool>> pending{{Long(path), false}};
  while (!pending.empty()) {
    auto [current, expanded] = pending.back();
    const DWORD attributes = ::GetFileAttributesW(current.c_str());
    ::SetFileAttributesW(current.c_str(), FILE_ATTRIBUTE_NORMAL);
    const bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    if (!folder || expanded || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      folder ? ::RemoveDirectoryW(current.c_str()) : ::DeleteFileW(current.c_str());
      pending.pop_back();
      continue;
    }
    pending.back().second = true;
    for (const WIN32_FIND_DATAW& item : FolderItems(current)) {
      pending.push_back({current + L"\\" + item.cFileName, false});
    }
  }
}

std::vector<WIN32_FIND_DATAW> FolderItems(const std::wstring& folder) {
  std::vector<WIN32_FIND_DATAW> items;
  WIN32_FIND_DATAW data;
  VMLib::UniqueFind search(::FindFirstFileW((folder + L"\\*").c_str(), &data));
  if (!search) return items;
  do {
    if (std::wcscmp(data.cFileName, L".") != 0 && std::wcscmp(data.cFileName, L"..") != 0) items.push_back(data);
  } while (::FindNextFileW(search.get(), &data));
  return items;
}

std::map<std::wstring, std::string> Describe(const std::wstring& folder, uint32_t attributes) {
  std::map<std::wstring, std::string> items;
  const std::wstring root = Long(folder);
  for (std::vector<std::wstring> pending{L""}; !pending.empty();) {
    const std::wstring relative = pending.back();
    pending.pop_back();
    for (const WIN32_FIND_DATAW& data : FolderItems(relative.empty() ? root : root + L"\\" + relative)) {
      const std::wstring item = relative.empty() ? data.cFileName : relative + L"\\" + data.cFileName;
      const uint64_t written = uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32 | data.ftLastWriteTime.dwLowDateTime;
      std::string& text = items[item] = "attributes " +
                                        std::to_string(data.dwFileAttributes & (attributes | FILE_ATTRIBUTE_DIRECTORY)) +
                                        ", written " + std::to_string(written);
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        pending.push_back(item);
      } else {
        const std::string bytes = ReadFileBytes(root + L"\\" + item);
        text += ", " + std::to_string(bytes.size()) + " bytes, hash " + std::to_string(std::hash<std::string>()(bytes));
      }
    }
  }
  return items;
}

} // namespace test
