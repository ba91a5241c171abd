#include "host/jobs/copy/TreeCopy.h"

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "host/session/Format.h"
#include "host/jobs/Progress.h"
#include "host/session/Text.h"
#include "host/jobs/Containment.h"
#include "host/session/LocalFile.h"
#include "host/jobs/TimePrecision.h"
#include "host/jobs/Transfer.h"

namespace host {

namespace {

// A full disk can end one large file while smaller ones still fit (the
// partial copy is removed, which frees its space again); a second file that
// does not fit means the disk is full for what remains.
constexpr int kDiskFullLimit = 2;
// Links named in the summary; the log file has all of them.
constexpr size_t kLinksShown = 5;
// FAT32 keeps a file's size in 32 bits.
constexpr uint64_t kFatFileLimit = 1ull << 32;

using Listing = std::map<std::wstring, FileInfo, NameLess>;

// Throws ChangedWhileRead when the source no longer has the size and last
// write time it was listed with, or gave another number of bytes.
void RequireUnchanged(IBackupDataRead& source, const FileCopy& file, uint64_t bytes) {
  FileInfo now;
  const bool queried = source.QueryFileInfo(file.from, now) == StatusSuccess;
  const bool timeChanged = queried && (now.validFields & file.info.validFields & FieldLastWriteTime) &&
                           now.lastWriteTime != file.info.lastWriteTime;
  const uint64_t size = queried ? now.size : bytes;
  if (bytes == file.info.size && size == file.info.size && !timeChanged) return;
  std::wstring what = L"it changed while it was read (listed with " + std::to_wstring(file.info.size) +
                      L" bytes, " + std::to_wstring(bytes) + L" read";
  if (size != bytes) what += L", now " + std::to_wstring(size);
  if (timeChanged) what += L", written again since";
  throw ChangedWhileRead(what + L")");
}

// Empty when it worked, else why not: a failed status, or a warning the
// plug-in logged on the way (an ACL it could not set is only a warning, and
// still leaves the item without its permissions).
std::wstring ApplyAttributesAndTimes(IBackupDataWrite& target, const HostLog& log, const std::wstring& path,
                                     const FileInfo& info) {
  const uint64_t mark = log.MessageCount();
  const uint32_t status = target.ApplyFileInfo(path, info);
  if (status == StatusSuccess) return log.LastProblemSince(mark);
  return PluginFailure(log, mark, L"cannot set the attributes and times of " + Quoted(path), status).message();
}

std::optional<ItemFailure> MetadataFailure(const std::wstring& relative, const std::wstring& problem) {
  if (problem.empty()) return std::nullopt;
  return ItemFailure{relative, L"copied, metadata not applied: " + problem, FailureKind::Metadata};
}

// The writer of a copy. A new file is created in mode 2 alone: mode 1 first
// looks the name up for its attributes, and Wine looks up a name that is not
// there by reading the whole folder, so in a large folder that would double
// the cost of every file. One that appeared since the listing, read-only
// perhaps, refuses mode 2 and is still replaced in mode 1. The source's
// attributes follow once the copy is whole.
PluginFileWriter NewCopy(IBackupDataWrite& target, const HostLog& log, const FileCopy& file) {
  if (file.existing) return PluginFileWriter(target, log, file.to, OpenWrite, &*file.existing);
  try {
    return PluginFileWriter(target, log, file.to, OpenWrite);
  } catch (const DiskFullError&) {
    throw;
  } catch (const HostError&) {
    return PluginFileWriter(target, log, file.to, OpenOverwriteKeepAttributes);
  }
}

class TreeCopier final : public TreeVisitor {
public:
  TreeCopier(IBackupDataRead& source, IBackupDataWrite& target, const HostLog& log, TextOutput& out,
             const std::wstring& from, const std::wstring& to, const CopySettings& settings,
             const TimePrecision& precision, ProgressMeter* progress, WorkerPool* workers, CopyReport& report)
      : source_(source), target_(target), log_(log), out_(out), from_(from), to_(to), settings_(settings),
        precision_(precision), progress_(progress), workers_(workers), report_(report),
        buffer_(settings.dryRun || workers != nullptr ? 0 : settings.bufferSize), sourceRoot_(IdentityOf(from)),
        targetRoot_(IdentityOf(to)) {}

