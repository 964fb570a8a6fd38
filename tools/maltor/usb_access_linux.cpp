// Linux only: libusb opens /dev/bus/usb/BBB/DDD, which udev makes
// root-only unless a rule grants access.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "usb_access.h"

namespace maltor::tool {

namespace {

constexpr const char* kMaltorVendor = "4d54";
constexpr const char* kUdevRule = "packaging/linux/60-maltor.rules";

std::string read_word(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string word;
  in >> word;
  return word;
}

}  // namespace

std::string usb_access_hint() {
  namespace fs = std::filesystem;
  std::error_code error;
  std::string hint;
  for (const fs::directory_entry& entry : fs::directory_iterator("/sys/bus/usb/devices", error)) {
    const fs::path sys = entry.path();
    if (read_word(sys / "idVendor") != kMaltorVendor) continue;
    const std::string bus = read_word(sys / "busnum");
    const std::string device = read_word(sys / "devnum");
    if (bus.empty() || device.empty()) continue;
    char node[64];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", std::atoi(bus.c_str()),
                  std::atoi(device.c_str()));
    if (access(node, R_OK | W_OK) == 0) continue;
    hint += "a Maltor device (" + std::string(kMaltorVendor) + ":" + read_word(sys / "idProduct") +
            ") is at " + node + ", but this user cannot read and write it\n";
  }
  if (!hint.empty()) {
    hint += "install the udev rule ";
    hint += kUdevRule;
    hint += " (copy it to /etc/udev/rules.d/, then replug the device)";
  }
  return hint;
}

}  // namespace maltor::tool
