// What most plug-in tests stand on: a recording log sink, a scriptable host,
// the plug-in DLL loaded as a host would load it, and a fixture that gives each
// test its own folder, registry and network-call record.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "plugin/PluginExports.h"
#include "tests/support/RecordingMprClient.h"
#include "tests/support/RegistryOverride.h"
#include "tests/support/TempFolder.h"

namespace test {

struct LoggedMessage {
  uint32_t level;
  std::wstring text;
};

class RecordingLog : public IPluginLog {
public:
  uint32_t Log(uint32_t level, const wchar_t* text) override;
  std::vector<LoggedMessage> messages;
  // Texts only, for compact assertions.
  std::vector<std::wstring> Texts() const;
};

class ScriptableHost : public IPluginHost {
public:
  bool GetItemParameter(const wchar_t* item, const wchar_t* name, std::wstring& value) override;
  bool GetParameter(const wchar_t* name, std::wstring& value) override;

  std::map<std::wstring, std::wstring> parameters;
  // item -> name -> value
  std::map<std::wstring, std::map<std::wstring, std::wstring>> items;
  // "GetParameter Name" / "GetItemParameter item Name", in call order.
  std::vector<std::wstring> calls;
  // Runs before every answer; a test may throw from it.
  std::function<void(const std::wstring& name)> onCall;

  // A network location: the host answers all four item parameters for `item`.
  void AddLocation(const std::wstring& item, const std::wstring& user, const std::wstring& password,
                   const std::wstring& drive, const std::wstring& share);
};

// Diskway.dll as the backup application loads it: LoadLibraryW and the three
// exports by name. Loaded once per test program.
struct PluginLibrary {
  static const PluginLibrary& Get();
  GetPluginInfoFn getPluginInfo = nullptr;
  GetBackupDataReadFn getBackupDataRead = nullptr;
  GetBackupDataWriteFn getBackupDataWrite = nullptr;
};

// Releases a plug-in object with its own Release().
struct ReleaseDeleter {
  template <typename T>
  void operator()(T* object) const {
    if (object != nullptr) object->Release();
  }
};
using ReadInstance = std::unique_ptr<IBackupDataRead, ReleaseDeleter>;
using InfoObject = std::unique_ptr<IPluginInfo, ReleaseDeleter>;

// The names of a listing's entries, in list order.
std::vector<std::wstring> EntryNames(const FolderList& list);

// Expected text of a message reported with a Win32 code, computed here from
// the system's own description, since Wine's texts differ from Windows'.
std::wstring WithErrorCode(const std::wstring& text, uint32_t code);

class PluginTest : public ::testing::Test {
protected:
  PluginTest();
  ~PluginTest() override;

  // New instances through the exports, released when the test ends (or
  // earlier with ReleaseInstance). The data folder is `dataFolder` unless a
  // test changed host.parameters first.
  IBackupDataRead* MakeReader();
  IBackupDataWrite* MakeWriter();
  void ReleaseInstance(IBackupDataRead* instance);

  // Messages at `level` whose text equals `text`.
  size_t CountMessages(uint32_t level, const std::wstring& text) const;

  TempFolder temp;      // the test's own files
  TempFolder dataRoot;  // holds the plug-in's data folder, apart from `temp`
  RegistryOverride registry;
  RecordingLog log;
  ScriptableHost host;
  std::wstring dataFolder;

private:
  std::vector<IBackupDataRead*> instances_;
};

} // namespace test
