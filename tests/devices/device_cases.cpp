#include "device_cases.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "platform/usb.h"

namespace maltor::test {

namespace {

using sim::DeviceModel;
using sim::FaultKind;

Firmware firmware(DeviceRig& rig) {
  return test::firmware(rig.api());
}

std::uint8_t detail_kind(DeviceRig& rig) {
  MaltorErrorDetail detail{};
  return rig.api().MaltorGetLastError(&detail);
}

// The sequence bytes of the last `n` frames on the logger's command pipe.
std::vector<std::uint8_t> last_sequences(DeviceRig& rig, std::size_t n) {
  const std::vector<FrameHead> frames = rig.frames_written(Port::kLogger);
  std::vector<std::uint8_t> out;
  for (std::size_t i = frames.size() > n ? frames.size() - n : 0; i < frames.size(); ++i) {
    out.push_back(frames[i][0]);
  }
  return out;
}

std::uint8_t kind_in_slot_zero(DeviceRig& rig) {
  MaltorConnection record{};
  return rig.api().GetConnected(&record) == MALTOR_OK ? record.device_kind : 0;
}

void arm(DeviceRig& rig, Port port, FaultKind kind, std::int32_t command, std::uint32_t param) {
  rig.with_model(port, [&](DeviceModel& model) { model.arm_fault(kind, command, 0, param); });
}

// Byte `k` of the virtual card, as the control header documents it.
std::uint8_t card_byte(std::uint64_t k) {
  const std::uint64_t s = k / 512;
  return static_cast<std::uint8_t>((k % 512) ^ (s * 7) ^ (s >> 8));
}

std::vector<std::uint8_t> file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void discovery_in_bus_order(DeviceRig& rig) {
  ASSERT_EQ(rig.api().DeviceIsReady(), 4);  // interface 0 has four endpoints
  MaltorConnection record{};
  ASSERT_EQ(rig.api().GetConnected(&record), MALTOR_OK);
  EXPECT_EQ(record.device_kind, 1);
  const std::uint64_t handle = record.file_handle;  // by value: the record is byte-packed
  EXPECT_NE(handle, ~std::uint64_t{0});
  EXPECT_TRUE(rig.device_open(Port::kLogger));
  EXPECT_TRUE(rig.device_open(Port::kSecond));
  EXPECT_FALSE(rig.device_open(Port::kForeign));
  rig.api().CloseDevice();
  EXPECT_FALSE(rig.device_open(Port::kLogger)) << "CloseDevice released interface 0";
  ASSERT_EQ(rig.api().DeviceIsReady(), 4);
  EXPECT_EQ(kind_in_slot_zero(rig), 1);

  // With the logger gone, the device on port 2 is next; the foreign one on
  // port 3 never is.
  rig.unplug(Port::kLogger);
  EXPECT_EQ(rig.api().DeviceIsReady(), 0) << "the open logger fails its readiness check";
  ASSERT_EQ(rig.api().DeviceIsReady(), 4);
  EXPECT_EQ(kind_in_slot_zero(rig), 2);
  rig.unplug(Port::kSecond);
  EXPECT_EQ(rig.api().DeviceIsReady(), 0);
  EXPECT_EQ(rig.api().DeviceIsReady(), 0) << "only the foreign device is left";
  EXPECT_EQ(rig.api().GetConnected(&record), MALTOR_ERR_NO_DEVICE);
}

// A choice lets go of every other device; the list claims nothing; a choice
// by serial, location or path opens only that device; a choice nobody answers
// to waits for its device; clearing brings every device back.
void list_and_choose(DeviceRig& rig) {
  ASSERT_EQ(rig.api().DeviceIsReady(), 4);  // both devices in slots, whatever was open before
  MaltorDeviceInfo devices[4] = {};
  ASSERT_EQ(rig.api().MaltorListDevices(devices, 4), 2u) << "the foreign device is left out";
  EXPECT_STREQ(devices[0].serial, "MTR0001");
  EXPECT_STREQ(devices[1].serial, "MTR0002");
  for (const MaltorDeviceInfo& device : {devices[0], devices[1]}) {
    EXPECT_NE(device.location[0], '\0');
    EXPECT_EQ(device.in_use, 1);
  }
  ASSERT_EQ(rig.api().MaltorSelectDevice(devices[1].serial), MALTOR_OK);
  EXPECT_FALSE(rig.device_open(Port::kLogger));
  EXPECT_FALSE(rig.device_open(Port::kSecond));
  MaltorDeviceInfo again[2] = {};
  ASSERT_EQ(rig.api().MaltorListDevices(again, 2), 2u);
  EXPECT_EQ(again[0].in_use + again[1].in_use, 0) << "listing opened a device";
  EXPECT_FALSE(rig.device_open(Port::kLogger));

  for (const char* id : {devices[1].serial, devices[1].location, devices[1].path}) {
    SCOPED_TRACE(id);
    ASSERT_EQ(rig.api().MaltorSelectDevice(id), MALTOR_OK);
    ASSERT_EQ(rig.api().DeviceIsReady(), 4);
    EXPECT_EQ(kind_in_slot_zero(rig), 2);
    EXPECT_FALSE(rig.device_open(Port::kLogger)) << "left for other programs";
    rig.api().CloseDevice();
  }

  rig.unplug(Port::kSecond);
  ASSERT_EQ(rig.api().MaltorSelectDevice("MTR0002"), MALTOR_ERR_NO_DEVICE);
  EXPECT_EQ(rig.api().DeviceIsReady(), 0);
  rig.plug(Port::kSecond);
  EXPECT_TRUE(eventually([&] { return rig.api().DeviceIsReady() == 4; }));
  EXPECT_EQ(kind_in_slot_zero(rig), 2);

  ASSERT_EQ(rig.api().MaltorSelectDevice(nullptr), MALTOR_OK);
  rig.api().CloseDevice();
  ASSERT_EQ(rig.api().DeviceIsReady(), 4);
  EXPECT_EQ(kind_in_slot_zero(rig), 1);
  EXPECT_TRUE(rig.device_open(Port::kSecond));
}

void standard_exchange(DeviceRig& rig) {
  ASSERT_EQ(rig.api().DeviceIsReady(), 4);
  rig.with_model(Port::kLogger, [](DeviceModel& model) {
    model.content().firmware_word = 0xA1B2;
    model.content().firmware_bytes[0] = 0xC3;
    model.content().firmware_bytes[1] = 0xD4;
    model.content().firmware_bytes[2] = 0xE5;
  });
  for (int i = 0; i < 3; ++i) {  // one reply per frame, each with its own sequence
    const Firmware got = firmware(rig);
    ASSERT_EQ(got.result, MALTOR_OK) << i;
    EXPECT_EQ(got.word, 0xA1B2);
    EXPECT_EQ(got.bytes[0], 0xC3);
    EXPECT_EQ(got.bytes[1], 0xD4);
    EXPECT_EQ(got.bytes[2], 0xE5);
  }
  EXPECT_EQ(rig.pending_reads(Port::kLogger, sim::kCommandIn), 0);
  const std::vector<FrameHead> frames = rig.frames_written(Port::kLogger);
  ASSERT_GE(frames.size(), 3u);
  for (std::size_t i = frames.size() - 3; i < frames.size(); ++i) {
    EXPECT_EQ(frames[i][3], 0x02) << i;
  }
  for (std::size_t i = frames.size() - 2; i < frames.size(); ++i) {
    EXPECT_EQ(frames[i][0], static_cast<std::uint8_t>(frames[i - 1][0] + 1)) << i;
  }
}

void reply_that_never_comes(DeviceRig& rig) {
  ASSERT_EQ(rig.api().DeviceIsReady(), 4);
  arm(rig, Port::kLogger, FaultKind::kNoReply, 0x21, 0);
  const std::uint8_t settings[2] = {7, 9};
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(rig.api().SCSetHWSettings(1, 0, 2, settings), MALTOR_ERR_EXCHANGE);
  const long waited = elapsed_ms(start);
  EXPECT_GE(waited, 950);  // SCSetHWSettings reads with its 1,000 ms header timeout
  EXPECT_LT(waited, 3000);
  EXPECT_EQ(rig.pending_reads(Port::kLogger, sim::kCommandIn), 0) << "the read was aborted";
  EXPECT_EQ(detail_kind(rig), MALTOR_DETAIL_DEVICE) << "the device kept quiet; USB did not fail";
  // The counter moved on with the lost frame: the next reply matches the next frame.
  const Firmware got = firmware(rig);
  EXPECT_EQ(got.result, MALTOR_OK);
  EXPECT_EQ(got.word, 0x0203);
  const std::vector<std::uint8_t> sequences = last_sequences(rig, 2);
  ASSERT_EQ(sequences.size(), 2u);
  EXPECT_EQ(sequences[1], static_cast<std::uint8_t>(sequences[0] + 1));
}

void short_reply(DeviceRig& rig) {
  ASSERT_EQ(rig.api().DeviceIsReady(), 4);
  ASSERT_EQ(firmware(rig).result, MALTOR_OK);  // leaves 4, 5, 6 in the reply area
  rig.with_model(Port::kLogger, [](DeviceModel& model) {
    model.content().firmware_word = 0x0304;
    model.content().firmware_bytes[0] = 0x77;
    model.arm_fault(FaultKind::kShortReply, 0x02, 0, 7);
  });
  const Firmware got = firmware(rig);
  ASSERT_EQ(got.result, MALTOR_OK);
  EXPECT_EQ(got.word, 0x0304);  // bytes 5-6 arrived
  EXPECT_EQ(got.bytes[0], 4);   // bytes 7-9 never did: the last reply's stay
  EXPECT_EQ(got.bytes[1], 5);
  EXPECT_EQ(got.bytes[2], 6);
}

void live_read_pending_across_calls(DeviceRig& rig) {
  ASSERT_EQ(rig.api().DeviceIsReady(), 4);
  ASSERT_EQ(rig.api().SCUSBStartLiveData(1), MALTOR_OK);
  std::uint8_t record[512];
  for (int call = 0; call < 2; ++call) {
    EXPECT_EQ(rig.api().SCUSBGetLiveData(0, record), MALTOR_ERR_EXCHANGE) << call;
    EXPECT_EQ(rig.pending_reads(Port::kLogger, sim::kStreamIn), 1) << "one read, kept pending";
  }
  std::uint8_t sent[512];
  for (int i = 0; i < 512; ++i) sent[i] = static_cast<std::uint8_t>(i * 3);
  rig.with_model(Port::kLogger, [&](DeviceModel& model) { model.queue_live_packet(sent, 512); });
  std::uint8_t result = MALTOR_ERR_EXCHANGE;
  EXPECT_TRUE(eventually([&] {
    result = rig.api().SCUSBGetLiveData(0, record);
    return result != MALTOR_ERR_EXCHANGE;
  }));
  ASSERT_EQ(result, MALTOR_OK);
  EXPECT_EQ(std::vector<std::uint8_t>(record, record + 512),
            std::vector<std::uint8_t>(sent, sent + 512));
}

// The stream stalls after three 16 KiB requests; the read then under way
// holds one request's bytes when a stop from another thread aborts it, and
// the file keeps them.
void download_stalled_then_stopped(DeviceRig& rig) {
  rig.split_transfers(Port::kLogger);
  ASSERT_EQ(rig.api().DeviceIsReady(), 4);
  constexpr std::uint32_t kStallAfter = 3 * 16384;
  arm(rig, Port::kLogger, FaultKind::kStreamStall, -1, kStallAfter);
  const std::string path = rig.scratch_file("sectors.bin");
  std::remove(path.c_str());

  std::atomic<std::uint8_t> stop_result{0xFF};
  std::thread stopper([&] {
    // Everything the device will send has been taken, and a read waits on.
    const bool drained = eventually(
        [&] {
          bool empty = false;
          rig.with_model(Port::kLogger,
                         [&](DeviceModel& model) { empty = !model.readable(sim::kStreamIn); });
          return empty && rig.pending_reads(Port::kLogger, sim::kStreamIn) >= 1;
        },
        5000);
    EXPECT_TRUE(drained);
    stop_result = rig.api().SCSDStopSendData();
  });
  const Clock::time_point start = Clock::now();
  const std::uint8_t result = rig.api().SCSDRequestSendData(path.c_str(), 0, 2047);  // 1 MiB
  stopper.join();
  EXPECT_EQ(stop_result.load(), MALTOR_OK);
  EXPECT_EQ(result, MALTOR_OK);
  EXPECT_LT(elapsed_ms(start), 3000) << "the stop released the waiting read";
  const std::vector<std::uint8_t> bytes = file_bytes(path);
  ASSERT_EQ(bytes.size(), kStallAfter);
  for (std::uint32_t k = 0; k < bytes.size(); ++k) ASSERT_EQ(bytes[k], card_byte(k)) << k;
  EXPECT_EQ(rig.pending_reads(Port::kLogger, sim::kStreamIn), 0);
  std::remove(path.c_str());
}

void stream_data_goes_out(DeviceRig& rig) {
  ASSERT_EQ(rig.api().DeviceIsReady(), 4);
  std::uint8_t data[300];
  for (int i = 0; i < 300; ++i) data[i] = static_cast<std::uint8_t>(255 - i);
  ASSERT_EQ(rig.api().SCUSBSendStreamData(0, data, sizeof data), MALTOR_OK);
  rig.with_model(Port::kLogger, [&](DeviceModel& model) {
    ASSERT_EQ(model.content().stream_out_length, sizeof data);
    EXPECT_EQ(std::memcmp(model.content().stream_out, data, sizeof data), 0);
  });
}

// 1,070 synchronous writes and reads: the whole image, its sum checked by the device.
void reflash_sends_the_whole_image(DeviceRig& rig) {
  ASSERT_EQ(rig.api().DeviceIsReady(), 4);
  constexpr std::uint32_t kImage = 524288;
  std::vector<std::uint8_t> image(kImage - 1000);  // sent padded with zeros
  std::uint32_t x = 3;
  for (std::uint8_t& byte : image) {
    x = x * 1103515245u + 12345u;
    byte = static_cast<std::uint8_t>(x >> 16);
  }
  const std::string path = rig.scratch_file("reflash.bin");
  {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(image.data()),
              static_cast<std::streamsize>(image.size()));
  }
  EXPECT_EQ(rig.api().SCReflashFile(path.c_str()), MALTOR_OK);
  std::remove(path.c_str());
  std::uint16_t sum = 0;
  for (std::uint8_t byte : image) sum = static_cast<std::uint16_t>(sum + byte);
  rig.with_model(Port::kLogger, [&](DeviceModel& model) {
    const sim::FileReceipt& receipt = model.content().transfer.reflash;
    EXPECT_EQ(receipt.file.received, kImage);
    EXPECT_EQ(receipt.file.blocks, 1070u);  // 490 bytes a frame on a high-speed link
    EXPECT_EQ(receipt.file.finished, 1u);
    EXPECT_EQ(receipt.file.errors, 0u);
    EXPECT_EQ(receipt.sum, sum);
    EXPECT_EQ(std::memcmp(receipt.file.kept, image.data(), sim::ImageCapture::kKeptBytes), 0);
  });
}

std::atomic<std::uint32_t> g_progress{0};
void MALTOR_CALL record_progress(std::uint32_t progress) {
  g_progress = progress;
}

// The update runs on its thread: image, finish, a five-second pause, the
// device closed and found again, the reconnect frame, two more seconds, and
// the device closed for good.
void logger_update_with_its_tail(DeviceRig& rig) {
  ASSERT_EQ(rig.api().DeviceIsReady(), 4);
  rig.with_model(Port::kLogger, [](DeviceModel& model) { model.update().restart_ms = 0; });
  std::vector<std::uint8_t> image(590);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 1);
  const std::string image_path = rig.scratch_file("logger.bin");
  const std::string log_path = rig.scratch_file("update.log");
  {
    std::ofstream out(image_path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(image.data()),
              static_cast<std::streamsize>(image.size()));
  }
  std::remove(log_path.c_str());
  g_progress = 0;
  rig.api().ReflashStatusCallBack(record_progress);
  ASSERT_EQ(rig.api().UpdateLoggerFirmware(image_path.c_str(), log_path.c_str()), MALTOR_OK);

