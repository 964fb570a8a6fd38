// Transfers over libusb: overlapped transfers on the pre-allocated libusb
// transfers of an open device, their completion events, pipe aborts and the
// synchronous transfers built on the same machinery (so that an abort can
// release a blocked synchronous read too).
#include <climits>
#include <cstring>
#include <new>

#include "platform/libusb/libusb_state.h"

namespace maltor::platform {

using namespace libusb_backend;

namespace {

// What an IoRecord holds: which slot its transfer uses. The transfer's state
// lives in the slot, which outlives the record if the record is closed while
// its transfer is still in flight.
struct UsbIo {
  std::uint64_t magic;
  std::uint32_t device_generation;
  std::uint32_t slot_generation;
  std::int16_t device;  // -1: no transfer started
  std::uint8_t pipe;
  std::uint8_t slot;
  bool manual_reset;
};
static_assert(sizeof(UsbIo) <= sizeof(IoRecord));

constexpr std::uint64_t kMagic = 0x4D414C544F52494FULL;
constexpr std::chrono::seconds kWaitStep{1};

UsbIo& usb_io(IoRecord& record) {
  return *std::launder(reinterpret_cast<UsbIo*>(record.opaque));
}

std::uint32_t g_next_generation MALTOR_GUARDED_BY(g_table_lock) = 0;

// The slot a record's transfer uses, or null (lock held).
TransferSlot* slot_of(const UsbIo& io) MALTOR_REQUIRES(g_table_lock) {
  if (io.magic != kMagic || io.device < 0 || io.device >= kMaxOpenDevices) return nullptr;
  OpenDevice& device = devices()[io.device];
  if (!device.used || device.generation != io.device_generation || io.pipe >= device.pipe_count) {
    return nullptr;
  }
  TransferSlot& slot = device.pipes[io.pipe].slots[io.slot];
  if (!slot.in_use || slot.generation != io.slot_generation) return nullptr;
  return &slot;
}

// Lets go of a record's slot: at once when its transfer has ended, else when
// its callback runs (lock held).
void release_slot(const UsbIo& io) MALTOR_REQUIRES(g_table_lock) {
  TransferSlot* slot = slot_of(io);
  if (slot == nullptr) return;
  if (slot->in_flight) {
    slot->orphaned = true;
  } else {
    slot->in_use = false;
  }
}

IoStatus start(Handle usb, std::uint8_t endpoint, std::uint8_t* buffer, std::uint32_t length,
               bool in, bool sync_timeout, IoRecord& record) {
  UsbIo& io = usb_io(record);
  if (io.magic != kMagic) return IoStatus::kFailed;
  if (buffer == nullptr && length > 0) return IoStatus::kNoAccess;
  if (length > static_cast<std::uint32_t>(INT_MAX)) return IoStatus::kFailed;

  MutexLock held(g_table_lock);
  release_slot(io);
  io.device = -1;
  OpenDevice* device = resolve(usb, HandleKind::kUsb);
  if (device == nullptr) return IoStatus::kFailed;
  if (device->gone) return IoStatus::kGone;
  Pipe* pipe = find_pipe(*device, endpoint);
  if (pipe == nullptr || ((endpoint & LIBUSB_ENDPOINT_IN) != 0) != in) return IoStatus::kFailed;
  TransferSlot* slot = nullptr;
  for (TransferSlot& candidate : pipe->slots) {
    if (!candidate.in_use && candidate.transfer != nullptr) {
      slot = &candidate;
      break;
    }
  }
  if (slot == nullptr) return IoStatus::kFailed;

  slot->generation = ++g_next_generation;
  slot->in_use = true;
  slot->in_flight = true;
  slot->orphaned = false;
  slot->signalled = false;
  slot->manual_reset = io.manual_reset;
  slot->status = IoStatus::kPending;
  slot->count = 0;
  slot->thread = this_thread_tag();
  std::atomic_ref<int>(slot->completed).store(0);
  libusb_transfer* transfer = slot->transfer;
  libusb_fill_bulk_transfer(transfer, device->handle, endpoint, buffer, static_cast<int>(length),
                            on_transfer_done, slot, sync_timeout ? pipe->timeout_ms : 0);
  transfer->type = pipe->type;
  const int submitted = libusb_submit_transfer(transfer);
  if (submitted != LIBUSB_SUCCESS) {
    slot->in_use = false;
    slot->in_flight = false;
    if (submitted != LIBUSB_ERROR_NO_DEVICE) return IoStatus::kFailed;
    device->gone = true;
    return IoStatus::kGone;
  }
  io.device = static_cast<std::int16_t>(device - devices());
  io.device_generation = device->generation;
  io.pipe = static_cast<std::uint8_t>(pipe - device->pipes);
  io.slot = static_cast<std::uint8_t>(slot - pipe->slots);
  io.slot_generation = slot->generation;
  return IoStatus::kPending;
}

// Bytes a transfer that failed had moved before it ended: a read that timed
// out after some packets came keeps them in the buffer.
std::uint32_t bytes_moved_before_failure(IoRecord& record) {
  MutexLock held(g_table_lock);
  const TransferSlot* slot = slot_of(usb_io(record));
  return slot != nullptr && slot->status == IoStatus::kFailed ? slot->count : 0;
}

bool transfer_sync(Handle usb, std::uint8_t pipe, std::uint8_t* buffer, std::uint32_t length,
                   bool in, std::uint32_t* count) {
  if (count != nullptr) *count = 0;
  IoRecord record;
  io_open(record, /*manual_reset=*/true);
  std::uint32_t moved = 0;
  bool done = false;
  if (start(usb, pipe, buffer, length, in, /*sync_timeout=*/true, record) == IoStatus::kPending) {
    done = backend::io_result(kInvalidHandle, record, /*wait=*/true, &moved) == IoStatus::kDone;
    if (!done) moved = bytes_moved_before_failure(record);
  }
  io_close(record);
  if (count != nullptr) *count = moved;
  return done;
}

}  // namespace

namespace libusb_backend {

void LIBUSB_CALL on_transfer_done(libusb_transfer* transfer) {
  TransferSlot& slot = *static_cast<TransferSlot*>(transfer->user_data);
  MutexLock held(g_table_lock);
  if (slot.transfer != transfer || !slot.in_flight) return;
  switch (transfer->status) {
    case LIBUSB_TRANSFER_COMPLETED:
      slot.status = IoStatus::kDone;
      slot.count = static_cast<std::uint32_t>(transfer->actual_length);
      break;
    case LIBUSB_TRANSFER_NO_DEVICE:
      slot.status = IoStatus::kGone;
      slot.device->gone = true;
      break;
    default:  // cancelled (aborted), timed out, stalled, overflowed, failed
      slot.status = IoStatus::kFailed;
      slot.count = static_cast<std::uint32_t>(transfer->actual_length);
      break;
  }
  slot.in_flight = false;
  slot.signalled = true;
  if (slot.orphaned) {
    slot.orphaned = false;
    slot.in_use = false;
  }
  std::atomic_ref<int>(slot.completed).store(1);
}

void cancel_and_wait(OpenDevice& device, CancelFilter filter) {
  struct Waited {
    TransferSlot* slot;
    std::uint32_t generation;
  };
  Waited waited[kMaxPipes * kTransfersPerPipe];
  int count = 0;
  {
    MutexLock held(g_table_lock);
    for (int p = 0; p < device.pipe_count; ++p) {
      Pipe& pipe = device.pipes[p];
      if (filter.endpoint >= 0 && pipe.endpoint != filter.endpoint) continue;
      for (TransferSlot& slot : pipe.slots) {
        if (!slot.in_flight || (filter.thread != 0 && slot.thread != filter.thread)) continue;
        libusb_cancel_transfer(slot.transfer);
        waited[count++] = {&slot, slot.generation};
      }
    }
  }
  // The callbacks come promptly once the cancellation reached the OS; the
  // bound only keeps a broken stack from hanging the caller.
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(2);
  for (int i = 0; i < count; ++i) {
    TransferSlot& slot = *waited[i].slot;
    const auto running = [&] {
      MutexLock held(g_table_lock);
      return slot.generation == waited[i].generation && slot.in_flight;
    };
    while (running() && Clock::now() < deadline) pump_until(slot.completed, deadline);
  }
}

}  // namespace libusb_backend

void io_open(IoRecord& record, bool manual_reset) {
  std::memset(&record, 0, sizeof record);
  new (record.opaque) UsbIo{kMagic, 0, 0, -1, 0, 0, manual_reset};
}

void io_close(IoRecord& record) {
  UsbIo& io = usb_io(record);
  if (io.magic != kMagic) return;
  {
    MutexLock held(g_table_lock);
    release_slot(io);
  }
  io.magic = 0;
}

IoStatus backend::pipe_write_async(Handle usb, std::uint8_t pipe, const std::uint8_t* data,
                                   std::uint32_t length, IoRecord& io, std::uint32_t* count) {
  if (count != nullptr) *count = 0;
  // libusb takes a mutable buffer for either direction; an OUT transfer only reads it.
  return start(usb, pipe, const_cast<std::uint8_t*>(data), length, /*in=*/false,
               /*sync_timeout=*/false, io);
}

IoStatus backend::pipe_read_async(Handle usb, std::uint8_t pipe, std::uint8_t* buffer,
                                  std::uint32_t length, IoRecord& io, std::uint32_t* count) {
  if (count != nullptr) *count = 0;
  return start(usb, pipe, buffer, length, /*in=*/true, /*sync_timeout=*/false, io);
}

bool backend::io_wait(IoRecord& record, std::uint32_t timeout_ms) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  const UsbIo& io = usb_io(record);
  for (;;) {
    int* completed = nullptr;
    {
      MutexLock held(g_table_lock);
      TransferSlot* slot = slot_of(io);
      if (slot == nullptr) return false;
      if (slot->signalled) {
        if (!slot->manual_reset) slot->signalled = false;
        return true;
      }
      completed = &slot->completed;
    }
    if (Clock::now() >= deadline) return false;
    pump_until(*completed, deadline);
  }
}

