#include "host/session/LocationStore.h"

#include <algorithm>
#include <cwctype>
#include <iterator>
#include <map>
#include <utility>

#include "host/session/HostError.h"
#include "host/session/LocalFile.h"
#include "host/session/Text.h"
#include "vmlib/DirectoryReader.h"
#include "vmlib/ScopedHandle.h"
#include "vmlib/WindowsApi.h"

#include <wincrypt.h>

namespace host {

namespace {

constexpr size_t kMaxLocationFileSize = 64 * 1024;
const std::wstring kExtension = L".loc";
const std::wstring kShareName = L"ShareName";
const std::wstring kLocalDrive = L"LocalDrive";
const std::wstring kNetworkUser = L"NetworkUser";
const std::wstring kNetworkPassword = L"NetworkPassword";
const std::wstring kProtectedPrefix = L"dpapi:";
const wchar_t kBlobDescription[] = L"Diskway network location password";
// Mixed into the protection, so that a blob copied from another program's
// store of the same user does not decrypt as one of ours.
const char kEntropy[] = "Diskway.NetworkLocation.Password";

using Fields = std::map<std::wstring, std::wstring>;

bool EndsWithNoCase(const std::wstring& text, const std::wstring& suffix) {
  return text.size() >= suffix.size() &&
         ::CompareStringOrdinal(text.c_str() + text.size() - suffix.size(), static_cast<int>(suffix.size()),
                                suffix.c_str(), static_cast<int>(suffix.size()), /*ignoreCase=*/TRUE) == CSTR_EQUAL;
}

bool HasLineBreak(const std::wstring& text) {
  return text.find_first_of(L"\r\n") != std::wstring::npos;
}

bool IsReservedDeviceName(const std::wstring& fileName) {
  std::wstring stem = fileName.substr(0, fileName.find(L'.'));
  for (wchar_t& c : stem) c = static_cast<wchar_t>(::towupper(c));
  if (stem == L"CON" || stem == L"PRN" || stem == L"AUX" || stem == L"NUL") return true;
  return stem.size() == 4 && (stem.compare(0, 3, L"COM") == 0 || stem.compare(0, 3, L"LPT") == 0) &&
         stem[3] >= L'1' && stem[3] <= L'9';
}

// A single file name that Windows keeps as written: no folders, no device.
bool IsPlainFileName(const std::wstring& name) {
  if (name.empty() || name == L"." || name == L"..") return false;
  for (const wchar_t c : name) {
    if (c < 0x20 || std::wstring_view(L"\\/:*?\"<>|").find(c) != std::wstring_view::npos) return false;
  }
  return name.back() != L' ' && name.back() != L'.' && !IsReservedDeviceName(name);
}

void CheckName(const std::wstring& name) {
  if (!IsPlainFileName(name)) {
    throw UsageError(L"location name '" + name + L"' cannot be a file name");
  }
}

// \\server\share, possibly with a folder below the share.
bool IsShareName(const std::wstring& share) {
  if (share.size() < 5 || share.compare(0, 2, L"\\\\") != 0 || HasLineBreak(share)) return false;
  const size_t separator = share.find(L'\\', 2);
  return separator != std::wstring::npos && separator > 2 && separator + 1 < share.size() &&
         share[separator + 1] != L'\\';
}

LocationSettings CheckedSettings(LocationSettings settings) {
  if (!IsShareName(settings.share)) {
    throw UsageError(L"share '" + settings.share + L"' is not of the form \\\\server\\share");
  }
  const std::wstring& drive = settings.drive;
  const bool letter = drive.size() == 2 && drive[1] == L':' &&
                      ((drive[0] >= L'A' && drive[0] <= L'Z') || (drive[0] >= L'a' && drive[0] <= L'z'));
  if (!letter) throw UsageError(L"drive '" + drive + L"' is not a drive letter with a colon, like Z:");
  // The plug-in compares drives case-sensitively when it skips duplicates.
  settings.drive[0] = static_cast<wchar_t>(::towupper(drive[0]));
  if (HasLineBreak(settings.user)) throw UsageError(L"the user name cannot hold a line break");
  return settings;
}

DATA_BLOB Blob(const void* data, size_t size) {
  DATA_BLOB blob;
  blob.cbData = static_cast<DWORD>(size);
  // DPAPI takes non-const blobs but never writes its inputs.
  blob.pbData = static_cast<BYTE*>(const_cast<void*>(data));
  return blob;
}

bool FromHex(std::wstring_view text, std::vector<BYTE>& bytes) {
  if (text.size() % 2 != 0) return false;
  const auto nibble = [](wchar_t c) -> int {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
  };
  bytes.clear();
  for (size_t i = 0; i < text.size(); i += 2) {
    const int high = nibble(text[i]);
    const int low = nibble(text[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes.push_back(static_cast<BYTE>(high << 4 | low));
  }
  return true;
}

// crypt32 brings user32 and gdi32 with it, whose start-up reads the font
// registry: under Wine that is tens of milliseconds on every run of the host,
// for a library only stored passwords need. It is loaded on first use.
class Crypt32 {
public:
  using ProtectFunction = decltype(&::CryptProtectData);
  using UnprotectFunction = decltype(&::CryptUnprotectData);

  static const Crypt32& Get() {
    static const Crypt32 library;
    return library;
  }

  // Null when the library or the function is not there; `error` says why.
  ProtectFunction protect = nullptr;
  UnprotectFunction unprotect = nullptr;
  DWORD error = 0;

private:
  Crypt32() : module_(::LoadLibraryExW(L"crypt32.dll", /*file=*/nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    if (!module_) {
      error = ::GetLastError();
      return;
    }
    protect = reinterpret_cast<ProtectFunction>(
        reinterpret_cast<void*>(::GetProcAddress(module_.get(), "CryptProtectData")));
    unprotect = reinterpret_cast<UnprotectFunction>(
        reinterpret_cast<void*>(::GetProcAddress(module_.get(), "CryptUnprotectData")));
    if (protect == nullptr || unprotect == nullptr) {
      error = ERROR_PROC_NOT_FOUND;
      protect = nullptr;
      unprotect = nullptr;
    }
  }

  VMLib::UniqueModule module_;
};

std::wstring ProtectPassword(const std::wstring& password) {
  const Crypt32& crypt32 = Crypt32::Get();
  if (crypt32.protect == nullptr) {
    throw HostError(L"cannot protect the password: crypt32.dll: " + SystemErrorText(crypt32.error));
  }
  DATA_BLOB input = Blob(password.data(), password.size() * sizeof(wchar_t));
  DATA_BLOB entropy = Blob(kEntropy, sizeof kEntropy - 1);
  DATA_BLOB output{};
  if (!crypt32.protect(&input, kBlobDescription, &entropy, /*reserved=*/nullptr, /*prompt=*/nullptr,
                          CRYPTPROTECT_UI_FORBIDDEN, &output)) {
    const DWORD error = ::GetLastError();
    throw HostError(L"cannot protect the password: " + SystemErrorText(error));
  }
  const VMLib::UniqueLocalMemory owner(output.pbData);
  return kProtectedPrefix + ToHex(output.pbData, output.cbData);
}

bool UnprotectPassword(const std::wstring& stored, std::wstring& password) {
  std::vector<BYTE> sealed;
  if (stored.compare(0, kProtectedPrefix.size(), kProtectedPrefix) != 0 ||
      !FromHex(std::wstring_view(stored).substr(kProtectedPrefix.size()), sealed)) {
    return false;
  }
  const Crypt32& crypt32 = Crypt32::Get();
  if (crypt32.unprotect == nullptr) return false;
  DATA_BLOB input = Blob(sealed.data(), sealed.size());
  DATA_BLOB entropy = Blob(kEntropy, sizeof kEntropy - 1);
  DATA_BLOB output{};
  if (!crypt32.unprotect(&input, /*description=*/nullptr, &entropy, /*reserved=*/nullptr,
                            /*prompt=*/nullptr, CRYPTPROTECT_UI_FORBIDDEN, &output)) {
    return false;
  }
  const VMLib::UniqueLocalMemory owner(output.pbData);
  password.assign(reinterpret_cast<const wchar_t*>(output.pbData), output.cbData / sizeof(wchar_t));
  ::SecureZeroMemory(output.pbData, output.cbData);
  return true;
}

Fields ParseFields(const std::string& bytes) {
  std::wstring text = FromUtf8(bytes);
  // Editors on Windows like to start UTF-8 files with a byte-order mark.
  if (!text.empty() && text.front() == L'\xFEFF') text.erase(0, 1);
  Fields fields;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    const size_t equals = line.find(L'=');
    if (line.empty() || line.front() == L'#' || equals == std::wstring::npos) continue;
    fields[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return fields;
}

std::optional<Fields> ReadFields(const std::wstring& path) {
  try {
    return ParseFields(ReadSmallFile(path, kMaxLocationFileSize));
  } catch (const HostError&) {
    return std::nullopt;
  }
}

std::wstring FieldOf(const Fields& fields, const std::wstring& name) {
  const auto found = fields.find(name);
  return found != fields.end() ? found->second : std::wstring();
}

} // namespace

LocationStore::LocationStore(std::wstring folder) : folder_(std::move(folder)) {}

std::wstring LocationStore::FileNameFor(const std::wstring& name) {
  return EndsWithNoCase(name, kExtension) ? name : name + kExtension;
}

std::wstring LocationStore::PathOf(const std::wstring& fileName) const {
  return folder_ + L"\\" + fileName;
}

void LocationStore::Add(const std::wstring& name, const LocationSettings& requested) const {
  CheckName(name);
  const LocationSettings settings = CheckedSettings(requested);
  const std::wstring path = PathOf(FileNameFor(name));
  const std::wstring text = L"# Network location of the Diskway plug-in, written by diskway-host.\n" +
                            kShareName + L"=" + settings.share + L"\n" +
                            kLocalDrive + L"=" + settings.drive + L"\n" +
                            kNetworkUser + L"=" + settings.user + L"\n" +
                            kNetworkPassword + L"=" +
                            (settings.password ? ProtectPassword(*settings.password) : L"") + L"\n";
  CreateLocalFolder(folder_);
  if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
    throw HostError(L"location '" + name + L"' already exists; remove it first");
  }
  VMLib::UniqueFile file = CreateLocalFile(path, /*replace=*/false);
  try {
    const std::string bytes = ToUtf8(text);
    WriteLocal(file.get(), path, bytes.data(), bytes.size());
  } catch (const HostError&) {
    file.reset();
    ::DeleteFileW(path.c_str());
    throw;
  }
}

void LocationStore::Remove(const std::wstring& name) const {
  CheckName(name);
  const std::wstring path = PathOf(FileNameFor(name));
  if (!::DeleteFileW(path.c_str())) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      throw HostError(L"there is no location '" + name + L"' in " + folder_);
    }
    throw HostError(L"cannot remove '" + path + L"': " + SystemErrorText(error));
  }
}

std::vector<LocationEntry> LocationStore::List() const {
  std::vector<LocationEntry> entries;
  VMLib::DirectoryReader reader;
  if (!reader.Open(folder_)) {
    if (reader.Error() == ERROR_FILE_NOT_FOUND || reader.Error() == ERROR_PATH_NOT_FOUND) return entries;
    throw HostError(L"cannot list '" + folder_ + L"': " + SystemErrorText(reader.Error()));
  }
  VMLib::DirectoryReader::Result result;
  while ((result = reader.Next()) == VMLib::DirectoryReader::Result::Entry) {
    if (reader.IsFolder()) continue;
    LocationEntry entry;
    entry.fileName = reader.Name();
    entry.name = EndsWithNoCase(entry.fileName, kExtension)
                     ? entry.fileName.substr(0, entry.fileName.size() - kExtension.size())
                     : entry.fileName;
    if (const std::optional<Fields> fields = ReadFields(PathOf(entry.fileName))) {
      entry.share = FieldOf(*fields, kShareName);
      entry.drive = FieldOf(*fields, kLocalDrive);
      entry.user = FieldOf(*fields, kNetworkUser);
      entry.passwordSet = !FieldOf(*fields, kNetworkPassword).empty();
      entry.readable = !entry.share.empty() && !entry.drive.empty();
    }
    entries.push_back(std::move(entry));
  }
  if (result == VMLib::DirectoryReader::Result::Error) {
    throw HostError(L"cannot list '" + folder_ + L"': " + SystemErrorText(reader.Error()));
  }
  std::sort(entries.begin(), entries.end(),
            [](const LocationEntry& a, const LocationEntry& b) { return a.fileName < b.fileName; });
  return entries;
}

bool LocationStore::GetItemParameter(const wchar_t* item, const wchar_t* name, std::wstring& value) const {
  if (item == nullptr || name == nullptr) return false;
  try {
    const std::wstring field = name;
    const std::wstring fileName = item;
    if ((field != kShareName && field != kLocalDrive && field != kNetworkUser && field != kNetworkPassword) ||
        !IsPlainFileName(fileName)) {
      return false;
    }
    const std::optional<Fields> fields = ReadFields(PathOf(fileName));
    if (!fields) return false;
    // A known name is always answered, empty when the file has no value: the
    // plug-in reuses one string for all locations, and an unanswered call
    // would hand the previous location's user or password to this share.
    const std::wstring stored = FieldOf(*fields, field);
    if (field != kNetworkPassword || stored.empty()) {
      value = stored;
      return true;
    }
    std::wstring password;
    const bool unsealed = UnprotectPassword(stored, password);
    value = password;
    return unsealed;
  } catch (...) {
    return false;
  }
}

} // namespace host
