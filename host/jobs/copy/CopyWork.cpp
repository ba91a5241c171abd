#include "host/jobs/copy/CopyWork.h"

#include <algorithm>
#include <utility>

#include "host/jobs/Transfer.h"
#include "host/session/Format.h"

namespace host {

namespace {

// A full disk can end one large file while smaller ones still fit (the
// partial copy is removed, which frees its space again); a second file that
// does not fit means the disk is full for what remains.
constexpr int kDiskFullLimit = 2;

} // namespace

CopyWork::CopyWork(IBackupDataRead& source, IBackupDataWrite& target, const HostLog& log, const std::wstring& from,
                   const std::wstring& to, const CopySettings& settings, WorkerPool* workers, CopyReport& report)
    : source_(source), target_(target), log_(log), from_(from), to_(to), settings_(settings), workers_(workers),
      report_(report), buffer_(settings.dryRun || workers != nullptr ? 0 : settings.bufferSize) {}

void CopyWork::CopyFile(const std::wstring& relative, const FileInfo& info, const FileInfo* existing,
                        std::shared_ptr<ProgressMeter::Item> item) {
  FileCopy file{ChildPath(from_, relative), ChildPath(to_, relative), info, std::nullopt};
  if (existing != nullptr) file.existing = *existing;
  std::shared_ptr<HeldFolders::Folder> folder = held_.HoldCurrent();
  const uint64_t place = failures_.Reserve();
  if (workers_ == nullptr) {
    Copy(source_, target_, log_, buffer_, relative, file, *item, place);
    item.reset();
    Release(std::move(folder), target_, log_);
    return;
  }
  const std::wstring readsFrom = file.from;
  workers_->Post(
      [this, relative, file = std::move(file), item = std::move(item), folder, place](Worker& worker) {
        // A full disk stopped the run since this file was handed out.
        if (!Stopped()) {
          Copy(worker.source(), worker.target(), worker.log(), worker.buffer(), relative, file, *item, place);
        }
        Release(folder, worker.target(), worker.log());
      },
      readsFrom);
}

void CopyWork::Copy(IBackupDataRead& source, IBackupDataWrite& target, const HostLog& log, std::vector<char>& buffer,
                    const std::wstring& relative, const FileCopy& file, ProgressMeter::Item& item, uint64_t place) {
  const FileCopyResult result =
      CopyOneFile(source, target, log, file, buffer, [&item](uint32_t chunk) { item.AddBytes(chunk); });
  if (result.failure) {
    ItemFailure failure = *result.failure;
    failure.relative = relative;
    failures_.Record(place, std::move(failure));
  }
  const std::lock_guard<std::mutex> guard(lock_);
  ++itemsDone_;
  if (result.copied) {
    ++report_.copied.files;
    report_.copied.bytes += result.bytes;
    if (result.fromShadowCopy) ++report_.fromShadowCopy;
  }
  if (!result.diskFull) return;
  quota_ = quota_ || result.quota;
  // Stops the walk and the workers; the words follow in Finish.
  if (++diskFullFailures_ >= kDiskFullLimit && report_.stopReason.empty()) {
    spaceStop_ = true;
    report_.stopReason = L"no room";
  }
}

// The last to let go of a folder gives it its attributes and times, through
// the instances of its own thread.
void CopyWork::Release(std::shared_ptr<HeldFolders::Folder> folder, IBackupDataWrite& target, const HostLog& log) {
  held_.Release(std::move(folder), [&](const HeldFolders::Folder& done) {
    // A drive's attributes are not a folder's to take or give.
    const bool rootOfDrive = done.relative.empty() && (IsDriveOrRoot(from_) || IsDriveOrRoot(to_));
    if (settings_.dryRun || rootOfDrive || !done.made) return;
    if (auto failure = ApplyMetadata(target, log, ChildPath(to_, done.relative), done.info, done.relative)) {
      failures_.Record(done.place, std::move(*failure));
    }
  });
}

void CopyWork::ItemDone() {
  const std::lock_guard<std::mutex> guard(lock_);
  ++itemsDone_;
}

void CopyWork::FolderMade() {
  const std::lock_guard<std::mutex> guard(lock_);
  ++report_.copied.folders;
}

void CopyWork::Skipped(uint64_t bytes) {
  const std::lock_guard<std::mutex> guard(lock_);
  ++report_.skippedFiles;
  report_.skippedBytes += bytes;
}

void CopyWork::Stop(const std::wstring& reason) {
  const std::lock_guard<std::mutex> guard(lock_);
  report_.stopReason = reason;
}

bool CopyWork::Stopped() const {
  const std::lock_guard<std::mutex> guard(lock_);
  return !report_.stopReason.empty();
}

void CopyWork::Finish() {
  for (ItemFailure& failure : failures_.Take()) {
    (failure.kind == FailureKind::Metadata ? report_.metadataFailures : report_.failures).push_back(std::move(failure));
  }
  if (!spaceStop_) return;
  const uint64_t didNotFit = std::count_if(report_.failures.begin(), report_.failures.end(),
                                           [](const ItemFailure& failure) { return failure.kind == FailureKind::Space; });
  report_.stopReason = NoRoomFor(to_, quota_ ? Shortage::Quota : Shortage::Disk) + L": " +
                       CountOf(didNotFit, L"file") + L" did not fit, so the rest were not tried";
}

} // namespace host
