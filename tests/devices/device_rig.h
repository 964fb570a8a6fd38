// What the device cases shared by the two USB backends need from the program
// that runs them: the library's exports (linked in, or loaded from the DLL)
// and the emulated bus (umockdev for libusb, the stand-in DLLs under wine).
//
// The bus: port 1 a kind-1 logger (high speed, serial MTR0001), port 2 a
// kind-2 device (full speed, serial MTR0002), port 3 a foreign device.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "MaltorUSBdrv.h"
#include "sim/model/device_model.h"

namespace maltor::test {

// The exports the cases call, each as X(name).
#define MALTOR_DEVICE_CASE_EXPORTS(X) \
  X(DeviceIsReady)                    \
  X(GetConnected)                     \
  X(CloseDevice)                      \
  X(SCGetFirmwareVersion)             \
  X(SCSetHWSettings)                  \
  X(SCUSBStartLiveData)               \
  X(SCUSBGetLiveData)                 \
  X(SCSDRequestSendData)              \
  X(SCSDStopSendData)                 \
  X(SCUSBSendStreamData)              \
  X(SCReflashFile)                    \
  X(ReflashStatusCallBack)            \
  X(UpdateLoggerFirmware)             \
  X(MaltorWaitForUpdate)              \
  X(MaltorListDevices)                \
  X(MaltorSelectDevice)               \
  X(MaltorGetLastError)

struct Exports {
#define MALTOR_EXPORT_FIELD(name) decltype(&::name) name;
  MALTOR_DEVICE_CASE_EXPORTS(MALTOR_EXPORT_FIELD)
#undef MALTOR_EXPORT_FIELD
};

// Fills `exports` from a lookup of each name; false when one is missing.
template <typename Lookup>
bool find_exports(Exports& exports, Lookup lookup) {
  bool all = true;
#define MALTOR_EXPORT_FIND(name)                                     \
  exports.name = reinterpret_cast<decltype(&::name)>(lookup(#name)); \
  all = all && exports.name != nullptr;
  MALTOR_DEVICE_CASE_EXPORTS(MALTOR_EXPORT_FIND)
#undef MALTOR_EXPORT_FIND
  return all;
}

enum class Port { kLogger, kSecond, kForeign };

// The first bytes of a frame the device took on its command pipe: sequence,
// length (two bytes, least significant first) and command code.
using FrameHead = std::array<std::uint8_t, 4>;

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
  // The frames the device took on its command pipe since fresh(), oldest first.
  virtual std::vector<FrameHead> frames_written(Port port) = 0;

 protected:
  ~DeviceRig() = default;
};

using Clock = std::chrono::steady_clock;

inline long elapsed_ms(Clock::time_point since) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

// Polls `done` until it holds or `limit_ms` of real time passed: for what
// another thread or the bus brings about.
template <typename Done>
bool eventually(Done done, long limit_ms = 3000) {
  const Clock::time_point start = Clock::now();
  while (!done()) {
    if (elapsed_ms(start) > limit_ms) return false;
    std::this_thread::yield();
  }
  return true;
}

struct Firmware {
  std::uint8_t result = 0xFF;
  std::uint16_t word = 0;
  std::uint8_t bytes[3] = {};
};

inline Firmware firmware(const Exports& api) {
  Firmware out;
  out.result = api.SCGetFirmwareVersion(&out.word, &out.bytes[0], &out.bytes[1], &out.bytes[2]);
  return out;
}

// A choice no device answers to releases every device the library holds;
// clearing it leaves discovery free to find them all again.
inline void release_every_device(const Exports& api) {
  api.MaltorSelectDevice("no device has this id");
  api.MaltorSelectDevice(nullptr);
}

}  // namespace maltor::test
