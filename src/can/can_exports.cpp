// CAN bus control and frames: the export shims.
#include "MaltorUSBdrv.h"
#include "can/can_control.h"
#include "can/can_frames.h"
#include "exports/call_barrier.h"

using maltor::can::Control;
using maltor::can::control;

extern "C" {

MALTOR_API uint8_t MALTOR_CALL InitBus(MaltorBusSetup setup) {
  return maltor::exports::guarded([&]() -> uint8_t {
    return control<Control::kInitBus>(nullptr, setup.setup_byte_1, setup.setup_byte_2,
                                      setup.setup_byte_3, setup.setup_byte_4, setup.setup_word_1,
                                      setup.setup_word_2, setup.setup_word_3);
  });
}

MALTOR_API uint8_t MALTOR_CALL DeInitBus(void) {
  return maltor::exports::guarded(
      [&]() -> uint8_t { return control<Control::kDeInitBus>(nullptr); });
}

MALTOR_API uint8_t MALTOR_CALL CANInterfaceEnable(uint32_t* reply_word) {
  return maltor::exports::guarded(
      [&]() -> uint8_t { return control<Control::kInterfaceEnable>(reply_word); });
}

MALTOR_API uint8_t MALTOR_CALL CANInterfaceDisable(uint32_t* reply_word) {
  return maltor::exports::guarded(
      [&]() -> uint8_t { return control<Control::kInterfaceDisable>(reply_word); });
}

MALTOR_API uint8_t MALTOR_CALL CANBusCount(uint8_t* bus_count) {
  return maltor::exports::guarded(
      [&]() -> uint8_t { return control<Control::kBusCount>(bus_count); });
}

MALTOR_API uint8_t MALTOR_CALL CANBusOpen(uint32_t* reply_word, uint16_t bus, uint8_t option) {
  return maltor::exports::guarded(
      [&]() -> uint8_t { return control<Control::kBusOpen>(reply_word, bus, option); });
}

MALTOR_API uint8_t MALTOR_CALL CANBusClose(uint32_t* reply_word, uint16_t bus) {
  return maltor::exports::guarded(
      [&]() -> uint8_t { return control<Control::kBusClose>(reply_word, bus); });
}

MALTOR_API uint8_t MALTOR_CALL CANBusOn(uint32_t* reply_word, uint16_t bus) {
  return maltor::exports::guarded(
      [&]() -> uint8_t { return control<Control::kBusOn>(reply_word, bus); });
}

MALTOR_API uint8_t MALTOR_CALL CANBusOff(uint32_t* reply_word, uint16_t bus) {
  return maltor::exports::guarded(
      [&]() -> uint8_t { return control<Control::kBusOff>(reply_word, bus); });
}

MALTOR_API uint8_t MALTOR_CALL CANParameterSet(uint32_t* reply_word, uint16_t bus,
                                               uint32_t parameter_word, uint8_t parameter_1,
                                               uint8_t parameter_2, uint8_t parameter_3,
                                               uint8_t parameter_4) {
  return maltor::exports::guarded([&]() -> uint8_t {
    return control<Control::kParameterSet>(reply_word, bus, parameter_word, parameter_1,
                                           parameter_2, parameter_3, parameter_4);
  });
}

MALTOR_API uint8_t MALTOR_CALL CANDataParameterSet(uint32_t* reply_word, uint16_t bus,
                                                   uint32_t parameter_word, uint8_t parameter_1,
                                                   uint8_t parameter_2, uint8_t parameter_3,
                                                   uint8_t parameter_4) {
  return maltor::exports::guarded([&]() -> uint8_t {
    return control<Control::kDataParameterSet>(reply_word, bus, parameter_word, parameter_1,
                                               parameter_2, parameter_3, parameter_4);
  });
}

MALTOR_API uint8_t MALTOR_CALL CANBlockUIDGet(uint32_t* reply_word, uint16_t bus, uint8_t option) {
  return maltor::exports::guarded(
      [&]() -> uint8_t { return control<Control::kBlockUidGet>(reply_word, bus, option); });
}

MALTOR_API uint8_t MALTOR_CALL CANTx(MaltorCanMessage* message) {
  return maltor::exports::guarded([&]() -> uint8_t { return maltor::can::transmit(message); });
}

MALTOR_API uint8_t MALTOR_CALL CANRx(uint16_t* frame_count, MaltorCanMessage* message) {
  return maltor::exports::guarded(
      [&]() -> uint8_t { return maltor::can::receive(frame_count, message); });
}

}  // extern "C"
