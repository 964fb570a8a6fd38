// Shared pieces of the WinUSB backend: the Windows headers in the order they
// need, the conversions between the core's 64-bit handle values and the
// system's handles, the OVERLAPPED kept inside an IoRecord, and the mapping of
// system errors to IoStatus.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// windows.h first: the USB headers build on its types.
#include <winusb.h>

#include <cstdint>
#include <new>

#include "platform/usb.h"

namespace maltor::platform::win32 {

// Handles travel through the core as raw 64-bit values. INVALID_HANDLE_VALUE
// is all bits set, which is exactly kInvalidHandle.
inline Handle from_handle(HANDLE handle) {
  return static_cast<Handle>(reinterpret_cast<std::uintptr_t>(handle));
}
inline HANDLE to_handle(Handle handle) {
  return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(handle));
}
inline WINUSB_INTERFACE_HANDLE to_usb(Handle handle) {
  return reinterpret_cast<WINUSB_INTERFACE_HANDLE>(static_cast<std::uintptr_t>(handle));
}

// What an IoRecord holds on Windows: the OVERLAPPED of one transfer, whose
// hEvent is the transfer's completion event.
struct OverlappedIo {
  OVERLAPPED overlapped;
};
static_assert(sizeof(OverlappedIo) <= sizeof(IoRecord), "OVERLAPPED must fit an IoRecord");
static_assert(alignof(OverlappedIo) <= alignof(IoRecord), "IoRecord must align an OVERLAPPED");

// Starts the record's life as a zeroed OVERLAPPED.
inline OVERLAPPED& start_overlapped(IoRecord& io) {
  return (new (io.opaque) OverlappedIo{})->overlapped;
}
inline OVERLAPPED& overlapped_of(IoRecord& io) {
  return std::launder(reinterpret_cast<OverlappedIo*>(io.opaque))->overlapped;
}

// The system error of a failed call as the core distinguishes it.
IoStatus io_status_from_error(DWORD error);

}  // namespace maltor::platform::win32