IoStatus backend::io_result(Handle, IoRecord& record, bool wait, std::uint32_t* count) {
  if (count != nullptr) *count = 0;
  const UsbIo& io = usb_io(record);
  bool pumped = false;
  for (;;) {
    int* completed = nullptr;
    {
      MutexLock held(g_table_lock);
      TransferSlot* slot = slot_of(io);
      if (slot == nullptr) return IoStatus::kFailed;
      if (!slot->in_flight) {
        if (slot->status == IoStatus::kDone && count != nullptr) *count = slot->count;
        return slot->status;
      }
      if (!wait && pumped) return IoStatus::kIncomplete;
      completed = &slot->completed;
    }
    // Without waiting, what has already completed is still reaped once.
    if (wait) {
      pump_until(*completed, Clock::now() + kWaitStep);
    } else {
      pump_now(*completed);
    }
    pumped = true;
  }
}

bool backend::pipe_abort(Handle usb, std::uint8_t pipe) {
  OpenDevice* device = nullptr;
  {
    MutexLock held(g_table_lock);
    device = resolve(usb, HandleKind::kUsb);
    if (device == nullptr || find_pipe(*device, pipe) == nullptr) return false;
  }
  cancel_and_wait(*device, CancelFilter{pipe, 0});
  return true;
}

void cancel_io(Handle file) {
  OpenDevice* device = nullptr;
  {
    MutexLock held(g_table_lock);
    device = resolve(file, HandleKind::kFile);
  }
  if (device != nullptr) cancel_and_wait(*device, CancelFilter{-1, this_thread_tag()});
}

bool set_pipe_timeout(Handle usb, std::uint8_t pipe, std::uint32_t timeout_ms) {
  MutexLock held(g_table_lock);
  OpenDevice* device = resolve(usb, HandleKind::kUsb);
  Pipe* found = device == nullptr ? nullptr : find_pipe(*device, pipe);
  if (found == nullptr) return false;
  found->timeout_ms = timeout_ms;
  return true;
}

bool backend::pipe_read_sync(Handle usb, std::uint8_t pipe, std::uint8_t* buffer,
                             std::uint32_t length, std::uint32_t* count) {
  return transfer_sync(usb, pipe, buffer, length, /*in=*/true, count);
}

bool backend::pipe_write_sync(Handle usb, std::uint8_t pipe, const std::uint8_t* data,
                              std::uint32_t length, std::uint32_t* count) {
  return transfer_sync(usb, pipe, const_cast<std::uint8_t*>(data), length, /*in=*/false, count);
}

}  // namespace maltor::platform
