// rawcopy SOURCE TARGET [--mapping-reads N]: copies a
// folder tree the way a plain Win32 program does, with no plug-in in between:
// CopyFileExW for each file, then its attributes and all three times; folders
// are created on the way down and get their own attributes and times once
// their contents are in place. The baseline of the copy benchmarks.
//
// The option adds work the plug-in does for each file, so the benchmark can
// show what it costs:
//   --mapping-reads N   N registry reads of a path mapping per file (a backup
//                       maps four paths per file: Open twice, QueryFileInfo
//                       to see that the source did not change, ApplyFileInfo)
#include <cstdint>
#include <exception>
#include <string>

#include "bench/PluginCosts.h"
#include "host/session/HostError.h"
#include "host/session/Output.h"
#include "host/session/Text.h"
#include "vmlib/VMLib.h"

namespace {

struct CopySettings {
  uint32_t mappingReads = 0;
};

struct CopyCounts {
  uint64_t files = 0;
  uint64_t folders = 0;
  uint64_t bytes = 0;
};

[[noreturn]] void Fail(const std::wstring& what, const std::wstring& path, DWORD error) {
  throw host::HostError(what + L" '" + path + L"': " + host::SystemErrorText(error));
}

// One open and one call for attributes and times together: the cheapest way
// Win32 offers, so the baseline is the best a Windows program can do.
void SetTimesAndAttributes(const std::wstring& path, const WIN32_FIND_DATAW& item, bool folder) {
  VMLib::UniqueFile file(::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       /*security=*/nullptr, OPEN_EXISTING,
                                       folder ? FILE_FLAG_BACKUP_SEMANTICS : 0, /*templateFile=*/nullptr));
  if (!file) {
    const DWORD error = ::GetLastError();
    Fail(L"cannot open", path, error);
  }
  FILE_BASIC_INFO basic = {};
  basic.CreationTime.LowPart = item.ftCreationTime.dwLowDateTime;
  basic.CreationTime.HighPart = static_cast<LONG>(item.ftCreationTime.dwHighDateTime);
  basic.LastAccessTime.LowPart = item.ftLastAccessTime.dwLowDateTime;
  basic.LastAccessTime.HighPart = static_cast<LONG>(item.ftLastAccessTime.dwHighDateTime);
  basic.LastWriteTime.LowPart = item.ftLastWriteTime.dwLowDateTime;
  basic.LastWriteTime.HighPart = static_cast<LONG>(item.ftLastWriteTime.dwHighDateTime);
  basic.FileAttributes = item.dwFileAttributes;
  if (!::SetFileInformationByHandle(file.get(), FileBasicInfo, &basic, sizeof(basic))) {
    const DWORD error = ::GetLastError();
    Fail(L"cannot set the attributes and times of", path, error);
  }
}

void CopyFolder(const std::wstring& source, const std::wstring& target, const WIN32_FIND_DATAW& folder,
                const CopySettings& settings, CopyCounts& counts) {
  if (!::CreateDirectoryW(target.c_str(), /*security=*/nullptr)) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_ALREADY_EXISTS) Fail(L"cannot create", target, error);
  }
  ++counts.folders;

  WIN32_FIND_DATAW data;
  VMLib::UniqueFind search(::FindFirstFileW((source + L"\\*").c_str(), &data));
  if (!search) {
    const DWORD error = ::GetLastError();
    Fail(L"cannot list", source, error);
  }
  for (;;) {
    const std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") {
      const std::wstring from = source + L"\\" + name;
      const std::wstring to = target + L"\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        CopyFolder(from, to, data, settings, counts);
      } else {
        for (uint32_t i = 0; i < settings.mappingReads; ++i) bench::ReadMappingRegistry();
        if (!::CopyFileExW(from.c_str(), to.c_str(), /*progress=*/nullptr, /*data=*/nullptr,
                           /*cancel=*/nullptr, /*flags=*/0)) {
          const DWORD error = ::GetLastError();
          Fail(L"cannot copy", from, error);
        }
        SetTimesAndAttributes(to, data, /*folder=*/false);
        ++counts.files;
        counts.bytes += (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
      }
    }
    if (!::FindNextFileW(search.get(), &data)) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_NO_MORE_FILES) break;
      Fail(L"cannot list", source, error);
    }
  }
  // Last, because creating the items inside changed the folder's write time.
  SetTimesAndAttributes(target, folder, /*folder=*/true);
}

WIN32_FIND_DATAW RootInfo(const std::wstring& source) {
  WIN32_FIND_DATAW data = {};
  const uint32_t status = VMLib::filesystem::GetFileInfo(source.c_str(), data);
  if (status != 0) Fail(L"cannot read", source, status);
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    throw host::HostError(L"'" + source + L"' is not a folder");
  }
  return data;
}

bool ParseSettings(int argc, wchar_t** argv, CopySettings& settings) {
  for (int i = 3; i < argc; ++i) {
    const std::wstring option = argv[i];
    if (option == L"--mapping-reads" && i + 1 < argc) {
      settings.mappingReads = static_cast<uint32_t>(std::stoul(argv[++i]));
    } else {
      return false;
    }
  }
  return true;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
  host::ConsoleOutput out(STD_OUTPUT_HANDLE);
  host::ConsoleOutput err(STD_ERROR_HANDLE);
  try {
    CopySettings settings;
    if (argc < 3 || !ParseSettings(argc, argv, settings)) {
      err.Write(L"usage: rawcopy SOURCE TARGET [--mapping-reads N]\n");
      return 2;
    }
    const std::wstring source = argv[1];
    const std::wstring target = argv[2];
    CopyCounts counts;
    CopyFolder(source, target, RootInfo(source), settings, counts);
    out.Write(L"files " + std::to_wstring(counts.files) + L" folders " + std::to_wstring(counts.folders) +
              L" bytes " + std::to_wstring(counts.bytes) + L"\n");
    return 0;
  } catch (const host::HostError& error) {
    err.Write(L"rawcopy: " + error.message() + L"\n");
  } catch (const std::exception& failure) {
    err.Write(L"rawcopy: " + host::FromUtf8(failure.what()) + L"\n");
  }
  return 1;
}
