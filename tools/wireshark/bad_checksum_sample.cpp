// Writes a USB trace in which the virtual device corrupts one reply's
// checksum (GetMaltorInfo's), between two good exchanges, for the check that
// the dissector flags it: bad_checksum_sample TRACE
#include <cstdio>

#include "MaltorUSBdrv.h"
#include "MaltorUSBdrv_sim.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const int32_t device = MaltorSim_Plug(1, MALTOR_SIM_HIGH_SPEED, -1);
  if (device < 0 || DeviceIsReady() == 0 || MaltorTraceStart(argv[1]) != MALTOR_OK) return 1;
  MaltorSim_InjectFault(device, MALTOR_SIM_FAULT_BAD_CHECKSUM, 0x27, 1, 0);
  uint32_t clock = 0;
  uint8_t info_byte = 0;
  uint32_t info_value = 0;
  // The library does not check reply checksums, so all three succeed.
  const bool done = SCGetDateTime(&clock) == MALTOR_OK &&
                    GetMaltorInfo(&info_byte, &info_value) == MALTOR_OK &&
                    SCGetDateTime(&clock) == MALTOR_OK;
  MaltorTraceStop();
  return done ? 0 : 1;
}
