// Network locations kept as one small UTF-8 file each in the plug-in's data
// folder. The plug-in finds the files itself and asks about each by its file
// name through IPluginHost::GetItemParameter; this store answers.
//
// File format, one "Key=Value" a line, '#' lines ignored:
//   ShareName=\\server\share
//   LocalDrive=Z:
//   NetworkUser=user
//   NetworkPassword=dpapi:<hex of the CryptProtectData blob>   (empty: none)
// The password is protected for the current Windows user; no clear text is
// ever written.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace host {

struct LocationSettings {
  std::wstring share; // \\server\share
  std::wstring drive; // Z:
  std::wstring user;
  std::optional<std::wstring> password;
};

struct LocationEntry {
  std::wstring name;     // as given to Add
  std::wstring fileName; // the item name the plug-in asks about
  std::wstring share;
  std::wstring drive;
  std::wstring user;
  bool passwordSet = false;
  bool readable = false; // false: the file could not be read or parsed
};

class LocationStore {
public:
  explicit LocationStore(std::wstring folder);

  const std::wstring& Folder() const { return folder_; }

  // "office-share" and "office-share.loc" both name office-share.loc.
  static std::wstring FileNameFor(const std::wstring& name);

  // Creates the folder when needed. Throws UsageError for an invalid name,
  // share, drive or user; HostError when the location exists or the file
  // cannot be written.
  void Add(const std::wstring& name, const LocationSettings& settings) const;
  // Throws HostError when there is no such location.
  void Remove(const std::wstring& name) const;
  // Every regular file of the folder, since the plug-in treats each one as a
  // location; sorted by file name. An absent folder gives an empty list.
  std::vector<LocationEntry> List() const;

  // "ShareName", "LocalDrive", "NetworkUser", "NetworkPassword" of the
  // location file `item`. Any other name or item: false, `value` untouched.
  bool GetItemParameter(const wchar_t* item, const wchar_t* name, std::wstring& value) const;

private:
  std::wstring PathOf(const std::wstring& fileName) const;

  std::wstring folder_;
};

} // namespace host
