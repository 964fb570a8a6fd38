#include "session.h"

#include <cstdlib>

#include "call_errors.h"
#include "device_link.h"
#include "errors.h"

namespace maltor::tool {

namespace {

// A library older than its error services leaves results in plain numbers.
LibraryErrorSource library_errors(const Library& library) {
  LibraryErrorSource source;
  if (library.exports("MaltorResultText")) {
    source.result_text = MALTOR_FUNCTION(library, MaltorResultText);
  }
  if (library.exports("MaltorGetLastError")) {
    source.last_error = MALTOR_FUNCTION(library, MaltorGetLastError);
  }
  return source;
}

}  // namespace

Library& Session::library() {
  if (library_) return *library_;
  // --lib first, then the MALTOR_LIBRARY variable, then a search by name.
  const char* from_environment = std::getenv("MALTOR_LIBRARY");
  if (!options_.library_path.empty()) {
    library_.emplace(Library::load_file(options_.library_path));
  } else if (from_environment != nullptr && *from_environment != '\0') {
    library_.emplace(Library::load_file(from_environment));
  } else {
    library_.emplace(Library::load(options_.sim ? "MaltorUSBdrv_sim" : "MaltorUSBdrv"));
  }
  use_library_errors(library_errors(*library_));
  if (options_.sim) plug_virtual_devices(*library_);
  if (!options_.device.empty()) select_device(*library_, options_.device);
  if (!options_.trace_path.empty()) start_trace(*library_, options_.trace_path);
  return *library_;
}

void Session::plug_virtual_devices(const Library& library) {
  if (!library.exports("MaltorSim_Plug")) {
    throw ToolError(kExitLibrary,
                    library.path() + " has no virtual device (--sim needs MaltorUSBdrv_sim)");
  }
  const auto plug = MALTOR_FUNCTION(library, MaltorSim_Plug);
  const std::uint8_t speed =
      options_.sim_high_speed ? MALTOR_SIM_HIGH_SPEED : MALTOR_SIM_FULL_SPEED;
  for (std::uint32_t i = 0; i < options_.sim_devices; ++i) {
    const std::int32_t id = plug(options_.sim_kind, speed, -1);
    if (id < 0) {
      throw ToolError(kExitFailed, "the virtual bus refused to plug device " +
                                       std::to_string(i + 1) + " of kind " +
                                       std::to_string(options_.sim_kind));
    }
    virtual_devices_.push_back({id, options_.sim_kind, options_.sim_high_speed});
  }
}

}  // namespace maltor::tool
