// The traced side of the seam in platform/usb.h: the calls that name a
// device, and the transfers while a trace runs. Every transfer of every
// backend passes here, so the USB trace records them all alike. It sits with
// the trace it feeds; the platform only declares these calls.
#include "link/usb_trace.h"
#include "platform/usb.h"

namespace maltor::platform {

std::atomic<bool> g_tracing{false};

namespace {

trace::Outcome outcome_of(IoStatus status, const IoTraceTag& tag) {
  switch (status) {
    case IoStatus::kDone:
      return trace::Outcome::kDone;
    case IoStatus::kGone:
      return trace::Outcome::kGone;
    default:
      break;
  }
  if (tag.timed_out) return trace::Outcome::kTimeout;
  if (trace::aborts(tag.pipe) != tag.aborts) return trace::Outcome::kAborted;
  return trace::Outcome::kFailed;
}

// An overlapped transfer: its submission before the backend call; its
// completion then too when it ended at once, else in io_result.
template <typename Call>
IoStatus traced_async(Handle usb, std::uint8_t pipe, const std::uint8_t* out_data,
                      std::uint8_t* in_buffer, std::uint32_t length, IoRecord& io,
                      std::uint32_t* count, Call call) {
  io.trace.irp = 0;
  const std::uint64_t id = trace::submitted(usb, pipe, out_data, length);
  io.trace.usb = usb;
  io.trace.pipe = pipe;
  io.trace.buffer = in_buffer;
  io.trace.timed_out = false;
  io.trace.aborts = trace::aborts(pipe);
  const IoStatus status = call();
  if (id == 0) return status;
  if (status == IoStatus::kPending) {
    io.trace.irp = id;
  } else {
    trace::completed(id, usb, pipe, outcome_of(status, io.trace), in_buffer, *count);
  }
  return status;
}

// A synchronous transfer: its submission before the backend call and its
// completion after it. `in_buffer` holds the data of a read.
template <typename Call>
bool traced_sync(Handle usb, std::uint8_t pipe, const std::uint8_t* out_data,
                 const std::uint8_t* in_buffer, std::uint32_t length, std::uint32_t* count,
                 Call call) {
  const std::uint64_t id = trace::submitted(usb, pipe, out_data, length);
  if (id == 0) return call();
  const std::uint32_t aborts = trace::aborts(pipe);
  const bool done = call();
  const trace::Outcome outcome = done                            ? trace::Outcome::kDone
                                 : trace::aborts(pipe) != aborts ? trace::Outcome::kAborted
                                                                 : trace::Outcome::kFailed;
  trace::completed(id, usb, pipe, outcome, in_buffer, *count);
  return done;
}

struct ListingVisitor {
  DeviceVisitor visit;
  void* context;
};

bool note_listed(void* context, const DeviceEntry& entry) {
  const auto& listing = *static_cast<const ListingVisitor*>(context);
  trace::device_listed(entry.path, entry.instance_id);
  return listing.visit(listing.context, entry);
}

}  // namespace

void enumerate_devices(DeviceVisitor visit, void* context) {
  ListingVisitor listing{visit, context};
  backend::enumerate_devices(note_listed, &listing);
}

Handle open_device_file(const char* path) {
  const Handle file = backend::open_device_file(path);
  if (file != kInvalidHandle) trace::device_opened(path, file);
  return file;
}

Handle usb_initialize(Handle file) {
  const Handle usb = backend::usb_initialize(file);
  if (usb != kInvalidHandle) trace::interface_opened(file, usb);
  return usb;
}

namespace traced {

IoStatus pipe_write_async(Handle usb, std::uint8_t pipe, const std::uint8_t* data,
                          std::uint32_t length, IoRecord& io, std::uint32_t* count) {
  return traced_async(usb, pipe, data, nullptr, length, io, count, [&] {
    return backend::pipe_write_async(usb, pipe, data, length, io, count);
  });
}

IoStatus pipe_read_async(Handle usb, std::uint8_t pipe, std::uint8_t* buffer, std::uint32_t length,
                         IoRecord& io, std::uint32_t* count) {
  return traced_async(usb, pipe, nullptr, buffer, length, io, count, [&] {
    return backend::pipe_read_async(usb, pipe, buffer, length, io, count);
  });
}

void completed(IoRecord& io, IoStatus status, std::uint32_t count) {
  trace::completed(io.trace.irp, io.trace.usb, io.trace.pipe, outcome_of(status, io.trace),
                   io.trace.buffer, count);
  io.trace.irp = 0;
}

void pipe_aborted(std::uint8_t pipe) {
  trace::pipe_aborted(pipe);
}

bool pipe_read_sync(Handle usb, std::uint8_t pipe, std::uint8_t* buffer, std::uint32_t length,
                    std::uint32_t* count) {
  return traced_sync(usb, pipe, nullptr, buffer, length, count,
                     [&] { return backend::pipe_read_sync(usb, pipe, buffer, length, count); });
}

bool pipe_write_sync(Handle usb, std::uint8_t pipe, const std::uint8_t* data, std::uint32_t length,
                     std::uint32_t* count) {
  return traced_sync(usb, pipe, data, nullptr, length, count,
                     [&] { return backend::pipe_write_sync(usb, pipe, data, length, count); });
}

}  // namespace traced

}  // namespace maltor::platform
