// Names and field positions of every standard command on the wire, by
// command id, for readers of a USB trace: the maltor tool's trace summary and
// the Wireshark dissector (tools/wireshark/maltor.lua), whose command table
// is generated from this one. Offsets count from frame byte 0; a request's
// payload starts at byte 5, a reply's data at byte 5.
#pragma once

#include <cstdint>

#include "link/command_table.h"

namespace maltor::link {

enum class FieldType : std::uint8_t {
  kU8,
  kU16,
  kU32,
  kBytes,  // `length` bytes, or up to the checksum when `length` is 0
};

struct WireField {
  const char* name;  // null ends a list
  std::uint8_t offset;
  FieldType type;
  std::uint16_t length;
};

inline constexpr int kMaxFields = 5;

struct CommandLayout {
  CommandId id;
  const char* name;
  WireField request[kMaxFields];
  WireField reply[kMaxFields];
};

// clang-format off
inline constexpr CommandLayout kCommandLayouts[] = {
  {CommandId::kGetFirmwareVersion, "SCGetFirmwareVersion", {},
   {{"version word", 5, FieldType::kU16, 0}, {"version bytes", 7, FieldType::kBytes, 3}}},
  {CommandId::kReflashStart, "SCReflashStart",
   {{"zero", 5, FieldType::kU32, 0}, {"image length", 9, FieldType::kU32, 0}},
   {{"status", 5, FieldType::kU16, 0}}},
  {CommandId::kReflashData, "SCReflashData",
   {{"offset", 5, FieldType::kU32, 0}, {"data length", 9, FieldType::kU16, 0},
    {"data", 11, FieldType::kBytes, 0}},
   {{"status", 5, FieldType::kU16, 0}}},
  {CommandId::kReflashEnd, "SCReflashEnd", {{"image sum", 5, FieldType::kU16, 0}},
   {{"status", 5, FieldType::kU16, 0}}},
  {CommandId::kGetConfigInfo, "SCUSBGetConfigInfo", {},
   {{"tag", 5, FieldType::kBytes, 16}, {"configuration size", 21, FieldType::kU32, 0}}},
  {CommandId::kReconfigureStart, "SCReconfigureStart", {{"payload", 5, FieldType::kBytes, 0}},
   {{"status", 5, FieldType::kU16, 0}}},
  {CommandId::kReconfigureData, "SCReconfigureData",
   {{"offset", 5, FieldType::kU32, 0}, {"data length", 9, FieldType::kU16, 0},
    {"data", 11, FieldType::kBytes, 0}},
   {{"status", 5, FieldType::kU16, 0}}},
  {CommandId::kReconfigureEnd, "SCReconfigureEnd", {{"configuration sum", 5, FieldType::kU16, 0}},
   {{"status", 5, FieldType::kU16, 0}}},
  {CommandId::kSdFormat, "SCSDFormat", {{"format parameter", 5, FieldType::kU16, 0}},
   {{"format reply", 5, FieldType::kU16, 0}}},
  {CommandId::kSdLogCount, "SCSDLogCount", {}, {{"log count", 5, FieldType::kU16, 0}}},
  {CommandId::kSdLogInfo, "SCSDLogInfo", {{"log index", 5, FieldType::kU16, 0}},
   {{"log info", 5, FieldType::kBytes, 0}}},
  {CommandId::kGetDateTime, "SCGetDateTime", {}, {{"clock", 5, FieldType::kU32, 0}}},
  {CommandId::kSetDateTime, "SCSetDateTime", {{"clock", 5, FieldType::kU32, 0}}, {}},
  {CommandId::kSdRequestSendData, "SCSDRequestSendData",
   {{"start sector", 5, FieldType::kU32, 0}, {"end sector", 9, FieldType::kU32, 0},
    {"reserved", 13, FieldType::kU16, 0}},
   {}},
  {CommandId::kSdStopSendData, "SCSDStopSendData", {}, {}},
  {CommandId::kGetSerialNumber, "SCGetSerialNumber", {},
   {{"serial number block", 5, FieldType::kBytes, 128}}},
  {CommandId::kSetSerialNumber, "SCSetSerialNumber",
   {{"data length", 5, FieldType::kU8, 0}, {"data", 6, FieldType::kBytes, 0}}, {}},
  {CommandId::kSdCurrentSector, "SCSDCurrentSector", {}, {{"current sector", 5, FieldType::kU32, 0}}},
  {CommandId::kStartLiveData, "SCUSBStartLiveData", {{"live-data parameter", 5, FieldType::kU8, 0}}, {}},
  {CommandId::kStopLiveData, "SCUSBStopLiveData", {{"live-data parameter", 5, FieldType::kU8, 0}}, {}},
  {CommandId::kGetMmcInfo, "SCGetMMCInfo", {},
   {{"card record", 5, FieldType::kBytes, 16}, {"card byte", 21, FieldType::kU8, 0}}},
  {CommandId::kConfigFileData, "SCConfigFileData", {{"bytes wanted", 5, FieldType::kU16, 0}},
   {{"configuration bytes", 5, FieldType::kBytes, 0}}},
  {CommandId::kInitBus, "InitBus",
   {{"set-up bytes", 5, FieldType::kBytes, 4}, {"set-up word 1", 9, FieldType::kU32, 0},
    {"set-up word 2", 13, FieldType::kU32, 0}, {"set-up word 3", 17, FieldType::kU32, 0}},
   {}},
  {CommandId::kCanTx, "CANTx",
   {{"bus", 5, FieldType::kU8, 0}, {"attribute", 6, FieldType::kU8, 0},
    {"data length", 7, FieldType::kU8, 0}, {"identifier", 8, FieldType::kU32, 0},
    {"data", 16, FieldType::kBytes, 0}},
   {{"reply", 5, FieldType::kBytes, 0}}},
  {CommandId::kCanRx, "CANRx",
   {{"bus", 5, FieldType::kU8, 0}, {"receive timeout", 6, FieldType::kU32, 0}},
   {{"reply", 5, FieldType::kBytes, 0}}},
  {CommandId::kDeInitBus, "DeInitBus", {}, {}},
  {CommandId::kSetHwSettings, "SCSetHWSettings", {{"settings", 5, FieldType::kBytes, 0}}, {}},
  {CommandId::kGetHwSettings, "SCGetHWSettings", {},
   {{"settings block", 5, FieldType::kBytes, 128}}},
  {CommandId::kGetEepromPageFormat, "GetEEPROMPageFormat", {{"page", 5, FieldType::kU8, 0}},
   {{"page image", 5, FieldType::kBytes, 64}}},
  {CommandId::kStoreEepromHwSettings, "StoreEEPROMHWSettings",
   {{"selector 1", 5, FieldType::kU8, 0}, {"selector 2", 6, FieldType::kU8, 0}},
   {{"status", 5, FieldType::kU8, 0}}},
  {CommandId::kPartitionLogCount, "SCPartitionLogCount", {{"partition", 5, FieldType::kU8, 0}},
   {{"log count", 5, FieldType::kU16, 0}}},
  {CommandId::kPartitionLogInfo, "SCPartitionLogInfo",
   {{"partition", 5, FieldType::kU8, 0}, {"log index", 6, FieldType::kU16, 0}},
   {{"log info", 5, FieldType::kBytes, 0}}},
  {CommandId::kGetMaltorInfo, "GetMaltorInfo", {},
   {{"info byte", 5, FieldType::kU8, 0}, {"info value", 6, FieldType::kBytes, 0}}},
  {CommandId::kPartitionFormat, "SCPartitionFormat",
   {{"format parameter", 5, FieldType::kU16, 0}, {"partition count", 7, FieldType::kU8, 0},
    {"partitions", 8, FieldType::kBytes, 0}},
   {{"format reply", 5, FieldType::kU16, 0}}},
  {CommandId::kSetSingleHwSetting, "SetSingleHWSetting",
   {{"setting", 5, FieldType::kU16, 0}, {"value", 7, FieldType::kU16, 0}}, {}},
  {CommandId::kGetSingleHwSetting, "GetSingleHWSetting", {{"setting", 5, FieldType::kU16, 0}},
   {{"value", 5, FieldType::kU16, 0}}},
  {CommandId::kGetMicroType, "GetMicroType", {}, {{"micro type", 5, FieldType::kU8, 0}}},
  {CommandId::kStartProcessData, "SCUSBStartProcessData", {}, {}},
  {CommandId::kStopProcessData, "SCUSBStopProcessData", {}, {}},
  {CommandId::kCanInterfaceEnable, "CANInterfaceEnable", {}, {{"reply word", 5, FieldType::kU32, 0}}},
  {CommandId::kCanInterfaceDisable, "CANInterfaceDisable", {}, {{"reply word", 5, FieldType::kU32, 0}}},
  {CommandId::kCanBusCount, "CANBusCount", {}, {{"bus count", 5, FieldType::kU8, 0}}},
  {CommandId::kCanBusOpen, "CANBusOpen",
   {{"bus", 5, FieldType::kU16, 0}, {"option", 7, FieldType::kU8, 0}},
   {{"reply word", 5, FieldType::kU32, 0}}},
  {CommandId::kCanBusClose, "CANBusClose", {{"bus", 5, FieldType::kU16, 0}},
   {{"reply word", 5, FieldType::kU32, 0}}},
  {CommandId::kCanBusOn, "CANBusOn", {{"bus", 5, FieldType::kU16, 0}},
   {{"reply word", 5, FieldType::kU32, 0}}},
  {CommandId::kCanBusOff, "CANBusOff", {{"bus", 5, FieldType::kU16, 0}},
   {{"reply word", 5, FieldType::kU32, 0}}},
  {CommandId::kCanParameterSet, "CANParameterSet",
   {{"bus", 5, FieldType::kU16, 0}, {"parameter word", 7, FieldType::kU32, 0},
    {"parameter bytes", 11, FieldType::kBytes, 4}},
   {{"reply word", 5, FieldType::kU32, 0}}},
  {CommandId::kCanDataParameterSet, "CANDataParameterSet",
   {{"bus", 5, FieldType::kU16, 0}, {"parameter word", 7, FieldType::kU32, 0},
    {"parameter bytes", 11, FieldType::kBytes, 4}},
   {{"reply word", 5, FieldType::kU32, 0}}},
  {CommandId::kCanBlockUidGet, "CANBlockUIDGet",
   {{"bus", 5, FieldType::kU16, 0}, {"option", 7, FieldType::kU8, 0}},
   {{"reply word", 5, FieldType::kU32, 0}}},
};
// clang-format on

static_assert(sizeof kCommandLayouts / sizeof kCommandLayouts[0] ==
              static_cast<std::size_t>(CommandId::kCount));

constexpr bool layouts_in_order() {
  for (std::size_t i = 0; i < static_cast<std::size_t>(CommandId::kCount); ++i) {
    if (static_cast<std::size_t>(kCommandLayouts[i].id) != i) return false;
  }
  return true;
}
static_assert(layouts_in_order());

// The other layouts on the command pipes, by the code that tells them apart.
struct NamedCode {
  std::uint16_t code;
  const char* name;
};

// Mirel frames: the command number at bytes 6-7.
inline constexpr NamedCode kMirelCommands[] = {
    {1, "MirelGetLogCount"},       {2, "MirelGetFirstLogSection"}, {3, "MirelGetActiveLogSection"},
    {4, "MirelGetDescriptorInfo"}, {5, "MirelLogFileCheck"},       {15, "MirelLogFileRequest"},
    {220, "MirelFirmwareVersion"},
};

// Logger update frames: the frame code at byte 1.
inline constexpr NamedCode kLoggerFrames[] = {
    {0x84, "logger start"},
    {0x78, "logger data"},
    {0x88, "logger finish"},
    {0x7C, "logger reconnect"},
};

// Gateway frames: command and qualifier (command << 8 | qualifier), and the
// width of their sum in bytes.
struct GatewayFrameName {
  std::uint16_t command_qualifier;
  std::uint8_t sum_bytes;
  const char* name;
};
inline constexpr GatewayFrameName kGatewayFrames[] = {
    {0x1013, 1, "gateway firmware announce"},   {0x1300, 2, "gateway firmware block"},
    {0x6101, 1, "gateway completion"},          {0x1012, 2, "gateway configuration announce"},
    {0x1202, 2, "gateway configuration block"},
};

// The layout of the command with wire code `code`, or null.
constexpr const CommandLayout* layout_for_code(std::uint8_t code) {
  for (std::size_t i = 0; i < static_cast<std::size_t>(CommandId::kCount); ++i) {
    if (kCommandTable[i].code == code) return &kCommandLayouts[i];
  }
  return nullptr;
}

}  // namespace maltor::link
