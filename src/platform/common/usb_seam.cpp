// The calls of usb.h that move data or name a device, over the backend's
// implementation: the one place every transfer of every backend passes, so
// the USB trace records them all alike. With no trace running each wrapper
// adds one relaxed load to the backend call.
#include "link/usb_trace.h"
#include "platform/usb.h"

namespace maltor::platform {

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

// Starts the trace of an overlapped transfer and, when it ended at once,
// records its completion too; a pending one keeps its tag in the record.
IoStatus traced_start(IoStatus status, std::uint64_t id, Handle usb, std::uint8_t pipe,
                      const std::uint8_t* in_buffer, IoRecord& io, std::uint32_t* count) {
  io.trace.irp = 0;
  if (id == 0) return status;
  io.trace.usb = usb;
  io.trace.pipe = pipe;
  io.trace.buffer = in_buffer;
  io.trace.timed_out = false;
  if (status == IoStatus::kPending) {
    io.trace.irp = id;
  } else {
    trace::completed(id, usb, pipe, outcome_of(status, io.trace), in_buffer, *count);
  }
  return status;
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

// An overlapped transfer: its submission before the backend call; its
// completion then too when it ended at once, else in io_result.
template <typename Call>
IoStatus traced_async(Handle usb, std::uint8_t pipe, const std::uint8_t* out_data,
                      std::uint8_t* in_buffer, std::uint32_t length, IoRecord& io,
                      std::uint32_t* count, Call call) {
  if (!trace::running()) {
    io.trace.irp = 0;
    return call();
  }
  const std::uint64_t id = trace::submitted(usb, pipe, out_data, length);
  io.trace.aborts = trace::aborts(pipe);
  return traced_start(call(), id, usb, pipe, in_buffer, io, count);
}

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

bool io_wait(IoRecord& io, std::uint32_t timeout_ms) {
  const bool came = backend::io_wait(io, timeout_ms);
  if (!came && io.trace.irp != 0 && timeout_ms != 0) io.trace.timed_out = true;
  return came;
}

IoStatus io_result(Handle file, IoRecord& io, bool wait, std::uint32_t* count) {
  const IoStatus status = backend::io_result(file, io, wait, count);
  if (io.trace.irp != 0 && status != IoStatus::kIncomplete && status != IoStatus::kPending) {
    const std::uint32_t moved = status == IoStatus::kDone ? *count : 0;
    trace::completed(io.trace.irp, io.trace.usb, io.trace.pipe, outcome_of(status, io.trace),
                     io.trace.buffer, moved);
    io.trace.irp = 0;
  }
  return status;
}

bool pipe_abort(Handle usb, std::uint8_t pipe) {
  trace::pipe_aborted(pipe);
  return backend::pipe_abort(usb, pipe);
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

}  // namespace maltor::platform
