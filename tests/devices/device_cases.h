// Cases that both USB backends must pass alike, run against the emulated bus
// of a DeviceRig: most through the library's exports, a few through the
// platform calls on their own (linked into the test program from the same
// sources as the library). The libusb program (umockdev) and the Windows
// program (the real DLL under wine) both run the whole table, so a case added
// here runs on both.
#pragma once

#include <gtest/gtest.h>

#include <ostream>

#include "device_rig.h"

namespace maltor::test {

struct DeviceCase {
  const char* name;
  void (*run)(DeviceRig& rig);
};

extern const DeviceCase kDeviceCases[];
extern const std::size_t kDeviceCaseCount;

inline std::ostream& operator<<(std::ostream& out, const DeviceCase& c) {
  return out << c.name;
}

// The program's rig; each program defines it.
DeviceRig& device_rig();

class SharedDeviceCase : public ::testing::TestWithParam<DeviceCase> {
 protected:
  void SetUp() override { device_rig().fresh(); }
  void TearDown() override { device_rig().api().CloseDevice(); }
};

// Registers the table under `prefix` in the program that includes it once.
#define MALTOR_INSTANTIATE_DEVICE_CASES(prefix)                                             \
  TEST_P(SharedDeviceCase, Runs) {                                                          \
    GetParam().run(device_rig());                                                           \
  }                                                                                         \
  INSTANTIATE_TEST_SUITE_P(                                                                 \
      prefix, SharedDeviceCase,                                                             \
      ::testing::ValuesIn(::maltor::test::kDeviceCases,                                     \
                          ::maltor::test::kDeviceCases + ::maltor::test::kDeviceCaseCount), \
      [](const ::testing::TestParamInfo<DeviceCase>& info) { return info.param.name; })

}  // namespace maltor::test