  // Below a DST folder that could not be listed nothing is created or
  // written, but the walk goes on, so that each item is named as failed.
  bool EnterFolder(const std::wstring& relative, const FileInfo& info) override {
    const std::wstring unknown = targets_.empty() ? L"" : targets_.back().unknown;
    if (!relative.empty()) {
      const ProgressMeter::Item item(progress_, relative, 0);
      if (!unknown.empty()) Fail(relative, unknown);
      const bool entered = !unknown.empty() || CreateFolder(relative);
      ItemDone();
      if (!entered) return false;
    }
    targets_.push_back(unknown.empty() ? TargetListing(relative) : TargetFolder{{}, unknown, {}});
    const std::shared_ptr<Folder> parent = folders_.empty() ? nullptr : folders_.back();
    if (parent) Hold(*parent);
    folders_.push_back(std::make_shared<Folder>(Folder{relative, info, parent, 1, 0, /*made=*/unknown.empty()}));
    return true;
  }

  void VisitFile(const std::wstring& relative, const FileInfo& info) override {
    auto item = std::make_shared<ProgressMeter::Item>(progress_, relative, info.size);
    const Listing::value_type* existing = Existing(relative);
    std::wstring problem = UnusableName(LeafName(relative));
    if (problem.empty()) problem = targets_.back().unknown;
    if (problem.empty() && existing != nullptr) problem = ReplaceProblem(relative, *existing);
    if (problem.empty() && precision_.fat && info.size >= kFatFileLimit) {
      problem = L"it holds " + FormatSize(info.size) + L", and DST is on a FAT drive, which holds no file of 4 GiB "
                L"or more; copy it to a drive formatted NTFS or exFAT";
    }
    if (!problem.empty()) {
      Fail(relative, problem);
    } else if (settings_.incremental && existing != nullptr && Unchanged(existing->second, info, precision_)) {
      const std::lock_guard<std::mutex> guard(lock_);
      ++report_.skippedFiles;
      report_.skippedBytes += info.size;
    } else if (settings_.dryRun) {
      out_.Write(L"would copy " + relative + L" (" + FormatSize(info.size) + L")\n");
      ++report_.copied.files;
      report_.copied.bytes += info.size;
    } else {
      CopyFile(relative, info, existing != nullptr ? &existing->second : nullptr, std::move(item));
      return;
    }
    ItemDone();
  }

  void LeaveFolder(const std::wstring& relative, const FileInfo&) override {
    targets_.pop_back();
    std::shared_ptr<Folder> folder = std::move(folders_.back());
    folders_.pop_back();
    folder->order = next_++;
    Release(std::move(folder), target_, log_);
  }

  void ListingFailed(const std::wstring& relative, const std::wstring& problem) override {
    Fail(relative, problem);
  }

  void VisitLink(const std::wstring& relative, const FileInfo&) override {
    report_.notFollowed.push_back(relative);
    log_.Note(L"Not followed: link to a folder: " + relative);
    if (settings_.dryRun) out_.Write(L"would not follow the link to a folder " + relative + L"\n");
  }

  void VisitNameClash(const std::wstring& relative, const FileInfo& info, const std::wstring& reason, bool) override {
    const ProgressMeter::Item item(progress_, relative, IsFolder(info) ? 0 : info.size);
    Fail(relative, reason);
    ItemDone();
  }

  bool Stopped() const override {
    const std::lock_guard<std::mutex> guard(lock_);
    return !report_.stopReason.empty();
  }

  // Once the walk is over and every file is done: the failures in the order
  // of the walk, whichever thread met them first, and the files that did not
  // fit counted when all are in (workers finish what they had started).
  void Finish() {
    std::sort(failures_.begin(), failures_.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& [order, failure] : failures_) {
      (failure.kind == FailureKind::Metadata ? report_.metadataFailures : report_.failures).push_back(std::move(failure));
    }
    if (!spaceStop_) return;
    const uint64_t didNotFit = std::count_if(report_.failures.begin(), report_.failures.end(),
                                             [](const ItemFailure& failure) { return failure.kind == FailureKind::Space; });
    report_.stopReason = NoRoomFor(to_, quota_ ? Shortage::Quota : Shortage::Disk) + L": " +
                         CountOf(didNotFit, L"file") + L" did not fit, so the rest were not tried";
  }

