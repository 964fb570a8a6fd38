/* An application against the virtual device: plug a logger, connect, read
   its firmware version; a failed call says why. */
#include <stdio.h>

#include "MaltorUSBdrv.h"
#include "MaltorUSBdrv_sim.h"

int main(void) {
  uint32_t version = MaltorGetVersion();
  uint16_t word = 0;
  uint8_t v1 = 0, v2 = 0, v3 = 0;
  uint8_t result;
  MaltorConnection connection;
  MaltorErrorDetail detail;

  printf("MaltorUSBdrv %u.%u.%u\n", (unsigned)(version >> 16), (unsigned)((version >> 8) & 0xFF),
         (unsigned)(version & 0xFF));
  if (MaltorSim_Plug(1, MALTOR_SIM_HIGH_SPEED, -1) < 0) return 1;
  result = GetConnected(&connection);
  if (result == MALTOR_OK) result = SCGetFirmwareVersion(&word, &v1, &v2, &v3);
  if (result != MALTOR_OK) {
    MaltorGetLastError(&detail);
    printf("failed: %s (%s)\n", MaltorResultText(result), detail.text);
    return 1;
  }
  printf("logger firmware %u, %u.%u.%u\n", (unsigned)word, v1, v2, v3);
  CloseDevice();
  return 0;
}
