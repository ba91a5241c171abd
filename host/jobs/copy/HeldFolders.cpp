#include "host/jobs/copy/HeldFolders.h"

#include <utility>

namespace host {

void HeldFolders::Enter(const std::wstring& relative, const FileInfo& info, bool made) {
  std::shared_ptr<Folder> parent = walk_.empty() ? nullptr : HoldCurrent();
  walk_.push_back(std::make_shared<Folder>(Folder{relative, info, std::move(parent), 1, 0, made}));
}

std::shared_ptr<HeldFolders::Folder> HeldFolders::HoldCurrent() {
  const std::lock_guard<std::mutex> guard(lock_);
  ++walk_.back()->holds;
  return walk_.back();
}

std::shared_ptr<HeldFolders::Folder> HeldFolders::Leave(uint64_t place) {
  std::shared_ptr<Folder> folder = std::move(walk_.back());
  walk_.pop_back();
  folder->place = place;
  return folder;
}

void HeldFolders::Release(std::shared_ptr<Folder> folder, const Settle& settle) {
  while (folder) {
    {
      const std::lock_guard<std::mutex> guard(lock_);
      if (--folder->holds > 0) return;
    }
    settle(*folder);
    folder = folder->parent;
  }
}

} // namespace host
