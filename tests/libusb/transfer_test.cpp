// The platform transfer calls over libusb: a read left pending between calls,
// synchronous transfers bounded by the pipe timeout, and an abort releasing a
// read blocked on another thread.
#include <atomic>
#include <thread>
#include <vector>

#include "libusb_fixture.h"

namespace maltor::test {
namespace {

using platform::IoRecord;
using platform::IoStatus;
using sim::DeviceModel;

// The model sends one 512-byte live record, bytes 0, 1, 2, ...
void send_live_record(EmulatedDevice& device) {
  device.with_model([](DeviceModel& model) {
    model.set_live(true);
    model.advance_time(model.now_ms() + 10);
    return 0;
  });
}

TEST_F(LibusbTest, ReadPendingBetweenCallsCompletesOnceDataArrives) {
  connect();
  const platform::Handle usb = link::slot0().usb;
  const platform::Handle file = link::slot0().file;
  IoRecord io;
  platform::io_open(io, /*manual_reset=*/false);
  std::uint8_t record[512] = {};
  std::uint32_t count = 99;
  ASSERT_EQ(platform::pipe_read_async(usb, 0x83, record, sizeof record, io, &count),
            IoStatus::kPending);
  EXPECT_EQ(count, 0u);
  // Two later calls find it still running and return at once.
  EXPECT_EQ(platform::io_result(file, io, /*wait=*/false, &count), IoStatus::kIncomplete);
  EXPECT_EQ(platform::io_result(file, io, /*wait=*/false, &count), IoStatus::kIncomplete);

  send_live_record(logger());
  IoStatus status = IoStatus::kIncomplete;
  EXPECT_TRUE(eventually([&] {
    status = platform::io_result(file, io, /*wait=*/false, &count);
    return status != IoStatus::kIncomplete;
  }));
  EXPECT_EQ(status, IoStatus::kDone);
  EXPECT_EQ(count, 512u);
  for (std::uint32_t i = 0; i < 512; ++i) ASSERT_EQ(record[i], static_cast<std::uint8_t>(i)) << i;
  platform::io_close(io);
}

TEST_F(LibusbTest, SynchronousTransfersMoveBytesAndTheTimeoutBoundsAReadWithoutData) {
  connect();
  const platform::Handle usb = link::slot0().usb;
  const std::uint8_t data[5] = {1, 2, 3, 4, 5};
  std::uint32_t count = 0;
  ASSERT_TRUE(platform::pipe_write_sync(usb, 0x03, data, sizeof data, &count));
  EXPECT_EQ(count, sizeof data);
  logger().with_model([&](DeviceModel& model) {
    EXPECT_EQ(model.content().stream_out_length, sizeof data);
    EXPECT_EQ(model.content().stream_out[4], 5);
    return 0;
  });

  ASSERT_TRUE(platform::set_pipe_timeout(usb, 0x83, 200));
  std::uint8_t record[512];
  const Clock::time_point start = Clock::now();
  EXPECT_FALSE(platform::pipe_read_sync(usb, 0x83, record, sizeof record, &count));
  EXPECT_EQ(count, 0u);
  EXPECT_GE(elapsed_ms(start), 180);
  EXPECT_LT(elapsed_ms(start), 1500);

  send_live_record(logger());
  EXPECT_TRUE(platform::pipe_read_sync(usb, 0x83, record, sizeof record, &count));
  EXPECT_EQ(count, 512u);
}

TEST_F(LibusbTest, ReadThatTimesOutPartWayReportsTheBytesThatCame) {
  // The 32 KiB read goes out as two 16 KiB requests; the device fills the
  // first and sends nothing more, so the read times out holding 16 KiB.
  logger().split_bulk_transfers();
  connect();
  const platform::Handle usb = link::slot0().usb;
  logger().with_model([](DeviceModel& model) {
    model.start_stream(0, 16384);
    return 0;
  });
  ASSERT_TRUE(platform::set_pipe_timeout(usb, 0x83, 200));
  std::vector<std::uint8_t> buffer(32768);
  std::uint32_t count = 0;
  EXPECT_FALSE(platform::pipe_read_sync(usb, 0x83, buffer.data(), 32768, &count));
  ASSERT_EQ(count, 16384u);
  // Byte k of the card, as the control header documents it.
  for (std::uint32_t k = 0; k < count; ++k) {
    const std::uint32_t s = k / 512;
    ASSERT_EQ(buffer[k], static_cast<std::uint8_t>((k % 512) ^ (s * 7) ^ (s >> 8))) << k;
  }
}

TEST_F(LibusbTest, AbortReleasesASynchronousReadBlockedOnAnotherThread) {
  connect();
  const platform::Handle usb = link::slot0().usb;
  ASSERT_TRUE(platform::set_pipe_timeout(usb, 0x83, 0));  // waits without limit
  std::atomic<bool> returned{false};
  bool delivered = true;
  std::uint32_t count = 99;
  std::uint8_t record[512];
  std::thread reader([&] {
    delivered = platform::pipe_read_sync(usb, 0x83, record, sizeof record, &count);
    returned = true;
  });
  ASSERT_TRUE(eventually([] { return logger().pending_reads(0x83) == 1; }));
  EXPECT_FALSE(returned);

  const Clock::time_point start = Clock::now();
  EXPECT_TRUE(platform::pipe_abort(usb, 0x83));
  EXPECT_TRUE(eventually([&] { return returned.load(); }, 1000));
  EXPECT_LT(elapsed_ms(start), 1000);
  reader.join();
  EXPECT_FALSE(delivered);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(logger().pending_reads(0x83), 0);
}

}  // namespace
}  // namespace maltor::test
