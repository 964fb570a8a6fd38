#include <functional>
#include <thread>

#include "platform/os.h"

namespace maltor::platform {

std::uint64_t this_thread_tag() {
  return std::hash<std::thread::id>{}(std::this_thread::get_id()) | 1;
}

}  // namespace maltor::platform
