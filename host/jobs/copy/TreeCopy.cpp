#include "host/jobs/copy/TreeCopy.h"

#include <memory>
#include <optional>

#include "host/jobs/Containment.h"
#include "host/jobs/Progress.h"
#include "host/jobs/TimePrecision.h"
#include "host/jobs/Transfer.h"
#include "host/jobs/copy/CopyDecision.h"
#include "host/jobs/copy/CopyWork.h"
#include "host/jobs/copy/TargetFolders.h"
#include "host/session/Format.h"
#include "host/session/LocalFile.h"
#include "host/session/Text.h"

namespace host {

namespace {

std::wstring SourceFolderName(const std::wstring& from, const std::wstring& relative) {
  return relative.empty() ? L"SRC " + Quoted(from) + L" itself" : L"SRC's folder " + Quoted(ChildPath(from, relative));
}

// Walks SRC and does with each item what DecideCopy says: makes DST's
// folders on the walk's thread, hands files to CopyWork, and names every
// item it leaves out.
class TreeCopier final : public TreeVisitor {
public:
  // `sources`: SRC's folders as the counting walk found them; `targetExisted`:
  // DST was there before the job.
  TreeCopier(IBackupDataRead& source, IBackupDataWrite& target, const HostLog& log, TextOutput& out,
             const std::wstring& from, const std::wstring& to, const CopySettings& settings,
             const TimePrecision& precision, const SourceFolders& sources, bool targetExisted,
             ProgressMeter* progress, WorkerPool* workers, CopyReport& report)
      : target_(target), log_(log), out_(out), from_(from), to_(to), settings_(settings),
        rules_{to, settings.incremental, precision}, sources_(sources), targetExisted_(targetExisted),
        progress_(progress), report_(report), targetRoot_(IdentityOf(to)),
        work_(source, target, log, from, to, settings, workers, report),
        targets_(target, log, to, settings.dryRun,
                 [this](const std::wstring& relative, const std::wstring& reason) { work_.Fail(relative, reason); }) {}

  bool EnterFolder(const std::wstring& relative, const FileInfo& info) override {
    const bool made = targets_.Unlisted().empty();
    bool existed = relative.empty() && targetExisted_;
    if (!relative.empty()) {
      const ProgressMeter::Item item(progress_, relative, 0);
      const bool entered = MakeFolder(relative, info, existed);
      work_.ItemDone();
      if (!entered) return false;
    }
    // A folder that DST had already may be one of SRC's under another name,
    // which nothing may be written into. One the host cannot reach to tell
    // is failed only if its listing shows that the copy would write into it.
    std::wstring unreached;
    if (existed && !ApartFromSource(relative, unreached)) return false;
    targets_.Enter(relative);
    if (!unreached.empty() && targets_.Unlisted().empty()) {
      work_.Fail(relative, unreached + L"; nothing is written into it");
      targets_.Leave();
      return false;
    }
    work_.EnterFolder(relative, info, made);
    return true;
  }

  void VisitFile(const std::wstring& relative, const FileInfo& info) override {
    auto item = std::make_shared<ProgressMeter::Item>(progress_, relative, info.size);
    const Facts facts = Gather(relative, info);
    const CopyDecision decision = Decide(facts);
    if (decision.action == CopyAction::Skip) {
      work_.Skipped(info.size);
    } else if (decision.action != CopyAction::New && decision.action != CopyAction::Replace) {
      work_.Fail(relative, decision.reason);
    } else if (settings_.dryRun) {
      out_.Write(L"would copy " + relative + L" (" + FormatSize(info.size) + L")\n");
      ++report_.copied.files;
      report_.copied.bytes += info.size;
    } else {
      work_.CopyFile(relative, info, facts.namesake ? &facts.namesake->info : nullptr, std::move(item));
      return;
    }
    work_.ItemDone();
  }

  void LeaveFolder(const std::wstring&, const FileInfo&) override {
    targets_.Leave();
    work_.LeaveFolder();
  }

  void ListingFailed(const std::wstring& relative, const std::wstring& problem) override {
    work_.Fail(relative, problem);
  }

  void VisitLink(const std::wstring& relative, const FileInfo&) override {
    report_.notFollowed.push_back(relative);
    log_.Note(L"Not followed: link to a folder: " + relative);
    if (settings_.dryRun) out_.Write(L"would not follow the link to a folder " + relative + L"\n");
  }

  void VisitNameClash(const std::wstring& relative, const FileInfo& info, const std::wstring& reason,
                      NameClash) override {
    const ProgressMeter::Item item(progress_, relative, IsFolder(info) ? 0 : info.size);
    work_.Fail(relative, reason);
    work_.ItemDone();
  }

  bool Stopped() const override { return work_.Stopped(); }

  CopyWork& work() { return work_; }

private:
  // What DecideCopy goes by: the item's place in DST, and DST's item of its
  // name, which for a file is told by its handle.
  struct Facts {
    CopyItem item;
    std::optional<TargetEntry> namesake;
  };

  Facts Gather(const std::wstring& relative, const FileInfo& info) const {
    Facts facts{{relative, info, targets_.Unlisted()}, std::nullopt};
    if (IsFolder(info)) facts.item.isTarget = LeadsTo(ChildPath(from_, relative), targetRoot_);
    const TargetFolders::Listing::value_type* existing = targets_.Namesake(relative);
    if (existing == nullptr) return facts;
    facts.namesake = TargetEntry{existing->first, existing->second, L""};
    if (!IsFolder(info) && !IsFolder(existing->second)) {
      const std::wstring path = ChildPath(to_, WithLeaf(relative, existing->first));
      facts.namesake->link = NotACopy(ChildPath(from_, relative), path);
      facts.item.replacementTaken = targets_.Taken(LeafName(TemporaryPathFor(path)));
    }
    return facts;
  }

