// A fresh library and virtual bus for every test, and what the tests read off
// the virtual device's wire trace.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "MaltorUSBdrv.h"
#include "MaltorUSBdrv_sim.h"
#include "link/device_table.h"

namespace maltor::test {

using Bytes = std::vector<std::uint8_t>;

// A standard frame: sequence byte, length, code, 0, payload, 8-bit sum.
inline Bytes standard_frame(std::uint8_t sequence, std::uint8_t code, const Bytes& payload = {}) {
  const std::size_t length = payload.size() + 6;
  Bytes frame{sequence, static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
              code, 0};
  frame.insert(frame.end(), payload.begin(), payload.end());
  std::uint8_t sum = 0;
  for (const std::uint8_t b : frame) sum = static_cast<std::uint8_t>(sum + b);
  frame.push_back(sum);
  return frame;
}

// `frame`, written with sequence byte 0, as it goes out under `sequence`: the
// byte and the 8-bit sum over the whole frame both change.
inline Bytes stamped(Bytes frame, std::uint8_t sequence) {
  frame.front() = sequence;
  frame.back() = static_cast<std::uint8_t>(frame.back() + sequence);
  return frame;
}

// Virtual milliseconds that `call` takes.
template <typename Call>
std::uint64_t virtual_ms(Call&& call) {
  const std::uint64_t start = MaltorSim_ClockNow();
  call();
  return MaltorSim_ClockNow() - start;
}

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MaltorSim_Reset();
    MaltorSelectDevice(nullptr);
    // Handles of the previous test's devices are gone with its bus; no call
    // forgets them without first failing on them.
    link::ResetDeviceTable();
  }
  void TearDown() override { MaltorSim_Reset(); }

  // Plugs a device of `kind` and connects to it; returns the device id.
  std::int32_t plug_and_connect(std::uint8_t kind = 1, std::uint8_t speed = MALTOR_SIM_HIGH_SPEED) {
    const std::int32_t id = MaltorSim_Plug(kind, speed, -1);
    EXPECT_GT(id, 0);
    EXPECT_NE(DeviceIsReady(), 0);
    MaltorSim_TraceClear();
    return id;
  }

 public:
  // What the wire trace shows; free helpers of the tests read it too.
  struct Transfer {
    std::int32_t device;
    std::uint8_t pipe;
    std::uint32_t length;
    Bytes bytes;
  };

  static std::vector<Transfer> trace() {
    std::vector<Transfer> out;
    for (std::uint32_t i = 0; i < MaltorSim_TraceCount(); ++i) {
      MaltorSimTraceEntry entry{};
      const std::int32_t stored = MaltorSim_TraceGet(i, &entry, nullptr, 0);
      Bytes bytes(stored < 0 ? 0 : static_cast<std::size_t>(stored));
      MaltorSim_TraceGet(i, &entry, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
      out.push_back({entry.device, entry.pipe, entry.length, std::move(bytes)});
    }
    return out;
  }

  // The stored bytes of every transfer on `pipe`, in order.
  static std::vector<Bytes> on_pipe(std::uint8_t pipe) {
    std::vector<Bytes> out;
    for (Transfer& t : trace()) {
      if (t.pipe == pipe) out.push_back(std::move(t.bytes));
    }
    return out;
  }
  // Bytes moved by each transfer on `pipe`.
  static std::vector<std::uint32_t> lengths_on(std::uint8_t pipe) {
    std::vector<std::uint32_t> out;
    for (const Transfer& t : trace()) {
      if (t.pipe == pipe) out.push_back(t.length);
    }
    return out;
  }
  static std::size_t transfers_on(std::uint8_t pipe) { return lengths_on(pipe).size(); }
  // The frames written on the command OUT pipe and the replies read on the
  // command IN pipe.
  static std::vector<Bytes> frames_written() { return on_pipe(0x02); }
  static std::vector<Bytes> replies_read() { return on_pipe(0x82); }
  static Bytes last_reply() {
    const std::vector<Bytes> replies = replies_read();
    return replies.empty() ? Bytes{} : replies.back();
  }

  // Where the sequence counter stands: a firmware-version query takes the
  // number and shows it on the wire. The trace is cleared around it. Needs a
  // connected device.
  static std::uint8_t probe_sequence() {
    MaltorSim_TraceClear();
    std::uint16_t word = 0;
    std::uint8_t a = 0, b = 0, c = 0;
    EXPECT_EQ(SCGetFirmwareVersion(&word, &a, &b, &c), MALTOR_OK);
    const std::vector<Bytes> frames = frames_written();
    MaltorSim_TraceClear();
    return frames.size() == 1 ? frames[0][0] : 0;
  }
  // The sequence byte the next standard frame carries (after a probe).
  static std::uint8_t next_sequence() { return static_cast<std::uint8_t>(probe_sequence() + 1); }
  // Exchanges until the next standard frame carries `sequence`.
  static void set_sequence(std::uint8_t sequence) {
    for (std::uint8_t next = next_sequence(); next != sequence;) {
      next = next_sequence();
      if (::testing::Test::HasFailure()) return;
    }
  }

  static std::vector<std::string> debug_texts() {
    std::vector<std::string> out;
    for (std::uint32_t i = 0; i < MaltorSim_DebugCount(); ++i) {
      char text[128];
      MaltorSim_DebugGet(i, text, sizeof text);
      out.emplace_back(text);
    }
    return out;
  }
};

// A SimTest with an empty folder of its own for the files the test writes.
class SimFolderTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    // The process id keeps concurrent runs of one test apart.
    std::string name =
        "maltor_" + std::to_string(getpid()) + "_" + info->test_suite_name() + "_" + info->name();
    std::replace(name.begin(), name.end(), '/', '_');
    dir_ = std::filesystem::temp_directory_path() / name;
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    std::filesystem::remove_all(dir_);
    SimTest::TearDown();
  }

  static Bytes read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  std::filesystem::path dir_;
};

}  // namespace maltor::test
