// Description of the plug-in, handed out by GetPluginInfo.
#pragma once

#include <cstdint>

// Sixteen bytes returned by value from GetInfoBlock.
struct PluginInfoBlock {
  uint64_t low;
  uint64_t high;
};

class IPluginInfo {
public:
  virtual ~IPluginInfo() {}
  virtual void Release() { delete this; }
  // Constant strings of the module: same pointer every call, never freed.
  virtual const wchar_t* GetVersion() = 0;
  virtual const wchar_t* GetName() = 0;
  virtual PluginInfoBlock GetInfoBlock() = 0;
  // Union of the instance kinds: 1 read, 2 write.
  virtual int32_t GetCapabilities() = 0;
  virtual intptr_t GetInfoValue() = 0;
  virtual bool QueryFlag7() = 0;
  virtual bool QueryFlag8() = 0;
  virtual bool QueryFlag9() = 0;
};
