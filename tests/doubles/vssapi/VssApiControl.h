// Control of the shadow-copy service double (target vssapi_double, built as
// vssapi.dll). The provider loads vssapi.dll from the system folder by full
// path, so a test installs the double there in its Wine prefix (run with
// WINEDLLOVERRIDES=vssapi=n), loads it from there itself, and resolves these
// exports from that module: the double's state then outlives the provider.
#pragma once

#include "vmlib/ScopedHandle.h"
#include "vmlib/WindowsApi.h"

extern "C" {
// Forgets the script, the call counts, the writers and the images; snapshots
// that exist stay.
typedef void (*VssDoubleResetFn)();
// The `nth` call of `call` (counted from 1 since Reset; 0: every call) fails
// with `result`. For an asynchronous step, `result` is what its QueryStatus
// reports: VSS_S_ASYNC_PENDING makes the step never finish, and
// VSS_S_ASYNC_FINISHED keeps it pending until Cancel, which it loses to the
// step finishing at that moment.
typedef void (*VssDoubleFailFn)(const wchar_t* call, int nth, HRESULT result);
// The next asynchronous `call` takes this long before it finishes.
typedef void (*VssDoubleSlowFn)(const wchar_t* call, DWORD milliseconds);
// A writer on the system: GetWriterMetadata answers `metadata` for it (a
// failure: its metadata cannot be read), and it fails at freeze with
// `failure` unless that is S_OK.
typedef void (*VssDoubleAddWriterFn)(const wchar_t* name, HRESULT metadata, HRESULT failure);
// Argument `index` (from 0) of the last call of SetContext or SetBackupState.
typedef LONG (*VssDoubleArgumentFn)(const wchar_t* call, int index);
// The folder that a snapshot of the volume mounted at `mountPoint` (C:\) shows
// as its device object: the test's point-in-time image of that volume.
typedef void (*VssDoubleSetImageFn)(const wchar_t* mountPoint, const wchar_t* folder);
// Calls of `call` since Reset, failed ones included.
typedef int (*VssDoubleCallsFn)(const wchar_t* call);
// Snapshots that exist now, in every components object.
typedef int (*VssDoubleLiveSnapshotsFn)();
}

struct VssServiceDouble {
  explicit VssServiceDouble(HMODULE module)
      : Reset(VMLib::GetFunction<VssDoubleResetFn>(module, "VssDoubleReset")),
        Fail(VMLib::GetFunction<VssDoubleFailFn>(module, "VssDoubleFail")),
        SetImage(VMLib::GetFunction<VssDoubleSetImageFn>(module, "VssDoubleSetImage")),
        Calls(VMLib::GetFunction<VssDoubleCallsFn>(module, "VssDoubleCalls")),
        LiveSnapshots(VMLib::GetFunction<VssDoubleLiveSnapshotsFn>(module, "VssDoubleLiveSnapshots")),
        Slow(VMLib::GetFunction<VssDoubleSlowFn>(module, "VssDoubleSlow")),
        AddWriter(VMLib::GetFunction<VssDoubleAddWriterFn>(module, "VssDoubleAddWriter")),
        Argument(VMLib::GetFunction<VssDoubleArgumentFn>(module, "VssDoubleArgument")) {}
  bool Resolved() const {
    return Reset && Fail && SetImage && Calls && LiveSnapshots && Slow && AddWriter && Argument;
  }

  VssDoubleResetFn Reset;
  VssDoubleFailFn Fail;
  VssDoubleSetImageFn SetImage;
  VssDoubleCallsFn Calls;
  VssDoubleLiveSnapshotsFn LiveSnapshots;
  VssDoubleSlowFn Slow;
  VssDoubleAddWriterFn AddWriter;
  VssDoubleArgumentFn Argument;
};
