#include "host/TreeVerify.h"

#include <cmath>
#include <map>

#include "host/Format.h"
#include "host/Progress.h"
#include "host/Sha256.h"
#include "host/Text.h"
#include "host/Transfer.h"
#include "host/TreeCopy.h"
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

class TreeComparer final : public TreeVisitor {
public:
  TreeComparer(IBackupDataRead& source, IBackupDataRead& target, const HostLog& log, const std::wstring& from,
               const std::wstring& to, uint32_t bufferSize, ProgressMeter& progress, VerifyReport& report)
      : source_(source), target_(target), log_(log), from_(from), to_(to), buffer_(bufferSize),
        progress_(progress), report_(report) {}

  bool EnterFolder(const std::wstring& relative, const FileInfo& info) override {
    if (!relative.empty()) {
      progress_.StartItem(relative, 0);
      ++report_.checked.folders;
      const bool matched = Match(relative, info);
      progress_.FinishItem();
      if (!matched) return false;
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
    progress_.StartItem(relative, info.size);
    ++report_.checked.files;
    report_.checked.bytes += info.size;
    Match(relative, info);
    progress_.FinishItem();
  }

  void LeaveFolder(const std::wstring& relative, const FileInfo&) override {
    for (const auto& [name, entry] : listings_.back()) {
      Add(DifferenceKind::ExtraInTarget, FolderName(ChildPath(relative, name), entry.info),
          IsTemporaryName(name) && !IsFolder(entry.info)
              ? L"a partial copy left by a run that did not finish; the next backup or restore removes it"
              : L"");
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

  void VisitNameClash(const std::wstring& relative, const FileInfo& info, const std::wstring& first) override {
    IsFolder(info) ? ++report_.checked.folders : ++report_.checked.files;
    Add(DifferenceKind::NameCase, FolderName(relative, info),
        L"its name differs only in case from " + first + L"; DST cannot hold both");
  }

private:
  void Add(DifferenceKind kind, const std::wstring& relative, const std::wstring& detail) {
    report_.differences.push_back({kind, relative, detail});
  }

  // Compares the item with its namesake in the target folder's listing and
  // takes that off the listing. False when there is nothing to go into.
  bool Match(const std::wstring& relative, const FileInfo& info) {
    Listing& listing = listings_.back();
    const auto found = listing.find(LeafName(relative));
    if (found == listing.end()) {
      Add(DifferenceKind::MissingInTarget, FolderName(relative, info), L"");
      return false;
    }
    const FileInfo other = found->second.info;
    listing.erase(found);
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
    if (!IsFolder(info)) CompareContents(relative, info, other);
    CompareTimes(FolderName(relative, info), info, other);
    const uint32_t mine = ComparedAttributes(info.attributes);
    const uint32_t theirs = ComparedAttributes(other.attributes);
    if (mine != theirs) {
      Add(DifferenceKind::Attributes, FolderName(relative, info),
          L"SRC " + FormatAttributes(mine) + L", DST " + FormatAttributes(theirs));
    }
    return true;
  }

  void CompareContents(const std::wstring& relative, const FileInfo& info, const FileInfo& other) {
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
    std::wstring mine;
    std::wstring theirs;
    try {
      mine = Hash(source_, ChildPath(from_, relative), /*counted=*/true);
    } catch (const HostError& failure) {
      Add(DifferenceKind::Unreadable, relative, L"SRC: " + failure.message());
      return;
    }
    try {
      theirs = Hash(target_, ChildPath(to_, relative), /*counted=*/false);
    } catch (const HostError& failure) {
      Add(DifferenceKind::Unreadable, relative, L"DST: " + failure.message());
      return;
    }
    if (mine != theirs) Add(DifferenceKind::Content, relative, L"SHA-256 SRC " + mine + L", DST " + theirs);
  }

  std::wstring Hash(IBackupDataRead& data, const std::wstring& path, bool counted) {
    PluginFileReader file(data, log_, path);
    Pump(file, sha_, buffer_, [this, counted](uint32_t chunk) {
      if (counted) progress_.AddBytes(chunk);
    });
    return sha_.Finish();
  }

  void CompareTimes(const std::wstring& shown, const FileInfo& info, const FileInfo& other) {
    const struct {
      uint32_t field;
      int64_t mine;
      int64_t theirs;
      const wchar_t* name;
    } times[] = {{FieldCreationTime, info.creationTime, other.creationTime, L"created"},
                 {FieldLastWriteTime, info.lastWriteTime, other.lastWriteTime, L"last written"}};
    for (const auto& time : times) {
      if ((info.validFields & time.field) == 0 || (other.validFields & time.field) == 0) continue;
      if (time.mine == time.theirs) continue;
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
  Sha256 sha_;
  ProgressMeter& progress_;
  VerifyReport& report_;
  std::vector<Listing> listings_;
};

} // namespace

uint32_t ComparedAttributes(uint32_t attributes) {
  return attributes & kComparedAttributes;
}

VerifyReport VerifyTrees(IBackupDataRead& source, IBackupDataRead& target, const HostLog& log, TextOutput& out,
                         const std::wstring& fromPath, const std::wstring& toPath, uint32_t bufferSize) {
  const std::wstring from = TrimmedPath(fromPath);
  const std::wstring to = TrimmedPath(toPath);
  const FileInfo rootInfo = RequireFolder(source, log, from, L"SRC");
  RequireFolder(target, log, to, L"DST");

  out.ShowStatus(L"Counting what is in " + Quoted(from) + L"...");
  const TreeTotals total = CountTree(source, log, from, rootInfo);
  out.Write(L"Comparing " + CountOf(total.files, L"file") + L" and " + CountOf(total.folders, L"folder") + L" (" +
            FormatSize(total.bytes) + L") in " + Quoted(from) + L" with " + Quoted(to) + L"\n");
  VerifyReport report;
  ProgressMeter progress(out, total.items(), total.bytes);
  TreeComparer comparer(source, target, log, from, to, bufferSize, progress, report);
  WalkTree(source, log, from, rootInfo, comparer);
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
