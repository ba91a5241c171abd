// The folders of a tree copy whose attributes and times wait for everything
// below them, so that they are the last change made to each. A folder is
// held by its own visit and by each item below it still under way, on any
// worker; the last to let go settles it, and then lets go of its parent.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "contract/PluginTypes.h"

namespace host {

class HeldFolders {
public:
  struct Folder {
    std::wstring relative;
    FileInfo info;
    std::shared_ptr<Folder> parent;
    size_t holds = 1;
    uint64_t place = 0; // in the walk, of a failure to settle it
    bool made = true;   // it is in DST: created, or there already
  };
  // Applies a folder's attributes and times; runs on the thread that let go
  // of it last.
  using Settle = std::function<void(const Folder&)>;

  // The walk enters a folder, which holds the one it is in.
  void Enter(const std::wstring& relative, const FileInfo& info, bool made);
  // The folder the walk is in, held once more for an item of it.
  std::shared_ptr<Folder> HoldCurrent();
  // The walk leaves the folder it is in; the one returned is to be let go.
  std::shared_ptr<Folder> Leave(uint64_t place);
  // Lets go of `folder` and settles each folder that nothing holds any more,
  // innermost first.
  void Release(std::shared_ptr<Folder> folder, const Settle& settle);

private:
  std::mutex lock_;
  std::vector<std::shared_ptr<Folder>> walk_; // the walk's own, on its thread
};

} // namespace host
