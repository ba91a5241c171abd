#include "host/session/PluginHost.h"

#include <utility>
#include <vector>

#include "host/session/HostError.h"
#include "host/session/Text.h"
#include "vmlib/WindowsApi.h"

namespace host {

namespace {

// Grows the buffer until the call's result fits; `call` returns the length
// written, or the size needed when the buffer is too small, or 0 on failure.
template <typename Call>
std::wstring FetchText(Call call, DWORD& error) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = call(buffer.data(), static_cast<DWORD>(buffer.size()));
    error = length == 0 ? ::GetLastError() : ERROR_SUCCESS;
    if (length < buffer.size()) return std::wstring(buffer.data(), length);
    buffer.resize(length + 1);
  }
}

} // namespace

DataFolder DefaultDataFolder() {
  DWORD error = ERROR_SUCCESS;
  const std::wstring base = FetchText(
      [](wchar_t* buffer, DWORD size) { return ::GetEnvironmentVariableW(L"LOCALAPPDATA", buffer, size); },
      error);
  if (base.empty()) {
    throw HostError(L"LOCALAPPDATA is not set (" + SystemErrorText(error) + L"); give a folder with --data");
  }
  return {base + L"\\Diskway\\Plugins\\Computer", base + L"\\Diskway//Plugins//Computer"};
}

DataFolder ChosenDataFolder(const std::wstring& folder) {
  DWORD error = ERROR_SUCCESS;
  const std::wstring full = FetchText(
      [&folder](wchar_t* buffer, DWORD size) {
        return ::GetFullPathNameW(folder.c_str(), size, buffer, /*filePart=*/nullptr);
      },
      error);
  if (full.empty()) throw HostError(L"cannot use data folder '" + folder + L"': " + SystemErrorText(error));
  return {full, full};
}

PluginHost::PluginHost(std::wstring dataStorage, bool copyAcl, const LocationStore& locations)
    : dataStorage_(std::move(dataStorage)), copyAcl_(copyAcl), locations_(locations) {}

bool PluginHost::GetItemParameter(const wchar_t* item, const wchar_t* name, std::wstring& value) {
  return locations_.GetItemParameter(item, name, value);
}

bool PluginHost::GetParameter(const wchar_t* name, std::wstring& value) {
  if (name == nullptr) return false;
  const std::wstring_view key(name);
  if (key == L"GetDataStorage") {
    value = dataStorage_;
    return true;
  }
  if (key == L"CopyACL") {
    value = copyAcl_ ? L"True" : L"False";
    return true;
  }
  return false;
}

} // namespace host
