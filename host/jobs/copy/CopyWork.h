// The part of a tree copy that crosses threads: files copied on the walk's
// thread or on the next free worker, each holding its folder until it is
// done; folders given their attributes and times once nothing below them is
// under way; and the report's figures and failures, kept in the order of the
// walk whichever thread met them.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/jobs/Progress.h"
#include "host/jobs/WalkOrder.h"
#include "host/jobs/Workers.h"
#include "host/jobs/copy/HeldFolders.h"
#include "host/jobs/copy/TreeCopy.h"

namespace host {

class CopyWork {
public:
  CopyWork(IBackupDataRead& source, IBackupDataWrite& target, const HostLog& log, const std::wstring& from,
           const std::wstring& to, const CopySettings& settings, WorkerPool* workers, CopyReport& report);

  // On the walk's thread. A folder is `made` when it is in DST, created or
  // there already.
  void EnterFolder(const std::wstring& relative, const FileInfo& info, bool made) {
    held_.Enter(relative, info, made);
  }
  void LeaveFolder() { Release(held_.Leave(failures_.Reserve()), target_, log_); }
  // Copies the file into `existing`'s place, or a new one when null; `item`
  // counts it as done when the copy is over.
  void CopyFile(const std::wstring& relative, const FileInfo& info, const FileInfo* existing,
                std::shared_ptr<ProgressMeter::Item> item);
  void Fail(const std::wstring& relative, const std::wstring& reason) { failures_.Add({relative, reason}); }

  // From any thread.
  void ItemDone();
  void FolderMade();
  void Skipped(uint64_t bytes);
  // Ends the run before the next item: the walk and the workers stop.
  void Stop(const std::wstring& reason);
  bool Stopped() const;

  // Once the walk is over and every file is done: the failures in the order
  // of the walk, and the files that did not fit counted when all are in
  // (workers finish what they had started).
  void Finish();
  uint64_t ItemsDone() const { return itemsDone_; }

private:
  void Copy(IBackupDataRead& source, IBackupDataWrite& target, const HostLog& log, std::vector<char>& buffer,
            const std::wstring& relative, const FileCopy& file, ProgressMeter::Item& item, uint64_t place);
  void Release(std::shared_ptr<HeldFolders::Folder> folder, IBackupDataWrite& target, const HostLog& log);

  IBackupDataRead& source_;
  IBackupDataWrite& target_;
  const HostLog& log_;
  const std::wstring& from_;
  const std::wstring& to_;
  const CopySettings& settings_;
  WorkerPool* workers_;
  CopyReport& report_;
  std::vector<char> buffer_; // without workers
  HeldFolders held_;
  WalkOrdered<ItemFailure> failures_;
  mutable std::mutex lock_; // over the report's figures and all below
  uint64_t itemsDone_ = 0;
  int diskFullFailures_ = 0;
  bool spaceStop_ = false; // the run stopped for want of room
  bool quota_ = false;     // a file did not fit the user's quota
};

} // namespace host
