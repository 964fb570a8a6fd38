// Both public headers as a C++ application includes them.
#include "MaltorUSBdrv.h"
#include "MaltorUSBdrv_sim.h"

uint32_t(MALTOR_CALL* const maltor_version_function)(void) = MaltorGetVersion;