  const auto reconnects = [&] {
    std::uint32_t count = 0;
    rig.with_model(Port::kLogger,
                   [&](DeviceModel& model) { count = model.update().firmware.reconnects; });
    return count;
  };
  EXPECT_TRUE(eventually([&] { return reconnects() == 1; }, 15000));
  // The update is alive until its thread has ended, tail included.
  EXPECT_EQ(rig.api().MaltorWaitForUpdate(20000), MALTOR_OK);
  EXPECT_FALSE(rig.device_open(Port::kLogger)) << "every logger update ends with the device closed";
  rig.api().ReflashStatusCallBack(nullptr);
  EXPECT_EQ(g_progress.load(), 100u);
  rig.with_model(Port::kLogger, [&](DeviceModel& model) {
    const sim::ImageCapture& firmware = model.update().firmware;
    EXPECT_EQ(firmware.received, image.size());
    EXPECT_EQ(firmware.blocks, 10u);  // 59 bytes a frame
    EXPECT_EQ(firmware.finished, 1u);
    EXPECT_EQ(firmware.errors, 0u);
    EXPECT_EQ(std::memcmp(firmware.kept, image.data(), image.size()), 0);
  });
  EXPECT_EQ(rig.api().DeviceIsReady(), 4);
  std::remove(image_path.c_str());
  std::remove(log_path.c_str());
}

