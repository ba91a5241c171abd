// Control of the shadow-copy service double (target vssapi_double, built as
// vssapi.dll). The provider loads vssapi.dll from the system folder by full
// path, so a test installs the double there in its Wine prefix (run with
// WINEDLLOVERRIDES=vssapi=n), loads it from there itself, and asks that module
// for the control (VssServiceControlOf): the double's state then outlives the
// provider.
#pragma once

#include "vmlib/ScopedHandle.h"
#include "vmlib/WindowsApi.h"

class VssServiceControl {
public:
  // Forgets the script, the call counts, the writers and the images; snapshots
  // that exist stay.
  virtual void Reset() = 0;
  // The `nth` call of `call` (counted from 1 since Reset; 0: every call) fails
  // with `result`. For an asynchronous step, `result` is what its QueryStatus
  // reports: VSS_S_ASYNC_PENDING makes the step never finish, and
  // VSS_S_ASYNC_FINISHED keeps it pending until Cancel, which it loses to the
  // step finishing at that moment.
  virtual void Fail(const wchar_t* call, int nth, HRESULT result) = 0;
  // The next asynchronous `call` takes this long before it finishes.
  virtual void Slow(const wchar_t* call, DWORD milliseconds) = 0;
  // A writer on the system: GetWriterMetadata answers `metadata` for it (a
  // failure: its metadata cannot be read), and it fails at freeze with
  // `failure` unless that is S_OK.
  virtual void AddWriter(const wchar_t* name, HRESULT metadata, HRESULT failure) = 0;
  // Argument `index` (from 0) of the last call of SetContext or SetBackupState.
  virtual LONG Argument(const wchar_t* call, int index) = 0;
  // The folder that a snapshot of the volume mounted at `mountPoint` (C:\) shows
  // as its device object: the test's point-in-time image of that volume.
  virtual void SetImage(const wchar_t* mountPoint, const wchar_t* folder) = 0;
  // Calls of `call` since Reset, failed ones included.
  virtual int Calls(const wchar_t* call) = 0;
  // Snapshots that exist now, in every components object.
  virtual int LiveSnapshots() = 0;

protected:
  ~VssServiceControl() = default;
};

// The control of the double loaded as `module`, which lives as long as the
// module; null when `module` is not the double.
inline VssServiceControl* VssServiceControlOf(HMODULE module) {
  using ControlFn = VssServiceControl* (*)();
  const auto control = module != nullptr ? VMLib::GetFunction<ControlFn>(module, "VssDoubleControl") : nullptr;
  return control != nullptr ? control() : nullptr;
}
