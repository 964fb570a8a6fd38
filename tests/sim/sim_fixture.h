// A fresh library and virtual bus for every test.
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
#include "link/exchange.h"

namespace maltor::test {

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MaltorSim_Reset();
    MaltorSelectDevice(nullptr);
    link::ResetDeviceTable();
    link::g_sequence = 0;
    link::g_high_speed = 0;
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

  struct Transfer {
    std::int32_t device;
    std::uint8_t pipe;
    std::uint32_t length;
    std::vector<std::uint8_t> bytes;
  };

  static std::vector<Transfer> trace() {
    std::vector<Transfer> out;
    for (std::uint32_t i = 0; i < MaltorSim_TraceCount(); ++i) {
      MaltorSimTraceEntry entry{};
      std::vector<std::uint8_t> bytes(65536);
      const std::int32_t stored =
          MaltorSim_TraceGet(i, &entry, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
      bytes.resize(stored < 0 ? 0 : static_cast<std::size_t>(stored));
      out.push_back({entry.device, entry.pipe, entry.length, bytes});
    }
    return out;
  }

  // The frames written on the command OUT pipe, in order.
  static std::vector<std::vector<std::uint8_t>> frames_written() {
    std::vector<std::vector<std::uint8_t>> out;
    for (const Transfer& t : trace()) {
      if (t.pipe == 0x02) out.push_back(t.bytes);
    }
    return out;
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

  static std::vector<std::uint8_t> read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  std::filesystem::path dir_;
};

}  // namespace maltor::test
