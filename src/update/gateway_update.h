// The gateway firmware update thread: announce, gateway blocks, completion.
#pragma once

namespace maltor::update {

// The update thread body that UpdateFirmware starts.
void gateway_update();

}  // namespace maltor::update
