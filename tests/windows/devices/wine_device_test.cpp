// The real MaltorUSBdrv.dll, loaded as an application loads it, against the
// emulated bus behind the stand-in winusb.dll and setupapi.dll: the cases
// shared with the libusb backend, then what only the WinUSB backend does
// (its error mapping, cancelling a write, releasing SetupAPI's sets).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "device_cases.h"
#include "usb_bench.h"

namespace maltor::test {

using standin::DeviceSpec;
using standin::Fault;
using standin::PipeFault;
using standin::UsbBench;

namespace {

std::string program_folder() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string folder(path, length);
  return folder.substr(0, folder.find_last_of('\\') + 1);
}

class WineRig final : public DeviceRig {
 public:
  WineRig() {
    ports_[0] = bench_.add(DeviceSpec{1, 0x4D54, 0x0001, "MTR0001", 3, 1});
    ports_[1] = bench_.add(DeviceSpec{2, 0x4D54, 0x0002, "MTR0002", 1, 2});
    ports_[2] = bench_.add(DeviceSpec{3, 0x1234, 0x5678, nullptr, 3, 0});
    kind3_ = bench_.add(DeviceSpec{4, 0x4D54, 0x0003, "MTR0003", 3, 3});
    kind5_ = bench_.add(DeviceSpec{5, 0x4D54, 0x0005, "MTR0005", 3, 5});
    // The library lives beside the test programs; this program and the
    // stand-ins sit one folder down, so its imports find them first.
    library_ = LoadLibraryA((program_folder() + "..\\MaltorUSBdrv.dll").c_str());
    loaded_ = library_ != nullptr && find_exports(api_, [&](const char* name) {
                return reinterpret_cast<void*>(GetProcAddress(library_, name));
              });
  }

  bool loaded() const { return loaded_; }
  UsbBench& bench() { return bench_; }
  int id(Port port) const { return ports_[static_cast<int>(port)]; }
  int kind3() const { return kind3_; }
  int kind5() const { return kind5_; }

  const Exports& api() override { return api_; }

  void fresh() override {
    api_.CloseDevice();
    api_.MaltorSelectDevice(nullptr);
    // With nothing plugged in, a readiness check empties the library's table.
    for (int device = 0; device < 5; ++device) {
      bench_.unplug(device);
      bench_.reset(device);
    }
    api_.DeviceIsReady();
    for (int device : ports_) bench_.plug(device);
  }
  void plug(Port port) override { bench_.plug(id(port)); }
  void unplug(Port port) override { bench_.unplug(id(port)); }
  void with_model(Port port, const std::function<void(sim::DeviceModel&)>& work) override {
    bench_.with_model(id(port), [&](sim::DeviceModel& model) {
      work(model);
      return 0;
    });
  }
  void split_transfers(Port port) override { bench_.split_transfers(id(port)); }
  void break_speed_query(Port port, bool broken) override {
    bench_.fail_speed_queries(id(port), broken ? 1 << 30 : 0);
  }
  bool device_open(Port port) override { return bench_.open_interfaces(id(port)) > 0; }
  int pending_reads(Port port, std::uint8_t endpoint) override {
    return bench_.pending(id(port), endpoint);
  }
  std::string scratch_file(const char* name) override {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    return std::string(temp) + name;
  }
  std::vector<FrameHead> frames_written(Port port) override {
    return bench_.frames_written(id(port));
  }

 private:
  UsbBench bench_;
  int ports_[3] = {};
  int kind3_ = 0;
  int kind5_ = 0;
  HMODULE library_ = nullptr;
  bool loaded_ = false;
  Exports api_{};
};

}  // namespace

WineRig& wine_rig() {
  static WineRig* const rig = new WineRig;  // outlives the library's last call
  return *rig;
}

DeviceRig& device_rig() {
  return wine_rig();
}

MALTOR_INSTANTIATE_DEVICE_CASES(Winusb);

// ---- WinUSB only ----------------------------------------------------------------

