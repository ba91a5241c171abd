// diskway-host: drives Diskway.dll from the command line the way the backup
// application drives it.
#include <exception>
#include <string>
#include <vector>

#include "host/cli/Commands.h"
#include "host/session/Output.h"
#include "host/session/Text.h"

int wmain(int argc, wchar_t** argv) {
  host::ConsoleOutput out(STD_OUTPUT_HANDLE);
  host::ConsoleOutput err(STD_ERROR_HANDLE);
  // Nothing may leave wmain as an exception: the C runtime would end the
  // process without a word.
  try {
    return host::Run(std::vector<std::wstring>(argv + 1, argv + argc), out, err);
  } catch (const std::exception& failure) {
    err.Write(L"diskway-host: unexpected failure: " + host::FromUtf8(failure.what()) + L"\n");
  } catch (...) {
    err.Write(L"diskway-host: unexpected failure\n");
  }
  return 2;
}
