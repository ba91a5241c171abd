#include "tests/support/PluginFixture.h"

#include <algorithm>
#include <stdexcept>

#include "vmlib/ScopedHandle.h"
#include "vmlib/WindowsApi.h"

namespace test {

namespace {

bool Answer(const std::map<std::wstring, std::wstring>& answers, const wchar_t* name, std::wstring& value) {
  const auto found = answers.find(name);
  if (found != answers.end()) value = found->second;
  return found != answers.end();
}

// Throws, which ends the test there, when the DLL or the export is missing.
template <typename Factory>
auto KeepInstance(Factory factory, RecordingLog& log, ScriptableHost& host, std::vector<IBackupDataRead*>& kept) {
  auto* instance = factory != nullptr ? factory(&log, &host) : nullptr;
  if (instance == nullptr) throw std::runtime_error("Diskway.dll or its export gave no instance");
  kept.push_back(instance);
  return instance;
}

} // namespace

bool ScriptableHost::GetItemParameter(const wchar_t* item, const wchar_t* name, std::wstring& value) {
  if (onCall) onCall(name);
  return Answer(items[item], name, value);
}

bool ScriptableHost::GetParameter(const wchar_t* name, std::wstring& value) {
  if (onCall) onCall(name);
  return Answer(parameters, name, value);
}

std::vector<std::wstring> EntryNames(const FolderList& list) {
  std::vector<std::wstring> names;
  for (const FolderEntry& entry : list) names.push_back(entry.name);
  return names;
}

std::wstring WithErrorCode(const std::wstring& text, uint32_t code) {
  wchar_t description[512] = {};
  const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code,
                                        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), description, 512, nullptr);
  // The system's description ends in a period and a line break, which the
  // message leaves out.
  const std::wstring suffix = length >= 3 ? L": " + std::wstring(description, length - 3) : L"";
  wchar_t hex[16];
  swprintf(hex, 16, L"%08lx", static_cast<unsigned long>(code));
  return text + suffix + L" (0x" + hex + L")";
}

uint32_t FailureCode(bool succeeded) {
  const DWORD error = ::GetLastError();
  if (succeeded) ADD_FAILURE() << "the probing call was expected to fail";
  return error;
}

std::wstring LockedFileNotice(const std::wstring& realPath) {
  return L"File '" + realPath + L"' is locked. Trying to open file with VSS support.";
}

std::wstring ShadowCopyFailure(const std::wstring& reason) {
  return L"Cannot open file with VSS support because of the following error: " + reason +
         L" For more information, please refer to FAQ: \n"
         L"https://help.diskway.app/faq/vss-initialization-failed.shtml?plugin=Diskway";
}

wchar_t UnusedDriveLetter() {
  const DWORD drives = ::GetLogicalDrives();
  for (wchar_t letter = L'P'; letter >= L'D'; --letter) {
    if ((drives & (1u << (letter - L'A'))) == 0) return letter;
  }
  ADD_FAILURE() << "no unused drive letter between D and P";
  return L'?';
}

VMLib::UniqueModule LoadServiceDouble() {
  wchar_t system[MAX_PATH] = {};
  ::GetSystemDirectoryW(system, MAX_PATH);
  const std::wstring installed = std::wstring(system) + L"\\vssapi.dll";
  if (ReadFileBytes(installed) != ReadFileBytes(L"vssapi.dll")) {
    // Suites run in parallel: each copies under a name of its own, then swaps.
    const std::wstring copy = installed + L"." + std::to_wstring(::GetCurrentProcessId());
    ::CopyFileW(L"vssapi.dll", copy.c_str(), /*failIfExists=*/FALSE);
    ::MoveFileExW(copy.c_str(), installed.c_str(), MOVEFILE_REPLACE_EXISTING);
  }
  return VMLib::UniqueModule(::LoadLibraryW(installed.c_str()));
}

std::string ReadAll(IBackupDataRead& instance, uint32_t id) {
  std::string data;
  char buffer[64];
  uint32_t size = sizeof(buffer);
  for (; instance.Read(buffer, size, id) == 0; size = sizeof(buffer)) data.append(buffer, size);
  return data;
}

PluginTest::PluginTest() {
  host.parameters[L"GetDataStorage"] = dataFolder;
  ResetNetworkCalls();
}

PluginTest::~PluginTest() {
  for (IBackupDataRead* instance : instances_) instance->Release();
}

IBackupDataRead* PluginTest::MakeReader() {
  return KeepInstance(PluginExport<GetBackupDataReadFn>("GetBackupDataRead"), log, host, instances_);
}

IBackupDataWrite* PluginTest::MakeWriter() {
  return KeepInstance(PluginExport<GetBackupDataWriteFn>("GetBackupDataWrite"), log, host, instances_);
}

void PluginTest::ReleaseInstance(IBackupDataRead* instance) {
  instances_.erase(std::remove(instances_.begin(), instances_.end(), instance), instances_.end());
  instance->Release();
}

void PluginTest::AddLocationFile(const std::wstring& relative, const std::wstring& drive, const std::wstring& share,
                                 const std::wstring& user, const std::wstring& password) {
  const std::wstring file = dataFolder + L"\\" + relative;
  MakeFolder(file.substr(0, file.rfind(L'\\')));
  WriteFileBytes(file, "");
  host.items[file.substr(file.rfind(L'\\') + 1)] = {
      {L"NetworkUser", user}, {L"NetworkPassword", password}, {L"LocalDrive", drive}, {L"ShareName", share}};
}

void PluginTest::ExpectLogged(const Messages& expected) {
  EXPECT_EQ(log.messages, expected);
  log.messages.clear();
}

void PluginTest::ExpectHeldOpenFails(IBackupDataRead& reader, const std::wstring& relative, const std::wstring& reason) {
  WriteFileBytes(temp / relative, "live");
  const VMLib::UniqueFile held = HoldExclusively(temp / relative);
  uint32_t id = 5;
  EXPECT_EQ(reader.Open(temp.Virtual(relative), OpenRead, id), 1u);
  EXPECT_EQ(id, 0u);
  ExpectLogged({{Info, LockedFileNotice(temp.Real(relative))}, {Warning, ShadowCopyFailure(reason)}});
}

} // namespace test