  uint64_t ItemsDone() const { return itemsDone_; }

private:
  // A folder whose attributes and times wait for everything below it: its
  // own visit and each file or folder below it still under way hold it.
  struct Folder {
    std::wstring relative;
    FileInfo info;
    std::shared_ptr<Folder> parent;
    size_t holds = 1;
    uint64_t order = 0; // in the walk, of its attributes' failure
    bool made = true;   // it is in DST: created, or there already
  };

  // What the walk knows of a DST folder: its entries, or why they are
  // unknown, and the names of temporary files in it that are left alone.
  struct TargetFolder {
    Listing entries;
    std::wstring unknown; // why nothing is written into it; empty when it was listed
    std::set<std::wstring, NameLess> heldTemporaries;
  };

  void Hold(Folder& folder) {
    const std::lock_guard<std::mutex> guard(lock_);
    ++folder.holds;
  }

  // Lets go of `folder`; the last to let go applies its attributes and
  // times, after the children, so that they are the last change made to it,
  // and then lets go of its parent.
  void Release(std::shared_ptr<Folder> folder, IBackupDataWrite& target, const HostLog& log) {
    while (folder) {
      {
        const std::lock_guard<std::mutex> guard(lock_);
        if (--folder->holds > 0) return;
      }
      // A drive's attributes are not a folder's to take or give.
      const bool rootOfDrive = folder->relative.empty() && (IsDriveOrRoot(from_) || IsDriveOrRoot(to_));
      if (!settings_.dryRun && !rootOfDrive && folder->made) {
        const std::wstring problem =
            ApplyAttributesAndTimes(target, log, ChildPath(to_, folder->relative), folder->info);
        if (auto failure = MetadataFailure(folder->relative, problem)) Record(folder->order, std::move(*failure));
      }
      folder = folder->parent;
    }
  }

  void ItemDone() {
    const std::lock_guard<std::mutex> guard(lock_);
    ++itemsDone_;
  }

  void Record(uint64_t order, ItemFailure failure) {
    const std::lock_guard<std::mutex> guard(lock_);
    failures_.emplace_back(order, std::move(failure));
  }

  void Fail(const std::wstring& relative, const std::wstring& reason) {
    Record(next_++, {relative, reason});
  }

  // The target's entry of the same name (as DST spells it), from its
  // folder's listing.
  const Listing::value_type* Existing(const std::wstring& relative) const {
    const Listing& listing = targets_.back().entries;
    const auto found = listing.find(LeafName(relative));
    return found == listing.end() ? nullptr : &*found;
  }

  // Why the file of DST that a copy would replace or skip is left alone;
  // empty when it may be. A link is told by its handle, not its listing
  // entry (under Wine a link to a file looks like the file): --incremental
  // would take a link to the SRC file for a copy of it, and making a
  // read-only one writable for the move would change the file it leads to.
  std::wstring ReplaceProblem(const std::wstring& relative, const Listing::value_type& existing) const {
    const std::wstring path = ChildPath(to_, WithLeaf(relative, existing.first));
    if (IsFolder(existing.second)) return L"DST has a folder of this name (" + Quoted(path) + L")";
    const std::wstring link = LinkAt(path);
    if (!link.empty()) {
      return L"DST holds a link under this name: " + link +
             L"; it is left alone, and nothing is written through it. Remove the link to copy this file";
    }
    const std::wstring temporary = TemporaryPathFor(path);
    if (targets_.back().heldTemporaries.count(LeafName(temporary)) == 0) return L"";
    return L"its copy would be written under " + Quoted(temporary) +
           L", which is not this job's to remove (see above); the old copy is kept";
  }

