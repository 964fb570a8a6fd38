// The device cases shared with the WinUSB backend, run here through libusb
// against the umockdev bus (the rig is in libusb_fixture.cpp).
#include "device_cases.h"

namespace maltor::test {

MALTOR_INSTANTIATE_DEVICE_CASES(Libusb);

}  // namespace maltor::test
