// Synchronous pipe transfers (no OVERLAPPED) and the pipe timeout that bounds
// them.
#include "platform/win32/usb/win32_usb.h"

namespace maltor::platform {

using win32::to_usb;

bool set_pipe_timeout(Handle usb, std::uint8_t pipe, std::uint32_t timeout_ms) {
  ULONG value = timeout_ms;
  return WinUsb_SetPipePolicy(to_usb(usb), pipe, PIPE_TRANSFER_TIMEOUT, sizeof value, &value) !=
         FALSE;
}

bool backend::pipe_read_sync(Handle usb, std::uint8_t pipe, std::uint8_t* buffer,
                             std::uint32_t length, std::uint32_t* count) {
  ULONG moved = 0;
  const BOOL ok = WinUsb_ReadPipe(to_usb(usb), pipe, buffer, length, &moved, nullptr);
  *count = moved;
  return ok != FALSE;
}

bool backend::pipe_write_sync(Handle usb, std::uint8_t pipe, const std::uint8_t* data,
                              std::uint32_t length, std::uint32_t* count) {
  ULONG moved = 0;
  // WinUsb_WritePipe only reads the buffer, though its parameter is not const.
  const BOOL ok =
      WinUsb_WritePipe(to_usb(usb), pipe, const_cast<PUCHAR>(data), length, &moved, nullptr);
  *count = moved;
  return ok != FALSE;
}

}  // namespace maltor::platform
