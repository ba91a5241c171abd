#include "host/TreeCopy.h"

#include <map>

#include "host/Format.h"
#include "host/Progress.h"
#include "host/Text.h"
#include "host/Transfer.h"

namespace host {

namespace {

// A full disk can end one large file while smaller ones still fit (the
// partial copy is removed, which frees its space again); a second file that
// does not fit means the disk is full for what remains.
constexpr int kDiskFullLimit = 2;

using Listing = std::map<std::wstring, FileInfo, NameLess>;

bool LiesWithin(const std::wstring& inner, const std::wstring& outer) {
  if (inner.size() < outer.size()) return false;
  if (!SameName(inner.substr(0, outer.size()), outer)) return false;
  return inner.size() == outer.size() || inner[outer.size()] == L'\\';
}

class TreeCopier final : public TreeVisitor {
public:
  TreeCopier(IBackupDataRead& source, IBackupDataWrite& target, const HostLog& log, TextOutput& out,
             const std::wstring& from, const std::wstring& to, const CopySettings& settings,
             ProgressMeter* progress, CopyReport& report)
      : source_(source), target_(target), log_(log), out_(out), from_(from), to_(to), settings_(settings),
        progress_(progress), report_(report), buffer_(settings.dryRun ? 0 : settings.bufferSize) {}

  bool EnterFolder(const std::wstring& relative, const FileInfo& info) override {
    if (!relative.empty()) {
      StartItem(relative, 0);
      const bool created = CreateFolder(relative);
      FinishItem();
      if (!created) return false;
    }
    if (settings_.incremental) listings_.push_back(TargetListing(relative));
    return true;
  }

  void VisitFile(const std::wstring& relative, const FileInfo& info) override {
    StartItem(relative, info.size);
    if (settings_.incremental && Unchanged(relative, info)) {
      ++report_.skippedFiles;
      report_.skippedBytes += info.size;
    } else if (settings_.dryRun) {
      out_.Write(L"would copy " + relative + L" (" + FormatSize(info.size) + L")\n");
      ++report_.copied.files;
      report_.copied.bytes += info.size;
    } else if (CopyFile(relative)) {
      ApplyInfo(relative, info);
    }
    FinishItem();
  }

  void LeaveFolder(const std::wstring& relative, const FileInfo& info) override {
    // After the children, so that the folder's times are the last change
    // made to it. A drive's attributes are not a folder's to take or give.
    const bool rootOfDrive = relative.empty() && (IsDriveOrRoot(from_) || IsDriveOrRoot(to_));
    if (!settings_.dryRun && !rootOfDrive) ApplyInfo(relative, info);
    if (settings_.incremental) listings_.pop_back();
  }

  void ListingFailed(const std::wstring& relative, const std::wstring& problem) override {
    Fail(relative, problem);
  }

  bool Stopped() const override { return !report_.stopReason.empty(); }

private:
  void StartItem(const std::wstring& relative, uint64_t bytes) {
    if (progress_ != nullptr) progress_->StartItem(relative, bytes);
  }

  void FinishItem() {
    if (progress_ != nullptr) progress_->FinishItem();
  }

  void Fail(const std::wstring& relative, const std::wstring& reason, bool locked = false) {
    report_.failures.push_back({relative, reason, locked});
  }

  bool CreateFolder(const std::wstring& relative) {
    if (settings_.dryRun) {
      out_.Write(L"would copy " + relative + L"\\\n");
    } else {
      const uint64_t mark = log_.MessageCount();
      const std::wstring path = ChildPath(to_, relative);
      const uint32_t status = target_.CreateFolder(path);
      if (status != StatusSuccess) {
        Fail(relative, PluginFailure(log_, mark, L"cannot create folder " + Quoted(path), status).message());
        return false;
      }
    }
    ++report_.copied.folders;
    return true;
  }

  // The target folder's entries, for --incremental. A folder the parent's
  // listing did not have is new: nothing to list.
  Listing TargetListing(const std::wstring& relative) {
    Listing listing;
    if (!relative.empty() && listings_.back().count(LeafName(relative)) == 0) return listing;
    FolderList entries;
    if (target_.ListFolder(ChildPath(to_, relative), entries) != StatusSuccess) return listing;
    for (FolderEntry& entry : entries) listing.emplace(std::move(entry.name), entry.info);
    return listing;
  }

  bool Unchanged(const std::wstring& relative, const FileInfo& info) const {
    const Listing& listing = listings_.back();
    const auto found = listing.find(LeafName(relative));
    if (found == listing.end()) return false;
    const FileInfo& existing = found->second;
    return !IsFolder(existing) && existing.size == info.size && (existing.validFields & FieldLastWriteTime) &&
           (info.validFields & FieldLastWriteTime) && existing.lastWriteTime == info.lastWriteTime;
  }

