// The writer and the two readers: their waits, the reply checks, short
// replies and devices that vanish.
#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <thread>

#include "link_test_util.h"

namespace maltor::test {
namespace {

using namespace std::chrono_literals;

using Transfers = LinkTest;

std::uint8_t call_firmware_version() {
  FirmwareVersion version;
  return get_firmware_version(&version);
}
std::uint8_t call_serial_number() {
  std::uint8_t block[128];
  return SCGetSerialNumber(block);
}
std::uint8_t call_set_hw_settings() {
  const std::uint8_t data[2] = {7, 8};
  return SCSetHWSettings(1, 2, 2, data);
}

struct Command {
  const char* name;
  std::uint8_t code;
  std::uint8_t (*call)();
  std::uint64_t read_wait_ms;
  // Which reply checks the command makes; a reply failing any other passes.
  bool checks_sequence;
  bool checks_echo;
};

const Command kCommands[] = {
    {"FirmwareVersion", 0x02, call_firmware_version, 5000, false, false},  // fixed wait
    {"SerialNumber", 0x15, call_serial_number, 4000, true, false},         // header timeout
    {"SetHWSettings", 0x21, call_set_hw_settings, 1000, false, true},      // header timeout
};

class CommandFailures : public LinkTest, public ::testing::WithParamInterface<Command> {};

// Each fault on the command's exchange: whether the call fails, the virtual
// time it takes and whether a reply is read. The next exchange is not disturbed.
TEST_P(CommandFailures, FaultEndsOnlyItsOwnExchange) {
  const Command& cmd = GetParam();
  const std::int32_t id = plug_and_connect();
  const auto rejected = [](bool checked) -> std::uint8_t {
    return checked ? MALTOR_ERR_EXCHANGE : MALTOR_OK;
  };
  const struct {
    std::uint32_t fault;
    std::uint8_t result;
    std::uint64_t wait_ms;
    std::size_t replies;
  } cases[] = {
      {MALTOR_SIM_FAULT_NO_REPLY, MALTOR_ERR_EXCHANGE, cmd.read_wait_ms, 0},
      {MALTOR_SIM_FAULT_WRITE_FAILS, MALTOR_ERR_EXCHANGE, 0, 0},
      {MALTOR_SIM_FAULT_WRONG_SEQUENCE, rejected(cmd.checks_sequence), 0, 1},
      {MALTOR_SIM_FAULT_WRONG_ECHO, rejected(cmd.checks_echo), 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    const std::uint8_t sequence = next_sequence();
    ASSERT_EQ(MaltorSim_InjectFault(id, c.fault, cmd.code, 1, 0), 0);
    std::uint8_t result = 0;
    EXPECT_EQ(virtual_ms([&] { result = cmd.call(); }), c.wait_ms);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(transfers_on(0x02), 1u);
    EXPECT_EQ(transfers_on(0x82), c.replies);
    EXPECT_EQ(probe_sequence(), static_cast<std::uint8_t>(sequence + 1));
    EXPECT_EQ(cmd.call(), MALTOR_OK);
  }
}

TEST_P(CommandFailures, DeviceVanishingDuringTheReadIsNoticedByTheNextReadinessCall) {
  const std::int32_t id = plug_and_connect();
  ASSERT_EQ(MaltorSim_InjectFault(id, MALTOR_SIM_FAULT_UNPLUG_ON_READ, GetParam().code, 1, 0), 0);
  EXPECT_EQ(GetParam().call(), MALTOR_ERR_EXCHANGE);
  EXPECT_EQ(transfers_on(0x82), 0u);
  EXPECT_NE(usb_handle(0), link::kInvalidHandle);  // not noticed yet
  EXPECT_EQ(DeviceIsReady(), 0);
  EXPECT_TRUE(table_is_empty());
  EXPECT_EQ(GetParam().call(), MALTOR_ERR_NO_DEVICE);
}

INSTANTIATE_TEST_SUITE_P(Link, CommandFailures, ::testing::ValuesIn(kCommands),
                         [](const auto& info) { return std::string(info.param.name); });

// In manual mode the fixed wait holds the caller until the clock reaches it.
TEST_F(Transfers, FixedWaitBlocksUntilTheClockReachesIt) {
  const std::int32_t id = plug_and_connect();
  ASSERT_EQ(MaltorSim_InjectFault(id, MALTOR_SIM_FAULT_NO_REPLY, 0x02, 1, 0), 0);
  std::future<std::uint8_t> result;
  const ManualClock manual;
  const std::uint64_t start = MaltorSim_ClockNow();
  result = std::async(std::launch::async, call_firmware_version);

  ASSERT_TRUE(clock_waiters_reach(1));
  MaltorSim_ClockAdvance(4999);
  EXPECT_EQ(result.wait_for(50ms), std::future_status::timeout);
  EXPECT_EQ(MaltorSim_ClockWaiters(), 1u);
  MaltorSim_ClockAdvance(1);
  ASSERT_EQ(result.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(result.get(), MALTOR_ERR_EXCHANGE);
  EXPECT_EQ(MaltorSim_ClockNow() - start, 5000u);
  EXPECT_EQ(MaltorSim_ClockWaiters(), 0u);
}

// A new frame aborts a read still waiting on the command IN pipe, so the
// waiting call fails at once and the new one gets its own reply.
TEST_F(Transfers, SecondThreadsExchangeWaitsForTheFirstOnesReply) {
  const std::int32_t id = plug_and_connect();
  ASSERT_EQ(MaltorSim_InjectFault(id, MALTOR_SIM_FAULT_NO_REPLY, 0x15, 1, 0), 0);
  std::future<std::uint8_t> waiting;
  std::future<std::uint8_t> next;
  const ManualClock manual;
  waiting = std::async(std::launch::async, call_serial_number);
  ASSERT_TRUE(clock_waiters_reach(1));

  // Its frame would abort the first one's read: it waits for its turn.
  next = std::async(std::launch::async, call_firmware_version);
  EXPECT_EQ(next.wait_for(50ms), std::future_status::timeout);
  MaltorSim_ClockAdvance(4000);
  ASSERT_EQ(waiting.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(waiting.get(), MALTOR_ERR_EXCHANGE);
  ASSERT_EQ(next.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(next.get(), MALTOR_OK);
}

// A short reply is decoded over what an earlier reply left in the reply area.
TEST_F(Transfers, ShortReplyKeepsEarlierReplyBytes) {
  const std::int32_t id = plug_and_connect();
  FirmwareVersion version;
  ASSERT_EQ(get_firmware_version(&version), MALTOR_OK);
  ASSERT_EQ(version, (FirmwareVersion{0x0203, 4, 5, 6}));

  const std::uint8_t newer[5] = {0x10, 0x09, 0x11, 0x12, 0x13};
  ASSERT_EQ(MaltorSim_SetContent(id, MALTOR_SIM_FIRMWARE_VERSION, newer, sizeof newer), 0);
  ASSERT_EQ(MaltorSim_InjectFault(id, MALTOR_SIM_FAULT_SHORT_REPLY, 0x02, 1, 7), 0);
  ASSERT_EQ(get_firmware_version(&version), MALTOR_OK);
  EXPECT_EQ(version, (FirmwareVersion{0x0910, 4, 5, 6}));
  EXPECT_EQ(trace().back().length, 7u);

  ASSERT_EQ(get_firmware_version(&version), MALTOR_OK);
  EXPECT_EQ(version, (FirmwareVersion{0x0910, 0x11, 0x12, 0x13}));
}

// SCSetHWSettings clears the first 64 reply bytes before it reads, so a
// short reply cannot pass the echo check on an earlier reply's byte 3. A
// short page reply shows what the reply area held: zeros up to byte 63, the
// serial number's bytes beyond.
TEST_F(Transfers, ClearedReplyAreaMakesShortSettingsReplyFail) {
  const std::int32_t id = plug_and_connect();
  std::uint8_t serial[128];
  std::memset(serial, 0xC3, sizeof serial);
  ASSERT_EQ(MaltorSim_SetContent(id, MALTOR_SIM_SERIAL_NUMBER, serial, sizeof serial), 0);
  ASSERT_EQ(call_serial_number(), MALTOR_OK);

  ASSERT_EQ(call_set_hw_settings(), MALTOR_OK);
  ASSERT_EQ(MaltorSim_InjectFault(id, MALTOR_SIM_FAULT_SHORT_REPLY, 0x23, 1, 5), 0);
  std::uint8_t page[64];
  ASSERT_EQ(GetEEPROMPageFormat(1, page), MALTOR_OK);
  EXPECT_EQ(Bytes(page + 1, page + 59), Bytes(58, 0));
  EXPECT_EQ(Bytes(page + 59, page + 64), Bytes(5, 0xC3));

  ASSERT_EQ(MaltorSim_InjectFault(id, MALTOR_SIM_FAULT_SHORT_REPLY, 0x21, 1, 3), 0);
  EXPECT_EQ(call_set_hw_settings(), MALTOR_ERR_EXCHANGE);
}

}  // namespace
}  // namespace maltor::test