void unplug_during_a_read_then_rediscovery(DeviceRig& rig) {
  ASSERT_EQ(rig.api().DeviceIsReady(), 4);
  arm(rig, Port::kLogger, FaultKind::kUnplugOnRead, 0x02, 0);
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(firmware(rig).result, MALTOR_ERR_EXCHANGE);
  EXPECT_LT(elapsed_ms(start), 2000) << "the read failed at once, not after its 5,000 ms wait";
  // Every later transfer on the vanished device fails at its start.
  const Clock::time_point again = Clock::now();
  EXPECT_EQ(firmware(rig).result, MALTOR_ERR_EXCHANGE);
  EXPECT_LT(elapsed_ms(again), 1000);

  rig.unplug(Port::kLogger);
  EXPECT_EQ(rig.api().DeviceIsReady(), 0);
  // The next call finds the device still plugged in, on port 2.
  ASSERT_EQ(rig.api().DeviceIsReady(), 4);
  EXPECT_EQ(kind_in_slot_zero(rig), 2);
  EXPECT_EQ(firmware(rig).result, MALTOR_OK);

  // Plugged back in, the logger is found on its port again.
  rig.plug(Port::kLogger);
  EXPECT_TRUE(eventually([&] {
    rig.api().CloseDevice();
    return rig.api().DeviceIsReady() == 4 && kind_in_slot_zero(rig) == 1;
  }));
  EXPECT_EQ(firmware(rig).result, MALTOR_OK);
}

