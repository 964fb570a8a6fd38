// Connection commands: devices, status.
#include <cstdio>
#include <cstring>

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

void print_virtual_devices(const Session& session) {
  const auto& devices = session.virtual_devices();
  std::printf("Virtual devices plugged: %zu\n", devices.size());
  for (const VirtualDevice& device : devices) {
    if (device.kind == MALTOR_SIM_FOREIGN) {
      std::printf("  id %d: foreign device, %s speed\n", device.id, speed_name(device.high_speed));
    } else {
      std::printf("  id %d: kind %u, %s speed\n", device.id, device.kind,
                  speed_name(device.high_speed));
    }
  }
}

void json_virtual_devices(JsonWriter& json, const Session& session) {
  json.key("virtual_devices").begin_array();
  for (const VirtualDevice& device : session.virtual_devices()) {
    json.begin_object().key("id").value(device.id).key("kind").value(device.kind);
    json.key("speed").value(speed_name(device.high_speed)).end_object();
  }
  json.end_array();
}

int run_devices(Session& session, ArgList& args) {
  const bool json_out = wants_json(session, args);
  args.expect_done();
  ConnectedDevice device{};
  try {
    device = connect(session);
  } catch (const ToolError& error) {
    // Show what was plugged even when discovery skipped all of it.
    if (error.exit_code() == kExitFailed && session.options().sim && !json_out) {
      print_virtual_devices(session);
    }
    throw;
  }

  if (json_out) {
    JsonWriter json;
    json.begin_object().key("connected").begin_object();
    json.key("slot").value(0).key("kind").value(device.record.device_kind);
    json.key("file_handle").value(hex(device.record.file_handle, 16));
    json.key("endpoints").value(device.endpoints).end_object();
    if (session.options().sim) json_virtual_devices(json, session);
    json.end_object();
    std::printf("%s\n", json.text().c_str());
    return kExitOk;
  }
  std::printf("Connected device (slot 0)\n");
  std::printf("  kind         %u\n", device.record.device_kind);
  std::printf("  file handle  %s\n", hex(device.record.file_handle, 16).c_str());
  std::printf("  endpoints    %u\n", device.endpoints);
  if (session.options().sim) {
    print_virtual_devices(session);
    if (session.virtual_devices().size() > 1) {
      std::printf(
          "(the library reports the device in slot 0 only; the others wait in slots 1-9)\n");
    }
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
    {"devices", "find the device and list what is connected",
     "maltor [global options] devices [--json]\n"
     "\n"
     "Runs discovery (DeviceIsReady, GetConnected) and shows the device in slot 0:\n"
     "its kind, file handle and endpoint count. With --sim it also lists the\n"
     "virtual devices plugged. Fails with \"no device found\" when there is none.\n",
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
