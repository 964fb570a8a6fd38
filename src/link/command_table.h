// Every standard command the library sends, one row each. An operation names
// its row; the exchange takes the frame length, reply length, timeout, reader
// and reply checks from it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace maltor::link {

enum class Reader : std::uint8_t {
  kFixed,   // ReadReply: waits 5,000 ms whatever the header says
  kTimed,   // ReadReplyTimed: waits the header's timeout
  kDirect,  // file-transfer frames (file_transfer.h): synchronous pipe calls, the pipe's bound
};

// Reply checks and exchange variations, combined as bits.
enum CommandFlags : std::uint8_t {
  kNoChecks = 0,
  kSequenceCheck = 1 << 0,         // reply byte 0 must repeat the sequence byte
  kEchoCheck = 1 << 1,             // reply byte 3 must repeat the command code
  kClearReply = 1 << 2,            // the first 64 reply bytes are zeroed before the read
  kReadAfterFailedWrite = 1 << 3,  // the reply is read even when the write moved nothing
};

enum class CommandId : std::uint8_t {
  kGetFirmwareVersion,
  kReflashStart,
  kReflashData,
  kReflashEnd,
  kGetConfigInfo,
  kReconfigureStart,
  kReconfigureData,
  kReconfigureEnd,
  kSdFormat,
  kSdLogCount,
  kSdLogInfo,
  kGetDateTime,
  kSetDateTime,
  kSdRequestSendData,
  kSdStopSendData,
  kGetSerialNumber,
  kSetSerialNumber,
  kSdCurrentSector,
  kStartLiveData,
  kStopLiveData,
  kGetMmcInfo,
  kConfigFileData,
  kInitBus,
  kCanTx,
  kCanRx,
  kDeInitBus,
  kSetHwSettings,
  kGetHwSettings,
  kGetEepromPageFormat,
  kStoreEepromHwSettings,
  kPartitionLogCount,
  kPartitionLogInfo,
  kGetMaltorInfo,
  kPartitionFormat,
  kSetSingleHwSetting,
  kGetSingleHwSetting,
  kGetMicroType,
  kStartProcessData,
  kStopProcessData,
  kCanInterfaceEnable,
  kCanInterfaceDisable,
  kCanBusCount,
  kCanBusOpen,
  kCanBusClose,
  kCanBusOn,
  kCanBusOff,
  kCanParameterSet,
  kCanDataParameterSet,
  kCanBlockUidGet,
  kCount,
};

struct CommandRow {
  CommandId id;
  std::uint8_t code;
  // Frame and reply lengths without the variable part n that an operation
  // adds (a payload length, a data-chunk length or a requested byte count).
  std::uint16_t write_length;
  std::uint16_t read_length;
  std::uint32_t timeout_ms;  // 0 for the direct rows, which take none
  Reader reader;
  std::uint8_t flags;
};

