// What most plug-in tests stand on: a recording log sink, a scriptable host,
// the plug-in DLL loaded as a host would load it, and a fixture that gives each
// test its own folder, registry and network-call record.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "contract/PluginExports.h"
#include "vmlib/ScopedHandle.h"
#include "tests/support/RecordingMprClient.h"
#include "tests/support/RegistryOverride.h"
#include "tests/support/TempFolder.h"

namespace test {

struct LoggedMessage {
  uint32_t level;
  std::wstring text;
  bool operator==(const LoggedMessage& other) const { return level == other.level && text == other.text; }
};
inline void PrintTo(const LoggedMessage& message, std::ostream* out) {
  *out << "{" << message.level << ", " << ::testing::PrintToString(message.text) << "}";
}
using Messages = std::vector<LoggedMessage>;

class RecordingLog : public IPluginLog {
public:
  uint32_t Log(uint32_t level, const wchar_t* text) override {
    messages.push_back({level, text != nullptr ? text : L"(null)"});
    return 0;
  }
  Messages messages;
};

class ScriptableHost : public IPluginHost {
public:
  bool GetItemParameter(const wchar_t* item, const wchar_t* name, std::wstring& value) override;
  bool GetParameter(const wchar_t* name, std::wstring& value) override;

  std::map<std::wstring, std::wstring> parameters;
  // item -> name -> value
  std::map<std::wstring, std::map<std::wstring, std::wstring>> items;
  // Runs before every answer; a test may throw from it.
  std::function<void(const std::wstring& name)> onCall;
};

// An export of Diskway.dll as the backup application reaches it: the library
// by name through LoadLibraryW (never freed: instances and their strings may
// outlive any one test), the export by name; null when either is missing.
template <typename Fn>
Fn PluginExport(const char* name) {
  static const HMODULE module = ::LoadLibraryW(L"Diskway.dll");
  return module != nullptr ? VMLib::GetFunction<Fn>(module, name) : nullptr;
}

// Everything `instance` reads from open file `id` until a status other than 0.
std::string ReadAll(IBackupDataRead& instance, uint32_t id);

// The names of a listing's entries, in list order.
std::vector<std::wstring> EntryNames(const FolderList& list);

// Expected text of a message reported with a Win32 code, computed here from
// the system's own description, since Wine's texts differ from Windows'.
std::wstring WithErrorCode(const std::wstring& text, uint32_t code);
// The last-error code of a call that was expected to fail (reads it at once).
uint32_t FailureCode(bool succeeded);

// What Open reports when it falls back to a shadow copy for `realPath`, and
// when that fallback fails for `reason`.
std::wstring LockedFileNotice(const std::wstring& realPath);
std::wstring ShadowCopyFailure(const std::wstring& reason);

// A drive letter Windows does not know, from the middle of the alphabet.
wchar_t UnusedDriveLetter();

// The shadow-copy service stand-in (vssapi.dll beside the test program),
// copied into the prefix's system folder, where the provider loads it by full
// path, and loaded from there, so that its state outlives the provider. The
// suite must run with WINEDLLOVERRIDES=vssapi=n; null when it cannot load.
VMLib::UniqueModule LoadServiceDouble();

class PluginTest : public ::testing::Test {
protected:
  PluginTest();
  ~PluginTest() override;

  // New instances through the exports, released when the test ends (or
  // earlier with ReleaseInstance); never null, they throw instead. The data
  // folder is `dataFolder` unless a test changed host.parameters first.
  IBackupDataRead* MakeReader();
  IBackupDataWrite* MakeWriter();
  void ReleaseInstance(IBackupDataRead* instance);

  // A location file `relative` below the data folder, for which the host
  // answers the four item parameters (the item is the file name alone).
  void AddLocationFile(const std::wstring& relative, const std::wstring& drive, const std::wstring& share,
                       const std::wstring& user = L"u", const std::wstring& password = L"p");

  // Exactly these messages arrived since the last check; forgets them.
  void ExpectLogged(const Messages& expected);
  // Opens `relative` while this test holds it, so that the plug-in falls back
  // to a shadow copy, which fails for `reason`: the open fails with id 0, and
  // the host hears why.
  void ExpectHeldOpenFails(IBackupDataRead& reader, const std::wstring& relative, const std::wstring& reason);

  TempFolder temp;      // the test's own files
  TempFolder dataRoot;  // holds the plug-in's data folder, apart from `temp`
  RegistryOverride registry;
  RecordingLog log;
  ScriptableHost host;
  const std::wstring dataFolder = dataRoot / L"data";

private:
  std::vector<IBackupDataRead*> instances_;
};

} // namespace test
