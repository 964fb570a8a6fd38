// Linux only: libusb opens /dev/bus/usb/BBB/DDD, which udev makes root-only
// unless a rule grants access; the kernel tells through sysfs which driver
// holds an interface.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "call_errors.h"
#include "doctor.h"
#include "loader.h"
#include "usb_access.h"

namespace maltor::tool {

namespace {

namespace fs = std::filesystem;

constexpr const char* kMaltorVendor = "4d54";
constexpr const char* kUdevRule = "packaging/linux/60-maltor.rules";
// Where udev reads rules from; a rule anywhere else is never applied.
constexpr const char* kUdevRuleFolders[] = {"/etc/udev/rules.d", "/run/udev/rules.d",
                                            "/usr/lib/udev/rules.d", "/lib/udev/rules.d"};
// Where an install under /usr/local puts the rule, which udev does not read.
constexpr const char* kUnreadRuleFolder = "/usr/local/lib/udev/rules.d";

std::string read_word(const fs::path& file) {
  std::ifstream in(file);
  std::string word;
  in >> word;
  return word;
}

struct UsbDevice {
  std::string name;  // sysfs name, "1-1.4"
  std::string product;
  std::string node;  // /dev/bus/usb/BBB/DDD
};

std::vector<UsbDevice> maltor_devices() {
  std::vector<UsbDevice> devices;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator("/sys/bus/usb/devices", error)) {
    const fs::path sys = entry.path();
    if (read_word(sys / "idVendor") != kMaltorVendor) continue;
    const std::string bus = read_word(sys / "busnum");
    const std::string device = read_word(sys / "devnum");
    if (bus.empty() || device.empty()) continue;
    char node[64];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", std::atoi(bus.c_str()),
                  std::atoi(device.c_str()));
    devices.push_back({sys.filename().string(), read_word(sys / "idProduct"), node});
  }
  return devices;
}

// Opening the node is the test libusb makes (access() would let root pass a
// node that is not there): 0, or the errno of the failed open.
int open_error(const std::string& node) {
  const int fd = ::open(node.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return errno;
  ::close(fd);
  return 0;
}

std::string describe(const UsbDevice& device) {
  return std::string(kMaltorVendor) + ":" + device.product + " at " + device.node;
}

bool file_names_vendor(const fs::path& file) {
  std::ifstream in(file);
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  return text.find(std::string("\"") + kMaltorVendor + "\"") != std::string::npos;
}

// The rule files that name the vendor in `folder`.
std::vector<std::string> rules_in(const fs::path& folder) {
  std::vector<std::string> found;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
    if (entry.path().extension() == ".rules" && file_names_vendor(entry.path())) {
      found.push_back(entry.path().string());
    }
  }
  return found;
}

// The programs that have `node` open, as "PID (NAME)".
std::vector<std::string> holders_of(const std::string& node) {
  std::vector<std::string> holders;
  std::error_code error;
  for (const fs::directory_entry& process : fs::directory_iterator("/proc", error)) {
    const std::string pid = process.path().filename().string();
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
    if (std::atoi(pid.c_str()) == ::getpid()) continue;
    std::error_code fd_error;
    for (const fs::directory_entry& fd : fs::directory_iterator(process.path() / "fd", fd_error)) {
      std::error_code link_error;
      if (fs::read_symlink(fd.path(), link_error) == node) {
        holders.push_back(pid + " (" + read_word(process.path() / "comm") + ")");
        break;
      }
    }
  }
  return holders;
}

DoctorCheck libusb_check() {
  // libusb's own record of its version, declared here as libusb.h has it.
  struct LibusbVersion {
    std::uint16_t major, minor, micro, nano;
    const char* rc;
    const char* describe;
  };
  DoctorCheck check{"libusb", CheckStatus::kOk, "", ""};
  std::string error;
  void* libusb = loader::open("libusb-1.0.so.0", error);
  if (libusb == nullptr) {
    check.status = CheckStatus::kFailed;
    check.found = "libusb-1.0.so.0 cannot be loaded: " + error;
    check.fix = "install libusb 1.0 (Debian: apt-get install libusb-1.0-0)";
    return check;
  }
  using GetVersion = const LibusbVersion* (*)();
  const auto get_version = reinterpret_cast<GetVersion>(loader::find(libusb, "libusb_get_version"));
  if (get_version == nullptr) {
    check.found = "loaded; it does not report its version";
    return check;
  }
  const LibusbVersion* version = get_version();
  check.found = std::to_string(version->major) + "." + std::to_string(version->minor) + "." +
                std::to_string(version->micro);
  return check;
}

}  // namespace

