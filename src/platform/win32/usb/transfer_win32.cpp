// Overlapped pipe transfers: each runs on an OVERLAPPED inside the caller's
// IoRecord, with an event of its own, and is waited on or polled through
// GetOverlappedResult on the device's file handle.
#include "platform/win32/usb/win32_usb.h"

namespace maltor::platform {

using win32::overlapped_of;
using win32::to_handle;
using win32::to_usb;

void io_open(IoRecord& io, bool manual_reset) {
  OVERLAPPED& overlapped = win32::start_overlapped(io);
  overlapped.hEvent = CreateEventA(nullptr, manual_reset ? TRUE : FALSE, FALSE, nullptr);
  // Reset once more after creation, as the live-data read does; harmless for
  // every other transfer.
  if (overlapped.hEvent != nullptr) ResetEvent(overlapped.hEvent);
}

void io_close(IoRecord& io) {
  OVERLAPPED& overlapped = overlapped_of(io);
  if (overlapped.hEvent != nullptr) CloseHandle(overlapped.hEvent);
  overlapped.hEvent = nullptr;
}

namespace {

IoStatus started(BOOL ok, ULONG moved, std::uint32_t* count) {
  const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
  *count = moved;
  return ok ? IoStatus::kDone : win32::io_status_from_error(error);
}

}  // namespace

IoStatus backend::pipe_write_async(Handle usb, std::uint8_t pipe, const std::uint8_t* data,
                                   std::uint32_t length, IoRecord& io, std::uint32_t* count) {
  ULONG moved = 0;
  // WinUsb_WritePipe only reads the buffer, though its parameter is not const.
  const BOOL ok = WinUsb_WritePipe(to_usb(usb), pipe, const_cast<PUCHAR>(data), length, &moved,
                                   &overlapped_of(io));
  return started(ok, moved, count);
}

IoStatus backend::pipe_read_async(Handle usb, std::uint8_t pipe, std::uint8_t* buffer,
                                  std::uint32_t length, IoRecord& io, std::uint32_t* count) {
  ULONG moved = 0;
  const BOOL ok = WinUsb_ReadPipe(to_usb(usb), pipe, buffer, length, &moved, &overlapped_of(io));
  return started(ok, moved, count);
}

bool backend::io_wait(IoRecord& io, std::uint32_t timeout_ms) {
  return WaitForSingleObject(overlapped_of(io).hEvent, timeout_ms) == WAIT_OBJECT_0;
}

IoStatus backend::io_result(Handle file, IoRecord& io, bool wait, std::uint32_t* count) {
  DWORD moved = 0;
  if (GetOverlappedResult(to_handle(file), &overlapped_of(io), &moved, wait ? TRUE : FALSE)) {
    *count = moved;
    return IoStatus::kDone;
  }
  const DWORD error = GetLastError();
  *count = 0;
  return win32::io_status_from_error(error);
}

bool backend::pipe_abort(Handle usb, std::uint8_t pipe) {
  return WinUsb_AbortPipe(to_usb(usb), pipe) != FALSE;
}

void cancel_io(Handle file) {
  CancelIo(to_handle(file));
}

}  // namespace maltor::platform
