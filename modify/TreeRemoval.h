// Removal of files and whole folder trees from the storage.
#pragma once

#include <cstdint>
#include <string>

#include "items/HeldFolders.h"
#include "logging/PluginBase.h"

class TreeRemoval {
public:
  TreeRemoval(PluginBase& log, items::HeldFolders& folders) : log_(log), folders_(folders) {}

  // Removes the folder at the Windows path `realPath` and everything in it,
  // children before their folder, in the order of the file system, going on
  // past items that stay. Each folder is held open while what is in it is
  // removed relative to it, and nothing in the tree is passed through a
  // link: a link, the folder itself included, is removed as a link, or left
  // and named where this system opens it as what it leads to. 0 when the
  // folder is gone; 1 when something stayed, each item that stayed having
  // reported why.
  uint32_t RemoveTree(const std::wstring& realPath);

  // Deletes the file; a file that is already gone counts as removed, a
  // folder is not removed. A link goes as a link.
  uint32_t DeleteRealFile(const std::wstring& realPath);

private:
  struct Frame;
  // Opens the folder `name` of `parent` as a frame of the walk, its entries
  // read. False when it stays (or was a link and is gone: `gone`), having
  // reported why.
  bool Enter(items::HeldFolder& parent, const std::wstring& name, Frame& frame, bool& gone);
  // Deletes the file or link `name` of `folder`, or reports why not.
  bool RemoveEntry(items::HeldFolder& folder, const std::wstring& name, ULONG options);
  // Deletes what `handle` holds: the item `path` names, with `facts`.
  bool RemoveChecked(items::HeldFolder& folder, const std::wstring& name, HANDLE handle,
                     const items::ItemFacts& facts, const wchar_t* format);
  void ReportFailure(const wchar_t* format, const std::wstring& realPath, uint32_t code);
  // Reports why the item at `realPath` was not reached: its refusal, or the
  // failure `status` in the words of `format`. False when it was reached.
  bool ReportUnreached(DWORD status, const items::Refusal& refusal, const wchar_t* format,
                       const std::wstring& realPath);

  PluginBase& log_;
  items::HeldFolders& folders_;
};
