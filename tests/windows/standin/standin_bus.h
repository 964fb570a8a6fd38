// What the stand-in winusb.dll and setupapi.dll pass on: every call the
// library makes into either goes to one Bus object that the test program
// hosting the emulated devices provides. The program exports a function
// named kBusEntryName that returns it; a program without one sees no devices.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// The stand-ins define these functions, so their headers must not declare
// them as imported.
#define _SETUPAPI_
#define _CFGMGR32_
#include <windows.h>
// windows.h first: the other headers build on its types.
#include <cfgmgr32.h>
#include <setupapi.h>
#include <winusb.h>

namespace maltor::standin {

class Bus {
 public:
  // ---- SetupAPI and the configuration manager ----
  virtual HDEVINFO get_class_devs(const GUID* guid, DWORD flags) = 0;
  virtual BOOL enum_device_info(HDEVINFO set, DWORD index, SP_DEVINFO_DATA* device) = 0;
  virtual BOOL enum_device_interfaces(HDEVINFO set, SP_DEVINFO_DATA* device, const GUID* guid,
                                      DWORD index, SP_DEVICE_INTERFACE_DATA* data) = 0;
  virtual BOOL get_interface_detail(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data,
                                    SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail, DWORD size,
                                    DWORD* required, SP_DEVINFO_DATA* device) = 0;
  virtual BOOL get_registry_property(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property,
                                     DWORD* type, BYTE* buffer, DWORD size, DWORD* required) = 0;
  virtual BOOL destroy_info_list(HDEVINFO set) = 0;
  virtual CONFIGRET get_device_id_size(ULONG* length, DEVINST instance) = 0;
  virtual CONFIGRET get_device_id(DEVINST instance, char* buffer, ULONG length) = 0;

  // ---- WinUSB ----
  virtual BOOL initialize(HANDLE file, WINUSB_INTERFACE_HANDLE* usb) = 0;
  virtual BOOL free(WINUSB_INTERFACE_HANDLE usb) = 0;
  virtual BOOL query_device_information(WINUSB_INTERFACE_HANDLE usb, ULONG type, ULONG* length,
                                        void* buffer) = 0;
  virtual BOOL query_interface_settings(WINUSB_INTERFACE_HANDLE usb, UCHAR alternate,
                                        USB_INTERFACE_DESCRIPTOR* descriptor) = 0;
  virtual BOOL set_pipe_policy(WINUSB_INTERFACE_HANDLE usb, UCHAR pipe, ULONG type, ULONG length,
                               void* value) = 0;
  virtual BOOL read_pipe(WINUSB_INTERFACE_HANDLE usb, UCHAR pipe, UCHAR* buffer, ULONG length,
                         ULONG* moved, OVERLAPPED* overlapped) = 0;
  virtual BOOL write_pipe(WINUSB_INTERFACE_HANDLE usb, UCHAR pipe, const UCHAR* data, ULONG length,
                          ULONG* moved, OVERLAPPED* overlapped) = 0;
  virtual BOOL abort_pipe(WINUSB_INTERFACE_HANDLE usb, UCHAR pipe) = 0;

 protected:
  ~Bus() = default;
};

using BusEntry = Bus* (*)();
inline constexpr char kBusEntryName[] = "maltor_standin_bus";

// The program's bus, looked up once; null when the program has none.
inline Bus* bus() {
  static Bus* const found = [] {
    const FARPROC entry = GetProcAddress(GetModuleHandleA(nullptr), kBusEntryName);
    return entry != nullptr ? reinterpret_cast<BusEntry>(reinterpret_cast<void*>(entry))()
                            : nullptr;
  }();
  return found;
}

}  // namespace maltor::standin
