#include "host/jobs/verify/TreeVerify.h"

#include <map>
#include <memory>
#include <optional>

#include "host/jobs/Containment.h"
#include "host/jobs/Progress.h"
#include "host/jobs/Sha256.h"
#include "host/jobs/TimePrecision.h"
#include "host/jobs/Transfer.h"
#include "host/jobs/WalkOrder.h"
#include "host/session/Format.h"
#include "host/session/LocalFile.h"
#include "host/session/Text.h"

namespace host {

namespace {

using Listing = std::map<std::wstring, FolderEntry, NameLess>;

std::wstring FolderName(const std::wstring& relative, const FileInfo& info) {
  return IsFolder(info) ? relative + L"\\" : relative;
}

// `counted`: the item whose progress the bytes read are. A file that
// grows well past `size` while it is read (one that never ends) fails.
std::wstring Hash(IBackupDataRead& data, const HostLog& log, std::vector<char>& buffer,
                  const std::wstring& path, uint64_t size, ProgressMeter::Item* counted) {
  PluginFileReader file(data, log, path);
  Sha256 sha;
  Pump(
      file, sha, buffer,
      [counted](uint32_t chunk) {
        if (counted != nullptr) counted->AddBytes(chunk);
      },
      size);
  return sha.Finish();
}

// Walks SRC and reports what DecideVerify finds of each item, hashing the
// files it asks for (on the workers, when there are any), and what DST holds
// that SRC does not.
class TreeComparer final : public TreeVisitor {
public:
  TreeComparer(IBackupDataRead& source, IBackupDataRead& target, const HostLog& log, const std::wstring& from,
               const std::wstring& to, uint32_t bufferSize, const VerifyRules& rules, ProgressMeter& progress,
               WorkerPool* workers, VerifyReport& report)
      : source_(source), target_(target), log_(log), from_(from), to_(to),
        buffer_(workers != nullptr ? 0 : bufferSize), rules_(rules), progress_(progress), workers_(workers),
        report_(report) {}

  bool EnterFolder(const std::wstring& relative, const FileInfo& info) override {
    if (!relative.empty()) {
      const ProgressMeter::Item item(&progress_, relative, 0);
      ++report_.checked.folders;
      if (!Match(relative, info, nullptr)) return false;
    }
    Listing listing;
    std::vector<FolderEntry> entries;
    std::wstring problem;
    if (!ListSorted(target_, log_, ChildPath(to_, relative), entries, problem)) {
      differences_.Add({DifferenceKind::Unreadable, FolderName(relative, info), L"DST: " + problem});
      return false;
    }
    for (FolderEntry& entry : entries) listing.emplace(entry.name, std::move(entry));
    listings_.push_back(std::move(listing));
    return true;
  }

  void VisitFile(const std::wstring& relative, const FileInfo& info) override {
    auto item = std::make_shared<ProgressMeter::Item>(&progress_, relative, info.size);
    ++report_.checked.files;
    report_.checked.bytes += info.size;
    Match(relative, info, std::move(item));
  }

  void LeaveFolder(const std::wstring& relative, const FileInfo&) override {
    for (const auto& [name, entry] : listings_.back()) {
      std::wstring detail;
      if (IsTemporaryName(name) && !IsFolder(entry.info)) {
        const std::wstring link = LinkAt(ChildPath(to_, ChildPath(relative, name)));
        detail = link.empty() ? L"a partial copy left by a run that did not finish; the next backup or restore removes it"
                              : link + L", named as a partial copy; backup and restore leave it alone";
      }
      differences_.Add({DifferenceKind::ExtraInTarget, FolderName(ChildPath(relative, name), entry.info), detail});
    }
    listings_.pop_back();
  }

  void ListingFailed(const std::wstring& relative, const std::wstring& problem) override {
    differences_.Add({DifferenceKind::Unreadable, relative + L"\\", L"SRC: " + problem});
  }

  void VisitLink(const std::wstring& relative, const FileInfo&) override {
    report_.notFollowed.push_back(relative);
    log_.Note(L"Not followed: link to a folder: " + relative);
    // A link of the same name in DST is the same thing, not an extra.
    Listing& listing = listings_.back();
    const auto found = listing.find(LeafName(relative));
    if (found != listing.end() && IsLinkedFolder(found->second.info)) listing.erase(found);
  }

  void VisitNameClash(const std::wstring& relative, const FileInfo& info, const std::wstring& reason,
                      NameClash clash) override {
    IsFolder(info) ? ++report_.checked.folders : ++report_.checked.files;
    differences_.Add({clash == NameClash::Case ? DifferenceKind::NameCase : DifferenceKind::Unreadable,
                      FolderName(relative, info), reason});
    // What DST holds under such a name is a copy of none of them in
    // particular: neither a match nor an extra.
    if (clash == NameClash::Inexact) listings_.back().erase(LeafName(relative));
  }

