// Items are made through plain paths and handed to VMLib with the \\?\ prefix,
// as the plug-in passes them. Under Wine 8 (as root) every file reads back the
// same synthesized owner, group and DACL whatever was written, so no test
// expects a written descriptor to change what is read back.
#include <gtest/gtest.h>

#include <cstring>
#include <utility>

#include "tests/support/TempFolder.h"
#include "vmlib/VMLib.h"

#include <aclapi.h>

namespace {

using VMLib::filesystem::GetAclRights;
using VMLib::filesystem::GetFileInfo;
using VMLib::filesystem::SetAclRights;
using VMLib::filesystem::SetFileInfo;

// Times with every 100-ns digit in use, all in the past and distinct.
constexpr FILETIME kCreation = {0x12345671u, 0x01D1ABCDu};
constexpr FILETIME kAccess = {0x76543219u, 0x01D2ABCDu};
constexpr FILETIME kWrite = {0x0ABCDEF3u, 0x01D3ABCDu};
const wchar_t kLeftOver[] = L"D:O:G: left over from another item";

uint64_t Ticks(const FILETIME& fileTime) {
  return (static_cast<uint64_t>(fileTime.dwHighDateTime) << 32) | fileTime.dwLowDateTime;
}

WIN32_FILE_ATTRIBUTE_DATA ReadAttributes(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  EXPECT_TRUE(::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data));
  return data;
}

WIN32_FIND_DATAW Record(DWORD attributes) {
  return {attributes, kCreation, kAccess, kWrite, /*nFileSizeHigh=*/0, /*nFileSizeLow=*/0, 0, 0, {}, {}};
}

// The parts of a descriptor a test selects; the SACL has a test of its own.
struct Parts {
  bool dacl, owner, group;
};

bool Has(const std::wstring& descriptor, const wchar_t* part) { return descriptor.find(part) != std::wstring::npos; }

class TempItems : public testing::Test {
protected:
  std::wstring MakeFile(const std::wstring& name) {
    test::WriteFileBytes(temp_ / name, "content");
    return Long(name);
  }
  std::wstring MakeFolder(const std::wstring& name) {
    test::MakeFolder(temp_ / name);
    return Long(name);
  }
  std::wstring Long(const std::wstring& name) const { return L"\\\\?\\" + (temp_ / name); }

  test::TempFolder temp_;
};
using FileInfo = TempItems;
using AclRights = TempItems;

