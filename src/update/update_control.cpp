#include "update/update_control.h"

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "link/device_table.h"
#include "link/error_detail.h"
#include "link/result.h"
#include "platform/clock.h"
#include "update/progress_log.h"

namespace maltor::update {

namespace {

using link::g_update_marker;
using link::Handle;
using link::kInvalidHandle;

// States of the two event variables: never created, open, or closed (the
// no-handle value).
enum class EventState : std::uint8_t { kNull, kOpen, kClosed };

std::atomic<MaltorStatusCallback> g_status_callback{nullptr};

// Set on the update thread, so that a start from its own status callback is
// refused rather than waiting for itself.
thread_local bool t_on_update_thread = false;

// The one update thread and the state only it uses while it runs. A new start
// waits for the previous thread to end before it touches any of this.
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
    std::lock_guard held(events_lock_);
    if (stop_state_.exchange(EventState::kClosed) == EventState::kOpen) stop_.set();
    if (request_state_.exchange(EventState::kClosed) == EventState::kOpen) request_.set();
    g_update_marker.store(kInvalidHandle);
  }

  std::uint8_t start(const char* firmware_path, const char* log_path, UpdateBody body) {
    std::lock_guard starting(start_lock_);
    if (link::update_running()) return kUpdateRunning;
    // A stopped update may still write its trailer or run its tail; the new
    // one waits for it, so the two never share the files, events or device.
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
      g_update_marker.store(run_);
      worker_ = std::thread(run_thread, body);
    } catch (...) {
      // No thread: nothing runs and the marker stays clear; reported as 3.
      detail::set(kFileOpenFailed, detail::kInternal, 0, 0, 0,
                  "the update thread could not be started");
      g_update_marker.store(kInvalidHandle);
      firmware_.close();
      log_.close();
      return kFileOpenFailed;
    }
    return kOk;
  }

  void wait() {
    std::lock_guard starting(start_lock_);
    join();
  }

  std::int64_t begin(const char* title) {
    {
      std::lock_guard held(events_lock_);
      // A stop that came first has released this update already: its events
      // stay closed and the first stop check ends the transfer.
      if (g_update_marker.load() == run_) {
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
  static void run_thread(UpdateBody body) {
    t_on_update_thread = true;
    detail::clear();
    body();
  }

  void join() {
    if (worker_.joinable()) worker_.join();
  }

  std::mutex start_lock_;  // one start at a time
  std::thread worker_;
  Handle run_ = kInvalidHandle;  // the marker value of the latest update
  Handle runs_ = 0;

  std::mutex events_lock_;  // opening the events against a release elsewhere
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
  // From the update thread's own callback the running thread cannot be
  // waited for, so such a start counts as one while an update runs.
  if (link::update_running() || t_on_update_thread) return kUpdateRunning;
  return update_thread().start(firmware_path, log_path, body);
}

std::uint8_t stop_update() {
  if (g_status_callback.load() == nullptr) return kNoCallback;
  update_thread().release();
  return kOk;
}

void wait_for_update_thread() {
  if (t_on_update_thread) return;
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
