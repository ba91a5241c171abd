#include "host/jobs/verify/VerifyDecision.h"

#include <cmath>
#include <cwchar>
#include <map>

#include "host/session/Format.h"
#include "vmlib/WindowsApi.h"

namespace host {

namespace {

constexpr uint32_t kComparedAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                         FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_TEMPORARY |
                                         FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

std::wstring TimeText(int64_t time) {
  return FormatFileTime(FileTimeFromTime(time));
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

void CompareTimes(const std::wstring& shown, const FileInfo& info, const FileInfo& other,
                  const TimePrecision& precision, std::vector<Difference>& differences) {
  const struct {
    uint32_t field;
    int64_t mine;
    int64_t theirs;
    int64_t step;
    const wchar_t* name;
  } times[] = {{FieldCreationTime, info.creationTime, other.creationTime, precision.creation, L"created"},
               {FieldLastWriteTime, info.lastWriteTime, other.lastWriteTime, precision.write, L"last written"}};
  for (const auto& time : times) {
    if ((info.validFields & time.field) == 0 || (other.validFields & time.field) == 0) continue;
    if (SameTime(time.mine, time.theirs, time.step, precision.fat)) continue;
    differences.push_back(
        {DifferenceKind::Time, shown,
         std::wstring(time.name) + L" SRC " + TimeText(time.mine) + L", DST " + TimeText(time.theirs) + L" (" +
             FormatDuration(std::fabs(static_cast<double>(time.theirs - time.mine)) / 1e7) + L" apart)"});
  }
}

} // namespace

uint32_t ComparedAttributes(uint32_t attributes) {
  return attributes & kComparedAttributes;
}

VerifyDecision DecideVerify(const std::wstring& relative, const FileInfo& info, const TargetEntry* namesake,
                            const VerifyRules& rules) {
  const std::wstring shown = IsFolder(info) ? relative + L"\\" : relative;
  const std::wstring kind = IsFolder(info) ? L"a folder" : L"a file";
  if (namesake == nullptr) return {VerifyAction::Missing, {{DifferenceKind::MissingInTarget, shown, L""}}};
  const FileInfo& other = namesake->info;
  if (!namesake->link.empty()) {
    return {VerifyAction::Mismatch, {{DifferenceKind::Type, shown, kind + L" in SRC, in DST " + namesake->link +
                                                                       L"; what it leads to was not compared"}}};
  }
  if (IsLinkedFolder(other)) {
    return {VerifyAction::Mismatch, {{DifferenceKind::Type, shown, kind + L" in SRC, a link to a folder in DST"}}};
  }
  if (IsFolder(info) != IsFolder(other)) {
    return {VerifyAction::Mismatch,
            {{DifferenceKind::Type, relative,
              IsFolder(info) ? L"a folder in SRC, a file in DST" : L"a file in SRC, a folder in DST"}}};
  }
  VerifyDecision decision{VerifyAction::Compare, {}};
  if (!IsFolder(info)) {
    const std::wstring unusable = UnusableName(LeafName(relative));
    if (info.size != other.size) {
      decision.differences.push_back({DifferenceKind::Size, relative,
                                      L"SRC " + std::to_wstring(info.size) + L" bytes, DST " +
                                          std::to_wstring(other.size) + L" bytes"});
    } else if (!unusable.empty()) {
      decision.differences.push_back({DifferenceKind::Unreadable, relative, unusable});
    } else {
      decision.action = VerifyAction::Hash;
    }
  }
  CompareTimes(shown, info, other, rules.precision, decision.differences);
  const uint32_t mine = ComparedAttributes(info.attributes);
  const uint32_t theirs = ComparedAttributes(other.attributes);
  if (mine != theirs) {
    decision.differences.push_back(
        {DifferenceKind::Attributes, shown, L"SRC " + FormatAttributes(mine) + L", DST " + FormatAttributes(theirs)});
  }
  const std::wstring acl = rules.compareAcl ? AclDifference(info.aclRights, other.aclRights) : L"";
  if (!acl.empty()) decision.differences.push_back({DifferenceKind::Acl, shown, acl});
  return decision;
}

} // namespace host
