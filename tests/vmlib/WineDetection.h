#pragma once

namespace VMLib::tests {

// True when the tests run under Wine (its ntdll exports wine_get_version).
bool RunningUnderWine();

} // namespace VMLib::tests
