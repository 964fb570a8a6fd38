// Windows: the device must be present with its USB device interface, and
// WinUSB must be its driver, for the library to open it.
#include <windows.h>
// The interface class GUID is defined in this file, not taken from a library.
#include <cfgmgr32.h>
#include <initguid.h>
#include <setupapi.h>
#include <usbiodef.h>

#include <cctype>
#include <string>

#include "doctor.h"

namespace maltor::tool {

namespace {

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string instance_id(const SP_DEVINFO_DATA& device) {
  char id[MAX_DEVICE_ID_LEN + 1] = {};
  if (CM_Get_Device_IDA(device.DevInst, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) return "";
  return id;
}

std::string driver_service(HDEVINFO set, SP_DEVINFO_DATA& device) {
  char service[256] = {};
  if (!SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_SERVICE, nullptr,
                                         reinterpret_cast<BYTE*>(service), sizeof service - 1,
                                         nullptr)) {
    return "";
  }
  return service;
}

bool has_usb_interface(HDEVINFO set, SP_DEVINFO_DATA& device) {
  SP_DEVICE_INTERFACE_DATA interface_data{};
  interface_data.cbSize = sizeof interface_data;
  return SetupDiEnumDeviceInterfaces(set, &device, &GUID_DEVINTERFACE_USB_DEVICE, 0,
                                     &interface_data) != FALSE;
}

}  // namespace

std::vector<DoctorCheck> host_usb_checks() {
  std::vector<DoctorCheck> checks;
  DoctorCheck present{"devices", CheckStatus::kOk, "", ""};
  // Every present USB device, whatever its driver, so that one without the
  // interface is found too.
  HDEVINFO set = SetupDiGetClassDevsA(nullptr, "USB", nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
  if (set != INVALID_HANDLE_VALUE) {
    for (DWORD index = 0;; ++index) {
      SP_DEVINFO_DATA device{};
      device.cbSize = sizeof device;
      if (!SetupDiEnumDeviceInfo(set, index, &device)) break;
      const std::string id = instance_id(device);
      if (upper(id).find("VID_4D54") == std::string::npos) continue;
      present.found += (present.found.empty() ? "" : ", ") + id;
      DoctorCheck usb_interface{"interface of " + id, CheckStatus::kOk, "present", ""};
      if (!has_usb_interface(set, device)) {
        usb_interface.status = CheckStatus::kFailed;
        usb_interface.found = "the device has no USB device interface";
        usb_interface.fix =
            "replug the device; if it stays, reinstall its driver in Device Manager";
      }
      checks.push_back(usb_interface);
      const std::string service = driver_service(set, device);
      DoctorCheck driver{"driver of " + id, CheckStatus::kOk, "WinUSB", ""};
      if (upper(service) != "WINUSB") {
        driver.status = CheckStatus::kFailed;
        driver.found = service.empty() ? "no driver installed" : service + ", not WinUSB";
        driver.fix =
            "install WinUSB for the device (Device Manager: Update driver, or the "
            "maker's driver package)";
      }
      checks.push_back(driver);
    }
    SetupDiDestroyDeviceInfoList(set);
  }
  if (present.found.empty()) {
    present.status = CheckStatus::kFailed;
    present.found = "no Maltor device (USB vendor 4D54) present";
    present.fix = "plug the device in and switch it on; try another cable or port";
  }
  checks.insert(checks.begin(), present);
  return checks;
}

}  // namespace maltor::tool
