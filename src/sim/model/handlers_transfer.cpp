// File-transfer frames (reflash and data-processor configuration) of the
// virtual device, and the in-order read of its configuration.
//
// A transfer is a start frame, data frames whose offsets follow on from each
// other, and an end frame with the 16-bit sum of the bytes. Every frame is
// answered with a status word (TransferStatus). A configuration whose end
// frame is right replaces the stored one, and bytes 9-24 of its start frame
// become the configuration tag; a reflash image is only kept in its receipt
// (the device does not restart after it).
#include <cstring>

#include "sim/model/command_handlers.h"
#include "sim/model/device_model.h"

namespace maltor::sim {

namespace {

std::uint32_t answer(std::uint8_t* data, TransferStatus status) {
  put16(data, status);
  return 2;
}

TransferState& state(DeviceModel& m) {
  return m.content().transfer;
}

std::uint32_t start(FileReceipt& receipt, std::uint32_t announced, std::uint8_t* data) {
  receipt.file.restart(announced);
  receipt.sum = 0;
  return answer(data, kTransferTaken);
}

// Payload: offset (u32), n (u16), n bytes.
std::uint32_t take_data(FileReceipt& receipt, const Request& r, std::uint8_t* data) {
  ImageCapture& file = receipt.file;
  const bool shaped = r.payload_length() >= 6 && get16(r.payload() + 4) == r.payload_length() - 6;
  const std::uint32_t n = r.payload_length() - 6;
  if (!shaped || !file.open || get32(r.payload()) != file.received ||
      n > file.announced - file.received) {
    ++file.errors;
    return answer(data, kTransferOutOfOrder);
  }
  const std::uint8_t* bytes = r.payload() + 6;
  file.append(bytes, n);
  for (std::uint32_t i = 0; i < n; ++i)
    receipt.sum = static_cast<std::uint16_t>(receipt.sum + bytes[i]);
  return answer(data, kTransferTaken);
}

// Payload: the sum (u16). Closes the transfer; the status says whether the
// file came whole and right.
TransferStatus take_end(FileReceipt& receipt, const Request& r) {
  ImageCapture& file = receipt.file;
  TransferStatus status = kTransferTaken;
  if (!file.open || r.payload_length() != 2 || file.received != file.announced) {
    status = kTransferOutOfOrder;
  } else if (get16(r.payload()) != receipt.sum) {
    status = kTransferSumMismatch;
  }
  file.open = false;
  if (status == kTransferTaken) {
    ++file.finished;
  } else {
    ++file.errors;
  }
  return status;
}

// ---- reflash: start payload 0 (u32), image length (u32) ----

std::uint32_t reflash_start(DeviceModel& m, const Request& r, std::uint8_t* data) {
  if (r.payload_length() != 8) return answer(data, kTransferOutOfOrder);
  return start(state(m).reflash, get32(r.payload() + 4), data);
}

std::uint32_t reflash_data(DeviceModel& m, const Request& r, std::uint8_t* data) {
  return take_data(state(m).reflash, r, data);
}

std::uint32_t reflash_end(DeviceModel& m, const Request& r, std::uint8_t* data) {
  return answer(data, take_end(state(m).reflash, r));
}

// ---- configuration: start payload length (u32), 16 tag bytes ----

std::uint32_t config_start(DeviceModel& m, const Request& r, std::uint8_t* data) {
  if (r.payload_length() != 20) return answer(data, kTransferOutOfOrder);
  std::memcpy(state(m).pending_tag, r.payload() + 4, sizeof state(m).pending_tag);
  return start(state(m).configuration, get32(r.payload()), data);
}

std::uint32_t config_data(DeviceModel& m, const Request& r, std::uint8_t* data) {
  return take_data(state(m).configuration, r, data);
}

std::uint32_t config_end(DeviceModel& m, const Request& r, std::uint8_t* data) {
  DeviceContent& content = m.content();
  TransferState& transfer = state(m);
  TransferStatus status = take_end(transfer.configuration, r);
  const ImageCapture& file = transfer.configuration.file;
  if (status == kTransferTaken && file.received > sizeof content.configuration) {
    status = kTransferTooLarge;
  }
  if (status == kTransferTaken) {
    std::memcpy(content.configuration, file.kept, file.received);
    content.config_size = file.received;
    std::memcpy(content.config_tag, transfer.pending_tag, sizeof content.config_tag);
    transfer.read_position = 0;
  }
  return answer(data, status);
}

// ---- read request: n (u16); the next n bytes, or what is left ----

// The read starts over once the whole configuration was handed out.
std::uint32_t config_read(DeviceModel& m, const Request& r, std::uint8_t* data) {
  const DeviceContent& content = m.content();
  std::uint32_t& position = state(m).read_position;
  if (position >= content.config_size) position = 0;
  std::uint32_t n = r.payload_length() >= 2 ? get16(r.payload()) : 0;
  const std::uint32_t left = content.config_size - position;
  if (n > left) n = left;
  if (n > kReplyCapacity - 6) n = kReplyCapacity - 6;
  std::memcpy(data, content.configuration + position, n);
  position += n;
  if (position == content.config_size) position = 0;
  return n;
}

constexpr HandlerRow kRows[] = {
    {0x07, reflash_start}, {0x08, reflash_data}, {0x09, reflash_end}, {0x0B, config_start},
    {0x0C, config_data},   {0x0D, config_end},   {0x1C, config_read},
};

}  // namespace

std::span<const HandlerRow> transfer_rows() {
  return kRows;
}

}  // namespace maltor::sim