std::string usb_access_hint() {
  std::string hint;
  for (const UsbDevice& device : maltor_devices()) {
    if (open_error(device.node) == 0) continue;
    hint += "a Maltor device (" + describe(device) + ") is there, but this user cannot open it\n";
  }
  if (!hint.empty()) {
    hint += "install the udev rule ";
    hint += kUdevRule;
    hint += " (copy it to /etc/udev/rules.d/, then replug the device); maltor doctor tells more";
  }
  return hint;
}

std::vector<DoctorCheck> host_usb_checks() {
  std::vector<DoctorCheck> checks = {libusb_check()};

  const std::vector<UsbDevice> devices = maltor_devices();
  DoctorCheck present{"devices", CheckStatus::kOk, "", ""};
  if (devices.empty()) {
    present.status = CheckStatus::kFailed;
    present.found = std::string("no Maltor device (USB vendor ") + kMaltorVendor + ") on the bus";
    present.fix =
        "plug the device in and switch it on; try another cable or port ('lsusb -d 4d54:' lists "
        "it once the host sees it)";
  } else {
    for (const UsbDevice& device : devices) {
      present.found += (present.found.empty() ? "" : ", ") + describe(device);
    }
  }
  checks.push_back(present);

  for (const UsbDevice& device : devices) {
    DoctorCheck access{"access " + device.node, CheckStatus::kOk, "this user can open it", ""};
    if (const int os_error = open_error(device.node); os_error != 0) {
      access.status = CheckStatus::kFailed;
      access.found = "this user cannot open it: " + os_error_text(os_error);
      access.fix = std::string("install the udev rule ") + kUdevRule +
                   " in /etc/udev/rules.d/ and replug the device, or add this user to the "
                   "plugdev group and log in again";
    }
    checks.push_back(access);
  }

  DoctorCheck rule{"udev rule", CheckStatus::kOk, "", ""};
  for (const char* folder : kUdevRuleFolders) {
    for (const std::string& file : rules_in(folder)) {
      rule.found += (rule.found.empty() ? "" : ", ") + file;
    }
  }
  if (rule.found.empty()) {
    rule.status = CheckStatus::kFailed;
    const std::vector<std::string> unread = rules_in(kUnreadRuleFolder);
    rule.found = unread.empty() ? "no rule for vendor 4d54 where udev reads rules"
                                : unread.front() + " is installed where udev does not read it";
    rule.fix = std::string("copy ") + (unread.empty() ? kUdevRule : unread.front()) +
               " to /etc/udev/rules.d/, run 'udevadm control --reload-rules', then replug the "
               "device";
  }
  checks.push_back(rule);

  for (const UsbDevice& device : devices) {
    const std::string interface = device.name + ":1.0";
    DoctorCheck held{"interface 0 of " + device.node, CheckStatus::kOk, "free", ""};
    std::error_code error;
    const fs::path driver =
        fs::read_symlink(fs::path("/sys/bus/usb/devices") / interface / "driver", error);
    const std::string name = error ? "" : driver.filename().string();
    if (name == "usbfs") {
      // A program claimed it through libusb or usbfs.
      const std::vector<std::string> holders = holders_of(device.node);
      held.status = CheckStatus::kFailed;
      held.found = "claimed by ";
      held.found += holders.empty() ? "another program" : holders.front();
      held.fix = "end that program (only one program can use the device at a time)";
    } else if (!name.empty()) {
      held.status = CheckStatus::kFailed;
      held.found = "the kernel driver " + name + " is bound to it";
      held.fix =
          "unbind it: echo " + interface + " | sudo tee /sys/bus/usb/drivers/" + name + "/unbind";
    }
    checks.push_back(held);
  }
  return checks;
}

}  // namespace maltor::tool