// A file as the file system holds it; a drive root, which FindFirstFileW
// cannot describe but the plug-in asks for anyway; and a missing item, which
// fails and leaves the record untouched.
TEST_F(FileInfo, ReportsFilesAndDriveRootsAndFailsForMissingItems) {
  const std::wstring path = MakeFile(L"large.bin");
  {
    VMLib::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, /*share=*/0, /*security=*/nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, /*templateFile=*/nullptr));
    ASSERT_TRUE(file.valid());
    LARGE_INTEGER size;
    size.QuadPart = (5LL << 32) + 7; // sparse on the host file system, so cheap
    ASSERT_TRUE(::SetFilePointerEx(file.get(), size, /*newPosition=*/nullptr, FILE_BEGIN));
    ASSERT_TRUE(::SetEndOfFile(file.get()));
    ASSERT_TRUE(::SetFileTime(file.get(), &kCreation, &kAccess, &kWrite));
  }
  ASSERT_TRUE(::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  WIN32_FIND_DATAW data{};
  ASSERT_EQ(GetFileInfo(path.c_str(), data), 0u);
  const WIN32_FILE_ATTRIBUTE_DATA expected = ReadAttributes(path);
  EXPECT_EQ(data.dwFileAttributes, expected.dwFileAttributes);
  EXPECT_TRUE(data.dwFileAttributes & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(Ticks(data.ftCreationTime), Ticks(expected.ftCreationTime));
  EXPECT_EQ(Ticks(data.ftLastAccessTime), Ticks(kAccess));
  EXPECT_EQ(Ticks(data.ftLastWriteTime), Ticks(kWrite));
  EXPECT_EQ(data.nFileSizeHigh, 5u);
  EXPECT_EQ(data.nFileSizeLow, 7u);
  EXPECT_STREQ(data.cFileName, L"large.bin");

  const std::wstring root = L"\\\\?\\C:\\";
  ASSERT_EQ(GetFileInfo(root.c_str(), data), 0u);
  EXPECT_EQ(data.dwFileAttributes, ReadAttributes(root).dwFileAttributes);
  EXPECT_TRUE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  // Other tests create items in C:\ meanwhile, so its times can only be present.
  EXPECT_NE(Ticks(data.ftLastWriteTime), 0u);
  EXPECT_STREQ(data.cFileName, L"C:");

  std::memset(&data, 0xAB, sizeof(data));
  const WIN32_FIND_DATAW before = data;
  EXPECT_EQ(GetFileInfo(Long(L"missing").c_str(), data), static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(std::memcmp(&data, &before, sizeof(data)), 0);
  EXPECT_EQ(SetFileInfo(Long(L"missing").c_str(), Record(0)), static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
}

// An item that is or becomes read-only still gets exactly the record's times;
// a record's directory bit never reaches a file. Wine accepts a folder's
// read-only bit but does not keep it.
TEST_F(FileInfo, SetKeepsExactTimesOnReadOnlyFilesAndFolders) {
  for (const bool isFolder : {false, true}) {
    const std::wstring path = isFolder ? MakeFolder(L"folder") : MakeFile(L"file");
    ASSERT_TRUE(::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    const DWORD directory = isFolder ? FILE_ATTRIBUTE_DIRECTORY : 0;
    for (const DWORD attributes : {DWORD{FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN}, DWORD{0}}) {
      ASSERT_EQ(SetFileInfo(path.c_str(), Record(attributes | FILE_ATTRIBUTE_DIRECTORY)), 0u);
      const WIN32_FILE_ATTRIBUTE_DATA data = ReadAttributes(path);
      const DWORD observed = (isFolder ? 0 : FILE_ATTRIBUTE_READONLY) | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DIRECTORY;
      EXPECT_EQ(data.dwFileAttributes & observed, (attributes | directory) & observed) << "folder " << isFolder;
      EXPECT_EQ(Ticks(data.ftLastAccessTime), Ticks(kAccess));
      EXPECT_EQ(Ticks(data.ftLastWriteTime), Ticks(kWrite));
    }
  }
}

// Get gives only the selected parts, and nothing on failure; Set accepts what
// Get gave, for files and folders. No flag means no change whatever the text;
// a selected part the text lacks must not become a null DACL, which would
// grant everyone full access.
TEST_F(AclRights, GetGivesOnlyTheSelectedPartsAndSetAppliesOnlyThose) {
  const std::wstring file = MakeFile(L"file");
  const Parts selections[] = {{true, false, false}, {false, true, false}, {false, false, true},
                              {false, true, true},  {true, true, true},   {false, false, false}};
  for (const std::wstring& path : {file, MakeFolder(L"folder")}) {
    for (const auto& s : selections) {
      std::wstring descriptor = kLeftOver;
      ASSERT_EQ(GetAclRights(path, descriptor, s.dacl, s.owner, s.group, /*sacl=*/false), 0u);
      EXPECT_EQ(Has(descriptor, L"D:"), s.dacl) << descriptor;
      EXPECT_EQ(Has(descriptor, L"O:"), s.owner) << descriptor;
      EXPECT_EQ(Has(descriptor, L"G:"), s.group) << descriptor;
      EXPECT_EQ(SetAclRights(path, descriptor, s.dacl, s.owner, s.group, false), 0u) << descriptor;
    }
  }
  std::wstring descriptor = kLeftOver;
  EXPECT_EQ(GetAclRights(Long(L"missing"), descriptor, true, true, true, false),
            static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(descriptor, L"");

  EXPECT_EQ(SetAclRights(file, L"not a descriptor", false, false, false, false), 0u);
  EXPECT_NE(SetAclRights(file, L"not a descriptor", true, true, true, false), 0u);
  std::wstring ownerOnly;
  ASSERT_EQ(GetAclRights(file, ownerOnly, false, true, false, false), 0u);
  for (const Parts& lacking : {Parts{true, false, false}, Parts{false, false, true}}) {
    EXPECT_EQ(SetAclRights(file, ownerOnly, lacking.dacl, lacking.owner, lacking.group, false),
              static_cast<uint32_t>(ERROR_INVALID_SECURITY_DESCR));
  }
}

// Windows refuses the SACL to a process without SeSecurityPrivilege, but Wine
// refuses it only when it is asked for alone. For one test VMLib's import of
// GetNamedSecurityInfoW is pointed at a stand-in that refuses like Windows.
class SaclRefusal {
public:
  SaclRefusal() : slot_(ImportSlot(::GetModuleHandleW(L"VMLib.dll"), "GetNamedSecurityInfoW")) {
    if (slot_ != nullptr) original_ = Swap(reinterpret_cast<void*>(&Refuse));
  }
  ~SaclRefusal() {
    if (slot_ != nullptr) Swap(original_);
  }
  SaclRefusal(const SaclRefusal&) = delete;
  SaclRefusal& operator=(const SaclRefusal&) = delete;

private:
  static DWORD WINAPI Refuse(LPCWSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION parts, PSID* owner,
                             PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) {
    if (parts & SACL_SECURITY_INFORMATION) return ERROR_PRIVILEGE_NOT_HELD;
    return ::GetNamedSecurityInfoW(name, type, parts, owner, group, dacl, sacl, descriptor);
  }

  // The import address table entry through which `module` calls `function`.
  static void** ImportSlot(HMODULE module, const char* function) {
    auto* const base = reinterpret_cast<BYTE*>(module);
    const auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const DWORD imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    for (auto* library = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports); library->Name != 0; ++library) {
      auto* name = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->OriginalFirstThunk);
      auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
      for (; name->u1.AddressOfData != 0; ++name, ++slot) {
        if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal)) continue;
        const auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData);
        if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) == 0) {
          return reinterpret_cast<void**>(&slot->u1.Function);
        }
      }
    }
    return nullptr;
  }

  void* Swap(void* replacement) {
    DWORD protection = 0;
    EXPECT_TRUE(::VirtualProtect(slot_, sizeof(*slot_), PAGE_READWRITE, &protection));
    void* const previous = std::exchange(*slot_, replacement);
    ::VirtualProtect(slot_, sizeof(*slot_), protection, &protection);
    return previous;
  }

  void** slot_;
  void* original_ = nullptr;
};

// The refusal is reported, but the owner and the DACL must not be lost with it.
TEST_F(AclRights, GetKeepsTheOtherPartsWhenOnlyTheSaclIsRefused) {
  const std::wstring path = MakeFile(L"file");
  const SaclRefusal refusal;
  std::wstring descriptor;
  EXPECT_EQ(GetAclRights(path, descriptor, true, true, true, /*sacl=*/true),
            static_cast<uint32_t>(ERROR_PRIVILEGE_NOT_HELD));
  EXPECT_TRUE(Has(descriptor, L"D:") && Has(descriptor, L"O:") && Has(descriptor, L"G:")) << descriptor;
  std::wstring saclOnly = kLeftOver;
  EXPECT_EQ(GetAclRights(path, saclOnly, false, false, false, /*sacl=*/true),
            static_cast<uint32_t>(ERROR_PRIVILEGE_NOT_HELD));
  EXPECT_EQ(saclOnly, L"");
}

} // namespace