// A failed readiness check empties the table without closing the devices it
// held; opening them again must not be refused because of those handles.
void speed_query_fails_while_plugged(DeviceRig& rig) {
  ASSERT_EQ(rig.api().DeviceIsReady(), 4);
  rig.break_speed_query(Port::kLogger, true);
  EXPECT_EQ(rig.api().DeviceIsReady(), 0);
  rig.break_speed_query(Port::kLogger, false);
  ASSERT_EQ(rig.api().DeviceIsReady(), 4);
  EXPECT_EQ(kind_in_slot_zero(rig), 1);
  EXPECT_EQ(firmware(rig).result, MALTOR_OK);
  // The device on port 2, dropped from the table as well, opens again too.
  rig.unplug(Port::kLogger);
  EXPECT_EQ(rig.api().DeviceIsReady(), 0);
  ASSERT_EQ(rig.api().DeviceIsReady(), 4);
  EXPECT_EQ(kind_in_slot_zero(rig), 2);
  EXPECT_EQ(firmware(rig).result, MALTOR_OK);
}

// ---- The platform calls on their own --------------------------------------

// A device opened through the platform layer, as discovery opens it: the
// first whose instance id starts with `id`.
class OpenedDevice {
 public:
  explicit OpenedDevice(const char* id = "USB\\VID_4D54&PID_0001") : id_(id) {
    platform::enumerate_devices(
        [](void* self, const platform::DeviceEntry& entry) {
          auto& opened = *static_cast<OpenedDevice*>(self);
          if (std::strncmp(entry.instance_id, opened.id_, std::strlen(opened.id_)) != 0)
            return true;
          opened.file = platform::open_device_file(entry.path);
          if (opened.file != platform::kInvalidHandle)
            opened.usb = platform::usb_initialize(opened.file);
          return false;
        },
        this);
  }
  ~OpenedDevice() {
    if (usb != platform::kInvalidHandle) platform::usb_free(usb);
    platform::close_device_file(file);
  }
  OpenedDevice(const OpenedDevice&) = delete;
  OpenedDevice& operator=(const OpenedDevice&) = delete;