  bool CreateFolder(const std::wstring& relative) {
    const std::wstring path = ChildPath(to_, relative);
    const std::wstring unusable = UnusableName(LeafName(relative));
    const Listing::value_type* existing = Existing(relative);
    if (!unusable.empty()) {
      Fail(relative, unusable);
      return false;
    }
    // Another drive letter, a mapping or Wine's Z: above C: can make DST
    // a folder inside SRC, or SRC one inside DST, where no name shows it.
    if (targetRoot_ && IdentityOf(ChildPath(from_, relative)) == targetRoot_) {
      Fail(relative, L"this folder is DST " + Quoted(to_) + L" itself, reached under another name; it is not copied "
                     L"into itself");
      return false;
    }
    if (existing != nullptr && IsLinkedFolder(existing->second)) {
      // Writing into it would change its target, which may lie anywhere.
      Fail(relative, L"DST holds a link to a folder under this name (" + Quoted(path) +
                         L"); nothing is written through it. Remove the link to copy this folder");
      return false;
    }
    if (settings_.dryRun) {
      out_.Write(L"would copy " + relative + L"\\\n");
    } else {
      const uint64_t mark = log_.MessageCount();
      const uint32_t status = target_.CreateFolder(path);
      if (status != StatusSuccess) {
        Fail(relative, PluginFailure(log_, mark, L"cannot create folder " + Quoted(path), status).message());
        return false;
      }
    }
    if (sourceRoot_ && IdentityOf(path) == sourceRoot_) {
      Fail(relative, L"DST " + Quoted(path) + L" is SRC " + Quoted(from_) +
                     L" itself, reached under another name; nothing is written into it");
      const std::lock_guard<std::mutex> guard(lock_);
      report_.stopReason = L"DST leads back into SRC, so copying on would write SRC over itself";
      return false;
    }
    const std::lock_guard<std::mutex> guard(lock_);
    ++report_.copied.folders;
    return true;
  }

  // The target folder's entries, without the temporary files of an earlier
  // run that did not finish, which are removed. A folder the parent's
  // listing did not have is new: nothing to list. One that cannot be listed
  // is not taken for empty: a file in it would be written over in place.
  TargetFolder TargetListing(const std::wstring& relative) {
    TargetFolder target;
    if (!relative.empty() && Existing(relative) == nullptr) return target;
    const std::wstring folder = ChildPath(to_, relative);
    // A dry run does not create DST.
    FileInfo info;
    if (settings_.dryRun && relative.empty() && target_.QueryFileInfo(folder, info) == StatusNotFound) return target;
    std::vector<FolderEntry> entries;
    std::wstring problem;
    if (!ListSorted(target_, log_, folder, entries, problem)) {
      target.unknown = L"DST folder " + Quoted(folder) + L" cannot be listed (" + problem +
                       L"); what it holds is unknown, so nothing is written into it";
      return target;
    }
    for (FolderEntry& entry : entries) {
      if (IsTemporaryName(entry.name) && !IsFolder(entry.info)) {
        if (!settings_.dryRun) ClearTemporary(relative, entry.name, target);
        continue;
      }
      target.entries.emplace(std::move(entry.name), entry.info);
    }
    return target;
  }

  // Only a file that is what its name says is removed: a link planted under
  // a temporary name is left alone, and so is what the plug-in refuses to
  // remove. Either way the name stays taken, and the file whose copy would
  // be written under it is not replaced.
  void ClearTemporary(const std::wstring& relative, const std::wstring& name, TargetFolder& target) {
    const std::wstring path = ChildPath(ChildPath(to_, relative), name);
    std::wstring problem = LinkAt(path);
    if (problem.empty()) {
      const uint64_t mark = log_.MessageCount();
      const uint32_t status = target_.RemoveFile(path);
      if (status == StatusSuccess) return;
      problem = PluginFailure(log_, mark, L"cannot remove " + Quoted(path), status).message();
    }
    Fail(ChildPath(relative, name), L"named as a partial copy of a run that did not finish, but not removed: " + problem);
    target.heldTemporaries.insert(name);
  }

  static bool Unchanged(const FileInfo& existing, const FileInfo& info, const TimePrecision& precision) {
    return existing.size == info.size && (existing.validFields & FieldLastWriteTime) &&
           (info.validFields & FieldLastWriteTime) &&
           SameTime(existing.lastWriteTime, info.lastWriteTime, precision.write, precision.fat);
  }

