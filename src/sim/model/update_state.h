// What a virtual device keeps of logger and gateway updates and gateway
// configurations: the images it took, faults armed on those frames, and the
// restart that follows a complete firmware image.
#pragma once

#include <cstdint>

namespace maltor::sim {

// Frames a fault can be armed on; the values of MALTOR_SIM_FRAME_*.
enum class UpdateFrame : std::uint32_t {
  kLoggerStart = 1,
  kLoggerData = 2,
  kLoggerFinish = 3,
  kGatewayAnnounce = 4,
  kGatewayBlock = 5,
  kConfigAnnounce = 6,
  kConfigBlock = 7,
};

// What an armed fault does; the values of MALTOR_SIM_UPDATE_*.
enum class UpdateAction : std::uint32_t { kNone = 0, kRefuse = 1, kSilent = 2 };

// An image taken block by block. The first kKeptBytes are kept as they came;
// the count and a 64-bit FNV-1a hash cover all of it.
struct ImageCapture {
  static constexpr std::uint32_t kKeptBytes = 1u << 18;
  static constexpr std::uint64_t kHashStart = 0xCBF29CE484222325ull;

  // A start or announce was accepted: forget the previous image.
  void restart(std::uint32_t announced_size);
  void append(const std::uint8_t* bytes, std::uint32_t n);

  bool open = false;            // taking blocks
  std::uint32_t announced = 0;  // the size an announce frame gave; 0 for the logger
  std::uint32_t received = 0;
  std::uint32_t blocks = 0;
  std::uint32_t finished = 0;    // complete images (logger finish, gateway completion)
  std::uint32_t reconnects = 0;  // logger reconnect frames
  std::uint32_t errors = 0;      // frames with a wrong length, sum, lead-in or order
  std::uint64_t hash = kHashStart;
  std::uint8_t kept[kKeptBytes];
};

class UpdateState {
 public:
  ImageCapture firmware;       // the latest logger or gateway image
  ImageCapture configuration;  // the latest gateway configuration

  // Arms `action` for the nth (1 the next) frame of `frame`; false when the
  // frame, action or nth is unknown or every place is taken.
  bool arm(UpdateFrame frame, std::uint32_t nth, UpdateAction action);
  void clear_faults();
  // The action due for this frame (then disarmed), or kNone.
  UpdateAction take(UpdateFrame frame);

  // After a complete firmware image the device restarts: it vanishes shortly
  // after and is back `restart_ms` later (0: it does not restart).
  std::uint32_t restart_ms = 3000;
  void schedule_restart(std::uint64_t now_ms);

  // For the bus, which unplugs and replugs the device at these times.
  bool restart_pending = false;
  bool away = false;
  std::uint64_t vanish_at_ms = 0;
  std::uint64_t back_at_ms = 0;

 private:
  struct Armed {
    UpdateFrame frame;
    std::uint32_t countdown;
    UpdateAction action;
  };
  Armed faults_[8] = {};
};

}  // namespace maltor::sim
