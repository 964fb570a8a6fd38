// libFuzzer harness: every operation family against a virtual device whose
// replies, or stream packets, come from the fuzzer's input. Built twice:
// MALTOR_FUZZ_STREAM unset scripts the command replies (any bytes, empty,
// short or oversize), set it queues the input as stream IN packets for the
// sector download and live data. No input may crash, hang, leak or read or
// write out of bounds.
//
// Input: byte 0 picks the device kind, byte 1 the operation family, the rest
// is the reply script (16-bit length, bytes; repeated) or the stream packets
// (8-bit length, bytes; repeated).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "MaltorUSBdrv.h"
#include "MaltorUSBdrv_sim.h"
#include "sim/virtual_bus.h"

namespace {

const std::string& scratch(const char* name) {
  static const std::string folder = [] {
    char path[] = "/tmp/maltor_fuzz_XXXXXX";
    const char* made = mkdtemp(path);
    return std::string(made != nullptr ? made : "/tmp");
  }();
  static std::string paths[4];
  static int next = 0;
  std::string& path = paths[next++ % 4];
  path = folder + "/" + name;
  return path;
}

void MALTOR_CALL ignore_progress(uint32_t) {}

void run_family(std::uint8_t family) {
  std::uint8_t block[512] = {};
  std::uint32_t w[8] = {};
  std::uint16_t h = 0, h2 = 0;
  std::uint8_t b1 = 0, b2 = 0, b3 = 0;
  char text[32] = {};
  switch (family % 9) {
    case 0:  // identity and versions
      SCGetSerialNumber(block);
      GetFirmwareVersion(text);
      SCGetFirmwareVersion(&h, &b1, &b2, &b3);
      GetConfigurationInfo(block);
      GetMaltorInfo(&b1, &w[0]);
      break;
    case 1:  // clock and settings
      SCGetDateTime(&w[0]);
      SCSetDateTime(w[0]);
      SCGetHWSettings(block);
      GetSingleHWSetting(1, &h);
      break;
    case 2:  // catalogue and Mirel queries
      SCSDLogCount(&h);
      SCSDLogInfo(1, &w[0], &w[1], &w[2], &w[3], &w[4], &w[5], &w[6], block, block + 16, &b1);
      SCSDCurrentSector(&w[0]);
      MirelGetLogCount(&h, &h2);
      MirelGetDescriptorInfo(2, block);
      break;
    case 3:  // Mirel log file
      MirelGetFirstLogFile(1, 700, scratch("log.txt").c_str());
      break;
    case 4: {  // CAN
      MaltorCanMessage message{};
      message.bus = 1;
      message.length = 8;
      CANTx(&message);
      message.receive_timeout = 300;
      CANRx(&h, &message);
      CANBusCount(&b1);
      CANBusOpen(&w[0], 1, 0);
      break;
    }
    case 5:  // sector download
      SCSDRequestSendData(scratch("sectors.bin").c_str(), 3, 70);
      SCSDStopSendData();
      break;
    case 6:  // live data
      SCUSBStartLiveData(1);
      for (int i = 0; i < 4; ++i) SCUSBGetLiveData(0, block);
      SCUSBStopLiveData(1);
      break;
    case 7: {  // data-processor configuration, both ways
      const std::string image = scratch("config.bin");
      if (std::FILE* file = std::fopen(image.c_str(), "wb")) {
        std::fwrite(block, 1, 200, file);
        std::fclose(file);
      }
      SCConfigFileData(scratch("config_back.bin").c_str());
      // The reflash runs the same file-transfer exchange over a fixed 512 KiB
      // image, too slow to fuzz; the configuration sends a short file.
      SCReconfigureFile(image.c_str(), &h);
      break;
    }
    default: {  // both firmware updates and the gateway configuration
      const std::string image = scratch("firmware.bin");
      if (std::FILE* file = std::fopen(image.c_str(), "wb")) {
        std::fwrite(block, 1, 300, file);
        std::fclose(file);
      }
      ReflashStatusCallBack(ignore_progress);
      if (UpdateLoggerFirmware(image.c_str(), scratch("progress.log").c_str()) == MALTOR_OK) {
        MaltorWaitForUpdate(60000);
      }
      if (UpdateFirmware(image.c_str(), scratch("progress.log").c_str()) == MALTOR_OK) {
        MaltorWaitForUpdate(60000);
      }
      SendTaloqConfiguration(nullptr, 100, block);
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2 || size > 70000) return 0;
  static constexpr std::uint8_t kKinds[] = {1, 2, 3, 5};
  CloseDevice();
  MaltorSim_Reset();
  const std::int32_t id = MaltorSim_Plug(kKinds[data[0] % 4], MALTOR_SIM_HIGH_SPEED, -1);
  if (id <= 0 || DeviceIsReady() == 0) return 0;
  MaltorSim_SetRestartTime(id, 0);
  const std::uint8_t* rest = data + 2;
  const auto left = static_cast<std::uint32_t>(size - 2);
#ifdef MALTOR_FUZZ_STREAM
  for (std::uint32_t at = 0; at < left;) {
    const std::uint32_t n = rest[at++];
    const std::uint32_t take = n < left - at ? n : left - at;
    if (take > 0) MaltorSim_SendLiveData(id, rest + at, take);
    at += take;
  }
#else
  {
    maltor::sim::VirtualBus& bus = maltor::sim::VirtualBus::get();
    const std::lock_guard held(bus.lock);
    bus.by_id(id)->model.script_replies(rest, left);
  }
#endif
  run_family(data[1]);
  {
    // The script is the fuzzer's memory: the device must not keep it.
    maltor::sim::VirtualBus& bus = maltor::sim::VirtualBus::get();
    const std::lock_guard held(bus.lock);
    if (maltor::sim::VirtualDevice* device = bus.by_id(id))
      device->model.script_replies(nullptr, 0);
  }
  return 0;
}
