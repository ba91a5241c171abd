#include "tests/support/NativeShell.h"

#include <cstdlib>

#include "tests/support/TempFolder.h"
#include "vmlib/ScopedHandle.h"
#include "vmlib/WindowsApi.h"

namespace test {

std::string UnixPathOf(const std::wstring& windowsPath) {
  using UnixFileName = char*(CDECL*)(LPCWSTR);
  const auto unixFileName = VMLib::GetFunction<UnixFileName>(::GetModuleHandleW(L"kernel32.dll"),
                                                             "wine_get_unix_file_name");
  char* name = unixFileName != nullptr ? unixFileName(windowsPath.c_str()) : nullptr;
  if (name == nullptr) return std::string();
  std::string result(name);
  ::HeapFree(::GetProcessHeap(), 0, name);
  return result;
}

int RunNative(const std::wstring& windowsFolder, const std::string& script) {
  const std::string folder = UnixPathOf(windowsFolder);
  if (folder.empty()) return -1;
  // Wine starts a Linux program named by its Linux path through Z:, but
  // gives no handle to wait on nor its exit code: the script leaves its
  // status in a file, put in place whole once it is written. The script is
  // read from a file, clear of how Wine splits a command line; a new one each
  // time, since a shell that just wrote its status may still read its own.
  const std::wstring statusPath = windowsFolder + L"\\.native-status", scriptPath = windowsFolder + L"\\.native-script";
  ::DeleteFileW(statusPath.c_str());
  ::DeleteFileW(scriptPath.c_str());
  WriteFileBytes(scriptPath,
                 "cd '" + folder + "' && { " + script + "\n}; echo $? > .native-status.part && mv .native-status.part " +
                     ".native-status\n");
  std::wstring line = L"Z:\\bin\\sh \"";
  for (char c : folder + "/.native-script\"") line += static_cast<wchar_t>(static_cast<unsigned char>(c));
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return -1;
  }
  const VMLib::UniqueKernelHandle processHandle(process.hProcess);
  const VMLib::UniqueKernelHandle threadHandle(process.hThread);
  for (int waited = 0; waited < 60000; waited += 10) {
    const VMLib::UniqueFile status(::CreateFileW(statusPath.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr,
                                                 OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (status) {
      char digits[16] = {};
      DWORD read = 0;
      ::ReadFile(status.get(), digits, sizeof(digits) - 1, &read, nullptr);
      return std::atoi(digits);
    }
    ::Sleep(10);
  }
  return -1;
}

} // namespace test
