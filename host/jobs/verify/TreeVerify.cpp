#include "host/jobs/verify/TreeVerify.h"

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <map>
#include <memory>
#include <mutex>

#include "host/session/Format.h"
#include "host/session/LocalFile.h"
#include "host/jobs/Progress.h"
#include "host/jobs/Sha256.h"
#include "host/session/Text.h"
#include "host/jobs/TimePrecision.h"
#include "host/jobs/Transfer.h"
#include "host/jobs/copy/TreeCopy.h"
#include "vmlib/WindowsApi.h"

namespace host {

namespace {

constexpr uint32_t kComparedAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                         FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_TEMPORARY |
                                         FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

using Listing = std::map<std::wstring, FolderEntry, NameLess>;

std::wstring TimeText(int64_t time) {
  return FormatFileTime(FileTimeFromTime(time));
}

std::wstring FolderName(const std::wstring& relative, const FileInfo& info) {
  return IsFolder(info) ? relative + L"\\" : relative;
}

// The parts of a descriptor's text by their letter (O, G, D, S), each with
// its letter; a letter and colon inside an entry's parentheses starts none.
std::map<wchar_t, std::wstring> DescriptorParts(const std::wstring& text) {
  std::map<wchar_t, std::wstring> parts;
  wchar_t current = 0;
  int depth = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'(') ++depth;
    if (text[i] == L')') --depth;
    if (depth == 0 && i + 1 < text.size() && text[i + 1] == L':' && std::wcschr(L"OGDS", text[i]) != nullptr) {
      current = text[i];
    }
    if (current != 0) parts[current] += text[i];
  }
  return parts;
}

// Why the descriptors differ, part by part; empty when they do not. A part
// SRC's text lacks was not read, so ACL copying leaves it alone.
std::wstring AclDifference(const std::wstring& mine, const std::wstring& theirs) {
  const std::map<wchar_t, std::wstring> other = DescriptorParts(theirs);
  std::wstring detail;
  for (const auto& [letter, part] : DescriptorParts(mine)) {
    const auto found = other.find(letter);
    const std::wstring& dst = found == other.end() ? L"(none)" : found->second;
    if (part == dst) continue;
    const wchar_t* name = letter == L'O' ? L"owner" : letter == L'G' ? L"group" : letter == L'D' ? L"DACL" : L"SACL";
    detail += (detail.empty() ? L"" : L"; ") + std::wstring(name) + L" SRC " + part + L", DST " + dst;
  }
  return detail;
}

class TreeComparer final : public TreeVisitor {
public:
  TreeComparer(IBackupDataRead& source, IBackupDataRead& target, const HostLog& log, const std::wstring& from,
               const std::wstring& to, uint32_t bufferSize, bool compareAcl, const TimePrecision& precision,
               ProgressMeter& progress, WorkerPool* workers, VerifyReport& report)
      : source_(source), target_(target), log_(log), from_(from), to_(to),
        buffer_(workers != nullptr ? 0 : bufferSize), compareAcl_(compareAcl), precision_(precision),
        progress_(progress), workers_(workers), report_(report) {}

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
      Add(DifferenceKind::Unreadable, FolderName(relative, info), L"DST: " + problem);
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
      Add(DifferenceKind::ExtraInTarget, FolderName(ChildPath(relative, name), entry.info), detail);
    }
    listings_.pop_back();
  }

  void ListingFailed(const std::wstring& relative, const std::wstring& problem) override {
    Add(DifferenceKind::Unreadable, relative + L"\\", L"SRC: " + problem);
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
                      bool inexact) override {
    IsFolder(info) ? ++report_.checked.folders : ++report_.checked.files;
    Add(inexact ? DifferenceKind::Unreadable : DifferenceKind::NameCase, FolderName(relative, info), reason);
    // What DST holds under such a name is a copy of none of them in
    // particular: neither a match nor an extra.
    if (inexact) listings_.back().erase(LeafName(relative));
  }

  // Once the walk is over and every file is compared: the differences in
  // the order of the walk, whichever thread found them.
  void Finish() {
    std::sort(differences_.begin(), differences_.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& difference : differences_) report_.differences.push_back(std::move(difference.second));
  }