class WinusbBackend : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(wine_rig().loaded()) << "MaltorUSBdrv.dll or one of its exports was not found";
    wine_rig().fresh();
  }
  void TearDown() override { api().CloseDevice(); }

  static const Exports& api() { return wine_rig().api(); }
  static UsbBench& bench() { return wine_rig().bench(); }
  static int logger() { return wine_rig().id(Port::kLogger); }

  static std::uint8_t firmware() { return test::firmware(api()).result; }
};

// Each error a transfer can meet, at its start or at its completion: the
// exchange fails at once (not after its 5,000 ms wait), leaves nothing in
// flight and says whether the device was gone or the USB stack failed, and the
// next exchange works. A write refused outright is aborted, unless access was
// refused.
struct TransferError {
  const char* name;
  PipeFault fault;
  std::uint8_t detail;
  int write_aborts;
};

class WinusbTransferError : public WinusbBackend,
                            public ::testing::WithParamInterface<TransferError> {};

constexpr std::uint8_t kGone = MALTOR_DETAIL_DEVICE;
constexpr std::uint8_t kUsb = MALTOR_DETAIL_USB;
const TransferError kTransferErrors[] = {
    {"ReadRefusedDeviceGone", {0x82, Fault::kRefuse, ERROR_FILE_NOT_FOUND}, kGone, 0},
    {"ReadRefusedTimeout", {0x82, Fault::kRefuse, ERROR_SEM_TIMEOUT}, kUsb, 0},
    {"ReadRefusedStall", {0x82, Fault::kRefuse, ERROR_GEN_FAILURE}, kUsb, 0},
    {"ReadRefusedNotConnected", {0x82, Fault::kRefuse, ERROR_DEVICE_NOT_CONNECTED}, kUsb, 0},
    {"ReadFailsLaterGone", {0x82, Fault::kFailLater, ERROR_FILE_NOT_FOUND}, kGone, 0},
    {"ReadFailsLaterTimeout", {0x82, Fault::kFailLater, ERROR_SEM_TIMEOUT}, kUsb, 0},
    {"ReadFailsLaterStall", {0x82, Fault::kFailLater, ERROR_GEN_FAILURE}, kUsb, 0},
    {"ReadFailsLaterNotConnected", {0x82, Fault::kFailLater, ERROR_DEVICE_NOT_CONNECTED}, kUsb, 0},
    {"WriteRefusedNoAccess", {0x02, Fault::kRefuse, ERROR_NOACCESS}, kUsb, 0},
    {"WriteRefusedStall", {0x02, Fault::kRefuse, ERROR_GEN_FAILURE}, kUsb, 1},
    {"WriteRefusedGone", {0x02, Fault::kRefuse, ERROR_FILE_NOT_FOUND}, kGone, 1},
    {"WriteFailsLaterStall", {0x02, Fault::kFailLater, ERROR_GEN_FAILURE}, kUsb, 0},
    {"WriteFailsLaterNotConnected", {0x02, Fault::kFailLater, ERROR_DEVICE_NOT_CONNECTED}, kUsb, 0},
};

TEST_P(WinusbTransferError, FailsTheExchangeAtOnce) {
  const TransferError& c = GetParam();
  ASSERT_EQ(api().DeviceIsReady(), 4);
  bench().arm(logger(), c.fault);
  const int aborts = bench().aborts(logger(), 0x02);
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(firmware(), MALTOR_ERR_EXCHANGE);
  EXPECT_LT(elapsed_ms(start), 1000);
  MaltorErrorDetail detail{};
  EXPECT_EQ(api().MaltorGetLastError(&detail), c.detail) << detail.text;
  EXPECT_EQ(bench().aborts(logger(), 0x02) - aborts, c.write_aborts);
  EXPECT_EQ(bench().pending(logger(), 0x82), 0);
  EXPECT_EQ(bench().pending(logger(), 0x02), 0);
  EXPECT_EQ(firmware(), MALTOR_OK);
}

