/* Both public headers as an application includes them, with one use of each
   so that the translation unit is not empty. */
#include "MaltorUSBdrv.h"
#include "MaltorUSBdrv_sim.h"

uint32_t(MALTOR_CALL* const maltor_version_function)(void) = MaltorGetVersion;
int32_t(MALTOR_CALL* const maltor_plug_function)(uint8_t, uint8_t, int32_t) = MaltorSim_Plug;
