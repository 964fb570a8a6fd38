// What the commands of one run share: the global options, the library (loaded
// on first use) and, with --sim, the virtual devices plugged into it.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "cli.h"
#include "library.h"

namespace maltor::tool {

struct VirtualDevice {
  std::int32_t id;
  std::uint8_t kind;
  bool high_speed;
};

class Session {
 public:
  explicit Session(GlobalOptions options) : options_(std::move(options)) {}

  const GlobalOptions& options() const { return options_; }
  bool json() const { return options_.json; }

  // Loads the library on first use: --lib's file, MaltorUSBdrv_sim with
  // --sim, else MaltorUSBdrv. With --sim, plugs the virtual devices then.
  Library& library();

  // The virtual devices plugged by --sim, in bus order (empty without --sim).
  const std::vector<VirtualDevice>& virtual_devices() const { return virtual_devices_; }

 private:
  void plug_virtual_devices(const Library& library);
  // --trace: the library records until it is unloaded at exit (cmd_trace.cpp).
  static void start_trace(const Library& library, const std::string& path);

  GlobalOptions options_;
  std::optional<Library> library_;
  std::vector<VirtualDevice> virtual_devices_;
};

}  // namespace maltor::tool