  // Once the walk is over and every file is compared: the differences in
  // the order of the walk, whichever thread found them.
  void Finish() { report_.differences = differences_.Take(); }

private:
  // Takes the item's namesake off the target folder's listing and reports
  // what DecideVerify finds; false when there is nothing to go into. A
  // file's `item` lasts until its contents are compared.
  bool Match(const std::wstring& relative, const FileInfo& info, std::shared_ptr<ProgressMeter::Item> item) {
    Listing& listing = listings_.back();
    const auto found = listing.find(LeafName(relative));
    std::optional<TargetEntry> namesake;
    if (found != listing.end()) {
      const FileInfo& other = found->second.info;
      namesake = TargetEntry{found->first, other,
                             IsFolder(other) ? L""
                                             : NotACopy(ChildPath(from_, relative),
                                                        ChildPath(to_, WithLeaf(relative, found->first)))};
      listing.erase(found);
    }
    VerifyDecision decision = DecideVerify(relative, info, namesake ? &*namesake : nullptr, rules_);
    if (decision.action == VerifyAction::Hash) CompareContents(relative, info.size, std::move(item));
    for (Difference& difference : decision.differences) differences_.Add(std::move(difference));
    return decision.action == VerifyAction::Compare || decision.action == VerifyAction::Hash;
  }

  // On this thread without workers, else on the next free worker.
  void CompareContents(const std::wstring& relative, uint64_t size, std::shared_ptr<ProgressMeter::Item> item) {
    const uint64_t place = differences_.Reserve();
    if (workers_ == nullptr) {
      CompareBytes(source_, target_, log_, buffer_, relative, size, *item, place);
      return;
    }
    workers_->Post(
        [this, relative, size, item = std::move(item), place](Worker& worker) {
          CompareBytes(worker.source(), worker.target(), worker.log(), worker.buffer(), relative, size, *item, place);
        },
        ChildPath(from_, relative));
  }

  void CompareBytes(IBackupDataRead& source, IBackupDataRead& target, const HostLog& log, std::vector<char>& buffer,
                    const std::wstring& relative, uint64_t size, ProgressMeter::Item& item, uint64_t place) {
    std::wstring mine;
    std::wstring theirs;
    try {
      mine = Hash(source, log, buffer, ChildPath(from_, relative), size, &item);
    } catch (const HostError& failure) {
      differences_.Record(place, {DifferenceKind::Unreadable, relative, L"SRC: " + failure.message()});
      return;
    }
    try {
      theirs = Hash(target, log, buffer, ChildPath(to_, relative), size, nullptr);
    } catch (const HostError& failure) {
      differences_.Record(place, {DifferenceKind::Unreadable, relative, L"DST: " + failure.message()});
      return;
    }
    if (mine != theirs) {
      differences_.Record(place, {DifferenceKind::Content, relative, L"SHA-256 SRC " + mine + L", DST " + theirs});
    }
  }

  IBackupDataRead& source_;
  IBackupDataRead& target_;
  const HostLog& log_;
  const std::wstring& from_;
  const std::wstring& to_;
  std::vector<char> buffer_;
  const VerifyRules rules_;
  ProgressMeter& progress_;
  WorkerPool* workers_;
  VerifyReport& report_;
  std::vector<Listing> listings_;       // the walk's own, on its thread
  WalkOrdered<Difference> differences_; // shared with the workers
};

} // namespace

VerifyReport VerifyTrees(IBackupDataRead& source, IBackupDataWrite& target, const HostLog& log, TextOutput& out,
                         const std::wstring& fromPath, const std::wstring& toPath, uint32_t bufferSize,
                         bool compareAcl, WorkerPool* workers) {
  const std::wstring from = TrimmedPath(fromPath);
  const std::wstring to = TrimmedPath(toPath);
  const FileInfo rootInfo = RequireFolder(source, log, from, L"SRC");
  RequireFolder(target, log, to, L"DST");

  out.ShowStatus(L"Counting what is in " + Quoted(from) + L"...");
  const TreeTotals total = CountTree(source, log, from, rootInfo);
  out.Write(L"Comparing " + CountOf(total.files, L"file") + L" and " + CountOf(total.folders, L"folder") + L" (" +
            FormatSize(total.bytes) + L") in " + Quoted(from) + L" with " + Quoted(to) + WorkersText(workers) +
            L"\n");
  const TimePrecision precision = Coarser(PrecisionByName(from), PrecisionOf(target, log, to));
  const std::wstring timesNotKept = WriteTimesNotKept(precision, to);
  if (!timesNotKept.empty()) out.Write(timesNotKept + L": they are not compared, the contents of every file are\n");
  VerifyReport report;
  ProgressMeter progress(out, total.items(), total.bytes);
  TreeComparer comparer(source, target, log, from, to, bufferSize, {compareAcl, precision}, progress, workers, report);
  WalkTree(source, log, from, rootInfo, comparer);
  if (workers != nullptr) workers->Wait();
  comparer.Finish();
  progress.Finish();
  report.seconds = progress.Seconds();
  return report;
}

} // namespace host
