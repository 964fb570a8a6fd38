#include "update/update_control.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <string>
#include <thread>

#include "link/device_table.h"
#include "link/error_detail.h"
#include "link/exchange_lock.h"
#include "link/result.h"
#include "platform/clock.h"
#include "platform/mutex.h"
#include "update/progress_log.h"

namespace maltor::update {

namespace {

using link::g_update_run;
using link::kNoUpdateRun;

// States of the two event variables: never created, open, or closed (the
// no-handle value).
enum class EventState : std::uint8_t { kNull, kOpen, kClosed };

std::atomic<MaltorStatusCallback> g_status_callback{nullptr};

// The longest real wait between two looks at the library's clock while
// waiting for the update thread's end.
constexpr std::uint32_t kWaitSliceMs = 10;

// The one update thread and the state only it uses while it runs. A new start
// is refused until the previous thread has ended, so the two never share the
// files, the events or the device.
class UpdateThread {
 public:
  // At unload a running update is stopped and waited for: the thread is never
  // left running on unloaded code.
  ~UpdateThread() {
    release();
    if (!worker_.joinable()) return;
    // Only when the process is ended from the status callback itself; the
    // thread ends with the process.
    if (worker_.get_id() == std::this_thread::get_id()) {
      worker_.detach();
    } else {
      worker_.join();
    }
  }

  // The update release.
  void release() {
    const MutexLock held(events_lock_);
    if (stop_state_.exchange(EventState::kClosed) == EventState::kOpen) stop_.set();
    if (request_state_.exchange(EventState::kClosed) == EventState::kOpen) request_.set();
    g_update_run.store(kNoUpdateRun);
  }

  std::uint8_t start(const char* firmware_path, const char* log_path, UpdateBody body) {
    const MutexLock starting(start_lock_);
    // A stopped update may still write its trailer or run its tail: it is
    // alive until its thread ends, and the new start is refused meanwhile.
    if (link::update_alive()) return kUpdateRunning;
    // The previous thread has ended but for its return.
    join();

    const bool firmware_open = firmware_.open(firmware_path, platform::FileMode::kReadBinary);
    const bool log_open = log_.open(log_path, platform::FileMode::kAppendText);
    if (!firmware_open || !log_open) {
      if (!firmware_open) {
        detail::file_failure(kFileOpenFailed, detail::FileStep::kOpenForReading, firmware_,
                             firmware_path, 0, 0);
      } else {
        detail::file_failure(kFileOpenFailed, detail::FileStep::kOpenForWriting, log_, log_path, 0,
                             0);
      }
      // The one that did open is closed again rather than left open.
      firmware_.close();
      log_.close();
      return kFileOpenFailed;
    }
    try {
      path_copy_ = firmware_path;  // any length the file could be opened by
      run_ = ++runs_;
      // Marked before the thread exists, so its own release at its end can
      // never be overtaken by this store.
      set_alive(true);
      g_update_run.store(run_);
      worker_ = std::thread(run_thread, this, body);
    } catch (...) {
      // No thread: nothing runs and the marker stays clear; reported as 3.
      detail::set(kFileOpenFailed, detail::kInternal, 0, 0, 0,
                  "the update thread could not be started");
      g_update_run.store(kNoUpdateRun);
      set_alive(false);
      firmware_.close();
      log_.close();
      return kFileOpenFailed;
    }
    return kOk;
  }

  void wait() {
    const MutexLock starting(start_lock_);
    join();
  }

  // Waits at most `timeout_ms` on the library's clock for the update to end.
  // The clock is looked at between real waits of at most kWaitSliceMs, which
  // end at once when the thread ends; so on the virtual device's clock a
  // wait costs real time only while the update thread really runs.
  std::uint8_t wait_ended(std::uint32_t timeout_ms) {
    const std::uint32_t start = platform::tick_ms();
    const MutexLock held(life_lock_);
    for (;;) {
      if (!link::update_alive()) return kOk;
      const std::uint32_t elapsed = platform::tick_ms() - start;
      if (elapsed >= timeout_ms) return kUpdateRunning;
      life_changed_.wait_for(
          life_lock_, std::chrono::milliseconds(std::min(timeout_ms - elapsed, kWaitSliceMs)));
    }
  }

  std::int64_t begin(const char* title) {
    {
      const MutexLock held(events_lock_);
      // A stop that came first has released this update already: its events
      // stay closed and the first stop check ends the transfer.
      if (g_update_run.load() == run_) {
        request_.reset();
        stop_.reset();
        request_state_.store(EventState::kOpen);
        stop_state_.store(EventState::kOpen);
      }
    }
    std::int64_t size = -1;
    if (firmware_.seek(0, SEEK_END)) size = firmware_.tell();
    if (!firmware_.seek(0, SEEK_SET)) size = -1;
    write_log_header(log_, title, size < 0 ? 0 : static_cast<std::uint64_t>(size), path_copy_);
    return size > 0xFFFFFFFFll ? -1 : size;
  }

