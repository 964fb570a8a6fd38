// Stand-in winusb.dll for tests under wine: the WinUSB calls the library
// makes, answered by the test program's emulated devices. Never installed.
#include "standin_bus.h"

using maltor::standin::bus;

namespace {

BOOL no_bus() {
  SetLastError(ERROR_NOT_SUPPORTED);
  return FALSE;
}

}  // namespace

extern "C" {

WINBOOL WINAPI WinUsb_Initialize(HANDLE file, PWINUSB_INTERFACE_HANDLE usb) {
  return bus() != nullptr ? bus()->initialize(file, usb) : no_bus();
}

WINBOOL WINAPI WinUsb_Free(WINUSB_INTERFACE_HANDLE usb) {
  return bus() != nullptr ? bus()->free(usb) : no_bus();
}

WINBOOL WINAPI WinUsb_QueryDeviceInformation(WINUSB_INTERFACE_HANDLE usb, ULONG type, PULONG length,
                                             PVOID buffer) {
  return bus() != nullptr ? bus()->query_device_information(usb, type, length, buffer) : no_bus();
}

WINBOOL WINAPI WinUsb_QueryInterfaceSettings(WINUSB_INTERFACE_HANDLE usb, UCHAR alternate,
                                             PUSB_INTERFACE_DESCRIPTOR descriptor) {
  return bus() != nullptr ? bus()->query_interface_settings(usb, alternate, descriptor) : no_bus();
}

WINBOOL WINAPI WinUsb_SetPipePolicy(WINUSB_INTERFACE_HANDLE usb, UCHAR pipe, ULONG type,
                                    ULONG length, PVOID value) {
  return bus() != nullptr ? bus()->set_pipe_policy(usb, pipe, type, length, value) : no_bus();
}

WINBOOL WINAPI WinUsb_ReadPipe(WINUSB_INTERFACE_HANDLE usb, UCHAR pipe, PUCHAR buffer, ULONG length,
                               PULONG moved, LPOVERLAPPED overlapped) {
  return bus() != nullptr ? bus()->read_pipe(usb, pipe, buffer, length, moved, overlapped)
                          : no_bus();
}

WINBOOL WINAPI WinUsb_WritePipe(WINUSB_INTERFACE_HANDLE usb, UCHAR pipe, PUCHAR data, ULONG length,
                                PULONG moved, LPOVERLAPPED overlapped) {
  return bus() != nullptr ? bus()->write_pipe(usb, pipe, data, length, moved, overlapped)
                          : no_bus();
}

WINBOOL WINAPI WinUsb_AbortPipe(WINUSB_INTERFACE_HANDLE usb, UCHAR pipe) {
  return bus() != nullptr ? bus()->abort_pipe(usb, pipe) : no_bus();
}

}  // extern "C"
