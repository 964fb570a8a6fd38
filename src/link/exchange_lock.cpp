#include "link/exchange_lock.h"

#include <atomic>
#include <cassert>
#include <condition_variable>
#include <mutex>

#include "link/device_table.h"
#include "link/error_detail.h"
#include "link/result.h"

namespace maltor::link {

ExchangeLock g_exchange_lock;

namespace {

// A ticket lock: threads get the lock in the order they asked for it, so a
// thread that calls in a tight loop (DeviceIsReady, say) cannot starve the
// update thread between its blocks. Uncontended it costs two atomic
// additions and a look for waiters. A thread whose turn has not come sleeps
// on a condition variable; the counters are atomics read in one total order
// (seq_cst), so a waiter that counts itself in either sees its turn or is
// seen by the unlocker, which then wakes it through the mutex. (Waiting on
// the atomic itself would be shorter, but mingw's standard library builds
// atomic waits that can lose a wakeup, and a lost wakeup here is a hang.)
std::atomic<std::uint32_t> g_next_ticket{0};
std::atomic<std::uint32_t> g_serving{0};
std::atomic<std::uint32_t> g_waiting{0};
std::mutex g_turn_mutex;
std::condition_variable g_turn;
// How many times the calling thread holds the lock.
thread_local unsigned t_depth = 0;

std::atomic<bool> g_update_alive{false};
thread_local bool t_update_thread = false;

bool refused_here() {
  return update_alive() && !t_update_thread;
}

std::uint8_t refuse() {
  return detail::set(kUpdateRunning, detail::kBusy, 0, 0, 0,
                     "a firmware update is running; nothing was sent (MaltorWaitForUpdate "
                     "tells when it has ended)");
}

}  // namespace

void ExchangeLock::lock() MALTOR_NO_THREAD_SAFETY_ANALYSIS {
  if (t_depth++ != 0) return;
  const std::uint32_t ticket = g_next_ticket.fetch_add(1);
  if (g_serving.load() == ticket) return;
  std::unique_lock<std::mutex> held(g_turn_mutex);
  g_waiting.fetch_add(1);
  g_turn.wait(held, [ticket] { return g_serving.load() == ticket; });
  g_waiting.fetch_sub(1);
}

void ExchangeLock::unlock() MALTOR_NO_THREAD_SAFETY_ANALYSIS {
  if (--t_depth != 0) return;
  g_serving.fetch_add(1);
  if (g_waiting.load() == 0) return;
  // Passing through the mutex orders this wake after a waiter's last look.
  { const std::lock_guard<std::mutex> passed(g_turn_mutex); }
  g_turn.notify_all();
}

void ExchangeLock::check_held() const {
  assert(t_depth > 0 && "slot 0 used without the exchange lock");
}

SlotLock::SlotLock() {
  g_exchange_lock.lock();
}

SlotLock::~SlotLock() {
  g_exchange_lock.unlock();
}

ExchangeTurn::ExchangeTurn() MALTOR_NO_THREAD_SAFETY_ANALYSIS {
  if (refused_here()) {
    refuse();
    return;
  }
  g_exchange_lock.lock();
  // The update may have started while this thread waited for the lock; its
  // thread then waits for the lock in turn and must find the buffer as it
  // left it.
  if (refused_here()) {
    g_exchange_lock.unlock();
    refuse();
    return;
  }
  granted_ = true;
}

ExchangeTurn::~ExchangeTurn() MALTOR_NO_THREAD_SAFETY_ANALYSIS {
  if (granted_) g_exchange_lock.unlock();
}

std::uint8_t ExchangeTurn::open_test() const {
  if (!granted_) return kUpdateRunning;
  return device_open() ? std::uint8_t{kOk} : detail::no_device();
}

bool update_alive() {
  // The marker is set with the flag; it counts on its own for code that
  // marks an update without a thread.
  return g_update_alive.load(std::memory_order_acquire) || update_running();
}

void set_update_alive(bool alive) {
  g_update_alive.store(alive, std::memory_order_release);
}

void mark_update_thread() {
  t_update_thread = true;
}

bool on_update_thread() {
  return t_update_thread;
}

}  // namespace maltor::link
