// The logger firmware update thread: logger frames of 59-byte blocks.
#pragma once

namespace maltor::update {

// The update thread body that UpdateLoggerFirmware starts.
void logger_update();

}  // namespace maltor::update
