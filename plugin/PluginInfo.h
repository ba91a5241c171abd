#pragma once

#include "contract/IPluginInfo.h"

// The plug-in's description. Every answer is a constant.
class PluginInfo : public IPluginInfo {
public:
  const wchar_t* GetVersion() override;
  const wchar_t* GetName() override;
  PluginInfoBlock GetInfoBlock() override;
  int32_t GetCapabilities() override;
  intptr_t GetInfoValue() override;
  bool QueryFlag7() override;
  bool QueryFlag8() override;
  bool QueryFlag9() override;
};
