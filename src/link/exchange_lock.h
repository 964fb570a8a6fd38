// The exchange lock: one library-wide lock over everything exchanges share
// (slot 0's transfer buffer, the sequence counter, the command pipes and the
// device table), and the update's lifetime, which decides who may take it.
//
// Every frame and its reply run under the lock, from the frame being built to
// the reply being decoded, so two threads never mix their frames. Discovery,
// close and reopen run under it too, so the table never changes under an
// exchange. Stream reads (sector downloads, live data) do not take it.
//
// While a firmware update is alive (from its start until its thread has
// ended, tail included) the update thread alone exchanges: an application
// thread's ExchangeTurn is refused at once, with nothing sent.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/thread_annotations.h"

namespace maltor::link {

class MALTOR_CAPABILITY("exchange lock") ExchangeLock {
 public:
  // Recursive on one thread: an operation holding it may call another that
  // takes it (an update tail's close and reopen, a query inside a transfer).
  void lock() MALTOR_ACQUIRE();
  void unlock() MALTOR_RELEASE();
  // Tells the analysis the calling thread holds the lock: for the members of
  // the exchange objects, which hold it for the scope that made them.
  // Checked at run time in builds with assertions.
  void assert_held() const MALTOR_ASSERT_CAPABILITY(this) {
#ifndef NDEBUG
    check_held();
#endif
  }

 private:
  void check_held() const;
};

extern ExchangeLock g_exchange_lock;

// Holds the exchange lock for a scope, waiting for it as long as it takes.
// For the device table's operations and the update thread.
class MALTOR_SCOPED_CAPABILITY SlotLock {
 public:
  SlotLock() MALTOR_ACQUIRE(g_exchange_lock);
  ~SlotLock() MALTOR_RELEASE();
  SlotLock(const SlotLock&) = delete;
  SlotLock& operator=(const SlotLock&) = delete;
};

// An application operation's turn to exchange. Refused while an update is
// alive, unless on the update thread itself: then nothing is held, the
// calling thread's error detail says why, and the operation returns
// kUpdateRunning without sending anything. Otherwise it holds the exchange
// lock for its scope.
class MALTOR_SCOPED_CAPABILITY ExchangeTurn {
 public:
  ExchangeTurn() MALTOR_ACQUIRE(g_exchange_lock);
  ~ExchangeTurn() MALTOR_RELEASE();
  ExchangeTurn(const ExchangeTurn&) = delete;
  ExchangeTurn& operator=(const ExchangeTurn&) = delete;

  bool granted() const { return granted_; }
  // The open-device test after the turn: kUpdateRunning when refused,
  // kNoDevice when slot 0 holds no open device, else kOk.
  std::uint8_t open_test() const;

 private:
  bool granted_ = false;
};

// ---- The update's lifetime ------------------------------------------------

// True from a successful update start until its thread has ended.
bool update_alive();
void set_update_alive(bool alive);
// Marks the calling thread as the update thread, for its whole life.
void mark_update_thread();
bool on_update_thread();

}  // namespace maltor::link
