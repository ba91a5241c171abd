#include "tests/support/PluginFixture.h"

#include <algorithm>

#include "vmlib/ScopedHandle.h"
#include "vmlib/WindowsApi.h"

namespace test {

uint32_t RecordingLog::Log(uint32_t level, const wchar_t* text) {
  messages.push_back({level, text != nullptr ? text : L"(null)"});
  return 0;
}

std::vector<std::wstring> RecordingLog::Texts() const {
  std::vector<std::wstring> texts;
  for (const LoggedMessage& message : messages) texts.push_back(message.text);
  return texts;
}

bool ScriptableHost::GetItemParameter(const wchar_t* item, const wchar_t* name, std::wstring& value) {
  calls.push_back(std::wstring(L"GetItemParameter ") + item + L" " + name);
  if (onCall) onCall(name);
  const auto found = items.find(item);
  if (found == items.end()) return false;
  const auto parameter = found->second.find(name);
  if (parameter == found->second.end()) return false;
  value = parameter->second;
  return true;
}

bool ScriptableHost::GetParameter(const wchar_t* name, std::wstring& value) {
  calls.push_back(std::wstring(L"GetParameter ") + name);
  if (onCall) onCall(name);
  const auto found = parameters.find(name);
  if (found == parameters.end()) return false;
  value = found->second;
  return true;
}

void ScriptableHost::AddLocation(const std::wstring& item, const std::wstring& user, const std::wstring& password,
                                 const std::wstring& drive, const std::wstring& share) {
  items[item] = {{L"NetworkUser", user}, {L"NetworkPassword", password}, {L"LocalDrive", drive},
                 {L"ShareName", share}};
}

const PluginLibrary& PluginLibrary::Get() {
  static const PluginLibrary library = [] {
    PluginLibrary loaded;
    // Never freed: instances and their strings may outlive any one test.
    HMODULE module = ::LoadLibraryW(L"Diskway.dll");
    if (module == nullptr) return loaded;
    loaded.getPluginInfo = VMLib::GetFunction<GetPluginInfoFn>(module, "GetPluginInfo");
    loaded.getBackupDataRead = VMLib::GetFunction<GetBackupDataReadFn>(module, "GetBackupDataRead");
    loaded.getBackupDataWrite = VMLib::GetFunction<GetBackupDataWriteFn>(module, "GetBackupDataWrite");
    return loaded;
  }();
  return library;
}

std::vector<std::wstring> EntryNames(const FolderList& list) {
  std::vector<std::wstring> names;
  for (const FolderEntry& entry : list) names.push_back(entry.name);
  return names;
}

std::wstring WithErrorCode(const std::wstring& text, uint32_t code) {
  wchar_t* description = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code,
      MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&description), 0, nullptr);
  VMLib::UniqueLocalMemory owner(description);
  std::wstring suffix;
  if (length != 0) {
    suffix = L": " + std::wstring(description, length);
    suffix.erase(suffix.size() >= 3 ? suffix.size() - 3 : 0);
  }
  wchar_t hex[16];
  swprintf(hex, 16, L"%08lx", static_cast<unsigned long>(code));
  return text + suffix + L" (0x" + hex + L")";
}

PluginTest::PluginTest() {
  dataFolder = dataRoot / L"data";
  host.parameters[L"GetDataStorage"] = dataFolder;
  ResetNetworkCalls();
}

PluginTest::~PluginTest() {
  for (IBackupDataRead* instance : instances_) instance->Release();
}

IBackupDataRead* PluginTest::MakeReader() {
  const PluginLibrary& library = PluginLibrary::Get();
  if (library.getBackupDataRead == nullptr) {
    ADD_FAILURE() << "Diskway.dll or its GetBackupDataRead export is missing";
    return nullptr;
  }
  IBackupDataRead* instance = library.getBackupDataRead(&log, &host);
  if (instance != nullptr) instances_.push_back(instance);
  return instance;
}

IBackupDataWrite* PluginTest::MakeWriter() {
  const PluginLibrary& library = PluginLibrary::Get();
  if (library.getBackupDataWrite == nullptr) {
    ADD_FAILURE() << "Diskway.dll or its GetBackupDataWrite export is missing";
    return nullptr;
  }
  IBackupDataWrite* instance = library.getBackupDataWrite(&log, &host);
  if (instance != nullptr) instances_.push_back(instance);
  return instance;
}

void PluginTest::ReleaseInstance(IBackupDataRead* instance) {
  const auto found = std::find(instances_.begin(), instances_.end(), instance);
  if (found != instances_.end()) instances_.erase(found);
  instance->Release();
}

size_t PluginTest::CountMessages(uint32_t level, const std::wstring& text) const {
  return static_cast<size_t>(std::count_if(log.messages.begin(), log.messages.end(), [&](const LoggedMessage& m) {
    return m.level == level && m.text == text;
  }));
}

} // namespace test
