// diskway-host.exe from the test's own folder, run as a child process with
// its standard output and error collected.
#pragma once

#include <string>
#include <vector>

namespace e2e {

struct HostRun {
  int exitCode = -1;
  std::wstring output; // standard output and error, in the order written
};

HostRun RunHost(const std::vector<std::wstring>& args);

} // namespace e2e
