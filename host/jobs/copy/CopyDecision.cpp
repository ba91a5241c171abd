#include "host/jobs/copy/CopyDecision.h"

#include "host/jobs/Transfer.h"
#include "host/session/Format.h"
#include "host/session/Text.h"

namespace host {

namespace {

// FAT32 keeps a file's size in 32 bits.
constexpr uint64_t kFatFileLimit = 1ull << 32;

// A write time the drive does not keep tells nothing: every pair would be
// the same.
bool Unchanged(const FileInfo& existing, const FileInfo& info, const TimePrecision& precision) {
  return precision.write != 0 && existing.size == info.size && (existing.validFields & FieldLastWriteTime) &&
         (info.validFields & FieldLastWriteTime) &&
         SameTime(existing.lastWriteTime, info.lastWriteTime, precision.write, precision.fat);
}

// Below a DST folder that could not be listed nothing is created or written,
// but the walk goes on into SRC's folders, so that each item is named.
CopyDecision DecideFolder(const CopyItem& item, const TargetEntry* namesake, const CopyRules& rules) {
  if (!item.unlisted.empty()) return {CopyAction::Unlisted, item.unlisted};
  const std::wstring unusable = UnusableName(LeafName(item.relative));
  if (!unusable.empty()) return {CopyAction::Fail, unusable};
  // Another drive letter, a mapping or Wine's Z: above C: can make DST a
  // folder inside SRC, where no name shows it.
  if (item.isTarget) {
    return {CopyAction::Fail,
            L"this folder is DST " + Quoted(rules.to) + L" itself, reached under another name; it is not copied "
                                                         L"into itself"};
  }
  if (namesake == nullptr) return {CopyAction::New, L""};
  // Writing into it would change its target, which may lie anywhere.
  if (IsLinkedFolder(namesake->info)) {
    return {CopyAction::Link, L"DST holds a link to a folder under this name (" +
                                  Quoted(ChildPath(rules.to, item.relative)) +
                                  L"); nothing is written through it. Remove the link to copy this folder"};
  }
  return {CopyAction::Merge, L""};
}

} // namespace

// A link in DST is told by its handle, not its listing entry (under Wine a
// link to a file looks like the file): --incremental would take a link to
// the SRC file for a copy of it, and making a read-only one writable for the
// move would change the file it leads to.
CopyDecision DecideCopy(const CopyItem& item, const TargetEntry* namesake, const CopyRules& rules) {
  if (IsFolder(item.info)) return DecideFolder(item, namesake, rules);
  const std::wstring unusable = UnusableName(LeafName(item.relative));
  if (!unusable.empty()) return {CopyAction::Fail, unusable};
  if (!item.unlisted.empty()) return {CopyAction::Unlisted, item.unlisted};
  if (namesake != nullptr) {
    const std::wstring path = ChildPath(rules.to, WithLeaf(item.relative, namesake->name));
    if (IsFolder(namesake->info)) return {CopyAction::Clash, L"DST has a folder of this name (" + Quoted(path) + L")"};
    if (!namesake->link.empty()) {
      return {CopyAction::Link, L"DST holds a link under this name: " + namesake->link +
                                    L"; it is left alone, and nothing is written through it. Remove the link to "
                                    L"copy this file"};
    }
    if (item.replacementTaken) {
      return {CopyAction::Clash, L"its copy would be written under " + Quoted(TemporaryPathFor(path)) +
                                     L", which is not this job's to remove (see above); the old copy is kept"};
    }
  }
  if (rules.precision.fat && item.info.size >= kFatFileLimit) {
    return {CopyAction::Fail, L"it holds " + FormatSize(item.info.size) +
                                  L", and DST is on a FAT drive, which holds no file of 4 GiB or more; copy it to a "
                                  L"drive formatted NTFS or exFAT"};
  }
  if (namesake == nullptr) return {CopyAction::New, L""};
  if (rules.incremental && Unchanged(namesake->info, item.info, rules.precision)) return {CopyAction::Skip, L""};
  return {CopyAction::Replace, L""};
}

} // namespace host
