// What the copy and the verify decide from the two listings alone, one rule
// a row, and which rule wins where two apply. The end-to-end suite shows
// that what is decided is done to real trees.
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/jobs/copy/CopyDecision.h"
#include "host/jobs/verify/VerifyDecision.h"
#include "vmlib/WindowsApi.h"

using host::CopyAction;
using host::DifferenceKind;
using host::TargetEntry;
using host::VerifyAction;

namespace {

constexpr int64_t kSecond = 10000000, kListed = 1000 * kSecond;
const host::TimePrecision kExact, kFat{2 * kSecond, kSecond / 100, true};

FileInfo Item(uint64_t size, int64_t written = kListed, uint32_t attributes = FILE_ATTRIBUTE_ARCHIVE,
              const wchar_t* acl = L"") {
  FileInfo info;
  info.size = size;
  info.creationTime = kListed;
  info.lastWriteTime = written;
  info.attributes = attributes;
  info.validFields = FieldAll;
  info.aclRights = acl;
  return info;
}

FileInfo Folder(uint32_t more = 0) { return Item(0, kListed, FILE_ATTRIBUTE_DIRECTORY | more); }

TargetEntry In(const FileInfo& info, const wchar_t* link = L"") { return {L"A.txt", info, link}; }

} // namespace

TEST(DecideCopy, EachItemTakesTheFirstRuleThatApplies) {
  const struct {
    const wchar_t* relative;
    FileInfo info;
    std::optional<TargetEntry> namesake;
    host::TimePrecision precision;
    bool incremental;
    CopyAction expected;
    const wchar_t* unlisted = L"";
    bool isTarget = false;
    bool replacementTaken = false;
  } cases[] = {
      {L"a.txt", Item(5), {}, kExact, true, CopyAction::New},
      {L"a.txt", Item(5), In(Item(5)), kExact, false, CopyAction::Replace},
      {L"a.txt", Item(5), In(Item(5)), kExact, true, CopyAction::Skip},
      {L"a.txt", Item(5), In(Item(6)), kExact, true, CopyAction::Replace},
      {L"a.txt", Item(5), In(Item(5, kListed + kSecond)), kExact, true, CopyAction::Replace},
      {L"a.txt", Item(5), In(Item(5, kListed + kSecond)), kFat, true, CopyAction::Skip},
      {L"a.txt", Item(5), In(Item(5, kListed + 3600 * kSecond)), kFat, true, CopyAction::Skip},
      {L"a.txt", Item(5), In(Folder()), kExact, true, CopyAction::Clash},
      {L"a.txt", Item(5), In(Item(5), L"a link"), kExact, true, CopyAction::Link},
      {L"a.txt", Item(5), In(Item(5)), kExact, true, CopyAction::Clash, L"", false, true},
      {L"big", Item(1ull << 32), {}, kFat, false, CopyAction::Fail},
      {L"big", Item(1ull << 32), {}, kExact, false, CopyAction::New},
      {L"a.txt", Item(5), {}, kExact, false, CopyAction::Unlisted, L"DST folder cannot be listed"},
      {L"trail.", Item(5), {}, kExact, false, CopyAction::Fail, L"DST folder cannot be listed"},
      {L"sub", Folder(), {}, kExact, false, CopyAction::New},
      {L"sub", Folder(), In(Folder()), kExact, false, CopyAction::Merge},
      {L"sub", Folder(), In(Folder(FILE_ATTRIBUTE_REPARSE_POINT)), kExact, false, CopyAction::Link},
      {L"sub", Folder(), {}, kExact, false, CopyAction::Fail, L"", true},
      {L"sub.", Folder(), {}, kExact, false, CopyAction::Fail},
      {L"sub.", Folder(), {}, kExact, false, CopyAction::Unlisted, L"DST folder cannot be listed"},
  };
  for (const auto& c : cases) {
    const host::CopyItem item{c.relative, c.info, c.unlisted, c.isTarget, c.replacementTaken};
    const host::CopyDecision decision =
        host::DecideCopy(item, c.namesake ? &*c.namesake : nullptr, {L"T$\\dst", c.incremental, c.precision});
    const bool copied = c.expected == CopyAction::New || c.expected == CopyAction::Replace ||
                        c.expected == CopyAction::Merge || c.expected == CopyAction::Skip;
    EXPECT_EQ(decision.action, c.expected) << "row " << &c - cases;
    EXPECT_EQ(decision.reason.empty(), copied) << "row " << &c - cases;
  }
}

TEST(DecideVerify, ListingsTellWhatDiffersAndWhichFilesAreHashed) {
  const struct {
    const wchar_t* relative;
    FileInfo info;
    std::optional<TargetEntry> namesake;
    VerifyAction expected;
    std::vector<DifferenceKind> kinds;
    host::TimePrecision precision = kExact;
    bool compareAcl = false;
  } cases[] = {
      {L"a.txt", Item(5), {}, VerifyAction::Missing, {DifferenceKind::MissingInTarget}},
      {L"a.txt", Item(5), In(Item(5), L"a link"), VerifyAction::Mismatch, {DifferenceKind::Type}},
      {L"sub", Folder(), In(Folder(FILE_ATTRIBUTE_REPARSE_POINT)), VerifyAction::Mismatch, {DifferenceKind::Type}},
      {L"sub", Folder(), In(Item(0)), VerifyAction::Mismatch, {DifferenceKind::Type}},
      {L"sub", Folder(), In(Folder()), VerifyAction::Compare, {}},
      {L"a.txt", Item(5), In(Item(5, kListed, 0)), VerifyAction::Hash, {}},
      {L"a.txt", Item(5), In(Item(6, kListed + kSecond, FILE_ATTRIBUTE_READONLY)), VerifyAction::Compare,
       {DifferenceKind::Size, DifferenceKind::Time, DifferenceKind::Attributes}},
      {L"a.txt", Item(5), In(Item(5, kListed + kSecond)), VerifyAction::Hash, {}, kFat},
      {L"trail.", Item(5), In(Item(5)), VerifyAction::Compare, {DifferenceKind::Unreadable}},
      {L"a.txt", Item(5, kListed, 0, L"O:BAD:(A;;FA;;;WD)"), In(Item(5, kListed, 0, L"O:BAD:(A;;FR;;;WD)")),
       VerifyAction::Hash, {DifferenceKind::Acl}, kExact, true},
      {L"a.txt", Item(5, kListed, 0, L"O:BAD:(A;;FA;;;WD)"), In(Item(5, kListed, 0, L"O:BAD:(A;;FR;;;WD)")),
       VerifyAction::Hash, {}},
      {L"a.txt", Item(5, kListed, 0, L"O:BA"), In(Item(5, kListed, 0, L"O:BAS:(AU;SA;FA;;;WD)")), VerifyAction::Hash,
       {}, kExact, true},
  };
  for (const auto& c : cases) {
    const host::VerifyDecision decision =
        host::DecideVerify(c.relative, c.info, c.namesake ? &*c.namesake : nullptr, {c.compareAcl, c.precision});
    std::vector<DifferenceKind> kinds;
    for (const host::Difference& difference : decision.differences) kinds.push_back(difference.kind);
    EXPECT_EQ(decision.action, c.expected) << "row " << &c - cases;
    EXPECT_EQ(kinds, c.kinds) << "row " << &c - cases;
  }
}
