#include "sim/model/command_handlers.h"

#include "sim/model/device_model.h"

namespace maltor::sim {

std::uint8_t sum8(const std::uint8_t* bytes, std::uint32_t length) {
  std::uint8_t sum = 0;
  for (std::uint32_t i = 0; i < length; ++i) sum = static_cast<std::uint8_t>(sum + bytes[i]);
  return sum;
}

namespace {

Handler find_handler(std::uint8_t code) {
  for (const auto rows :
       {device_rows(), storage_rows(), download_rows(), live_rows(), can_rows(), transfer_rows()}) {
    for (const HandlerRow& row : rows) {
      if (row.code == code) return row.handler;
    }
  }
  return nullptr;
}

bool is_standard_frame(const std::uint8_t* frame, std::uint32_t length) {
  return length >= 6 && get16(frame + 1) == length && frame[4] == 0 &&
         frame[length - 1] == sum8(frame, length - 1);
}

}  // namespace

void CommandHandlers::dispatch(DeviceModel& model, const std::uint8_t* frame,
                               std::uint32_t length) {
  if (!is_standard_frame(frame, length)) {
    // Kind-1 gateway frames have the Mirel frame's lead-in and length field;
    // the update layouts claim only their own command pairs, so they go first.
    if (update_layouts(model, frame, length)) return;
    storage_layouts(model, frame, length);
    return;
  }
  const Handler handler = find_handler(frame[3]);
  if (handler == nullptr) return;  // an unknown command gets no reply

  std::uint8_t* reply = model.scratch();
  const std::uint32_t data_length = handler(model, Request{frame, length}, reply + 5);
  if (data_length == kNoAnswer) return;
  const std::uint32_t reply_length = data_length + 6;
  reply[0] = frame[0];
  put16(reply + 1, reply_length);
  reply[3] = frame[3];
  reply[4] = 0;
  reply[reply_length - 1] = sum8(reply, reply_length - 1);
  model.send_reply(reply, reply_length);
}

}  // namespace maltor::sim
