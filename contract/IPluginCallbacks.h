// The two callback objects a host passes to GetBackupDataRead/Write. The host
// owns them and keeps them alive until it has released every instance; the
// plug-in never deletes them, so the destructors are not part of the contract.
#pragma once

#include <cstdint>
#include <string>

// Log sink. The text is valid only during the call; a sink that keeps it
// copies it.
class IPluginLog {
public:
  virtual uint32_t Log(uint32_t level, const wchar_t* text) = 0;

protected:
  ~IPluginLog() = default;
};

// Settings source. Results are ignored by the plug-in: a parameter the host
// does not know leaves `value` as it was.
class IPluginHost {
public:
  // `item` is the file name of one location file below the data folder.
  virtual bool GetItemParameter(const wchar_t* item, const wchar_t* name,
                                std::wstring& value) = 0;
  // Names used: "GetDataStorage", "CopyACL".
  virtual bool GetParameter(const wchar_t* name, std::wstring& value) = 0;

protected:
  ~IPluginHost() = default;
};
