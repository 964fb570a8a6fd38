// The virtual device's CAN side: the interface switch, the bus set-up, each
// bus's open/on state and parameter sets, and a receive queue per bus that
// every sent frame is echoed onto (loopback) and that the control API can
// deliver frames to. Fixed storage only.
#pragma once

#include <cstdint>

namespace maltor::sim {

inline constexpr std::uint16_t kCanBusCount = 2;
inline constexpr std::uint32_t kCanMaxData = 64;
inline constexpr int kCanQueueDepth = 16;

// One frame as the device holds it.
struct CanFrame {
  std::uint8_t attribute = 0;
  std::uint8_t length = 0;
  std::uint32_t identifier = 0;
  std::uint32_t returned_word = 0;
  std::uint8_t data[kCanMaxData] = {};
};

struct CanParameters {
  std::uint32_t word = 0;
  std::uint8_t bytes[4] = {};
};

// How the device answers receive polls.
enum class CanRxMode : std::uint32_t {
  kQueue = 0,   // from the bus's receive queue: count 1 and a frame, or count 0
  kSilent = 1,  // no answer at all
  kCount = 2,   // always the forced count and no frame
};

class CanBus {
 public:
  bool open = false;
  bool on = false;
  std::uint8_t open_option = 0;
  CanParameters parameters;
  CanParameters data_parameters;

  // False when the queue is full; the frame is then lost.
  bool push(const CanFrame& frame);
  // False when the queue is empty.
  bool pop(CanFrame* frame);
  int queued() const { return count_; }
  void clear() { head_ = count_ = 0; }

 private:
  CanFrame queue_[kCanQueueDepth];
  int head_ = 0;
  int count_ = 0;
};

struct CanState {
  bool interface_enabled = false;
  bool set_up = false;
  std::uint8_t setup_record[16] = {};
  CanBus buses[kCanBusCount];
  CanRxMode rx_mode = CanRxMode::kQueue;
  std::uint16_t forced_count = 2;
  std::uint32_t next_stamp = 1;

  // The bus `number` names, or nullptr for a number the device lacks.
  CanBus* bus(std::uint32_t number) { return number < kCanBusCount ? &buses[number] : nullptr; }
  // The returned word of the next frame the device sends or receives: a
  // running count, so a test can tell frames apart and match an echo to its send.
  std::uint32_t stamp() { return next_stamp++; }
};

}  // namespace maltor::sim
