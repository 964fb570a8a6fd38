#include "link/exchange.h"

#include <cstring>

#include "link/error_detail.h"
#include "link/result.h"
#include "link/transfer.h"

namespace maltor::link {

std::uint8_t g_sequence = 0;

std::uint8_t additive_sum(const std::uint8_t* bytes, std::uint32_t length) {
  std::uint8_t sum = 0;
  for (std::uint32_t i = 0; i < length; ++i) sum = static_cast<std::uint8_t>(sum + bytes[i]);
  return sum;
}

namespace {

std::uint32_t read_with(Reader reader) MALTOR_REQUIRES(g_exchange_lock) {
  return reader == Reader::kTimed ? ReadReplyTimed(0) : ReadReply(0);
}

// The control header: the only place that writes it.
void set_header(std::uint32_t timeout_ms, std::uint32_t write_length, std::uint32_t read_length)
    MALTOR_REQUIRES(g_exchange_lock) {
  TransferBuffer& buffer = buffer0();
  buffer.timeout_ms = timeout_ms;
  buffer.bytes_to_write = write_length;
  buffer.bytes_to_read = read_length;
}

}  // namespace

std::uint32_t stamp_frame(const CommandRow& row, std::uint32_t extra, std::uint8_t sequence) {
  const std::uint32_t length = row.write_length + extra;
  std::uint8_t* frame = buffer0().request;
  frame[0] = sequence;
  put_u16(frame + 1, static_cast<std::uint16_t>(length));
  frame[3] = row.code;
  frame[4] = 0;
  return length;
}

void seal_frame(std::uint32_t length) {
  std::uint8_t* frame = buffer0().request;
  frame[length - 1] = additive_sum(frame, length - 1);
}

Exchange::Exchange(CommandId id, std::uint32_t extra_write, std::uint32_t extra_read)
    : row_(command(id)), refusal_(turn_.open_test()) {
  if (refusal_ != kOk) return;
  g_exchange_lock.assert_held();
  sequence_ = g_sequence++;
  length_ = stamp_frame(row_, extra_write, sequence_);
  set_header(row_.timeout_ms, length_, row_.read_length + extra_read);
}

std::uint8_t Exchange::run() {
  if (refusal_ != kOk) return refusal_;
  g_exchange_lock.assert_held();
  seal_frame(length_);
  return rerun();
}

std::uint8_t Exchange::rerun() {
  if (refusal_ != kOk) return refusal_;
  g_exchange_lock.assert_held();
  TransferBuffer& buffer = buffer0();
  if (WriteCommand(0) == 0 && !(row_.flags & kReadAfterFailedWrite)) return kExchangeFailed;
  if (row_.flags & kClearReply) std::memset(buffer.reply, 0, 64);
  reply_count_ = read_with(row_.reader);
  if (reply_count_ == 0) return kExchangeFailed;
  if ((row_.flags & kSequenceCheck) && buffer.reply[0] != sequence_) {
    return detail::set(kExchangeFailed, detail::kDevice, 0, 0, 0,
                       "wrong reply to command 0x%02X: sequence %u where %u was sent", row_.code,
                       buffer.reply[0], sequence_);
  }
  if ((row_.flags & kEchoCheck) && buffer.reply[3] != row_.code) {
    return detail::set(kExchangeFailed, detail::kDevice, 0, 0, 0,
                       "wrong reply to command 0x%02X: it answers command 0x%02X", row_.code,
                       buffer.reply[3]);
  }
  return kOk;
}

std::uint32_t raw_exchange(std::uint32_t write_length, std::uint32_t read_length,
                           std::uint32_t timeout_ms, Reader reader) {
  set_header(timeout_ms, write_length, read_length);
  if (WriteCommand(0) == 0) return 0;
  return read_with(reader);
}

std::uint32_t send_only(std::uint32_t write_length, std::uint32_t timeout_ms) {
  set_header(timeout_ms, write_length, 0);
  return WriteCommand(0);
}

std::uint32_t read_only(std::uint32_t read_length, std::uint32_t timeout_ms, Reader reader) {
  // The frame length stays as the exchange before left it.
  TransferBuffer& buffer = buffer0();
  buffer.timeout_ms = timeout_ms;
  buffer.bytes_to_read = read_length;
  return read_with(reader);
}

}  // namespace maltor::link
