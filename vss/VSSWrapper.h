// Reads of locked files through a shadow copy of their volume. The provider
// library is chosen by Windows version and loaded on the first locked file,
// never at construction. The wrapper does not log: it keeps the text of its
// last failure for the caller to report once.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "vmlib/WindowsApi.h"
#include "contract/ISnapshotProvider.h"

class VSSWrapper {
public:
  VSSWrapper();
  virtual ~VSSWrapper();
  VSSWrapper(const VSSWrapper&) = delete;
  VSSWrapper& operator=(const VSSWrapper&) = delete;

  // Chooses, loads and initialises the provider library. Afterwards `module`
  // and `provider` are both set or both null; a failure's reason is stored.
  void Load();

  // A handle open for reading on the file's copy in a snapshot of its volume,
  // or INVALID_HANDLE_VALUE with the reason in GetLastErrorText(). The volume
  // is the one that holds the file once junctions and links are resolved. No
  // exception of the provider's leaves here except one from creating a set
  // that is not an IVssException. The handle belongs to the caller.
  HANDLE OpenSnapshotFile(const std::wstring& path);

  // 0 when a snapshot of the path's volume is ready (made now or reused),
  // 1 on a failure whose reason is stored, 6 when the provider refused the volume.
  uint32_t CreateSnapshot(const std::wstring& path);

  void SetError(const wchar_t* format, ...);
  // As SetError, with the thread's last-error value and its description appended.
  void SetSystemError(const wchar_t* format, ...);
  std::wstring GetLastErrorText() const;

  // Sink of the provider's progress texts: standard error, never the host's log.
  void OnLibraryMessage(const wchar_t* text);

private:
  // Empties `snapshots`, then releases them in the provider; an IVssException
  // that it throws is sent to OnLibraryMessage and freed.
  void DropSnapshots(bool completed);
  void Unload();

  std::map<std::wstring, std::wstring> snapshots; // mount point -> snapshot root
  HMODULE module;
  ISnapshotProvider* provider;
  std::wstring lastError;
};