  platform::Handle file = platform::kInvalidHandle;
  platform::Handle usb = platform::kInvalidHandle;

 private:
  const char* id_;
};
using OpenedLogger = OpenedDevice;

// The speed query answers as WinUSB words it: 3 high speed, 1 full speed.
void each_device_reports_its_speed(DeviceRig&) {
  const struct {
    const char* id;
    std::uint8_t speed;
  } rows[] = {{"USB\\VID_4D54&PID_0001", 3}, {"USB\\VID_4D54&PID_0002", 1}};
  for (const auto& row : rows) {
    OpenedDevice device(row.id);
    ASSERT_NE(device.usb, platform::kInvalidHandle) << row.id;
    std::uint8_t speed = 0;
    ASSERT_TRUE(platform::query_device_speed(device.usb, &speed)) << row.id;
    EXPECT_EQ(speed, row.speed) << row.id;
  }
}

// The model sends one 512-byte live record, bytes 0, 1, 2, ...
void send_live_record(DeviceRig& rig) {
  rig.with_model(Port::kLogger, [](DeviceModel& model) {
    model.set_live(true);
    model.advance_time(model.now_ms() + 10);
  });
}

void read_pending_between_calls(DeviceRig& rig) {
  OpenedLogger logger;
  ASSERT_NE(logger.usb, platform::kInvalidHandle);
  platform::IoRecord io;
  platform::io_open(io, /*manual_reset=*/false);
  std::uint8_t record[512] = {};
  std::uint32_t count = 99;
  ASSERT_EQ(platform::pipe_read_async(logger.usb, 0x83, record, sizeof record, io, &count),
            platform::IoStatus::kPending);
  EXPECT_EQ(count, 0u);
  // Two later calls find it still running and return at once.
  for (int call = 0; call < 2; ++call) {
    EXPECT_EQ(platform::io_result(logger.file, io, /*wait=*/false, &count),
              platform::IoStatus::kIncomplete);
  }
  send_live_record(rig);
  platform::IoStatus status = platform::IoStatus::kIncomplete;
  EXPECT_TRUE(eventually([&] {
    status = platform::io_result(logger.file, io, /*wait=*/false, &count);
    return status != platform::IoStatus::kIncomplete;
  }));
  EXPECT_EQ(status, platform::IoStatus::kDone);
  EXPECT_EQ(count, 512u);
  for (std::uint32_t i = 0; i < 512; ++i) ASSERT_EQ(record[i], static_cast<std::uint8_t>(i)) << i;
  platform::io_close(io);
}

