// diskway-host.exe from the test's own folder, run as a child process with
// its standard output and error collected.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace e2e {

struct HostRun {
  int exitCode = -1;
  std::wstring output; // standard output and error, in the order written
};

HostRun RunHost(const std::vector<std::wstring>& args);

// Starts the host and kills it as soon as `due` says so (asked every
// millisecond); false when the host ended first.
bool KillHostWhen(const std::vector<std::wstring>& args, const std::function<bool()>& due);

// The Linux path of a path on C:, and a Linux path reached through Z:.
std::string UnixPathOf(const std::wstring& windowsPath);
std::wstring ThroughZ(const std::string& unixPath);

// Runs `script` with the Linux shell, for what Windows calls cannot make
// (symbolic links, names that differ only in case), and waits for it.
void RunUnixShell(const std::string& script);

} // namespace e2e
