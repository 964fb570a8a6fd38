#include <array>
#include <string>

#include "link_test_util.h"
#include "live/live_read.h"
#include "stream_test_util.h"

namespace maltor::test {
namespace {

using Record = std::array<std::uint8_t, 512>;

Record pattern(std::uint8_t seed) {
  Record r;
  for (std::size_t i = 0; i < r.size(); ++i) r[i] = static_cast<std::uint8_t>(seed * 3 + i);
  return r;
}

const std::string kIn = "DLL_SC_USBStartLiveData In\n";
const std::string kOne = "DLL_SC_USBStartLiveData 1\n";
const std::string kTwo = "DLL_SC_USBStartLiveData 2\n";
const std::string kErr = "DLL_SC_USBStartLiveData Err\n";

class LiveData : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    live::reset_live_read();
  }
  void TearDown() override {
    SimTest::TearDown();
    live::reset_live_read();
  }

  // A connected device that sends live records only when told to.
  std::int32_t connect_quiet() {
    const std::int32_t id = plug_and_connect();
    EXPECT_EQ(MaltorSim_SetOption(id, MALTOR_SIM_OPT_LIVE_PERIOD, 0), 0);
    return id;
  }
  static void send(std::int32_t id, const Record& record, std::uint32_t length = 512) {
    ASSERT_EQ(MaltorSim_SendLiveData(id, record.data(), length), 0);
  }
  static std::uint8_t get(Record& out) {
    out.fill(0xAA);
    return SCUSBGetLiveData(0, out.data());
  }
  // A call that hands over no record and leaves the caller's buffer zeroed.
  static void expect_no_record(std::uint8_t code = MALTOR_ERR_EXCHANGE) {
    Record out;
    EXPECT_EQ(get(out), code);
    EXPECT_EQ(out, Record{});
  }
  static void expect_record(const Record& expected) {
    Record out;
    EXPECT_EQ(get(out), MALTOR_OK);
    EXPECT_EQ(out, expected);
  }
  // The next call starts a fresh read on the pipe; the one after collects it.
  static void expect_fresh_read(std::int32_t id, std::uint8_t seed) {
    expect_no_record();
    EXPECT_EQ(waiting_reads(id, 0x83), 1);
    send(id, pattern(seed));
    expect_record(pattern(seed));
  }
};

TEST_F(LiveData, NoDeviceOrNoBuffer) {
  expect_no_record(MALTOR_ERR_NO_DEVICE);
  EXPECT_EQ(debug_texts(), std::vector<std::string>{"GetLiveData In\n"});

  MaltorSim_DebugClear();
  EXPECT_EQ(SCUSBStartLiveData(1), MALTOR_ERR_NO_DEVICE);
  EXPECT_EQ(SCUSBStopLiveData(1), MALTOR_ERR_NO_DEVICE);
  EXPECT_TRUE(debug_texts().empty());

  connect_quiet();
  EXPECT_EQ(SCUSBGetLiveData(0, nullptr), MALTOR_ERR_ARGUMENT);
  EXPECT_EQ(SCUSBSendStreamData(0, nullptr, 4), MALTOR_ERR_ARGUMENT);
  EXPECT_EQ(MaltorSim_TraceCount(), 0u);
}

TEST_F(LiveData, ReadStaysPendingBetweenCalls) {
  const std::int32_t id = connect_quiet();
  const std::uint8_t sequence = next_sequence();
  ASSERT_EQ(SCUSBStartLiveData(5), MALTOR_OK);
  EXPECT_EQ(frames_written().back(), standard_frame(sequence, 0x19, {5}));
  EXPECT_EQ(debug_texts(),
            (std::vector<std::string>{kIn, kOne, kTwo, "DLL_SC_USBStartLiveData Out\n"}));
  expect_no_record();
  EXPECT_EQ(live::pending_read_flag(), 1);

  // The pending read takes the record; the next call collects it, even
  // after another exchange used the transfer buffer in between.
  send(id, pattern(1));
  ASSERT_EQ(SCUSBStartProcessData(), MALTOR_OK);
  expect_record(pattern(1));
  EXPECT_EQ(live::pending_read_flag(), 0);
  EXPECT_FALSE(live::read_event_open());
  EXPECT_EQ(waiting_reads(id, 0x83), 0);

  expect_fresh_read(id, 2);
}

TEST_F(LiveData, ShortPacketIsNeverHandedOver) {
  const std::int32_t id = connect_quiet();
  send(id, pattern(9), 100);
  const std::uint64_t elapsed = virtual_ms([] { expect_no_record(); });
  EXPECT_GE(elapsed, 2000u);
  EXPECT_LE(elapsed, 3001u);
  EXPECT_EQ(live::pending_read_flag(), 0);
  EXPECT_FALSE(live::read_event_open());

  send(id, pattern(9));
  expect_record(pattern(9));
}

