// Stand-in setupapi.dll for tests under wine: discovery calls answered from
// the test program's emulated bus. Never installed.
#include "standin_bus.h"

using maltor::standin::bus;

namespace {

// Without a bus no set was ever handed out, so every other call meets an
// unknown one.
BOOL no_set() {
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

}  // namespace

extern "C" {

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* guid, PCSTR, HWND, DWORD flags) {
  if (bus() == nullptr) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return INVALID_HANDLE_VALUE;
  }
  return bus()->get_class_devs(guid, flags);
}

WINBOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA device) {
  return bus() != nullptr ? bus()->enum_device_info(set, index, device) : no_set();
}

WINBOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA device, const GUID* guid,
                                           DWORD index, PSP_DEVICE_INTERFACE_DATA data) {
  return bus() != nullptr ? bus()->enum_device_interfaces(set, device, guid, index, data)
                          : no_set();
}

WINBOOL WINAPI SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                                PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                                DWORD size, PDWORD required,
                                                PSP_DEVINFO_DATA device) {
  return bus() != nullptr ? bus()->get_interface_detail(set, data, detail, size, required, device)
                          : no_set();
}

WINBOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO set, PSP_DEVINFO_DATA device,
                                                 DWORD property, PDWORD type, PBYTE buffer,
                                                 DWORD size, PDWORD required) {
  return bus() != nullptr
             ? bus()->get_registry_property(set, device, property, type, buffer, size, required)
             : no_set();
}

WINBOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO set) {
  return bus() != nullptr ? bus()->destroy_info_list(set) : no_set();
}

CONFIGRET WINAPI CM_Get_Device_ID_Size(PULONG length, DEVINST instance, ULONG) {
  return bus() != nullptr ? bus()->get_device_id_size(length, instance) : CR_NO_SUCH_DEVNODE;
}

CONFIGRET WINAPI CM_Get_Device_IDA(DEVINST instance, PCHAR buffer, ULONG length, ULONG) {
  return bus() != nullptr ? bus()->get_device_id(instance, buffer, length) : CR_NO_SUCH_DEVNODE;
}

}  // extern "C"
