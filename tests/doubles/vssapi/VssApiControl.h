// Control of the shadow-copy service double (target vssapi_double, built as
// vssapi.dll). The provider loads vssapi.dll from the system folder by full
// path, so a test installs the double there in its Wine prefix (run with
// WINEDLLOVERRIDES=vssapi=n), loads it from there itself, and resolves these
// exports from that module: the double's state then outlives the provider.
#pragma once

#include "vmlib/ScopedHandle.h"
#include "vmlib/WindowsApi.h"

extern "C" {
// Forgets the script, the call counts and the images; snapshots that exist stay.
typedef void (*VssDoubleResetFn)();
// The `nth` call of `call` (counted from 1 since Reset) fails with `result`;
// for an asynchronous step, `result` is what its QueryStatus reports, and
// VSS_S_ASYNC_PENDING makes the step never finish.
typedef void (*VssDoubleFailFn)(const wchar_t* call, int nth, HRESULT result);
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
        LiveSnapshots(VMLib::GetFunction<VssDoubleLiveSnapshotsFn>(module, "VssDoubleLiveSnapshots")) {}
  bool Resolved() const { return Reset && Fail && SetImage && Calls && LiveSnapshots; }

  VssDoubleResetFn Reset;
  VssDoubleFailFn Fail;
  VssDoubleSetImageFn SetImage;
  VssDoubleCallsFn Calls;
  VssDoubleLiveSnapshotsFn LiveSnapshots;
};