TEST_F(LiveData, StopDrainsThenAbortsThePendingRead) {
  const std::int32_t id = connect_quiet();
  const std::uint8_t sequence = next_sequence();
  ASSERT_EQ(SCUSBStartLiveData(3), MALTOR_OK);
  expect_no_record();
  for (int i = 0; i < 3; ++i) send(id, pattern(4));
  MaltorSim_DebugClear();

  const std::uint64_t elapsed = virtual_ms([] { EXPECT_EQ(SCUSBStopLiveData(3), MALTOR_OK); });
  EXPECT_GE(elapsed, 1000u);
  EXPECT_LE(elapsed, 2010u);
  const auto texts = debug_texts();
  EXPECT_GT(texts.size(), 1u);
  for (const std::string& text : texts) ASSERT_EQ(text, "ClearLiveData In\n");
  EXPECT_EQ(frames_written().back(), standard_frame(sequence + 1, 0x1A, {3}));
  // The read left pending at the end was aborted: flag kept, event closed.
  EXPECT_EQ(live::pending_read_flag(), 1);
  EXPECT_FALSE(live::read_event_open());
  EXPECT_EQ(waiting_reads(id, 0x83), 0);

  // The aborted read fails the next call at once; the records sent late
  // were drained.
  EXPECT_LE(virtual_ms([] { expect_no_record(); }), 1u);
  EXPECT_EQ(live::pending_read_flag(), 0);
  expect_no_record();
  EXPECT_EQ(live::pending_read_flag(), 1);
}

std::uint8_t start_live() {
  return SCUSBStartLiveData(0);
}
std::uint8_t stop_live() {
  return SCUSBStopLiveData(0);
}

struct CommandFailure {
  const char* name;
  std::uint8_t (*call)();
  std::int32_t code;
  std::uint32_t fault;
  std::vector<std::string> texts;
  // A reply that never comes ends in a cancel of the thread's pending I/O,
  // which takes the live read with it: the next call reports it failed.
  bool read_cancelled;
};

const CommandFailure kCommandFailures[] = {
    {"StartWriteFails", start_live, 0x19, MALTOR_SIM_FAULT_WRITE_FAILS, {kIn, kOne}, false},
    {"StartNoReply", start_live, 0x19, MALTOR_SIM_FAULT_NO_REPLY, {kIn, kOne, kTwo, kErr}, true},
    {"StopWriteFails", stop_live, 0x1A, MALTOR_SIM_FAULT_WRITE_FAILS, {}, false},
};

class LiveCommandFailure : public LiveData, public ::testing::WithParamInterface<CommandFailure> {};

// A failed start or stop keeps the pending-read flag: a stop whose exchange
// fails does not drain.
TEST_P(LiveCommandFailure, KeepsThePendingRead) {
  const CommandFailure& c = GetParam();
  const std::int32_t id = connect_quiet();
  expect_no_record();
  MaltorSim_InjectFault(id, c.fault, c.code, 1, 0);
  MaltorSim_DebugClear();

  EXPECT_EQ(c.call(), MALTOR_ERR_EXCHANGE);
  EXPECT_EQ(debug_texts(), c.texts);
  EXPECT_EQ(live::pending_read_flag(), 1);
  send(id, pattern(5));
  if (c.read_cancelled) expect_no_record();
  expect_record(pattern(5));
}

INSTANTIATE_TEST_SUITE_P(Faults, LiveCommandFailure, ::testing::ValuesIn(kCommandFailures),
                         [](const auto& info) { return std::string(info.param.name); });

// A start clears the flag while the old read still waits on the pipe; the
// next call must end that read before it reuses the record.
TEST_F(LiveData, RestartRetiresTheOldRead) {
  const std::int32_t id = connect_quiet();
  expect_no_record();
  ASSERT_EQ(SCUSBStartLiveData(0), MALTOR_OK);
  EXPECT_EQ(live::pending_read_flag(), 0);
  EXPECT_TRUE(live::read_event_open());
  expect_fresh_read(id, 6);
}

TEST_F(LiveData, ARestartedDeviceSendsNothingItHadQueued) {
  const std::int32_t id = connect_quiet();
  ASSERT_EQ(SCUSBStartLiveData(0), MALTOR_OK);
  send(id, pattern(3));
  ASSERT_EQ(MaltorSim_Unplug(id), 0);
  ASSERT_EQ(MaltorSim_Replug(id), 0);
  live::reset_live_read();
  // The first check finds the old handle stale, the second reconnects.
  DeviceIsReady();
  ASSERT_NE(DeviceIsReady(), 0);
  expect_no_record();
}

TEST_F(LiveData, StreamDataGoesOutWithoutAFrame) {
  const std::int32_t id = connect_quiet();
  std::vector<std::uint8_t> data(100);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(200 - i);
  EXPECT_EQ(SCUSBSendStreamData(0, data.data(), 100), MALTOR_OK);
  const auto transfers = trace();
  ASSERT_EQ(transfers.size(), 1u);
  EXPECT_EQ(transfers[0].pipe, 0x03);
  std::vector<std::uint8_t> received(100);
  EXPECT_EQ(MaltorSim_GetContent(id, MALTOR_SIM_STREAM_DATA, received.data(), 100), 100);
  EXPECT_EQ(received, data);
}

}  // namespace
}  // namespace maltor::test