  bool stop_requested() {
    if (request_state_.load() != EventState::kOpen || stop_state_.load() != EventState::kOpen) {
      return true;
    }
    if (!request_.wait(1)) return false;
    // The release signals the stop event before the request event, so a
    // signalled request means a stop unless the stop event is still quiet.
    if (stop_state_.load() != EventState::kOpen || stop_.is_set()) return true;
    request_.reset();
    return false;
  }

  // The update thread's own detail keeps a firmware file that could not be
  // read to its end and a progress log that could not be closed.
  void end() {
    release();
    if (firmware_.error() != 0) {
      detail::file_failure(0, detail::FileStep::kRead, firmware_, path_copy_.c_str(), 0, 0);
    }
    if (!log_.close() && detail::current().kind == detail::kNone) {
      detail::file_failure(0, detail::FileStep::kClose, log_, "the progress log", 0, 0);
    }
    firmware_.close();
  }

  platform::File& firmware() { return firmware_; }
  platform::File& log() { return log_; }

 private:
  static void run_thread(UpdateThread* self, UpdateBody body) {
    link::mark_update_thread();
    detail::clear();
    body();
    // The tail is over: from here on the application exchanges again.
    self->set_alive(false);
  }

  // Changed under the lock the waits look at it under, so a wait never
  // misses the end nor sees an end that a new start has overtaken.
  void set_alive(bool alive) {
    {
      const MutexLock held(life_lock_);
      link::set_update_alive(alive);
    }
    life_changed_.notify_all();
  }

  void join() MALTOR_REQUIRES(start_lock_) {
    if (worker_.joinable()) worker_.join();
  }

  Mutex start_lock_;  // one start at a time
  std::thread worker_ MALTOR_GUARDED_BY(start_lock_);
  std::uint64_t run_ = kNoUpdateRun;  // the number of the latest update
  std::uint64_t runs_ MALTOR_GUARDED_BY(start_lock_) = 0;
  Mutex life_lock_;  // the update's being alive, against the waits for its end
  std::condition_variable_any life_changed_;

  Mutex events_lock_;  // opening the events against a release elsewhere
  platform::Event request_{/*manual_reset=*/true};
  platform::Event stop_{/*manual_reset=*/true};
  std::atomic<EventState> request_state_{EventState::kNull};
  std::atomic<EventState> stop_state_{EventState::kNull};

  platform::File firmware_;
  platform::File log_;
  std::string path_copy_;
};

UpdateThread& update_thread() {
  // Made after the platform's clock state (the zero sleep creates it), so at
  // unload this is destroyed first and joins the thread while all it uses
  // still exists.
  static UpdateThread& instance = []() -> UpdateThread& {
    platform::sleep_ms(0);
    static UpdateThread made;
    return made;
  }();
  return instance;
}

}  // namespace

void set_status_callback(MaltorStatusCallback callback) {
  g_status_callback.store(callback);
}

std::uint8_t start_update(const char* firmware_path, const char* log_path, UpdateBody body) {
  if (g_status_callback.load() == nullptr) return kNoCallback;
  if (firmware_path == nullptr || log_path == nullptr || firmware_path[0] == '\0' ||
      log_path[0] == '\0') {
    return maltor::detail::refused_argument(kBadPath);
  }
  // From the update thread's own callback (the update is alive until that
  // thread ends) and while a stopped update's thread still runs: refused at
  // once, never waiting.
  if (link::update_alive() || link::on_update_thread()) return kUpdateRunning;
  return update_thread().start(firmware_path, log_path, body);
}

std::uint8_t wait_for_update(std::uint32_t timeout_ms) {
  if (!link::update_alive()) return kOk;
  // The update thread cannot wait for its own end.
  if (timeout_ms == 0 || link::on_update_thread()) return kUpdateRunning;
  return update_thread().wait_ended(timeout_ms);
}

std::uint8_t stop_update() {
  if (g_status_callback.load() == nullptr) return kNoCallback;
  update_thread().release();
  return kOk;
}

void wait_for_update_thread() {
  if (link::on_update_thread()) return;
  update_thread().wait();
}

std::int64_t begin_update(const char* title) {
  return update_thread().begin(title);
}

platform::File& firmware_file() {
  return update_thread().firmware();
}

platform::File& progress_log() {
  return update_thread().log();
}

bool stop_requested() {
  return update_thread().stop_requested();
}

void report_progress(std::uint8_t progress) {
  // A callback taken away while the update runs skips the report.
  if (const MaltorStatusCallback callback = g_status_callback.load(); callback != nullptr) {
    callback(progress);
  }
}

void end_update() {
  update_thread().end();
}

}  // namespace maltor::update
