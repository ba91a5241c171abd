// Removal of files and whole folder trees from the storage.
#pragma once

#include <cstdint>
#include <string>

#include "logging/PluginBase.h"
#include "vmlib/ExactItem.h"

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
  // counts as removed. A link goes as a link; a name that reaches another
  // item (a link this system opens as its target, a short name) is refused.
  uint32_t DeleteRealFile(const std::wstring& realPath);

private:
  // Opens the item for removal, checks it and removes it, or reports why not.
  bool RemoveNamed(const std::wstring& realPath, const wchar_t* format);
  // Deletes the checked item through its handle, or reports why not;
  // `format` names what failed.
  bool RemoveItem(VMLib::ExactItem& item, const std::wstring& realPath, const wchar_t* format);
  void ReportFailure(const wchar_t* format, const std::wstring& realPath, uint32_t code);

  PluginBase& log_;
};
