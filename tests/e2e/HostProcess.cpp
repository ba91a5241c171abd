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

} // namespace

HostRun RunHost(const std::vector<std::wstring>& args) {
  HostRun run;
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!::CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) {
    ADD_FAILURE() << "CreatePipe failed with " << ::GetLastError();
    return run;
  }
  VMLib::UniqueKernelHandle reader(readEnd);
  VMLib::UniqueKernelHandle writer(writeEnd);
  ::SetHandleInformation(reader.get(), HANDLE_FLAG_INHERIT, 0);
  VMLib::UniqueFile input(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                        OPEN_EXISTING, 0, nullptr));

  std::wstring commandLine = Quoted(host::ExecutableFolder() + L"\\diskway-host.exe");
  for (const std::wstring& arg : args) commandLine += L" " + Quoted(arg);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input.get();
  startup.hStdOutput = writer.get();
  startup.hStdError = writer.get();
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, /*inheritHandles=*/TRUE, 0, nullptr, nullptr,
                        &startup, &process)) {
    ADD_FAILURE() << "CreateProcessW failed with " << ::GetLastError();
    return run;
  }
  const VMLib::UniqueKernelHandle processHandle(process.hProcess);
  const VMLib::UniqueKernelHandle threadHandle(process.hThread);
  // The child holds its own copy; ours must go for the pipe to end with it.
  writer.reset();

  std::string bytes;
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(reader.get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) bytes.append(buffer, got);
  ::WaitForSingleObject(processHandle.get(), INFINITE);
  DWORD exitCode = 0;
  ::GetExitCodeProcess(processHandle.get(), &exitCode);
  run.exitCode = static_cast<int>(exitCode);
  run.output = host::FromUtf8(bytes);
  return run;
}

} // namespace e2e
