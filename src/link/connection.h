// Connection operations on slot 0 and the library's load and unload actions.
#pragma once

#include <atomic>
#include <cstdint>

#include "MaltorUSBdrv.h"

namespace maltor::link {

// Pointers the application stores; the library never calls or uses them.
extern std::atomic<void*> g_receive_callback;
extern std::atomic<void*> g_caller_critical_section;
void store_receive_callback(void* callback);
void store_caller_critical_section(void* critical_section);

// Process attach and detach, called by the library's load and unload entry points.
void library_attach();
void library_detach();

// The connection operations take the exchange lock (they wait for an
// exchange in progress, the update thread's included) but are never refused
// while an update is alive.
std::uint8_t device_is_ready();
std::uint8_t get_connected(MaltorConnection* record);
void close_device();
void close_device_if_open();

}  // namespace maltor::link
