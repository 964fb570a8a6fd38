// The emulated USB bus behind the stand-in winusb.dll and setupapi.dll: the
// devices SetupAPI lists, each with a file that CreateFileA opens for
// overlapped I/O, and the WinUSB interface on that file answered by the
// virtual device's model. Overlapped transfers start as WinUSB starts them
// (FALSE with ERROR_IO_PENDING) and complete later on the bench's own thread
// through the OVERLAPPED record and its event, so GetOverlappedResult and the
// waits on the event run as they do against a device.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/model/device_model.h"
#include "standin/standin_bus.h"

namespace maltor::standin {

struct DeviceSpec {
  int port;
  USHORT vendor;
  USHORT product;
  const char* serial;  // null: the system makes up an instance id
  UCHAR speed;         // as WinUSB reports it: 3 high speed, 1 full speed
  std::uint8_t kind;   // the model's device kind; 0 for a foreign device
};

// How the next transfer on one pipe goes wrong.
enum class Fault {
  kRefuse,     // the call fails at once with `error`
  kFailLater,  // it starts, then completes with `error`
  kHang,       // it starts and never completes until the pipe is aborted
};

struct PipeFault {
  UCHAR pipe;
  Fault fault;
  DWORD error;
};

class UsbBench final : public Bus {
 public:
  UsbBench();
  ~UsbBench();
  UsbBench(const UsbBench&) = delete;
  UsbBench& operator=(const UsbBench&) = delete;

  // Adds an unplugged device; returns its number.
  int add(const DeviceSpec& wanted);
  void plug(int device);
  // Removes the device from the bus; its transfers fail and its handles go
  // dead (ERROR_DEVICE_NOT_CONNECTED). A device armed to vanish on a read
  // does the same while staying listed.
  void unplug(int device);
  // A fresh model, no faults, whole transfers.
  void reset(int device);

  template <typename Work>
  auto with_model(int device, Work work) {
    std::lock_guard held(mutex_);
    // Whatever the work changed may let a waiting transfer complete.
    struct Notify {
      std::condition_variable& changed;
      ~Notify() { changed.notify_all(); }
    } notify{changed_};
    return work(*devices_[device].model);
  }

  void arm(int device, const PipeFault& fault);
  // The next `count` speed queries fail with ERROR_GEN_FAILURE.
  void fail_speed_queries(int device, int count);
  // Transfers move at most 16 KiB per request, as WinUSB splits them; a read
  // ends early when a request comes back short.
  void split_transfers(int device);

  // ---- what the library did ----
  int pending(int device, UCHAR pipe);
  int open_sets();
  int open_interfaces(int device);
  int initializations(int device);
  int aborts(int device, UCHAR pipe);
  // The first four bytes of each frame the device took on its command pipe
  // since its last reset, oldest first.
  std::vector<std::array<std::uint8_t, 4>> frames_written(int device);
  std::string path(int device);
  std::string instance_id(int device);

  // ---- Bus ----
  HDEVINFO get_class_devs(const GUID* guid, DWORD flags) override;
  BOOL enum_device_info(HDEVINFO set, DWORD index, SP_DEVINFO_DATA* device) override;
  BOOL enum_device_interfaces(HDEVINFO set, SP_DEVINFO_DATA* device, const GUID* guid, DWORD index,
                              SP_DEVICE_INTERFACE_DATA* data) override;
  BOOL get_interface_detail(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data,
                            SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail, DWORD size, DWORD* required,
                            SP_DEVINFO_DATA* device) override;
  BOOL get_registry_property(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property, DWORD* type,
                             BYTE* buffer, DWORD size, DWORD* required) override;
  BOOL destroy_info_list(HDEVINFO set) override;
  CONFIGRET get_device_id_size(ULONG* length, DEVINST instance) override;
  CONFIGRET get_device_id(DEVINST instance, char* buffer, ULONG length) override;

  BOOL initialize(HANDLE file, WINUSB_INTERFACE_HANDLE* usb) override;
  BOOL free(WINUSB_INTERFACE_HANDLE usb) override;
  BOOL query_device_information(WINUSB_INTERFACE_HANDLE usb, ULONG type, ULONG* length,
                                void* buffer) override;
  BOOL query_interface_settings(WINUSB_INTERFACE_HANDLE usb, UCHAR alternate,
                                USB_INTERFACE_DESCRIPTOR* descriptor) override;
  BOOL set_pipe_policy(WINUSB_INTERFACE_HANDLE usb, UCHAR pipe, ULONG type, ULONG length,
                       void* value) override;
  BOOL read_pipe(WINUSB_INTERFACE_HANDLE usb, UCHAR pipe, UCHAR* buffer, ULONG length, ULONG* moved,
                 OVERLAPPED* overlapped) override;
  BOOL write_pipe(WINUSB_INTERFACE_HANDLE usb, UCHAR pipe, const UCHAR* data, ULONG length,
                  ULONG* moved, OVERLAPPED* overlapped) override;
  BOOL abort_pipe(WINUSB_INTERFACE_HANDLE usb, UCHAR pipe) override;

 private:
  struct Device {
    DeviceSpec wanted;
    std::string instance_id;
    std::string file_name;
    std::unique_ptr<sim::DeviceModel> model;  // null for a foreign device
    bool plugged = false;
    bool vanished = false;
    int generation = 0;  // plug-ins so far; handles of an earlier one are dead
    int speed_failures = 0;
    ULONG max_request = 0;  // 0: a transfer is one request
    std::vector<PipeFault> faults;
    int initializations = 0;
    int aborts[2][16] = {};
    std::vector<std::array<std::uint8_t, 4>> frames;
  };
  struct Interface {
    int device;
    int generation;
    ULONG timeout_ms[2][16] = {};
  };
  struct Transfer {
    Interface* usb;
    int device;
    UCHAR pipe;
    UCHAR* buffer;      // reads
    const UCHAR* data;  // writes
    ULONG length;
    OVERLAPPED* overlapped;  // null: the caller waits in the call
    ULONG moved = 0;
    DWORD fail_error = 0;
    bool hang = false;
    bool done = false;
    DWORD error = 0;
  };
  struct DeviceSet {
    std::vector<int> devices;
  };

  static bool in_pipe(UCHAR pipe) { return (pipe & 0x80) != 0; }
  static bool known_pipe(UCHAR pipe);
  Device* device_of(DEVINST instance);
  DeviceSet* set_of(HDEVINFO set);
  // The interface behind a handle, or null with the error set.
  Interface* live(WINUSB_INTERFACE_HANDLE usb);
  BOOL transfer(std::unique_lock<std::mutex>& held, Interface* usb, UCHAR pipe, UCHAR* buffer,
                const UCHAR* data, ULONG length, ULONG* moved, OVERLAPPED* overlapped);
  void fail_all(int device, DWORD error);
  // Moves every transfer on as far as the devices allow.
  void progress();
  bool advance(Transfer& transfer);
  void finish(Transfer& transfer, DWORD error);
  void run();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::string folder_;
  std::vector<Device> devices_;
  std::list<Interface> interfaces_;
  std::list<Transfer> transfers_;
  std::list<DeviceSet> sets_;
  bool stopping_ = false;
  std::thread worker_;
};

}  // namespace maltor::standin