  CopyDecision Decide(const Facts& facts) const {
    return DecideCopy(facts.item, facts.namesake ? &*facts.namesake : nullptr, rules_);
  }

  // DST's folder for a folder of SRC, made as DecideCopy says; true when the
  // walk goes into it. `existed`: DST had it already.
  bool MakeFolder(const std::wstring& relative, const FileInfo& info, bool& existed) {
    if (const std::wstring* unreached = sources_.Unreached(relative)) {
      work_.Fail(relative, *unreached);
      return false;
    }
    const CopyDecision decision = Decide(Gather(relative, info));
    if (decision.action != CopyAction::New && decision.action != CopyAction::Merge) {
      work_.Fail(relative, decision.reason);
      return decision.action == CopyAction::Unlisted;
    }
    existed = decision.action == CopyAction::Merge;
    const std::wstring path = ChildPath(to_, relative);
    if (settings_.dryRun) {
      out_.Write(L"would copy " + relative + L"\\\n");
    } else {
      const uint64_t mark = log_.MessageCount();
      const uint32_t status = target_.CreateFolder(path);
      if (status != StatusSuccess) {
        work_.Fail(relative, PluginFailure(log_, mark, L"cannot create folder " + Quoted(path), status).message());
        return false;
      }
    }
    work_.FolderMade();
    return true;
  }

  // False, with the folder failed, when DST's folder `relative` is one of
  // SRC's (where no name shows it: a second drive letter, a share, a folder
  // mounted twice), which also stops the job, since copying on would write
  // SRC over itself. When it cannot be reached to tell, `unreached` says why.
  bool ApartFromSource(const std::wstring& relative, std::wstring& unreached) {
    const std::wstring path = ChildPath(to_, relative);
    const std::optional<std::wstring> source = sources_.Find(path, unreached);
    if (!source) return true;
    work_.Fail(relative, L"DST " + Quoted(path) + L" is " + SourceFolderName(from_, *source) +
                             L", reached under another name; nothing is written into it");
    work_.Stop(L"DST leads back into SRC, so copying on would write SRC over itself");
    return false;
  }

  IBackupDataWrite& target_;
  const HostLog& log_;
  TextOutput& out_;
  const std::wstring& from_;
  const std::wstring& to_;
  const CopySettings& settings_;
  const CopyRules rules_;
  const SourceFolders& sources_;
  const bool targetExisted_;
  ProgressMeter* progress_;
  CopyReport& report_;
  const std::optional<FolderId> targetRoot_;
  CopyWork work_;
  TargetFolders targets_; // the walk's own, on its thread
};

} // namespace

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
  SourceFolders sources(from);
  FileInfo existing;
  const bool targetExisted = target.QueryFileInfo(to, existing) == StatusSuccess;
  if (settings.dryRun) {
    TreeCopier copier(source, target, log, out, from, to, settings, byName, sources, targetExisted,
                      /*progress=*/nullptr, /*workers=*/nullptr, report);
    WalkTree(source, log, from, rootInfo, copier);
    copier.work().Finish();
    report.total = report.copied;
    report.total.files += report.skippedFiles;
    report.total.bytes += report.skippedBytes;
    return report;
  }

  out.ShowStatus(L"Counting what is in " + Quoted(from) + L"...");
  report.total =
      CountTree(source, log, from, rootInfo, [&sources](const std::wstring& relative) { sources.Add(relative); });
  // DST, written into from the start, checked before anything is.
  std::wstring unreached;
  const std::optional<std::wstring> inSource = targetExisted ? sources.Find(to, unreached) : std::nullopt;
  if (inSource) {
    throw HostError(L"DST " + Quoted(to) + L" is " + SourceFolderName(from, *inSource) +
                    L", reached under another name");
  }
  out.Write(L"Copying " + CountOf(report.total.files, L"file") + L" and " + CountOf(report.total.folders, L"folder") +
            L" (" + FormatSize(report.total.bytes) + L") from " + Quoted(from) + L" to " + Quoted(to) +
            WorkersText(workers) + L"\n");
  const uint64_t mark = log.MessageCount();
  const uint32_t status = target.CreateFolder(to);
  if (status != StatusSuccess) throw PluginFailure(log, mark, L"cannot create DST " + Quoted(to), status);

  const TimePrecision precision = Coarser(byName, LearnPrecision(target, log, to));
  const std::wstring timesNotKept = WriteTimesNotKept(precision, to);
  if (settings.incremental && !timesNotKept.empty()) {
    out.Write(timesNotKept + L", so --incremental cannot tell an unchanged file by it: every file is copied again\n");
  }
  ProgressMeter progress(out, report.total.items(), report.total.bytes);
  TreeCopier copier(source, target, log, out, from, to, settings, precision, sources, targetExisted, &progress,
                    workers, report);
  WalkTree(source, log, from, rootInfo, copier);
  if (workers != nullptr) workers->Wait();
  copier.work().Finish();
  progress.Finish();
  report.seconds = progress.Seconds();
  if (!report.stopReason.empty() && report.total.items() > copier.work().ItemsDone()) {
    report.notAttempted = report.total.items() - copier.work().ItemsDone();
  }
  return report;
}

} // namespace host