private:
  void Add(DifferenceKind kind, const std::wstring& relative, const std::wstring& detail) {
    Record(next_++, {kind, relative, detail});
  }

  void Record(uint64_t order, Difference difference) {
    const std::lock_guard<std::mutex> guard(lock_);
    differences_.emplace_back(order, std::move(difference));
  }

  // Compares the item with its namesake in the target folder's listing and
  // takes that off the listing. False when there is nothing to go into.
  // A file's `item` lasts until its contents are compared.
  bool Match(const std::wstring& relative, const FileInfo& info, std::shared_ptr<ProgressMeter::Item> item) {
    Listing& listing = listings_.back();
    const auto found = listing.find(LeafName(relative));
    if (found == listing.end()) {
      Add(DifferenceKind::MissingInTarget, FolderName(relative, info), L"");
      return false;
    }
    const FileInfo other = found->second.info;
    const std::wstring link = IsFolder(other) ? L"" : LinkAt(ChildPath(to_, WithLeaf(relative, found->first)));
    listing.erase(found);
    if (!link.empty()) {
      Add(DifferenceKind::Type, FolderName(relative, info),
          std::wstring(IsFolder(info) ? L"a folder" : L"a file") + L" in SRC, in DST " + link +
              L"; what it leads to was not compared");
      return false;
    }
    if (IsLinkedFolder(other)) {
      Add(DifferenceKind::Type, FolderName(relative, info),
          std::wstring(IsFolder(info) ? L"a folder" : L"a file") + L" in SRC, a link to a folder in DST");
      return false;
    }
    if (IsFolder(info) != IsFolder(other)) {
      Add(DifferenceKind::Type, relative,
          std::wstring(IsFolder(info) ? L"a folder in SRC, a file in DST" : L"a file in SRC, a folder in DST"));
      return false;
    }
    if (!IsFolder(info)) CompareContents(relative, info, other, std::move(item));
    CompareTimes(FolderName(relative, info), info, other);
    const uint32_t mine = ComparedAttributes(info.attributes);
    const uint32_t theirs = ComparedAttributes(other.attributes);
    if (mine != theirs) {
      Add(DifferenceKind::Attributes, FolderName(relative, info),
          L"SRC " + FormatAttributes(mine) + L", DST " + FormatAttributes(theirs));
    }
    const std::wstring acl = compareAcl_ ? AclDifference(info.aclRights, other.aclRights) : L"";
    if (!acl.empty()) Add(DifferenceKind::Acl, FolderName(relative, info), acl);
    return true;
  }

  // On this thread without workers, else on the next free worker.
  void CompareContents(const std::wstring& relative, const FileInfo& info, const FileInfo& other,
                       std::shared_ptr<ProgressMeter::Item> item) {
    if (info.size != other.size) {
      Add(DifferenceKind::Size, relative,
          L"SRC " + std::to_wstring(info.size) + L" bytes, DST " + std::to_wstring(other.size) + L" bytes");
      return;
    }
    const std::wstring unusable = UnusableName(LeafName(relative));
    if (!unusable.empty()) {
      Add(DifferenceKind::Unreadable, relative, unusable);
      return;
    }
    const uint64_t order = next_++;
    const uint64_t size = info.size;
    if (workers_ == nullptr) {
      CompareBytes(source_, target_, log_, buffer_, relative, size, *item, order);
      return;
    }
    workers_->Post(
        [this, relative, size, item = std::move(item), order](Worker& worker) {
          CompareBytes(worker.source(), worker.target(), worker.log(), worker.buffer(), relative, size, *item, order);
        },
        ChildPath(from_, relative));
  }

  void CompareBytes(IBackupDataRead& source, IBackupDataRead& target, const HostLog& log, std::vector<char>& buffer,
                    const std::wstring& relative, uint64_t size, ProgressMeter::Item& item, uint64_t order) {
    std::wstring mine;
    std::wstring theirs;
    try {
      mine = Hash(source, log, buffer, ChildPath(from_, relative), size, &item);
    } catch (const HostError& failure) {
      Record(order, {DifferenceKind::Unreadable, relative, L"SRC: " + failure.message()});
      return;
    }
    try {
      theirs = Hash(target, log, buffer, ChildPath(to_, relative), size, nullptr);
    } catch (const HostError& failure) {
      Record(order, {DifferenceKind::Unreadable, relative, L"DST: " + failure.message()});
      return;
    }
    if (mine != theirs) Record(order, {DifferenceKind::Content, relative, L"SHA-256 SRC " + mine + L", DST " + theirs});
  }

  // `counted`: the item whose progress the bytes read are. A file that
  // grows well past `size` while it is read (one that never ends) fails.
  static std::wstring Hash(IBackupDataRead& data, const HostLog& log, std::vector<char>& buffer,
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

  void CompareTimes(const std::wstring& shown, const FileInfo& info, const FileInfo& other) {
    const struct {
      uint32_t field;
      int64_t mine;
      int64_t theirs;
      int64_t step;
      const wchar_t* name;
    } times[] = {{FieldCreationTime, info.creationTime, other.creationTime, precision_.creation, L"created"},
                 {FieldLastWriteTime, info.lastWriteTime, other.lastWriteTime, precision_.write, L"last written"}};
    for (const auto& time : times) {
      if ((info.validFields & time.field) == 0 || (other.validFields & time.field) == 0) continue;
      if (SameTime(time.mine, time.theirs, time.step, precision_.fat)) continue;
      Add(DifferenceKind::Time, shown,
          std::wstring(time.name) + L" SRC " + TimeText(time.mine) + L", DST " + TimeText(time.theirs) +
              L" (" + FormatDuration(std::fabs(static_cast<double>(time.theirs - time.mine)) / 1e7) + L" apart)");
    }
  }

  IBackupDataRead& source_;
  IBackupDataRead& target_;
  const HostLog& log_;
  const std::wstring& from_;
  const std::wstring& to_;
  std::vector<char> buffer_;
  const bool compareAcl_;
  const TimePrecision precision_;
  ProgressMeter& progress_;
  WorkerPool* workers_;
  VerifyReport& report_;
  // The walk's own, on its thread.
  std::vector<Listing> listings_;
  uint64_t next_ = 0; // order in the walk
  // Shared with the workers.
  std::mutex lock_;
  std::vector<std::pair<uint64_t, Difference>> differences_;
};

} // namespace