  // True when the contents arrived whole.
  bool CopyFile(const std::wstring& relative) {
    try {
      PluginFileReader from(source_, log_, ChildPath(from_, relative));
      // Mode 1: an existing target, read-only perhaps, is replaced; the
      // source's attributes follow with ApplyFileInfo.
      PluginFileWriter to(target_, log_, ChildPath(to_, relative), OpenOverwriteKeepAttributes);
      uint64_t bytes = 0;
      try {
        bytes = Pump(from, to, buffer_, [this](uint32_t chunk) {
          if (progress_ != nullptr) progress_->AddBytes(chunk);
        });
      } catch (...) {
        to.Discard();
        throw;
      }
      to.Close();
      ++report_.copied.files;
      report_.copied.bytes += bytes;
      if (from.fromShadowCopy()) ++report_.fromShadowCopy;
      return true;
    } catch (const LockedFileError& failure) {
      Fail(relative, failure.reason(), /*locked=*/true);
    } catch (const DiskFullError& failure) {
      Fail(relative, failure.message());
      if (++diskFullFailures_ >= kDiskFullLimit) {
        report_.stopReason = L"the disk holding " + Quoted(to_) + L" is full: " + CountOf(diskFullFailures_, L"file") +
                             L" did not fit, so the rest were not tried";
      }
    } catch (const HostError& failure) {
      Fail(relative, failure.message());
    }
    return false;
  }

  void ApplyInfo(const std::wstring& relative, const FileInfo& info) {
    const uint64_t mark = log_.MessageCount();
    const std::wstring path = ChildPath(to_, relative);
    const uint32_t status = target_.ApplyFileInfo(path, info);
    if (status != StatusSuccess) {
      Fail(relative, PluginFailure(log_, mark, L"cannot set the attributes and times of " + Quoted(path), status)
                         .message());
    }
  }

  IBackupDataRead& source_;
  IBackupDataWrite& target_;
  const HostLog& log_;
  TextOutput& out_;
  const std::wstring& from_;
  const std::wstring& to_;
  const CopySettings& settings_;
  ProgressMeter* progress_;
  CopyReport& report_;
  std::vector<char> buffer_;
  std::vector<Listing> listings_;
  int diskFullFailures_ = 0;
};

std::wstring Explained(const std::vector<ItemFailure>& failures) {
  uint64_t locked = 0;
  std::wstring reason;
  for (const ItemFailure& failure : failures) {
    if (!failure.locked) continue;
    if (locked++ == 0) reason = failure.reason;
  }
  if (locked == 0) return L"";
  return L"  " + CountOf(locked, L"file") + (locked == 1 ? L" was" : L" were") +
         L" locked by another program and could not be read from a shadow copy: " + reason +
         L"\n  On Windows, run as administrator so that the plug-in can make shadow copies, or close the program "
         L"holding " + (locked == 1 ? L"it" : L"them") + L", and run again.\n";
}

} // namespace

std::wstring CountOf(uint64_t count, const std::wstring& noun) {
  return std::to_wstring(count) + L" " + noun + (count == 1 ? L"" : L"s");
}

CopyReport CopyTree(IBackupDataRead& source, IBackupDataWrite& target, const HostLog& log, TextOutput& out,
                    const std::wstring& fromPath, const std::wstring& toPath, const CopySettings& settings) {
  const std::wstring from = TrimmedPath(fromPath);
  const std::wstring to = TrimmedPath(toPath);
  const FileInfo rootInfo = RequireFolder(source, log, from, L"SRC");
  if (LiesWithin(to, from)) throw HostError(L"DST " + Quoted(to) + L" lies inside SRC " + Quoted(from));

  CopyReport report;
  if (settings.dryRun) {
    TreeCopier copier(source, target, log, out, from, to, settings, /*progress=*/nullptr, report);
    WalkTree(source, log, from, rootInfo, copier);
    report.total = report.copied;
    report.total.files += report.skippedFiles;
    report.total.bytes += report.skippedBytes;
    return report;
  }

  out.ShowStatus(L"Counting what is in " + Quoted(from) + L"...");
  report.total = CountTree(source, log, from, rootInfo);
  out.Write(L"Copying " + CountOf(report.total.files, L"file") + L" and " + CountOf(report.total.folders, L"folder") +
            L" (" + FormatSize(report.total.bytes) + L") from " + Quoted(from) + L" to " + Quoted(to) + L"\n");
  const uint64_t mark = log.MessageCount();
  const uint32_t status = target.CreateFolder(to);
  if (status != StatusSuccess) throw PluginFailure(log, mark, L"cannot create DST " + Quoted(to), status);

  ProgressMeter progress(out, report.total.items(), report.total.bytes);
  TreeCopier copier(source, target, log, out, from, to, settings, &progress, report);
  WalkTree(source, log, from, rootInfo, copier);
  progress.Finish();
  report.seconds = progress.Seconds();
  if (!report.stopReason.empty() && report.total.items() > progress.ItemsDone()) {
    report.notAttempted = report.total.items() - progress.ItemsDone();
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
  for (const ItemFailure& failure : report.failures) {
    text += L"    " + (failure.relative.empty() ? L"." : failure.relative) + L"\n      " +
            (failure.locked ? L"locked by another program; no shadow copy could be read" : failure.reason) + L"\n";
  }
  text += Explained(report.failures);
  if (!report.stopReason.empty()) {
    text += L"  Stopped early: " + report.stopReason + L"; " + CountOf(report.notAttempted, L"item") +
            L" not attempted.\n";
  }
  return text;
}

} // namespace host
