#include "tests/e2e/HostProcess.h"

#include <gtest/gtest.h>

#include "host/LoadedPlugin.h"
#include "host/Text.h"
#include "vmlib/ScopedHandle.h"
#include "vmlib/WindowsApi.h"

namespace e2e {

namespace {

// One argument as the C runtime splits a command line: backslashes double
// only before a quote.
std::wstring Quoted(const std::wstring& arg) {
  std::wstring text = L"\"";
  size_t backslashes = 0;
  for (const wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    text.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    text += c;
  }
  text.append(backslashes * 2, L'\\');
  return text + L"\"";
}

struct StartedHost {
  VMLib::UniqueKernelHandle process;
  VMLib::UniqueKernelHandle output; // read end of the pipe; invalid when the output goes nowhere
};

StartedHost StartHost(const std::vector<std::wstring>& args, bool collectOutput) {
  StartedHost started;
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (collectOutput && !::CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) {
    ADD_FAILURE() << "CreatePipe failed with " << ::GetLastError();
    return started;
  }
  started.output.reset(readEnd);
  VMLib::UniqueKernelHandle writer(writeEnd);
  if (collectOutput) ::SetHandleInformation(started.output.get(), HANDLE_FLAG_INHERIT, 0);
  VMLib::UniqueFile nowhere(::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          &inheritable, OPEN_EXISTING, 0, nullptr));

  std::wstring commandLine = Quoted(host::ExecutableFolder() + L"\\diskway-host.exe");
  for (const std::wstring& arg : args) commandLine += L" " + Quoted(arg);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nowhere.get();
  startup.hStdOutput = collectOutput ? writer.get() : nowhere.get();
  startup.hStdError = startup.hStdOutput;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, /*inheritHandles=*/TRUE, 0, nullptr, nullptr,
                        &startup, &process)) {
    ADD_FAILURE() << "CreateProcessW failed with " << ::GetLastError();
    return started;
  }
  started.process.reset(process.hProcess);
  const VMLib::UniqueKernelHandle threadHandle(process.hThread);
  // The child holds its own copy; ours must go for the pipe to end with it.
  writer.reset();
  return started;
}

} // namespace

HostRun RunHost(const std::vector<std::wstring>& args) {
  HostRun run;
  const StartedHost started = StartHost(args, /*collectOutput=*/true);
  if (!started.process) return run;
  std::string bytes;
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(started.output.get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) bytes.append(buffer, got);
  ::WaitForSingleObject(started.process.get(), INFINITE);
  DWORD exitCode = 0;
  ::GetExitCodeProcess(started.process.get(), &exitCode);
  run.exitCode = static_cast<int>(exitCode);
  run.output = host::FromUtf8(bytes);
  return run;
}

bool KillHostWhen(const std::vector<std::wstring>& args, const std::function<bool()>& due) {
  const StartedHost started = StartHost(args, /*collectOutput=*/false);
  if (!started.process) return false;
  while (::WaitForSingleObject(started.process.get(), 1) == WAIT_TIMEOUT) {
    if (!due()) continue;
    ::TerminateProcess(started.process.get(), 9);
    ::WaitForSingleObject(started.process.get(), INFINITE);
    return true;
  }
  return false;
}

std::string UnixPathOf(const std::wstring& windowsPath) {
  // C: is the prefix's drive_c; Wine hands its prefix to every process.
  wchar_t prefix[MAX_PATH];
  const DWORD length = ::GetEnvironmentVariableW(L"WINEPREFIX", prefix, MAX_PATH);
  if (length == 0 || length >= MAX_PATH || windowsPath.compare(0, 2, L"C:") != 0) return {};
  std::string path = host::ToUtf8(std::wstring(prefix, length) + L"/drive_c" + windowsPath.substr(2));
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}

std::wstring ThroughZ(const std::string& unixPath) {
  std::wstring path = L"Z:" + host::FromUtf8(unixPath);
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path;
}

void RunUnixShell(const std::string& script) {
  // Wine starts Linux programs, but its handle to one does not wait for it:
  // the script's last act is a mark this side waits for.
  const std::string mark = "/tmp/diskway-e2e-done-" + std::to_string(::GetCurrentProcessId());
  std::wstring commandLine = L"/bin/sh -c \"" + host::FromUtf8(script + "; touch " + mark) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(::CreateProcessW(L"Z:\\bin\\sh", &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process)) << "cannot start /bin/sh: " << ::GetLastError();
  const VMLib::UniqueKernelHandle processHandle(process.hProcess);
  const VMLib::UniqueKernelHandle threadHandle(process.hThread);
  const std::wstring done = ThroughZ(mark);
  for (int waited = 0; ::GetFileAttributesW(done.c_str()) == INVALID_FILE_ATTRIBUTES; ++waited) {
    ASSERT_LT(waited, 10000) << "the shell script did not finish: " << script;
    ::Sleep(1);
  }
  ::DeleteFileW(done.c_str());
}

} // namespace e2e
