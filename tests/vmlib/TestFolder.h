// A fresh folder under the Windows temporary folder for one test, removed with
// everything in it (read-only items included) when the test ends.
#pragma once

#include <string>

namespace VMLib::tests {

class TestFolder {
public:
  TestFolder();
  ~TestFolder();
  TestFolder(const TestFolder&) = delete;
  TestFolder& operator=(const TestFolder&) = delete;

  // The folder as the plug-in passes paths: with the \\?\ prefix.
  const std::wstring& Path() const { return path_; }
  std::wstring Child(const std::wstring& name) const { return path_ + L"\\" + name; }

  // Creates a file holding `content` and returns its path.
  std::wstring MakeFile(const std::wstring& name, const std::string& content = "content") const;
  // Creates a subfolder and returns its path.
  std::wstring MakeFolder(const std::wstring& name) const;

private:
  std::wstring path_;
};

} // namespace VMLib::tests
