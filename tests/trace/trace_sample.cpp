// Writes USB traces through the virtual device for scripts/ci-trace.sh:
//   maltor_trace_sample session TRACE       the session of trace_session.h
//   maltor_trace_sample bad-checksum TRACE  GetMaltorInfo's reply checksum
//                                           corrupted, between good exchanges
#include <cstring>

#include "MaltorUSBdrv.h"
#include "MaltorUSBdrv_sim.h"
#include "trace_session.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const int32_t device = MaltorSim_Plug(1, MALTOR_SIM_HIGH_SPEED, -1);
  if (device < 0 || DeviceIsReady() == 0) return 1;
  if (std::strcmp(argv[1], "session") == 0)
    return maltor::test::run_traced_session(argv[2]) ? 0 : 1;
  if (std::strcmp(argv[1], "bad-checksum") != 0 || MaltorTraceStart(argv[2]) != MALTOR_OK) return 2;
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
