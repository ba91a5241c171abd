// A fresh folder per test below the user's temporary folder, removed again
// (read-only and hidden files included) when the object goes away.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "vmlib/ScopedHandle.h"
#include "vmlib/WindowsApi.h"

namespace test {

// Virtual path of a Windows path "X:\rest" ("X$\rest").
std::wstring ToVirtual(const std::wstring& windowsPath);

class TempFolder {
public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // Windows path without a trailing separator, e.g. C:\users\me\Temp\dw-1a2b.
  const std::wstring& path() const { return path_; }
  // `relative` below the folder: as a Windows path, as a virtual path, and as
  // the long path the plug-in maps that virtual path to.
  std::wstring operator/(const std::wstring& relative) const { return path_ + L"\\" + relative; }
  std::wstring Virtual(const std::wstring& relative) const { return ToVirtual(path_) + L"\\" + relative; }
  std::wstring Real(const std::wstring& relative) const { return L"\\\\?\\" + path_ + L"\\" + relative; }

private:
  std::wstring path_;
};

inline bool Contains(const std::wstring& text, const std::wstring& part) { return text.find(part) != std::wstring::npos; }

// File helpers for tests; they fail the current test (ADD_FAILURE) on errors.
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
std::string ReadFileBytes(const std::wstring& path);
void MakeFolder(const std::wstring& path);
bool Exists(const std::wstring& path);
bool IsFolder(const std::wstring& path);
uint32_t Attributes(const std::wstring& path);
// Removes a tree whatever its attributes; missing paths are fine.
void RemoveAll(const std::wstring& path);
// What Windows enumerates in the folder, in its order, "." and ".." left out.
std::vector<WIN32_FIND_DATAW> FolderItems(const std::wstring& folder);
// Every item below `folder` by its name relative to it: those of `attributes`
// it has, its last write time and, for a file, its size and a hash of its
// bytes. Read through \\?\, so that no name is taken for another.
std::map<std::wstring, std::string> Describe(const std::wstring& folder, uint32_t attributes);
// `size` bytes with no pattern a copy could fake, the same for the same `seed`.
std::string Pattern(size_t size, uint64_t seed);
// Opens an existing file for reading with share mode 0: nobody else can open it.
VMLib::UniqueFile HoldExclusively(const std::wstring& path);


} // namespace test
