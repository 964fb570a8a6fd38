// Shared pieces of the firmware update and gateway configuration tests:
// scratch files, a recording status callback, the frames on the wire and a
// virtual wall clock set to a known second.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "sim_fixture.h"

namespace maltor::test {

// Every header written in these tests shows this time: Thu Jun  4 12:00:00 2026.
inline constexpr std::int64_t kStartSecond = 1'780'574'400;
inline constexpr char kStartTime[] = "Thu Jun  4 12:00:00 2026";

// Records every progress value the status callback receives; `hook` runs
// after each one on the update thread.
struct ProgressRecorder {
  static ProgressRecorder& get() {
    static ProgressRecorder recorder;
    return recorder;
  }
  static void MALTOR_CALL callback(std::uint32_t progress) {
    ProgressRecorder& self = get();
    std::function<void(std::size_t)> hook;
    std::size_t count = 0;
    {
      std::lock_guard held(self.lock);
      self.values.push_back(progress);
      count = self.values.size();
      hook = self.hook;
    }
    if (hook) hook(count);
  }
  std::vector<std::uint32_t> take() {
    std::lock_guard held(lock);
    return values;
  }
  void reset() {
    std::lock_guard held(lock);
    values.clear();
    hook = nullptr;
  }
  std::mutex lock;
  std::vector<std::uint32_t> values;
  std::function<void(std::size_t)> hook;
};

inline std::uint64_t fnv1a(const Bytes& bytes) {
  std::uint64_t hash = 0xCBF29CE484222325ull;
  for (const std::uint8_t byte : bytes) hash = (hash ^ byte) * 0x100000001B3ull;
  return hash;
}

// A byte pattern that differs from block to block.
inline Bytes image_bytes(std::size_t size, std::uint32_t seed = 7) {
  Bytes bytes(size);
  std::uint32_t x = seed;
  for (std::uint8_t& byte : bytes) {
    x = x * 1103515245u + 12345u;
    byte = static_cast<std::uint8_t>(x >> 16);
  }
  return bytes;
}

inline std::string read_text(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// `text` with spaces up to 50 characters.
inline std::string padded(std::string text) {
  if (text.size() < 50) text.append(50 - text.size(), ' ');
  return text;
}

// The rule that opens every account in a log, as it reaches the disk (text
// mode: LF becomes CR LF).
inline const std::string kAccountRule = "\r\r\n" + std::string(93, '*') + "\r\r\n";

// A progress log header as it reaches the disk.
inline std::string header_text(const std::string& title, std::uint64_t size,
                               const std::string& path) {
  return kAccountRule + padded(title) + kStartTime + "\r\n" +
         padded(std::to_string(size) + " bytes") + path + "\r\r\n";
}

inline std::string trailer_text(std::uint32_t acknowledged, bool finished) {
  return padded(std::to_string(acknowledged) + " bytes") + "Transfered data\r\r\n" +
         (finished ? "Firmware update is finished successfully.\r\r\n"
                   : "Firmware update is not finished successfuly.\r\r\n");
}

inline constexpr char kLoggerTitle[] = "Varden Osprin reprogramming started at ";
inline constexpr char kGatewayTitle[] = "Varden Gateway reprogramming started at ";

// Whether this process holds a device open, as the device listing tells.
inline bool device_held() {
  MaltorDeviceInfo devices[16];
  const std::uint32_t n = std::min<std::uint32_t>(MaltorListDevices(devices, 16), 16);
  return std::any_of(devices, devices + n, [](const MaltorDeviceInfo& d) { return d.in_use == 1; });
}

// What a failure case arms instead of a frame's fault.
inline constexpr std::uint32_t kNoDevice = 0;    // the device is closed before the start
inline constexpr std::uint32_t kNoFault = 0xFF;  // nothing is armed

class UpdateTest : public SimFolderTest {
 protected:
  void SetUp() override {
    SimFolderTest::SetUp();
    ProgressRecorder::get().reset();
    ReflashStatusCallBack(&ProgressRecorder::callback);
    log_path_ = (dir_ / "progress.log").string();
  }
  void TearDown() override {
    MaltorSim_ClockMode(MALTOR_SIM_CLOCK_AUTO);  // frees an update held by a failed test
    StopFirmwareUpdate();
    EXPECT_EQ(MaltorWaitForUpdate(600000), MALTOR_OK);
    ReflashStatusCallBack(nullptr);
    SimFolderTest::TearDown();
  }

  std::string write_image(const Bytes& bytes, const std::string& name = "image.bin") {
    const std::filesystem::path path = dir_ / name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path.string();
  }
  std::string sparse_image(std::uint64_t size) {
    const std::filesystem::path path = dir_ / "sparse.bin";
    std::ofstream(path, std::ios::binary).put('\0');
    std::filesystem::resize_file(path, size);
    return path.string();
  }

  // Moves the virtual clock to a whole second and makes it read kStartSecond.
  static void set_wall_clock() {
    const std::uint64_t now = MaltorSim_ClockNow();
    if (now % 1000 != 0) MaltorSim_ClockAdvance(static_cast<std::uint32_t>(1000 - now % 1000));
    MaltorSim_ClockSetOrigin(kStartSecond - static_cast<std::int64_t>(MaltorSim_ClockNow() / 1000),
                             0);
  }

  // Waits until the update thread, its tail included, has ended.
  static void wait_for_update() { EXPECT_EQ(MaltorWaitForUpdate(600000), MALTOR_OK); }

  static constexpr std::uint32_t kNoDevice = 0;    // the device is closed before the start
  static constexpr std::uint32_t kNoFault = 0xFF;  // nothing is armed
  // Sets the wall clock, plugs and connects a device of `kind`, arms the
  // fault on `frame` (MALTOR_SIM_FRAME_*, kNoDevice or kNoFault), runs the
  // logger or gateway update of a `size`-byte image (sparse past a megabyte)
  // to its end and returns the image's path. The device id is in device_.
  std::string run_update(bool logger, std::uint8_t kind, std::uint64_t size, std::uint32_t frame,
                         std::uint32_t nth, std::uint32_t action) {
    set_wall_clock();
    device_ = plug_and_connect(kind);
    if (frame == kNoDevice) {
      CloseDevice();
    } else if (frame != kNoFault) {
      EXPECT_EQ(MaltorSim_UpdateFault(device_, frame, nth, action), 0);
    }
    const std::string path = size > 1'000'000 ? sparse_image(size) : write_image(image_bytes(size));
    const auto start = logger ? UpdateLoggerFirmware : UpdateFirmware;
    EXPECT_EQ(start(path.c_str(), log_path_.c_str()), MALTOR_OK);
    wait_for_update();
    return path;
  }

  std::string log_text() const { return read_text(log_path_); }
  std::vector<std::uint32_t> progress() const { return ProgressRecorder::get().take(); }

  static MaltorSimImageInfo image_info(std::int32_t device,
                                       std::uint32_t image = MALTOR_SIM_IMAGE_FIRMWARE) {
    MaltorSimImageInfo info{};
    EXPECT_EQ(MaltorSim_ImageInfo(device, image, &info), 0);
    return info;
  }

  std::string log_path_;
  std::int32_t device_ = 0;
};

}  // namespace maltor::test
