// Hosts other than Linux and Windows: no USB set-up the tool knows to check.
#include "doctor.h"

namespace maltor::tool {

std::vector<DoctorCheck> host_usb_checks() {
  return {};
}

}  // namespace maltor::tool