void synchronous_transfers_and_the_pipe_timeout(DeviceRig& rig) {
  OpenedLogger logger;
  ASSERT_NE(logger.usb, platform::kInvalidHandle);
  const std::uint8_t data[5] = {1, 2, 3, 4, 5};
  std::uint32_t count = 0;
  ASSERT_TRUE(platform::pipe_write_sync(logger.usb, 0x03, data, sizeof data, &count));
  EXPECT_EQ(count, sizeof data);
  rig.with_model(Port::kLogger, [&](DeviceModel& model) {
    EXPECT_EQ(model.content().stream_out_length, sizeof data);
    EXPECT_EQ(model.content().stream_out[4], 5);
  });

  ASSERT_TRUE(platform::set_pipe_timeout(logger.usb, 0x83, 200));
  std::uint8_t record[512];
  const Clock::time_point start = Clock::now();
  EXPECT_FALSE(platform::pipe_read_sync(logger.usb, 0x83, record, sizeof record, &count));
  EXPECT_EQ(count, 0u);
  EXPECT_GE(elapsed_ms(start), 180);
  EXPECT_LT(elapsed_ms(start), 1500);

  send_live_record(rig);
  EXPECT_TRUE(platform::pipe_read_sync(logger.usb, 0x83, record, sizeof record, &count));
  EXPECT_EQ(count, 512u);
}

