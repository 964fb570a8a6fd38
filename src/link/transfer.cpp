#include "link/transfer.h"

#include "link/device_table.h"

namespace maltor::link {

using platform::IoRecord;
using platform::IoStatus;

std::uint16_t WriteCommand(std::uint8_t slot_index) {
  DeviceSlot& slot = g_table.slots[slot_index];
  if (slot.file == kInvalidHandle || slot.usb == kInvalidHandle) return 0;
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
  switch (started) {
    case IoStatus::kDone:
      result = written;
      break;
    case IoStatus::kNoAccess:
      break;
    case IoStatus::kPending:
      if (!platform::io_wait(io, buffer.timeout_ms)) {
        platform::pipe_abort(slot.usb, slot.command_out_pipe);
        platform::cancel_io(slot.file);
        // The aborted write still owns the record until it has completed.
        platform::io_result(slot.file, io, /*wait=*/true, &written);
      } else if (platform::io_result(slot.file, io, /*wait=*/true, &written) == IoStatus::kDone) {
        result = written;
      }
      break;
    default:
      platform::pipe_abort(slot.usb, slot.command_out_pipe);
      break;
  }
  platform::io_close(io);
  return static_cast<std::uint16_t>(result);
}

namespace {

std::uint32_t read_reply(std::uint8_t slot_index, std::uint32_t wait_ms)
    MALTOR_REQUIRES(g_exchange_lock) {
  DeviceSlot& slot = g_table.slots[slot_index];
  if (slot.file == kInvalidHandle || slot.usb == kInvalidHandle) return 0;
  TransferBuffer& buffer = *slot.buffer;

  IoRecord io;
  platform::io_open(io, /*manual_reset=*/false);
  std::uint32_t count = 0;
  std::uint32_t result = 0;
  const IoStatus started = platform::pipe_read_async(slot.usb, slot.command_in_pipe, buffer.reply,
                                                     buffer.bytes_to_read, io, &count);
  if (started == IoStatus::kDone) {
    result = count;
  } else if (started == IoStatus::kGone) {
    slot.present = 0;
  } else if (count != 0) {
    result = count;
  } else if (started == IoStatus::kPending) {
    if (platform::io_wait(io, wait_ms)) {
      if (platform::io_result(slot.file, io, /*wait=*/true, &count) == IoStatus::kDone) {
        result = count;
      }
    } else {
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