// clang-format off
inline constexpr CommandRow kCommandTable[] = {
  {CommandId::kGetFirmwareVersion,    0x02,  6,  15, 5000, Reader::kFixed,  kNoChecks},
  {CommandId::kReflashStart,          0x07, 14,   8,    0, Reader::kDirect, kNoChecks},
  {CommandId::kReflashData,           0x08, 12,   8,    0, Reader::kDirect, kNoChecks},
  {CommandId::kReflashEnd,            0x09,  8,   8,    0, Reader::kDirect, kNoChecks},
  {CommandId::kGetConfigInfo,         0x0A,  6,  26, 5000, Reader::kFixed,  kNoChecks},
  {CommandId::kReconfigureStart,      0x0B, 26,   8,    0, Reader::kDirect, kNoChecks},
  {CommandId::kReconfigureData,       0x0C, 12,   8,    0, Reader::kDirect, kNoChecks},
  {CommandId::kReconfigureEnd,        0x0D,  8,   8,    0, Reader::kDirect, kNoChecks},
  {CommandId::kSdFormat,              0x0E,  8,   8, 5000, Reader::kFixed,  kNoChecks},
  {CommandId::kSdLogCount,            0x0F,  6,   8, 5000, Reader::kFixed,  kNoChecks},
  {CommandId::kSdLogInfo,             0x10,  8, 306, 5000, Reader::kFixed,  kNoChecks},
  {CommandId::kGetDateTime,           0x11,  6,  10, 5000, Reader::kFixed,  kNoChecks},
  {CommandId::kSetDateTime,           0x12, 10,   6, 5000, Reader::kFixed,  kNoChecks},
  {CommandId::kSdRequestSendData,     0x13, 16,   6, 5000, Reader::kFixed,  kNoChecks},
  {CommandId::kSdStopSendData,        0x14,  6,   6, 5000, Reader::kFixed,  kNoChecks},
  {CommandId::kGetSerialNumber,       0x15,  6, 134, 4000, Reader::kTimed,  kSequenceCheck},
  {CommandId::kSetSerialNumber,       0x16,  7,   6, 4000, Reader::kTimed,  kSequenceCheck},
  {CommandId::kSdCurrentSector,       0x17,  6,  10, 5000, Reader::kFixed,  kNoChecks},
  {CommandId::kStartLiveData,         0x19,  7,   7, 5000, Reader::kFixed,  kNoChecks},
  {CommandId::kStopLiveData,          0x1A,  7,   7, 5000, Reader::kFixed,  kNoChecks},
  {CommandId::kGetMmcInfo,            0x1B,  6,  23, 5000, Reader::kFixed,  kNoChecks},
  {CommandId::kConfigFileData,        0x1C,  8,   6, 5000, Reader::kFixed,  kNoChecks},
  {CommandId::kInitBus,               0x1D, 22,   6, 1000, Reader::kTimed,  kReadAfterFailedWrite},
  {CommandId::kCanTx,                 0x1E, 17,  11, 1000, Reader::kTimed,  kReadAfterFailedWrite},
  {CommandId::kCanRx,                 0x1F, 11,  87,  200, Reader::kTimed,  kReadAfterFailedWrite},
  {CommandId::kDeInitBus,             0x20,  6,   6, 1000, Reader::kFixed,  kReadAfterFailedWrite},
  {CommandId::kSetHwSettings,         0x21,  9,   6, 1000, Reader::kTimed,  kClearReply | kEchoCheck},
  {CommandId::kGetHwSettings,         0x22,  6, 134, 1000, Reader::kTimed,  kSequenceCheck},
  {CommandId::kGetEepromPageFormat,   0x23,  7,  70, 5000, Reader::kTimed,  kSequenceCheck},
  {CommandId::kStoreEepromHwSettings, 0x24,  8,   7, 1000, Reader::kTimed,  kClearReply | kEchoCheck},
  {CommandId::kPartitionLogCount,     0x25,  7,   8, 5000, Reader::kFixed,  kNoChecks},
  {CommandId::kPartitionLogInfo,      0x26,  9, 306, 5000, Reader::kFixed,  kNoChecks},
  {CommandId::kGetMaltorInfo,         0x27,  6,  17, 4000, Reader::kTimed,  kSequenceCheck},
  {CommandId::kPartitionFormat,       0x28,  9,   8, 5000, Reader::kFixed,  kNoChecks},
  {CommandId::kSetSingleHwSetting,    0x2C, 10,   6, 5000, Reader::kFixed,  kNoChecks},
  {CommandId::kGetSingleHwSetting,    0x2D,  8,   8, 5000, Reader::kFixed,  kNoChecks},
  {CommandId::kGetMicroType,          0x2E,  6,   7, 5000, Reader::kFixed,  kNoChecks},
  {CommandId::kStartProcessData,      0x2F,  6,   6, 5000, Reader::kFixed,  kNoChecks},
  {CommandId::kStopProcessData,       0x30,  6,   6, 5000, Reader::kFixed,  kNoChecks},
  {CommandId::kCanInterfaceEnable,    0x31,  6,  10, 5000, Reader::kFixed,  kNoChecks},
  {CommandId::kCanInterfaceDisable,   0x32,  6,  10, 5000, Reader::kFixed,  kNoChecks},
  {CommandId::kCanBusCount,           0x33,  6,   7, 5000, Reader::kFixed,  kNoChecks},
  {CommandId::kCanBusOpen,            0x34,  9,  10, 5000, Reader::kFixed,  kNoChecks},
  {CommandId::kCanBusClose,           0x35,  8,  10, 5000, Reader::kFixed,  kNoChecks},
  {CommandId::kCanBusOn,              0x36,  8,  10, 5000, Reader::kFixed,  kNoChecks},
  {CommandId::kCanBusOff,             0x37,  8,  10, 5000, Reader::kFixed,  kNoChecks},
  {CommandId::kCanParameterSet,       0x38, 16,  10, 5000, Reader::kFixed,  kNoChecks},
  {CommandId::kCanDataParameterSet,   0x3A, 16,  10, 5000, Reader::kFixed,  kNoChecks},
  {CommandId::kCanBlockUidGet,        0x3C,  9,  10, 5000, Reader::kFixed,  kNoChecks},
};
// clang-format on

static_assert(sizeof kCommandTable / sizeof kCommandTable[0] ==
              static_cast<std::size_t>(CommandId::kCount));

constexpr const CommandRow& command(CommandId id) {
  return kCommandTable[static_cast<std::size_t>(id)];
}

// Rows sit at their own index, so command(id) is a plain lookup.
constexpr bool table_in_order() {
  for (std::size_t i = 0; i < static_cast<std::size_t>(CommandId::kCount); ++i) {
    if (static_cast<std::size_t>(kCommandTable[i].id) != i) return false;
  }
  return true;
}
static_assert(table_in_order());

}  // namespace maltor::link
