// Logger and gateway update frames and gateway configuration frames of the
// virtual device. The device takes every image whatever its kind; kind-1
// devices expect the four-byte lead-in on firmware frames and none on
// configuration frames, as every other kind does.
#include <cstring>

#include "sim/model/command_handlers.h"
#include "sim/model/device_model.h"

namespace maltor::sim {

namespace {

// Reply status values: 0 accepted.
constexpr std::uint8_t kRefused = 1;        // an armed refusal
constexpr std::uint8_t kProtocolError = 2;  // bad length, sum, lead-in or order

// ---- Logger frames: length, code, 0, selector[, n, data] ----------------

void logger_reply(DeviceModel& model, std::uint8_t code, std::uint32_t length,
                  std::uint8_t status) {
  std::uint8_t* reply = model.scratch();
  std::memset(reply, 0, length);
  reply[0] = static_cast<std::uint8_t>(length);
  reply[1] = code;
  reply[3] = status;
  model.send_reply(reply, length);
}

// The status a fault gives this frame; false when the frame gets no reply.
bool fault_status(UpdateState& update, UpdateFrame frame, std::uint8_t* status) {
  const UpdateAction action = update.take(frame);
  if (action == UpdateAction::kSilent) return false;
  *status = action == UpdateAction::kRefuse ? kRefused : 0;
  return true;
}

bool logger_frame(DeviceModel& model, const std::uint8_t* frame, std::uint32_t length) {
  if (length < 4 || length > 64 || frame[0] != length || frame[2] != 0) return false;
  UpdateState& update = model.update();
  ImageCapture& image = update.firmware;
  const std::uint8_t code = frame[1];
  std::uint8_t status = 0;
  switch (code) {
    case 0x84:  // start
      if (length != 4 || frame[3] != 0) return false;
      if (!fault_status(update, UpdateFrame::kLoggerStart, &status)) return true;
      if (status == 0) image.restart(0);
      logger_reply(model, code, 7, status);
      return true;
    case 0x78:  // data
      if (length < 6 || frame[3] != 0 || frame[4] != length - 5) return false;
      if (!fault_status(update, UpdateFrame::kLoggerData, &status)) return true;
      if (status == 0 && !image.open) {
        ++image.errors;
        status = kProtocolError;
      }
      if (status == 0) image.append(frame + 5, frame[4]);
      logger_reply(model, code, 5, status);
      return true;
    case 0x88:  // finish
      if (length != 4 || frame[3] != 0) return false;
      if (!fault_status(update, UpdateFrame::kLoggerFinish, &status)) return true;
      if (status == 0 && image.open) {
        image.open = false;
        ++image.finished;
        update.schedule_restart(model.now_ms());
      }
      logger_reply(model, code, 7, status);
      return true;
    case 0x7C:  // reconnect: no reply
      if (length != 4 || frame[3] != 0x62) return false;
      ++image.reconnects;
      return true;
    default:
      return false;
  }
}

// ---- Gateway frames: [lead-in] length, command, qualifier, payload, sum --

struct GatewayKind {
  std::uint8_t command;
  std::uint8_t qualifier;
  std::uint32_t sum_bytes;
  bool firmware;  // firmware frames carry the lead-in on kind-1 devices
  UpdateFrame frame;
};

// clang-format off
constexpr GatewayKind kGatewayKinds[] = {
  {0x10, 0x13, 1, true,  UpdateFrame::kGatewayAnnounce},
  {0x13, 0x00, 2, true,  UpdateFrame::kGatewayBlock},
  {0x61, 0x01, 1, true,  UpdateFrame::kGatewayAnnounce},  // completion; never faulted
  {0x10, 0x12, 2, false, UpdateFrame::kConfigAnnounce},
  {0x12, 0x02, 2, false, UpdateFrame::kConfigBlock},
};
// clang-format on

void gateway_reply(DeviceModel& model, std::uint8_t command, std::uint8_t qualifier,
                   std::uint8_t status) {
  std::uint8_t* reply = model.scratch();
  put16(reply, 5);
  reply[2] = command;
  reply[3] = qualifier;
  reply[4] = status;
  model.send_reply(reply, 5);
}

// Takes the payload of an announce, block or completion frame into `image`;
// returns the reply status.
std::uint8_t take_gateway(DeviceModel& model, const GatewayKind& kind, const std::uint8_t* payload,
                          std::uint32_t n) {
  UpdateState& update = model.update();
  ImageCapture& image = kind.firmware ? update.firmware : update.configuration;
  const bool announce = kind.command == 0x10;
  if (announce) {
    if (n != 4) {
      ++image.errors;
      return kProtocolError;
    }
    image.restart(get32(payload));
    if (!kind.firmware && image.announced == 0) {
      image.open = false;
      ++image.finished;
    }
    return 0;
  }
  if (kind.command == 0x61) {  // completion: the image must be whole
    if (!image.open || image.received != image.announced) {
      ++image.errors;
      return kProtocolError;
    }
    image.open = false;
    ++image.finished;
    update.schedule_restart(model.now_ms());
    return 0;
  }
  if (!image.open || n == 0 || image.received + n > image.announced) {
    ++image.errors;
    return kProtocolError;
  }
  image.append(payload, n);
  // A configuration is complete with its last byte; it has no closing frame.
  if (!kind.firmware && image.received == image.announced) {
    image.open = false;
    ++image.finished;
  }
  return 0;
}

bool gateway_frame(DeviceModel& model, const std::uint8_t* frame, std::uint32_t length) {
  std::uint32_t start = 0;
  if (length >= 9 && frame[0] == 0 && frame[1] == 0 && frame[2] == 0 && frame[3] == 0 &&
      get16(frame + 4) == length) {
    start = 4;
  } else if (length < 5 || get16(frame) != length) {
    return false;
  }
  const std::uint8_t* at = frame + start;
  const std::uint32_t body = length - start;
  const GatewayKind* kind = nullptr;
  for (const GatewayKind& known : kGatewayKinds) {
    if (known.command == at[2] && known.qualifier == at[3]) kind = &known;
  }
  if (kind == nullptr || body < 4 + kind->sum_bytes) return false;

  UpdateState& update = model.update();
  ImageCapture& image = kind->firmware ? update.firmware : update.configuration;
  const std::uint32_t n = body - 4 - kind->sum_bytes;
  std::uint32_t sum = 0;
  for (std::uint32_t i = 2; i < 4 + n; ++i) sum += at[i];
  const std::uint32_t sent_sum = kind->sum_bytes == 1 ? at[4 + n] : get16(at + 4 + n);
  const std::uint32_t mask = kind->sum_bytes == 1 ? 0xFF : 0xFFFF;
  const bool lead_in_expected = kind->firmware && model.kind() == 1;
  const bool well_formed = (sum & mask) == sent_sum && (start != 0) == lead_in_expected;

  if (kind->command == 0x61) {  // the completion frame gets no reply
    if (!well_formed) {
      ++image.errors;
    } else {
      take_gateway(model, *kind, nullptr, 0);
    }
    return true;
  }
  std::uint8_t status = 0;
  if (!fault_status(update, kind->frame, &status)) return true;
  if (status == 0 && !well_formed) {
    ++image.errors;
    status = kProtocolError;
  }
  if (status == 0) status = take_gateway(model, *kind, at + 4, n);
  gateway_reply(model, at[2], at[3], status);
  return true;
}

}  // namespace

bool update_layouts(DeviceModel& model, const std::uint8_t* frame, std::uint32_t length) {
  return logger_frame(model, frame, length) || gateway_frame(model, frame, length);
}

}  // namespace maltor::sim
