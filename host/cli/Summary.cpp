#include "host/cli/Summary.h"

#include <cstdint>
#include <vector>

#include "host/session/Format.h"

namespace host {

namespace {

// Links named in the summary; the log file has all of them.
constexpr size_t kLinksShown = 5;

// How many links to folders were not followed, the first few by name.
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

// What the person can do about files that changed while read or were locked.
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

} // namespace

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
