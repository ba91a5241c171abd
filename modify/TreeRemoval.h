// Removal of files and whole folder trees from the storage.
#pragma once

#include <cstdint>
#include <string>

#include "logging/PluginBase.h"

class TreeRemoval {
public:
  explicit TreeRemoval(PluginBase& log) : log_(log) {}

  // Removes the folder at the Windows path `realPath` and everything in it,
  // children before their folder, in the order of the search, going on past
  // items that stay. A link to a folder (junction or symbolic link), the
  // folder itself included, is removed as a link: what it points at is never
  // entered or changed. 0 when the folder is gone; 1 when something stayed,
  // each item that stayed having reported why.
  uint32_t RemoveTree(const std::wstring& realPath);

  // Clears the file's attributes and deletes it; a file that is already gone
  // counts as removed.
  uint32_t DeleteRealFile(const std::wstring& realPath);

private:
  // Removes a junction or symbolic link itself; `format` names what failed.
  bool RemoveLink(const std::wstring& realPath, const wchar_t* format);
  // Clears the folder's attributes and removes it once it is empty.
  bool RemoveEmptyFolder(const std::wstring& realPath);
  void ReportFailure(const wchar_t* format, const std::wstring& realPath, uint32_t code);

  PluginBase& log_;
};
