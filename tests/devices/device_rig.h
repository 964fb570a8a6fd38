// What the device cases shared by the two USB backends need from the program
// that runs them: the library's exports (linked in, or loaded from the DLL)
// and the emulated bus (umockdev for libusb, the stand-in DLLs under wine).
//
// The bus: port 1 a kind-1 logger (high speed, serial MTR0001), port 2 a
// kind-2 device (full speed, serial MTR0002), port 3 a foreign device.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "MaltorUSBdrv.h"
#include "platform/sim/model/device_model.h"

namespace maltor::test {

// The exports the cases call.
struct Exports {
  decltype(&::DeviceIsReady) DeviceIsReady;
  decltype(&::GetConnected) GetConnected;
  decltype(&::CloseDevice) CloseDevice;
  decltype(&::SCGetFirmwareVersion) SCGetFirmwareVersion;
  decltype(&::SCSetHWSettings) SCSetHWSettings;
  decltype(&::SCUSBStartLiveData) SCUSBStartLiveData;
  decltype(&::SCUSBGetLiveData) SCUSBGetLiveData;
  decltype(&::SCSDRequestSendData) SCSDRequestSendData;
  decltype(&::SCSDStopSendData) SCSDStopSendData;
  decltype(&::SCUSBSendStreamData) SCUSBSendStreamData;
  decltype(&::SCReflashFile) SCReflashFile;
  decltype(&::ReflashStatusCallBack) ReflashStatusCallBack;
  decltype(&::UpdateLoggerFirmware) UpdateLoggerFirmware;
};

// Fills `exports` from a lookup of each name; false when one is missing.
template <typename Lookup>
bool find_exports(Exports& exports, Lookup lookup) {
  bool all = true;
  const auto get = [&](auto& field, const char* name) {
    field = reinterpret_cast<std::remove_reference_t<decltype(field)>>(lookup(name));
    all = all && field != nullptr;
  };
  get(exports.DeviceIsReady, "DeviceIsReady");
  get(exports.GetConnected, "GetConnected");
  get(exports.CloseDevice, "CloseDevice");
  get(exports.SCGetFirmwareVersion, "SCGetFirmwareVersion");
  get(exports.SCSetHWSettings, "SCSetHWSettings");
  get(exports.SCUSBStartLiveData, "SCUSBStartLiveData");
  get(exports.SCUSBGetLiveData, "SCUSBGetLiveData");
  get(exports.SCSDRequestSendData, "SCSDRequestSendData");
  get(exports.SCSDStopSendData, "SCSDStopSendData");
  get(exports.SCUSBSendStreamData, "SCUSBSendStreamData");
  get(exports.SCReflashFile, "SCReflashFile");
  get(exports.ReflashStatusCallBack, "ReflashStatusCallBack");
  get(exports.UpdateLoggerFirmware, "UpdateLoggerFirmware");
  return all;
}

enum class Port { kLogger, kSecond, kForeign };

class DeviceRig {
 public:
  virtual const Exports& api() = 0;
  // Every device plugged in with a fresh model, the library's table empty.
  virtual void fresh() = 0;
  virtual void plug(Port port) = 0;
  virtual void unplug(Port port) = 0;
  virtual void with_model(Port port, const std::function<void(sim::DeviceModel&)>& work) = 0;
  // From the next open on, reads move at most 16 KiB per request and end
  // early when one comes back short.
  virtual void split_transfers(Port port) = 0;
  // While on, the device's speed query fails (the device stays plugged in).
  virtual void break_speed_query(Port port, bool broken) = 0;
  // Whether the library holds the device's interface.
  virtual bool device_open(Port port) = 0;
  // Reads waiting on `endpoint` of the device.
  virtual int pending_reads(Port port, std::uint8_t endpoint) = 0;
  // A path for a file the library writes, in the host's form.
  virtual std::string scratch_file(const char* name) = 0;

 protected:
  ~DeviceRig() = default;
};

}  // namespace maltor::test
