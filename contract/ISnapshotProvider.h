// Interface of the shadow-copy provider libraries (vsnp_xp.dll, vsnp_2003.dll).
// The library exports `GetInterface`, which returns a new provider object; the
// object belongs to the library and is released with Destroy(1). Slot order is
// a binary contract with every provider: do not reorder.
#pragma once

#include <cstdint>
#include <list>
#include <string>

#include <boost/function.hpp>

// Thrown by pointer from StartSnapshotSet, AddVolume, CreateSnapshots and
// ReleaseSnapshots. The catcher frees it with a plain `delete` of this type,
// so providers throw objects allocated with the shared runtime's `new` whose
// own destructor has nothing to do.
class IVssException {
public:
  virtual const wchar_t* GetText() = 0;
  // The HRESULT of the failing call.
  virtual int32_t GetErrorCode() = 0;
};

// Frees a caught exception the way every provider expects: a plain delete of
// the interface type (its objects have nothing to destroy of their own).
inline void FreeVssException(IVssException* exception) {
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdelete-non-virtual-dtor"
#endif
  delete exception;
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
}

typedef boost::function<void(const wchar_t*)> SnapshotMessageCallback;

class ISnapshotProvider {
public:
  // Introspection and tuning, for hosts and tools that want them.
  virtual const wchar_t* GetProviderName() = 0;
  virtual uint32_t GetProviderVersion() = 0;
  // True when the volume (a mount point ending in "\") can be snapshotted.
  virtual bool IsVolumeSupported(const wchar_t* volume) = 0;
  // Snapshots of the current set.
  virtual uint32_t GetSnapshotCount() = 0;
  virtual bool GetSnapshotVolume(uint32_t index, std::wstring& volume) = 0;
  virtual bool GetSnapshotDevice(uint32_t index, std::wstring& device) = 0;
  virtual bool GetSnapshotId(uint32_t index, std::wstring& id) = 0;
  virtual bool GetSnapshotSetId(std::wstring& id) = 0;
  // Time limit of each asynchronous shadow-copy operation.
  virtual void SetTimeout(uint32_t milliseconds) = 0;
  virtual uint32_t GetTimeout() = 0;
  // Attempts when the service reports that another snapshot set is in progress.
  virtual void SetRetryCount(uint32_t attempts) = 0;
  virtual uint32_t GetRetryCount() = 0;
  // Whether writers are asked to prepare (application-consistent snapshots).
  virtual void SetIncludeWriters(bool include) = 0;
  virtual uint32_t GetWriterCount() = 0;
  virtual bool GetWriterName(uint32_t index, std::wstring& name) = 0;
  virtual int32_t GetLastHResult() = 0;
  virtual bool IsSnapshotSetInProgress() = 0;
  // Drops a set that was started but not created.
  virtual void AbortSnapshotSet() = 0;

  // The entries the plug-in calls.
  virtual void Destroy(int flags) = 0;
  // 0 when the provider can work; anything else means it cannot.
  virtual int32_t Initialize() = 0;
  virtual void StartSnapshotSet() = 0;
  virtual bool AddVolume(const wchar_t* volume) = 0;
  // One snapshot root per volume, in the order of `volumes`.
  virtual void CreateSnapshots(const std::list<std::wstring>& volumes,
                               std::list<std::wstring>& snapshotRoots) = 0;
  // true: the backup completed, false: a read from the snapshot failed.
  virtual void ReleaseSnapshots(bool completed) = 0;
  // The provider keeps a copy of the callable.
  virtual void SetMessageCallback(const SnapshotMessageCallback& callback) = 0;

protected:
  ~ISnapshotProvider() = default;
};

typedef ISnapshotProvider* (*GetInterfaceFn)();
