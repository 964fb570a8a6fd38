#include "session.h"

#include "errors.h"

namespace maltor::tool {

Library& Session::library() {
  if (library_) return *library_;
  if (!options_.library_path.empty()) {
    library_.emplace(Library::load_file(options_.library_path));
  } else {
    library_.emplace(Library::load(options_.sim ? "MaltorUSBdrv_sim" : "MaltorUSBdrv"));
  }
  if (options_.sim) plug_virtual_devices(*library_);
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
