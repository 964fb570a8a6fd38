// Bus control: InitBus, DeInitBus and the ten short per-bus commands. Each is
// one packed command (see link/reply_decode.h): its row, the widths of its
// arguments in the payload and what it copies back.
#pragma once

#include <cstdint>

#include "MaltorUSBdrv.h"

namespace maltor::can {

// Each returns kOk, kBadArgument (a null output, nothing sent),
// kExchangeFailed, kNoDevice or kUpdateRunning; the output gets reply bytes
// 5-8 (the bus count: byte 5) on success only.
std::uint8_t init_bus(const MaltorBusSetup& setup);
std::uint8_t deinit_bus();
std::uint8_t interface_enable(std::uint32_t* reply_word);
std::uint8_t interface_disable(std::uint32_t* reply_word);
std::uint8_t bus_count(std::uint8_t* count);
std::uint8_t bus_open(std::uint32_t* reply_word, std::uint16_t bus, std::uint8_t option);
std::uint8_t bus_close(std::uint32_t* reply_word, std::uint16_t bus);
std::uint8_t bus_on(std::uint32_t* reply_word, std::uint16_t bus);
std::uint8_t bus_off(std::uint32_t* reply_word, std::uint16_t bus);
std::uint8_t parameter_set(std::uint32_t* reply_word, std::uint16_t bus,
                           std::uint32_t parameter_word, std::uint8_t parameter_1,
                           std::uint8_t parameter_2, std::uint8_t parameter_3,
                           std::uint8_t parameter_4);
std::uint8_t data_parameter_set(std::uint32_t* reply_word, std::uint16_t bus,
                                std::uint32_t parameter_word, std::uint8_t parameter_1,
                                std::uint8_t parameter_2, std::uint8_t parameter_3,
                                std::uint8_t parameter_4);
std::uint8_t block_uid_get(std::uint32_t* reply_word, std::uint16_t bus, std::uint8_t option);

}  // namespace maltor::can
