// The lines that end a tree command: what it copied or compared, every item
// that failed or differs with why, the links it did not follow, and why it
// stopped early when it did.
#pragma once

#include <functional>
#include <string>

#include "host/jobs/copy/TreeCopy.h"
#include "host/jobs/verify/TreeVerify.h"

namespace host {

// `what` is "Backup" or "Restore".
std::wstring CopySummary(const CopyReport& report, const std::wstring& what, const CopySettings& settings);

// Every difference, then the count. `explain` may return a note for a
// difference ("" for none).
std::wstring VerifySummary(const VerifyReport& report,
                           const std::function<std::wstring(const Difference&)>& explain = nullptr);

} // namespace host
