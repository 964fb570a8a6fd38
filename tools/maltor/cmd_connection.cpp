// Connection commands: devices, status.
#include <cstdio>
#include <cstring>
#include <vector>

#include "command.h"
#include "command_support.h"
#include "device_link.h"
#include "errors.h"
#include "output.h"

namespace maltor::tool {

namespace {

const char* speed_name(bool high_speed) {
  return high_speed ? "high" : "full";
}

// How MaltorListDevices tells who has a device.
const char* in_use_name(std::uint8_t in_use) {
  switch (in_use) {
    case 0:
      return "free";
    case 1:
      return "this process";
    default:
      return "another program";
  }
}

int run_devices(Session& session, ArgList& args) {
  const bool json_out = wants_json(session, args);
  args.expect_done();
  const std::vector<MaltorDeviceInfo> devices = list_devices(session.library());
  if (devices.empty()) throw_no_device(session);

  if (json_out) {
    JsonWriter json;
    json.begin_object().key("devices").begin_array();
    for (std::size_t i = 0; i < devices.size(); ++i) {
      const MaltorDeviceInfo& device = devices[i];
      json.begin_object().key("index").value(static_cast<std::uint64_t>(i));
      json.key("kind").value(device.kind);
      json.key("vendor_id").value(hex(device.vendor_id, 4));
      json.key("product_id").value(hex(device.product_id, 4));
      json.key("serial").value(device.serial).key("location").value(device.location);
      json.key("path").value(device.path).key("in_use").value(in_use_name(device.in_use));
      json.end_object();
    }
    json.end_array().end_object();
    std::printf("%s\n", json.text().c_str());
    return kExitOk;
  }
  std::printf("%-6s %-5s %-20s %-12s %-16s %s\n", "index", "kind", "serial", "location", "in use",
              "path");
  for (std::size_t i = 0; i < devices.size(); ++i) {
    const MaltorDeviceInfo& device = devices[i];
    std::printf("%-6zu %-5u %-20s %-12s %-16s %s\n", i, device.kind,
                device.serial[0] != '\0' ? device.serial : "-",
                device.location[0] != '\0' ? device.location : "-", in_use_name(device.in_use),
                device.path);
  }
  return kExitOk;
}

int run_status(Session& session, ArgList& args) {
  const bool json_out = wants_json(session, args);
  const bool raw = args.flag("--raw");
  args.expect_done();
  const ConnectedDevice device = connect(session);
  const MaltorConnection& record = device.record;

  // The library exports no speed query; only the virtual device's is known here.
  const VirtualDevice* virtual_device = slot0_virtual_device(session);
  const char* speed = virtual_device ? speed_name(virtual_device->high_speed) : "unknown";

  if (json_out) {
    JsonWriter json;
    json.begin_object().key("kind").value(record.device_kind);
    json.key("file_handle").value(hex(record.file_handle, 16));
    json.key("reserved_word").value(hex(record.reserved_word, 16));
    json.key("reserved_half").value(hex(record.reserved_half, 4));
    json.key("endpoints").value(device.endpoints).key("speed").value(speed);
    if (raw) {
      std::uint8_t bytes[sizeof record];
      std::memcpy(bytes, &record, sizeof record);
      json.key("raw").value(hex_string(bytes));
    }
    json.end_object();
    std::printf("%s\n", json.text().c_str());
    return kExitOk;
  } else {
    std::printf("kind           %u\n", record.device_kind);
    std::printf("file handle    %s\n", hex(record.file_handle, 16).c_str());
    std::printf("reserved word  %s\n", hex(record.reserved_word, 16).c_str());
    std::printf("reserved half  %s\n", hex(record.reserved_half, 4).c_str());
    std::printf("endpoints      %u\n", device.endpoints);
    std::printf("speed          %s%s\n", speed,
                virtual_device ? " (as the virtual device was plugged)"
                               : " (the library does not report it)");
  }
  if (raw) {
    std::uint8_t bytes[sizeof record];
    std::memcpy(bytes, &record, sizeof record);
    std::printf("%s", hex_dump(bytes).c_str());
  }
  return kExitOk;
}

constexpr Command kCommands[] = {
    {"devices", "list the devices present and who has them",
     "maltor [global options] devices [--json]\n"
     "\n"
     "Lists every device present (MaltorListDevices) without opening any: its\n"
     "index, kind, serial number, location, whether it is free, open in this\n"
     "process or held by another program, and its path. The global option\n"
     "--device takes the index, serial, location or path to work with one of them.\n"
     "Fails with \"no device found\" when there is none.\n",
     run_devices},
    {"status", "show the connection record, endpoint count and link speed",
     "maltor [global options] status [--raw] [--json]\n"
     "\n"
     "Shows the fields of the connection record GetConnected fills (kind, file\n"
     "handle, reserved word and half-word), DeviceIsReady's endpoint count and the\n"
     "link speed: high or full with --sim, \"unknown\" otherwise, as the library\n"
     "does not report it.\n"
     "\n"
     "  --raw    also dump the record's 19 bytes\n",
     run_status},
};

}  // namespace

std::span<const Command> connection_commands() {
  return kCommands;
}

}  // namespace maltor::tool
