// Configuration transfers: the data processor's file both ways, and the
// gateway's image.
#include "MaltorUSBdrv.h"
#include "config/dp_config.h"
#include "config/gateway_config.h"
#include "exports/call_barrier.h"

using maltor::exports::guarded;
namespace config = maltor::config;

extern "C" {

MALTOR_API uint8_t MALTOR_CALL SCReconfigureFile(const char* path, uint16_t* status) {
  return guarded([&] { return config::send_configuration(path, status); });
}

MALTOR_API uint8_t MALTOR_CALL SCConfigFileData(const char* path) {
  return guarded([&] { return config::read_configuration(path); });
}

MALTOR_API uint8_t MALTOR_CALL SendTaloqConfiguration(void*, uint32_t length, const uint8_t* data) {
  return guarded([&] { return config::send_gateway_configuration(length, data); });
}

}  // extern "C"
