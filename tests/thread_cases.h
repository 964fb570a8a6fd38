// What the thread tests over the virtual device and over libusb share: the
// card's bytes, a helper thread that always ends, one thread's mix of
// exchanges, and a second thread that stops each download after a random
// head start.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "MaltorUSBdrv.h"

namespace maltor::test {

// Byte `k` of the virtual card, as the virtual device's header documents it.
inline std::vector<std::uint8_t> card_bytes(std::uint64_t offset, std::size_t n) {
  std::vector<std::uint8_t> out(n);
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint64_t k = offset + i;
    const std::uint64_t s = k / 512;
    out[i] = static_cast<std::uint8_t>((k % 512) ^ (s * 7) ^ (s >> 8));
  }
  return out;
}

// A helper thread that is told to end and joined however the test ends.
struct Helper {
  std::atomic<bool> done{false};
  std::thread thread;
  ~Helper() {
    done = true;
    if (thread.joinable()) thread.join();
  }
};

// Starts `helper` calling DeviceIsReady and GetConnected every `pause`
// until it is told to end: the third thread of the update races.
inline void poll_connection(Helper& helper, std::chrono::microseconds pause) {
  helper.thread = std::thread([&helper, pause] {
    MaltorConnection record{};
    while (!helper.done.load()) {
      DeviceIsReady();
      GetConnected(&record);
      std::this_thread::sleep_for(pause);
    }
  });
}

// What the device holds, for checking the mix's replies.
struct Expected {
  std::uint32_t clock;  // the device clock may run on from it by up to a day
  std::uint16_t log_count;
};

// One thread's mix: identity, clock, catalogue and a CAN frame through the
// loopback of the thread's own bus. Returns how many gave a wrong result.
inline int mixed_exchanges(int rounds, std::uint8_t bus, const Expected& expected) {
  int wrong = 0;
  for (int i = 0; i < rounds; ++i) {
    std::uint16_t word = 0, count = 0, frames = 0;
    std::uint8_t a = 0, b = 0, c = 0;
    std::uint32_t clock = 0;
    MaltorCanMessage sent{}, got{};
    sent.bus = got.bus = bus;
    sent.length = 8;
    for (std::uint8_t k = 0; k < 8; ++k) sent.data[k] = static_cast<std::uint8_t>(bus * 16 + i + k);
    got.receive_timeout = 1000;
    switch (i % 4) {
      case 0:
        wrong += SCGetFirmwareVersion(&word, &a, &b, &c) != MALTOR_OK || word != 0x0203 || a != 4 ||
                 b != 5 || c != 6;
        break;
      case 1:
        wrong += SCGetDateTime(&clock) != MALTOR_OK || clock - expected.clock > 86400u;
        break;
      case 2:
        wrong += SCSDLogCount(&count) != MALTOR_OK || count != expected.log_count;
        break;
      default:
        wrong += CANTx(&sent) != MALTOR_OK || CANRx(&frames, &got) != MALTOR_OK || frames != 1 ||
                 got.length != 8 || std::memcmp(got.data, sent.data, 8) != 0;
        break;
    }
  }
  return wrong;
}

// Two threads, on buses 0 and 1, each making `rounds` of the mix at once:
// how many of the second's and the first's results were wrong, together.
inline int two_threads_mixed(int rounds, const Expected& expected) {
  int wrong = 0;
  std::thread other([&] { wrong = mixed_exchanges(rounds, 1, expected); });
  const int here = mixed_exchanges(rounds, 0, expected);
  other.join();
  return wrong + here;
}

// A second thread that, for round n, waits for start(n), lets `pause` yields
// go by and calls SCSDStopSendData; wait_stopped(n) returns once it has.
class StopRacer {
 public:
  StopRacer() {
    helper_.thread = std::thread([this] {
      for (int round = 1; !helper_.done.load();) {
        if (go_.load() != round) {
          std::this_thread::yield();
          continue;
        }
        for (unsigned i = pause_.load(); i > 0; --i) std::this_thread::yield();
        SCSDStopSendData();
        stopped_.store(round++);
      }
    });
  }
  void start(int round, unsigned pause) {
    pause_ = pause;
    go_ = round;
  }
  void wait_stopped(int round) const {
    while (stopped_.load() != round) std::this_thread::yield();
  }

 private:
  std::atomic<int> go_{0}, stopped_{0};
  std::atomic<unsigned> pause_{0};
  Helper helper_;  // last: its thread ends before the counters go
};

}  // namespace maltor::test
