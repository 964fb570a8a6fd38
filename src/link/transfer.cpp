#include "link/transfer.h"

#include "link/device_table.h"
#include "link/error_detail.h"

namespace maltor::link {

using platform::IoRecord;
using platform::IoStatus;

namespace {

// The detail of a write or read that moved nothing: the device is gone, did
// not answer in time, or the USB stack failed the transfer.
void transfer_failure(IoStatus status, bool timed_out, bool writing, std::uint32_t length,
                      std::uint32_t wait_ms) {
  const char* what = writing ? "write of a command frame" : "read of a reply";
  if (status == IoStatus::kGone) {
    detail::set(0, detail::kDevice, 0, 0, length, "the device is gone (%s)", what);
  } else if (timed_out) {
    detail::set(0, detail::kDevice, 0, 0, length,
                writing ? "the device did not take a %u-byte command frame within %u ms"
                        : "no reply from the device within %u ms (%u bytes asked for)",
                writing ? length : wait_ms, writing ? wait_ms : length);
  } else {
    detail::set(0, detail::kUsb, 0, 0, length, "the USB stack failed the %s", what);
  }
}

}  // namespace

std::uint16_t WriteCommand(std::uint8_t slot_index) {
  DeviceSlot& slot = g_table.slots[slot_index];
  if (slot.file == kInvalidHandle || slot.usb == kInvalidHandle) {
    detail::no_device();
    return 0;
  }
  TransferBuffer& buffer = *slot.buffer;

  // A reply still outstanding from an earlier exchange must not be taken as
  // this frame's reply.
  platform::pipe_abort(slot.usb, slot.command_in_pipe);

  IoRecord io;
  platform::io_open(io, /*manual_reset=*/true);
  std::uint32_t written = 0;
  const IoStatus started = platform::pipe_write_async(
      slot.usb, slot.command_out_pipe, buffer.request, buffer.bytes_to_write, io, &written);
  std::uint32_t result = 0;
  IoStatus failed = started;
  bool timed_out = false;
  switch (started) {
    case IoStatus::kDone:
      result = written;
      break;
    case IoStatus::kNoAccess:
      break;
    case IoStatus::kPending:
      if (!platform::io_wait(io, buffer.timeout_ms)) {
        timed_out = true;
        platform::pipe_abort(slot.usb, slot.command_out_pipe);
        platform::cancel_io(slot.file);
        // The aborted write still owns the record until it has completed.
        platform::io_result(slot.file, io, /*wait=*/true, &written);
      } else if (failed = platform::io_result(slot.file, io, /*wait=*/true, &written);
                 failed == IoStatus::kDone) {
        result = written;
      }
      break;
    default:
      platform::pipe_abort(slot.usb, slot.command_out_pipe);
      break;
  }
  platform::io_close(io);
  if (result == 0) {
    transfer_failure(failed, timed_out, /*writing=*/true, buffer.bytes_to_write, buffer.timeout_ms);
  }
  return static_cast<std::uint16_t>(result);
}

namespace {

std::uint32_t read_reply(std::uint8_t slot_index, std::uint32_t wait_ms)
    MALTOR_REQUIRES(g_exchange_lock) {
  DeviceSlot& slot = g_table.slots[slot_index];
  if (slot.file == kInvalidHandle || slot.usb == kInvalidHandle) {
    detail::no_device();
    return 0;
  }
  TransferBuffer& buffer = *slot.buffer;

  IoRecord io;
  platform::io_open(io, /*manual_reset=*/false);
  std::uint32_t count = 0;
  std::uint32_t result = 0;
  const IoStatus started = platform::pipe_read_async(slot.usb, slot.command_in_pipe, buffer.reply,
                                                     buffer.bytes_to_read, io, &count);
  IoStatus failed = started;
  bool timed_out = false;
  if (started == IoStatus::kDone) {
    result = count;
  } else if (started == IoStatus::kGone) {
    slot.present = 0;
  } else if (count != 0) {
    result = count;
  } else if (started == IoStatus::kPending) {
    if (platform::io_wait(io, wait_ms)) {
      if (failed = platform::io_result(slot.file, io, /*wait=*/true, &count);
          failed == IoStatus::kDone) {
        result = count;
      }
    } else {
      timed_out = true;
      platform::pipe_abort(slot.usb, slot.command_in_pipe);
      const IoStatus collected = platform::io_result(slot.file, io, /*wait=*/true, &count);
      if (collected == IoStatus::kDone && count > 0) {
        result = count;  // the reply completed as the pipe was aborted
      } else {
        platform::cancel_io(slot.file);
      }
    }
  }
  platform::io_close(io);
  if (result == 0) {
    transfer_failure(failed, timed_out, /*writing=*/false, buffer.bytes_to_read, wait_ms);
  }
  return result;
}

}  // namespace

std::uint32_t ReadReply(std::uint8_t slot) {
  return read_reply(slot, kFixedReadWaitMs);
}

std::uint32_t ReadReplyTimed(std::uint8_t slot) {
  return read_reply(slot, g_table.slots[slot].buffer->timeout_ms);
}

}  // namespace maltor::link