INSTANTIATE_TEST_SUITE_P(Errors, WinusbTransferError, ::testing::ValuesIn(kTransferErrors),
                         [](const ::testing::TestParamInfo<TransferError>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(WinusbBackend, WriteThatNeverCompletesIsAbortedAfterTheCommandTimeout) {
  ASSERT_EQ(api().DeviceIsReady(), 4);
  bench().arm(logger(), PipeFault{0x02, Fault::kHang, 0});
  const int aborts = bench().aborts(logger(), 0x02);
  const std::uint8_t settings[2] = {7, 9};
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(api().SCSetHWSettings(1, 0, 2, settings), MALTOR_ERR_EXCHANGE);
  const long waited = elapsed_ms(start);
  EXPECT_GE(waited, 950);  // the write's 1,000 ms wait
  EXPECT_LT(waited, 3000);
  EXPECT_EQ(bench().aborts(logger(), 0x02), aborts + 1);
  EXPECT_EQ(bench().pending(logger(), 0x02), 0) << "the abort completed the write";
  EXPECT_EQ(firmware(), MALTOR_OK);
}

TEST_F(WinusbBackend, KindsComeFromTheInstanceIds) {
  struct Row {
    int device;
    std::uint8_t kind;
  };
  const Row rows[] = {{wine_rig().kind3(), 3}, {wine_rig().kind5(), 5}, {logger(), 1}};
  for (const Row& row : rows) {
    api().CloseDevice();
    for (int device = 0; device < 5; ++device) bench().unplug(device);
    EXPECT_EQ(api().DeviceIsReady(), 0);
    bench().plug(row.device);
    ASSERT_EQ(api().DeviceIsReady(), 4) << int{row.kind};
    MaltorConnection record{};
    ASSERT_EQ(api().GetConnected(&record), MALTOR_OK);
    EXPECT_EQ(record.device_kind, row.kind);
    EXPECT_EQ(firmware(), MALTOR_OK);
  }
}

TEST_F(WinusbBackend, EveryDeviceSetIsReleasedAndTheForeignDeviceIsNeverOpened) {
  for (int i = 0; i < 20; ++i) {
    api().CloseDevice();
    ASSERT_EQ(api().DeviceIsReady(), 4);
  }
  EXPECT_EQ(bench().open_sets(), 0);
  EXPECT_EQ(bench().initializations(wine_rig().id(Port::kForeign)), 0);
  EXPECT_EQ(bench().open_interfaces(logger()), 1);
  api().CloseDevice();
  EXPECT_EQ(bench().open_interfaces(logger()), 0);
}

// What a device list reads beside the instance id: the stand-in answers the
// location property as Windows words it.
TEST_F(WinusbBackend, StandInListsSerialsAndLocations) {
  const HMODULE setupapi = GetModuleHandleA("setupapi.dll");
  ASSERT_NE(setupapi, nullptr);
  using GetProperty = decltype(&SetupDiGetDeviceRegistryPropertyA);
  const auto get_property = reinterpret_cast<GetProperty>(
      reinterpret_cast<void*>(GetProcAddress(setupapi, "SetupDiGetDeviceRegistryPropertyA")));
  ASSERT_NE(get_property, nullptr);
  const HDEVINFO set = bench().get_class_devs(nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  const char* const locations[] = {"Port_#0001.Hub_#0002", "Port_#0002.Hub_#0002",
                                   "Port_#0003.Hub_#0002"};
  for (DWORD index = 0; index < 3; ++index) {
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    ASSERT_TRUE(bench().enum_device_info(set, index, &device));
    char text[64] = {};
    DWORD type = 0;
    ASSERT_TRUE(get_property(set, &device, SPDRP_LOCATION_INFORMATION, &type,
                             reinterpret_cast<BYTE*>(text), sizeof text, nullptr));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_STREQ(text, locations[index]);
  }
  EXPECT_EQ(bench().instance_id(logger()), "USB\\VID_4D54&PID_0001\\MTR0001");
  bench().destroy_info_list(set);
}

}  // namespace maltor::test

// The stand-in DLLs find the bus here.
extern "C" __declspec(dllexport) maltor::standin::Bus* maltor_standin_bus() {
  return &maltor::test::wine_rig().bench();
}
