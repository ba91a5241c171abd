#include "plugin/PluginInfo.h"

#include "DiskwayVersion.h"
#include "instance/PluginImplementation.h"

namespace {

// Module constants: hosts may compare the pointers and keep them while the
// module is loaded. The version is the build's, as the version resource of
// every shipped binary states it.
const wchar_t kVersion[] = DISKWAY_VERSION_TEXT;
const wchar_t kName[] = L"Computer";

} // namespace

const wchar_t* PluginInfo::GetVersion() { return kVersion; }

const wchar_t* PluginInfo::GetName() { return kName; }

PluginInfoBlock PluginInfo::GetInfoBlock() { return PluginInfoBlock{0, 0}; }

int32_t PluginInfo::GetCapabilities() { return InstanceRead | InstanceWrite; }

intptr_t PluginInfo::GetInfoValue() { return 0; }

bool PluginInfo::QueryFlag7() { return true; }

bool PluginInfo::QueryFlag8() { return true; }

bool PluginInfo::QueryFlag9() { return false; }
