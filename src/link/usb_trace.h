// The USB trace: every transfer the platform layer makes, written as it
// happens into a pcapng file that Wireshark opens as a Linux usbmon capture
// (link type 220), whatever the backend. The platform seam (platform/usb.h,
// link/usb_seam.cpp) calls the hooks below only while a trace
// runs; without one an exchange costs one relaxed load per platform call.
//
// Each transfer becomes two packets with the same id: the submission (OUT
// data, or the length asked for on IN) and the completion (IN data, the bytes
// moved and the outcome as an errno value). Each open device has an address
// of its own; its first transfer in a trace is preceded by a GET_DESCRIPTOR
// exchange with its vendor and product id, so dissectors keyed on them attach.
#pragma once

#include <cstdint>

#include "platform/usb.h"

namespace maltor::trace {

enum class Outcome : std::uint8_t {
  kDone,
  kTimeout,  // a wait for the transfer ran out
  kAborted,  // the pipe was aborted while it ran
  kGone,     // the device vanished
  kFailed,   // any other failure
};

inline bool running() {
  return platform::tracing();
}

// Closes a running trace, then creates `path` and writes the file's header
// blocks. False when the file cannot be created or written.
bool start(const char* path);
// Flushes and closes the running trace. False when its last bytes could not
// be written.
bool stop();
// The exports' form of start() and stop(): a failure becomes
// kFileOpenFailed and a kFile detail naming the file.
std::uint8_t start_trace(const char* path);
void stop_trace();
// Bytes written into traces since the library was loaded (for benchmarks).
std::uint64_t bytes_written();

// A transfer starts: returns its id (0 when no trace runs). `data` is the OUT
// data, null for IN, where `length` is the length asked for.
std::uint64_t submitted(std::uint64_t usb, std::uint8_t pipe, const std::uint8_t* data,
                        std::uint32_t length);
// The transfer with id `id` (not 0) ended; `data` holds `count` IN bytes.
void completed(std::uint64_t id, std::uint64_t usb, std::uint8_t pipe, Outcome outcome,
               const std::uint8_t* data, std::uint32_t count);

// Aborts per pipe while a trace runs, so that a completion can tell an
// aborted transfer from a failed one.
void pipe_aborted(std::uint8_t pipe);
std::uint32_t aborts(std::uint8_t pipe);

// Discovery listed a device: keeps its vendor and product id by path.
void device_listed(const char* path, const char* instance_id);
// A device path was opened as `file`, and its USB interface as `usb`.
void device_opened(const char* path, std::uint64_t file);
void interface_opened(std::uint64_t file, std::uint64_t usb);

}  // namespace maltor::trace