// The 32 KiB read goes out as two 16 KiB requests; the device fills the
// first and sends nothing more, so the read times out holding 16 KiB.
void read_timing_out_part_way_keeps_its_bytes(DeviceRig& rig) {
  rig.split_transfers(Port::kLogger);
  OpenedLogger logger;
  ASSERT_NE(logger.usb, platform::kInvalidHandle);
  rig.with_model(Port::kLogger, [](DeviceModel& model) { model.start_stream(0, 16384); });
  ASSERT_TRUE(platform::set_pipe_timeout(logger.usb, 0x83, 200));
  std::vector<std::uint8_t> buffer(32768);
  std::uint32_t count = 0;
  EXPECT_FALSE(platform::pipe_read_sync(logger.usb, 0x83, buffer.data(), 32768, &count));
  ASSERT_EQ(count, 16384u);
  for (std::uint32_t k = 0; k < count; ++k) ASSERT_EQ(buffer[k], card_byte(k)) << k;
}

void abort_releases_a_read_blocked_on_another_thread(DeviceRig& rig) {
  OpenedLogger logger;
  ASSERT_NE(logger.usb, platform::kInvalidHandle);
  ASSERT_TRUE(platform::set_pipe_timeout(logger.usb, 0x83, 0));  // waits without limit
  std::atomic<bool> returned{false};
  bool delivered = true;
  std::uint32_t count = 99;
  std::uint8_t record[512];
  std::thread reader([&] {
    delivered = platform::pipe_read_sync(logger.usb, 0x83, record, sizeof record, &count);
    returned = true;
  });
  EXPECT_TRUE(eventually([&] { return rig.pending_reads(Port::kLogger, 0x83) == 1; }));
  EXPECT_FALSE(returned);

  const Clock::time_point start = Clock::now();
  EXPECT_TRUE(platform::pipe_abort(logger.usb, 0x83));
  EXPECT_TRUE(eventually([&] { return returned.load(); }, 1000));
  EXPECT_LT(elapsed_ms(start), 1000);
  reader.join();
  EXPECT_FALSE(delivered);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(rig.pending_reads(Port::kLogger, 0x83), 0);
}

}  // namespace

const DeviceCase kDeviceCases[] = {
    {"DiscoveryInBusOrder", discovery_in_bus_order},
    {"ListAndChoose", list_and_choose},
    {"StandardExchange", standard_exchange},
    {"ReplyThatNeverComes", reply_that_never_comes},
    {"ShortReply", short_reply},
    {"LiveReadPendingAcrossCalls", live_read_pending_across_calls},
    {"DownloadStalledThenStopped", download_stalled_then_stopped},
    {"StreamDataGoesOut", stream_data_goes_out},
    {"ReflashSendsTheWholeImage", reflash_sends_the_whole_image},
    {"LoggerUpdateWithItsTail", logger_update_with_its_tail},
    {"UnplugDuringAReadThenRediscovery", unplug_during_a_read_then_rediscovery},
    {"SpeedQueryFailsWhilePlugged", speed_query_fails_while_plugged},
    {"EachDeviceReportsItsSpeed", each_device_reports_its_speed},
    {"ReadPendingBetweenCalls", read_pending_between_calls},
    {"SynchronousTransfersAndThePipeTimeout", synchronous_transfers_and_the_pipe_timeout},
    {"ReadTimingOutPartWayKeepsItsBytes", read_timing_out_part_way_keeps_its_bytes},
    {"AbortReleasesAReadBlockedOnAnotherThread", abort_releases_a_read_blocked_on_another_thread},
};
const std::size_t kDeviceCaseCount = std::size(kDeviceCases);

}  // namespace maltor::test
