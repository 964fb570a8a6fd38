#include "platform/sim/model/device_content.h"

#include <cstring>

namespace maltor::sim {

DeviceContent::DeviceContent() {
  std::memcpy(serial, "MALTOR-SIM-000001", 17);
  for (int i = 0; i < 128; ++i) hw_settings[i] = static_cast<std::uint8_t>(i);
  for (int i = 0; i < 17; ++i) mmc_info[i] = static_cast<std::uint8_t>(0xA0 + i);
  std::memcpy(config_tag, "CFG-MALTOR-0001", 15);
  for (int page = 0; page < 256; ++page) {
    for (int i = 0; i < 64; ++i) eeprom[page][i] = static_cast<std::uint8_t>(page ^ i);
  }
  clock = 0x6700'0000;
}

}  // namespace maltor::sim