uint32_t ComparedAttributes(uint32_t attributes) {
  return attributes & kComparedAttributes;
}

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
  VerifyReport report;
  ProgressMeter progress(out, total.items(), total.bytes);
  TreeComparer comparer(source, target, log, from, to, bufferSize, compareAcl, precision, progress, workers, report);
  WalkTree(source, log, from, rootInfo, comparer);
  if (workers != nullptr) workers->Wait();
  comparer.Finish();
  progress.Finish();
  report.seconds = progress.Seconds();
  return report;
}

std::wstring KindName(DifferenceKind kind) {
  switch (kind) {
  case DifferenceKind::MissingInTarget: return L"missing in DST";
  case DifferenceKind::ExtraInTarget: return L"extra in DST";
  case DifferenceKind::Type: return L"type";
  case DifferenceKind::Size: return L"size";
  case DifferenceKind::Content: return L"content";
  case DifferenceKind::Time: return L"time";
  case DifferenceKind::Attributes: return L"attributes";
  case DifferenceKind::Acl: return L"acl";
  case DifferenceKind::Unreadable: return L"unreadable";
  case DifferenceKind::NameCase: return L"case";
  }
  return L"difference";
}

std::wstring VerifySummary(const VerifyReport& report,
                           const std::function<std::wstring(const Difference&)>& explain) {
  std::wstring text;
  for (const Difference& difference : report.differences) {
    std::wstring line = L"  " + KindName(difference.kind) + L": " + difference.relative;
    if (!difference.detail.empty()) line += L": " + difference.detail;
    const std::wstring note = explain ? explain(difference) : L"";
    if (!note.empty()) line += L"\n      " + note;
    text += line + L"\n";
  }
  text += NotFollowedLines(report.notFollowed);
  const TreeTotals& checked = report.checked;
  text += L"Verify finished in " + FormatDuration(report.seconds) + L": " + CountOf(checked.files, L"file") +
          L" and " + CountOf(checked.folders, L"folder") + L" (" + FormatSize(checked.bytes) + L") checked, " +
          (report.differences.empty() ? std::wstring(L"no differences")
                                      : CountOf(report.differences.size(), L"difference")) +
          L"\n";
  return text;
}

} // namespace host
