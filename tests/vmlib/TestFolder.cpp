#include "tests/vmlib/TestFolder.h"

#include <gtest/gtest.h>

#include <atomic>

#include "vmlib/ScopedHandle.h"

namespace VMLib::tests {

namespace {

// Read-only items must lose the bit before they can be deleted.
void RemoveTree(const std::wstring& path) {
  ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  WIN32_FIND_DATAW entry{};
  UniqueFind find(::FindFirstFileW((path + L"\\*").c_str(), &entry));
  if (find) {
    do {
      const std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = path + L"\\" + name;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(child);
      } else {
        ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(child.c_str());
      }
    } while (::FindNextFileW(find.get(), &entry));
  }
  find.reset();
  ::RemoveDirectoryW(path.c_str());
}

} // namespace

TestFolder::TestFolder() {
  wchar_t temp[MAX_PATH + 1] = {};
  const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
  EXPECT_NE(length, 0u) << "GetTempPathW failed with " << ::GetLastError();
  // CTest runs the cases as parallel processes: the process id keeps them apart.
  static std::atomic<unsigned> counter{0};
  path_ = std::wstring(L"\\\\?\\") + temp + L"vmlib-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
          std::to_wstring(counter++);
  EXPECT_TRUE(::CreateDirectoryW(path_.c_str(), /*security=*/nullptr))
      << "CreateDirectoryW failed with " << ::GetLastError();
}

TestFolder::~TestFolder() {
  RemoveTree(path_);
}

std::wstring TestFolder::MakeFile(const std::wstring& name, const std::string& content) const {
  const std::wstring path = Child(name);
  UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, /*share=*/0, /*security=*/nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, /*templateFile=*/nullptr));
  EXPECT_TRUE(file.valid()) << "CreateFileW failed with " << ::GetLastError();
  DWORD written = 0;
  EXPECT_TRUE(::WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written,
                          /*overlapped=*/nullptr));
  return path;
}

std::wstring TestFolder::MakeFolder(const std::wstring& name) const {
  const std::wstring path = Child(name);
  EXPECT_TRUE(::CreateDirectoryW(path.c_str(), /*security=*/nullptr))
      << "CreateDirectoryW failed with " << ::GetLastError();
  return path;
}

} // namespace VMLib::tests
