// Card catalogue and formatting commands of the virtual device, and the
// frames of other layouts it answers: the log-section (Mirel) frames and the
// two short identity frames.
#include <cstring>

#include "sim/model/command_handlers.h"
#include "sim/model/device_model.h"

namespace maltor::sim {

namespace {

// ---- standard frames ----

std::uint32_t log_count(DeviceModel& m, const Request&, std::uint8_t* data) {
  put16(data, m.content().card_log_count());
  return 2;
}

std::uint32_t log_info(DeviceModel& m, const Request& r, std::uint8_t* data) {
  const std::uint32_t index = r.payload_length() >= 2 ? get16(r.payload()) : 0;
  m.content().log_info(index, data);
  return 300;
}

std::uint32_t partition_log_count(DeviceModel& m, const Request& r, std::uint8_t* data) {
  const DeviceContent& c = m.content();
  const std::uint32_t partition = r.payload_length() >= 1 ? r.payload()[0] : 0;
  put16(data, partition < c.partition_count ? c.partition_logs[partition] : 0);
  return 2;
}

// A log the partition does not hold is answered with an all-zero record.
std::uint32_t partition_log_info(DeviceModel& m, const Request& r, std::uint8_t* data) {
  if (r.payload_length() < 3) return 0;
  const std::int64_t index = m.content().partition_log(r.payload()[0], get16(r.payload() + 1));
  m.content().log_info(index < 0 ? 0xFFFFFFFF : static_cast<std::uint32_t>(index), data);
  return 300;
}

std::uint32_t current_sector(DeviceModel& m, const Request&, std::uint8_t* data) {
  put32(data, m.content().current_sector());
  return 4;
}

// The format reply repeats the format parameter.
std::uint32_t format_card(DeviceModel& m, const Request& r, std::uint8_t* data) {
  m.content().format_card();
  put16(data, r.payload_length() >= 2 ? get16(r.payload()) : 0);
  return 2;
}

// The format reply is the number of partitions laid out.
std::uint32_t format_partitions(DeviceModel& m, const Request& r, std::uint8_t* data) {
  if (r.payload_length() < 3) return 0;
  std::uint32_t count = r.payload()[2];
  if (count > r.payload_length() - 3) count = r.payload_length() - 3;
  m.content().format_partitions(static_cast<std::uint8_t>(count), r.payload() + 3);
  put16(data, count);
  return 2;
}

// clang-format off
constexpr HandlerRow kRows[] = {
  {0x0E, format_card},          {0x0F, log_count},          {0x10, log_info},
  {0x17, current_sector},       {0x25, partition_log_count}, {0x26, partition_log_info},
  {0x28, format_partitions},
};
// clang-format on

// ---- Mirel frames ----
// Request: four zero bytes, length (u16), command (u16), payload, and a sum
// that leaves the length bytes out. Reply: four zero bytes, status, data, sum.

constexpr std::uint32_t kMirelHeader = 8;
constexpr std::uint32_t kMirelReplyData = 5;

// The log file request sends its values most significant byte first.
std::uint32_t get32_msb(const std::uint8_t* at) {
  return (static_cast<std::uint32_t>(at[0]) << 24) | (at[1] << 16) | (at[2] << 8) | at[3];
}

// Writes the reply data and the status; returns the data length or kNoAnswer.
using MirelAnswer = std::uint32_t (*)(DeviceModel& model, const std::uint8_t* payload,
                                      std::uint32_t payload_length, std::uint8_t* data,
                                      std::uint8_t& status);

struct MirelRow {
  std::uint16_t command;
  MirelAnswer answer;
};

std::uint32_t mirel_log_count(DeviceModel& m, const std::uint8_t*, std::uint32_t,
                              std::uint8_t* data, std::uint8_t&) {
  const DeviceContent& c = m.content();
  put16(data, c.section_log_count);
  put16(data + 2, c.active_section() - c.first_section + 1);
  return 4;
}

std::uint32_t mirel_first_section(DeviceModel& m, const std::uint8_t*, std::uint32_t,
                                  std::uint8_t* data, std::uint8_t&) {
  const DeviceContent& c = m.content();
  put32(data, c.first_section);
  put32(data + 4, c.first_section * DeviceContent::kSectionBytes);
  return 8;
}

std::uint32_t mirel_active_section(DeviceModel& m, const std::uint8_t*, std::uint32_t,
                                   std::uint8_t* data, std::uint8_t&) {
  const DeviceContent& c = m.content();
  const std::uint32_t active = c.active_section();
  put32(data, active);
  put32(data + 4, active * DeviceContent::kSectionBytes);
  put32(data + 8, c.active_section_used());
  put32(data + 12,
        c.section_log_count - (active - c.first_section) * DeviceContent::kLogsPerSection);
  return 16;
}

std::uint32_t mirel_descriptor(DeviceModel& m, const std::uint8_t* payload,
                               std::uint32_t payload_length, std::uint8_t* data,
                               std::uint8_t& status) {
  const std::uint32_t index = payload_length >= 4 ? get32(payload) : 0xFFFFFFFF;
  if (!m.content().descriptor(index, data)) status = DeviceContent::kNoDescriptor;
  return 32;
}

// Log file request: section and length, most significant byte first. The
// file's bytes follow the reply on the command IN pipe (see answer_mirel).
std::uint32_t mirel_log_file(DeviceModel& m, const std::uint8_t* payload,
                             std::uint32_t payload_length, std::uint8_t*, std::uint8_t& status) {
  const DeviceContent& c = m.content();
  const std::uint32_t section = payload_length >= 8 ? get32_msb(payload) : c.section_total;
  if (section >= c.section_total) {
    status = DeviceContent::kNoSection;
    return 0;
  }
  const std::uint32_t length = get32_msb(payload + 4);
  m.start_log_file(section, length < c.log_file_limit ? length : c.log_file_limit);
  return 0;
}

// Log file check: the sum of the bytes sent.
std::uint32_t mirel_log_file_check(DeviceModel& m, const std::uint8_t*, std::uint32_t,
                                   std::uint8_t* data, std::uint8_t&) {
  put16(data, static_cast<std::uint16_t>(m.log_file_sum() + m.content().log_sum_offset));
  return 2;
}

// Firmware version: word, two version bytes, then the 13-character text at
// reply bytes 9–21. Only kind-1 devices speak it over a Mirel frame.
std::uint32_t firmware_text(DeviceModel& m, std::uint8_t* data) {
  const DeviceContent& c = m.content();
  put16(data, c.firmware_word);
  data[2] = c.firmware_bytes[0];
  data[3] = c.firmware_bytes[1];
  std::memcpy(data + 4, c.firmware_text, 13);
  return 17;
}

std::uint32_t mirel_firmware_version(DeviceModel& m, const std::uint8_t*, std::uint32_t,
                                     std::uint8_t* data, std::uint8_t&) {
  return m.kind() == 1 ? firmware_text(m, data) : kNoAnswer;
}

constexpr MirelRow kMirelRows[] = {
    {1, mirel_log_count},          {2, mirel_first_section},  {3, mirel_active_section},
    {4, mirel_descriptor},         {5, mirel_log_file_check}, {15, mirel_log_file},
    {220, mirel_firmware_version},
};

std::uint8_t mirel_sum(const std::uint8_t* frame, std::uint32_t length) {
  return static_cast<std::uint8_t>(sum8(frame, length - 1) - frame[4] - frame[5]);
}

bool is_mirel_frame(const std::uint8_t* frame, std::uint32_t length) {
  return length > kMirelHeader && frame[0] == 0 && frame[1] == 0 && frame[2] == 0 &&
         frame[3] == 0 && get16(frame + 4) == length;
}

// Returns whether the reply went out with status 0: an armed fault may drop
// it or change its status.
bool send_mirel_reply(DeviceModel& m, std::uint8_t status, std::uint32_t data_length) {
  std::uint8_t* reply = m.scratch();
  std::memset(reply, 0, 4);
  reply[4] = status;
  const std::uint32_t length = kMirelReplyData + data_length + 1;
  reply[length - 1] = sum8(reply, length - 1);
  return m.send_reply(reply, length) && reply[4] == 0;
}

// A Mirel frame with a wrong sum or an unknown command gets no reply.
void answer_mirel(DeviceModel& m, const std::uint8_t* frame, std::uint32_t length) {
  if (frame[length - 1] != mirel_sum(frame, length)) return;
  const std::uint16_t command = get16(frame + 6);
  for (const MirelRow& row : kMirelRows) {
    if (row.command != command) continue;
    std::uint8_t status = 0;
    std::uint8_t* data = m.scratch() + kMirelReplyData;
    const std::uint32_t n =
        row.answer(m, frame + kMirelHeader, length - kMirelHeader - 1, data, status);
    // A log file the answer started is sent only behind a reply that accepts it.
    if (n != kNoAnswer && !send_mirel_reply(m, status, n)) m.stop_log_file();
    return;
  }
}

// ---- short identity frames ----

constexpr std::uint8_t kVersionFrame[4] = {0x04, 0xDC, 0x00, 0x00};
constexpr std::uint8_t kConfigInfoFrame[5] = {0x04, 0x00, 0x14, 0x00, 0x14};

// The version frame of the kinds other than 1: the same reply as the Mirel one.
void answer_version_frame(DeviceModel& m) {
  if (m.kind() == 1) return;
  send_mirel_reply(m, 0, firmware_text(m, m.scratch() + kMirelReplyData));
}

// Configuration info: length 29, the request's 0x14, then the 26-byte record.
void answer_config_info_frame(DeviceModel& m) {
  std::uint8_t* reply = m.scratch();
  reply[0] = 29;
  reply[1] = 0;
  reply[2] = 0x14;
  m.content().config_record(reply + 3);
  m.send_reply(reply, 29);
}

bool same_frame(const std::uint8_t* frame, std::uint32_t length, const std::uint8_t* expected,
                std::uint32_t expected_length) {
  return length == expected_length && std::memcmp(frame, expected, length) == 0;
}

}  // namespace

std::span<const HandlerRow> storage_rows() {
  return kRows;
}

bool storage_layouts(DeviceModel& model, const std::uint8_t* frame, std::uint32_t length) {
  if (same_frame(frame, length, kVersionFrame, sizeof kVersionFrame)) {
    answer_version_frame(model);
    return true;
  }
  if (same_frame(frame, length, kConfigInfoFrame, sizeof kConfigInfoFrame)) {
    answer_config_info_frame(model);
    return true;
  }
  if (!is_mirel_frame(frame, length)) return false;
  answer_mirel(model, frame, length);
  return true;
}

}  // namespace maltor::sim