  // On this thread without workers, else on the next free worker; either
  // way the file's folder waits for it.
  void CopyFile(const std::wstring& relative, const FileInfo& info, const FileInfo* existing,
                std::shared_ptr<ProgressMeter::Item> item) {
    FileCopy file{ChildPath(from_, relative), ChildPath(to_, relative), info, std::nullopt};
    if (existing != nullptr) file.existing = *existing;
    const std::shared_ptr<Folder> folder = folders_.back();
    Hold(*folder);
    const uint64_t order = next_++;
    if (workers_ == nullptr) {
      Copy(source_, target_, log_, buffer_, relative, file, *item, order);
      item.reset();
      Release(folder, target_, log_);
      return;
    }
    const std::wstring readsFrom = file.from;
    workers_->Post(
        [this, relative, file = std::move(file), item = std::move(item), folder, order](Worker& worker) {
          // A full disk stopped the run since this file was handed out.
          if (!Stopped()) {
            Copy(worker.source(), worker.target(), worker.log(), worker.buffer(), relative, file, *item, order);
          }
          Release(folder, worker.target(), worker.log());
        },
        readsFrom);
  }

  void Copy(IBackupDataRead& source, IBackupDataWrite& target, const HostLog& log, std::vector<char>& buffer,
            const std::wstring& relative, const FileCopy& file, ProgressMeter::Item& item, uint64_t order) {
    const FileCopyResult result =
        CopyOneFile(source, target, log, file, buffer, [&item](uint32_t chunk) { item.AddBytes(chunk); });
    const std::lock_guard<std::mutex> guard(lock_);
    ++itemsDone_;
    if (result.copied) {
      ++report_.copied.files;
      report_.copied.bytes += result.bytes;
      if (result.fromShadowCopy) ++report_.fromShadowCopy;
    }
    if (!result.failure) return;
    ItemFailure failure = *result.failure;
    failure.relative = relative;
    failures_.emplace_back(order, std::move(failure));
    if (!result.diskFull) return;
    quota_ = quota_ || result.quota;
    // Stops the walk and the workers; the words follow in Finish.
    if (++diskFullFailures_ >= kDiskFullLimit && report_.stopReason.empty()) {
      spaceStop_ = true;
      report_.stopReason = L"no room";
    }
  }

