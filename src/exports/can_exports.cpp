// CAN bus control and single CAN frames.
#include "MaltorUSBdrv.h"
#include "can/can_control.h"
#include "can/can_frames.h"
#include "exports/call_barrier.h"

using maltor::exports::guarded;
namespace can = maltor::can;

extern "C" {

MALTOR_API uint8_t MALTOR_CALL InitBus(MaltorBusSetup setup) {
  return guarded([&] { return can::init_bus(setup); });
}

MALTOR_API uint8_t MALTOR_CALL DeInitBus(void) {
  return guarded([&] { return can::deinit_bus(); });
}

MALTOR_API uint8_t MALTOR_CALL CANInterfaceEnable(uint32_t* reply_word) {
  return guarded([&] { return can::interface_enable(reply_word); });
}

MALTOR_API uint8_t MALTOR_CALL CANInterfaceDisable(uint32_t* reply_word) {
  return guarded([&] { return can::interface_disable(reply_word); });
}

MALTOR_API uint8_t MALTOR_CALL CANBusCount(uint8_t* bus_count) {
  return guarded([&] { return can::bus_count(bus_count); });
}

MALTOR_API uint8_t MALTOR_CALL CANBusOpen(uint32_t* reply_word, uint16_t bus, uint8_t option) {
  return guarded([&] { return can::bus_open(reply_word, bus, option); });
}

MALTOR_API uint8_t MALTOR_CALL CANBusClose(uint32_t* reply_word, uint16_t bus) {
  return guarded([&] { return can::bus_close(reply_word, bus); });
}

MALTOR_API uint8_t MALTOR_CALL CANBusOn(uint32_t* reply_word, uint16_t bus) {
  return guarded([&] { return can::bus_on(reply_word, bus); });
}

MALTOR_API uint8_t MALTOR_CALL CANBusOff(uint32_t* reply_word, uint16_t bus) {
  return guarded([&] { return can::bus_off(reply_word, bus); });
}

MALTOR_API uint8_t MALTOR_CALL CANParameterSet(uint32_t* reply_word, uint16_t bus,
                                               uint32_t parameter_word, uint8_t parameter_1,
                                               uint8_t parameter_2, uint8_t parameter_3,
                                               uint8_t parameter_4) {
  return guarded([&] {
    return can::parameter_set(reply_word, bus, parameter_word, parameter_1, parameter_2,
                              parameter_3, parameter_4);
  });
}

MALTOR_API uint8_t MALTOR_CALL CANDataParameterSet(uint32_t* reply_word, uint16_t bus,
                                                   uint32_t parameter_word, uint8_t parameter_1,
                                                   uint8_t parameter_2, uint8_t parameter_3,
                                                   uint8_t parameter_4) {
  return guarded([&] {
    return can::data_parameter_set(reply_word, bus, parameter_word, parameter_1, parameter_2,
                                   parameter_3, parameter_4);
  });
}

MALTOR_API uint8_t MALTOR_CALL CANBlockUIDGet(uint32_t* reply_word, uint16_t bus, uint8_t option) {
  return guarded([&] { return can::block_uid_get(reply_word, bus, option); });
}

MALTOR_API uint8_t MALTOR_CALL CANTx(MaltorCanMessage* message) {
  return guarded([&] { return can::transmit(message); });
}

MALTOR_API uint8_t MALTOR_CALL CANRx(uint16_t* frame_count, MaltorCanMessage* message) {
  return guarded([&] { return can::receive(frame_count, message); });
}

}  // extern "C"