  IBackupDataRead& source_;
  IBackupDataWrite& target_;
  const HostLog& log_;
  TextOutput& out_;
  const std::wstring& from_;
  const std::wstring& to_;
  const CopySettings& settings_;
  const TimePrecision precision_;
  ProgressMeter* progress_;
  WorkerPool* workers_;
  CopyReport& report_;
  std::vector<char> buffer_;
  const std::optional<FolderId> sourceRoot_;
  const std::optional<FolderId> targetRoot_;
  // The walk's own, on its thread.
  std::vector<TargetFolder> targets_;
  std::vector<std::shared_ptr<Folder>> folders_;
  uint64_t next_ = 0; // order in the walk
  // Shared with the workers.
  mutable std::mutex lock_;
  std::vector<std::pair<uint64_t, ItemFailure>> failures_;
  uint64_t itemsDone_ = 0;
  int diskFullFailures_ = 0;
  bool spaceStop_ = false; // the run stopped for want of room
  bool quota_ = false;     // a file did not fit the user's quota
};

std::wstring Explained(const std::vector<ItemFailure>& failures) {
  uint64_t locked = 0;
  std::wstring reason;
  uint64_t changed = 0;
  for (const ItemFailure& failure : failures) {
    if (failure.kind == FailureKind::Changed) ++changed;
    if (failure.kind != FailureKind::Locked) continue;
    if (locked++ == 0) reason = failure.reason;
  }
  std::wstring text;
  if (changed > 0) {
    text += L"  " + CountOf(changed, L"file") + (changed == 1 ? L" was" : L" were") +
            L" changed by another program while being read; run again to copy " + (changed == 1 ? L"it" : L"them") +
            L" as " + (changed == 1 ? L"it is" : L"they are") + L" now.\n";
  }
  if (locked == 0) return text;
  const bool denied = reason.find(L"(0x80070005)") != std::wstring::npos; // E_ACCESSDENIED
  return text + L"  " + CountOf(locked, L"file") + (locked == 1 ? L" was" : L" were") +
         L" locked by another program and could not be read from a shadow copy: " + reason +
         (denied ? L"\n  Access was denied: shadow copies need administrator rights. Run as administrator (elevated), "
                   L"or close the program "
                 : L"\n  On Windows, run as administrator so that the plug-in can make shadow copies, or close the "
                   L"program ") +
         L"holding " + (locked == 1 ? L"it" : L"them") + L", and run again.\n";
}

} // namespace

FileCopyResult CopyOneFile(IBackupDataRead& source, IBackupDataWrite& target, const HostLog& log,
                           const FileCopy& file, std::vector<char>& buffer,
                           const std::function<void(uint32_t)>& onChunk) {
  FileCopyResult result;
  const std::wstring unusable = UnusableName(LeafName(file.from));
  if (!unusable.empty()) {
    result.failure = ItemFailure{L"", unusable};
    return result;
  }
  try {
    PluginFileReader from(source, log, file.from);
    PluginFileWriter to = NewCopy(target, log, file);
    const uint64_t bytes = Pump(from, to, buffer, onChunk, file.info.size);
    result.fromShadowCopy = from.fromShadowCopy();
    from.Close();
    RequireUnchanged(source, file, bytes);
    to.Commit();
    result.copied = true;
    result.bytes = bytes;
  } catch (const LockedFileError& failure) {
    result.failure = ItemFailure{L"", failure.reason(), FailureKind::Locked};
    return result;
  } catch (const ChangedWhileRead& failure) {
    result.failure = ItemFailure{L"", failure.message() + L"; the copy was not kept, and the next run copies it again",
                                 FailureKind::Changed};
    return result;
  } catch (const DiskFullError& failure) {
    // Taken now that the partial copy is gone. FAT32 refuses a file that
    // reaches 4 GiB as a full disk (ERROR_DISK_FULL), with room to spare.
    uint64_t total = 0;
    uint64_t free = 0;
    const bool room = !failure.quota() &&
                      target.GetFreeSpace(TrimmedPath(WithLeaf(file.to, L"")), total, free) == StatusSuccess &&
                      free >= file.info.size;
    result.diskFull = !room;
    result.quota = failure.quota();
    // With several workers a small file can meet a disk that others' copies
    // fill for a moment: that one is not counted either.
    const std::wstring reason =
        room ? L"DST refused it as if its disk were full, yet the drive has " + FormatSize(free) +
                   L" free, room for the whole file (not counted as a full disk): " + failure.message()
             : failure.message();
    result.failure = ItemFailure{L"", reason + (file.existing ? L"; the old copy is kept" : L""),
                                 room ? FailureKind::Other : FailureKind::Space};
    return result;
  } catch (const HostError& failure) {
    result.failure = ItemFailure{L"", failure.message()};
    return result;
  }
  result.failure = MetadataFailure(L"", ApplyAttributesAndTimes(target, log, file.to, file.info));
  return result;
}

std::wstring CountOf(uint64_t count, const std::wstring& noun) {
  return std::to_wstring(count) + L" " + noun + (count == 1 ? L"" : L"s");
}

std::wstring NotFollowedLines(const std::vector<std::wstring>& links) {
  if (links.empty()) return L"";
  std::wstring text = L"  Not followed: " + CountOf(links.size(), L"link") +
                     (links.size() == 1 ? L" to a folder (what it leads to was not copied)\n"
                                        : L" to folders (what they lead to was not copied)\n");
  for (size_t i = 0; i < links.size() && i < kLinksShown; ++i) text += L"    " + links[i] + L"\n";
  if (links.size() > kLinksShown) {
    text += L"    and " + std::to_wstring(links.size() - kLinksShown) + L" more, all named in the log\n";
  }
  return text;
}

CopyReport CopyTree(IBackupDataRead& source, IBackupDataWrite& target, const HostLog& log, TextOutput& out,
                    const std::wstring& fromPath, const std::wstring& toPath, const CopySettings& settings,
                    WorkerPool* workers) {
  const std::wstring from = TrimmedPath(fromPath);
  const std::wstring to = TrimmedPath(toPath);
  const FileInfo rootInfo = RequireFolder(source, log, from, L"SRC");
  RequireSeparateTrees(from, to);

  CopyReport report;
  // A dry run writes nothing, not even the probe.
  const TimePrecision byName = Coarser(PrecisionByName(from), PrecisionByName(to));
  if (settings.dryRun) {
    TreeCopier copier(source, target, log, out, from, to, settings, byName, /*progress=*/nullptr,
                      /*workers=*/nullptr, report);
    WalkTree(source, log, from, rootInfo, copier);
    copier.Finish();
    report.total = report.copied;
    report.total.files += report.skippedFiles;
    report.total.bytes += report.skippedBytes;
    return report;
  }

  out.ShowStatus(L"Counting what is in " + Quoted(from) + L"...");
  report.total = CountTree(source, log, from, rootInfo);
  out.Write(L"Copying " + CountOf(report.total.files, L"file") + L" and " + CountOf(report.total.folders, L"folder") +
            L" (" + FormatSize(report.total.bytes) + L") from " + Quoted(from) + L" to " + Quoted(to) +
            WorkersText(workers) + L"\n");
  const uint64_t mark = log.MessageCount();
  const uint32_t status = target.CreateFolder(to);
  if (status != StatusSuccess) throw PluginFailure(log, mark, L"cannot create DST " + Quoted(to), status);

  const TimePrecision precision = Coarser(byName, LearnPrecision(target, log, to));
  ProgressMeter progress(out, report.total.items(), report.total.bytes);
  TreeCopier copier(source, target, log, out, from, to, settings, precision, &progress, workers, report);
  WalkTree(source, log, from, rootInfo, copier);
  if (workers != nullptr) workers->Wait();
  copier.Finish();
  progress.Finish();
  report.seconds = progress.Seconds();
  if (!report.stopReason.empty() && report.total.items() > copier.ItemsDone()) {
    report.notAttempted = report.total.items() - copier.ItemsDone();
  }
  return report;
}

std::wstring CopySummary(const CopyReport& report, const std::wstring& what, const CopySettings& settings) {
  std::wstring text;
  if (settings.dryRun) {
    text = what + L" dry run: would copy " + CountOf(report.copied.files, L"file") + L" and " +
           CountOf(report.copied.folders, L"folder") + L" (" + FormatSize(report.copied.bytes) + L")";
    if (settings.incremental) text += L"; " + CountOf(report.skippedFiles, L"unchanged file") + L" would be skipped";
    text += L". Nothing was changed.\n";
  } else {
    text = what + L" finished in " + FormatDuration(report.seconds) + L"\n" +
           L"  Copied:    " + CountOf(report.copied.files, L"file") + L" and " +
           CountOf(report.copied.folders, L"folder") + L", " + FormatSize(report.copied.bytes) + L" at " +
           FormatRate(report.copied.bytes, report.seconds) + L"\n";
    if (settings.incremental) {
      text += L"  Skipped:   " + CountOf(report.skippedFiles, L"unchanged file") + L", " +
              FormatSize(report.skippedBytes) + L"\n";
    }
    text += L"  Snapshot:  " + CountOf(report.fromShadowCopy, L"locked file") + L" read from a shadow copy\n";
  }
  if (!report.failures.empty() || !settings.dryRun) {
    text += L"  Failed:    " + CountOf(report.failures.size(), L"item") + L"\n";
  }
  const auto list = [&text](const std::vector<ItemFailure>& failures) {
    for (const ItemFailure& failure : failures) {
      text += L"    " + (failure.relative.empty() ? L"." : failure.relative) + L"\n      " +
              (failure.kind == FailureKind::Locked ? L"locked by another program; no shadow copy could be read"
                                                   : failure.reason) +
              L"\n";
    }
  };
  list(report.failures);
  if (!report.metadataFailures.empty()) {
    text += L"  Metadata:  " + CountOf(report.metadataFailures.size(), L"item") + L" copied, metadata not applied\n";
    list(report.metadataFailures);
  }
  text += NotFollowedLines(report.notFollowed) + Explained(report.failures);
  if (!report.stopReason.empty()) {
    text += L"  Stopped early: " + report.stopReason + L"; " + CountOf(report.notAttempted, L"item") +
            L" not attempted.\n";
  }
  return text;
}

} // namespace host
