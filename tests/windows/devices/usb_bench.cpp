#include "usb_bench.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace maltor::standin {

namespace {

// GUID_DEVINTERFACE_USB_DEVICE, as it appears in device interface paths.
constexpr char kInterfaceClass[] = "{a5dcbf10-6530-11d2-901f-00c04fb951ed}";

// A completed OVERLAPPED carries an NTSTATUS; a Win32 error wrapped in the
// NTWIN32 facility comes back from GetOverlappedResult as that error.
ULONG_PTR status_of(DWORD error) {
  return error == ERROR_SUCCESS ? 0 : (0xC0070000u | (error & 0xFFFFu));
}
constexpr ULONG_PTR kStatusPending = 0x103;

int pipe_row(UCHAR pipe) {
  return (pipe & 0x80) != 0 ? 1 : 0;
}

std::string lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

}  // namespace

UsbBench::UsbBench() {
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  // One folder for every run: the bench is left standing at exit (the
  // library may still hold its files), so the next run takes its files over.
  folder_ = std::string(temp) + "maltor-usb-bench";
  CreateDirectoryA(folder_.c_str(), nullptr);
  devices_.reserve(8);
  worker_ = std::thread([this] { run(); });
}

UsbBench::~UsbBench() {
  {
    std::lock_guard held(mutex_);
    stopping_ = true;
    changed_.notify_all();
  }
  worker_.join();
  for (const Device& device : devices_) DeleteFileA((folder_ + "\\" + device.file_name).c_str());
  RemoveDirectoryA(folder_.c_str());
}

int UsbBench::add(const DeviceSpec& wanted) {
  std::lock_guard held(mutex_);
  Device device;
  device.wanted = wanted;
  char id[128];
  if (wanted.serial != nullptr) {
    std::snprintf(id, sizeof id, "USB\\VID_%04X&PID_%04X\\%s", wanted.vendor, wanted.product,
                  wanted.serial);
  } else {
    std::snprintf(id, sizeof id, "USB\\VID_%04X&PID_%04X\\5&1A2B3C4D&0&%d", wanted.vendor,
                  wanted.product, wanted.port);
  }
  device.instance_id = id;
  // The interface path Windows builds: the instance id with '#' for '\',
  // in lower case, then the interface class.
  std::string name = lower(device.instance_id);
  std::replace(name.begin(), name.end(), '\\', '#');
  device.file_name = name + "#" + kInterfaceClass;
  if (wanted.kind != 0) device.model = std::make_unique<sim::DeviceModel>(wanted.kind);
  const HANDLE file = CreateFileA((folder_ + "\\" + device.file_name).c_str(), GENERIC_WRITE, 0,
                                  nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  devices_.push_back(std::move(device));
  return static_cast<int>(devices_.size()) - 1;
}

void UsbBench::plug(int device) {
  std::lock_guard held(mutex_);
  Device& plugged = devices_[device];
  plugged.plugged = true;
  plugged.vanished = false;
  ++plugged.generation;
  if (plugged.model != nullptr) plugged.model->restart();
}

void UsbBench::unplug(int device) {
  std::lock_guard held(mutex_);
  devices_[device].plugged = false;
  devices_[device].vanished = true;
  fail_all(device, ERROR_DEVICE_NOT_CONNECTED);
}

void UsbBench::reset(int device) {
  std::lock_guard held(mutex_);
  Device& reset = devices_[device];
  if (reset.model != nullptr) reset.model = std::make_unique<sim::DeviceModel>(reset.wanted.kind);
  reset.faults.clear();
  reset.speed_failures = 0;
  reset.max_request = 0;
  std::memset(reset.aborts, 0, sizeof reset.aborts);
  reset.frames.clear();
}

void UsbBench::arm(int device, const PipeFault& fault) {
  std::lock_guard held(mutex_);
  devices_[device].faults.push_back(fault);
}

void UsbBench::fail_speed_queries(int device, int count) {
  std::lock_guard held(mutex_);
  devices_[device].speed_failures = count;
}

void UsbBench::split_transfers(int device) {
  std::lock_guard held(mutex_);
  devices_[device].max_request = 16384;
}

int UsbBench::pending(int device, UCHAR pipe) {
  std::lock_guard held(mutex_);
  return static_cast<int>(std::count_if(
      transfers_.begin(), transfers_.end(),
      [&](const Transfer& t) { return t.device == device && t.pipe == pipe && !t.done; }));
}

int UsbBench::open_sets() {
  std::lock_guard held(mutex_);
  return static_cast<int>(sets_.size());
}

int UsbBench::open_interfaces(int device) {
  std::lock_guard held(mutex_);
  return static_cast<int>(
      std::count_if(interfaces_.begin(), interfaces_.end(),
                    [&](const Interface& usb) { return usb.device == device; }));
}

int UsbBench::initializations(int device) {
  std::lock_guard held(mutex_);
  return devices_[device].initializations;
}

int UsbBench::aborts(int device, UCHAR pipe) {
  std::lock_guard held(mutex_);
  return devices_[device].aborts[pipe_row(pipe)][pipe & 0x0F];
}

std::vector<std::array<std::uint8_t, 4>> UsbBench::frames_written(int device) {
  std::lock_guard held(mutex_);
  return devices_[device].frames;
}

std::string UsbBench::path(int device) {
  std::lock_guard held(mutex_);
  return folder_ + "\\" + devices_[device].file_name;
}

std::string UsbBench::instance_id(int device) {
  std::lock_guard held(mutex_);
  return devices_[device].instance_id;
}

// ---- SetupAPI ----------------------------------------------------------------

UsbBench::Device* UsbBench::device_of(DEVINST instance) {
  if (instance == 0 || instance > devices_.size()) return nullptr;
  return &devices_[instance - 1];
}

UsbBench::DeviceSet* UsbBench::set_of(HDEVINFO set) {
  for (DeviceSet& candidate : sets_) {
    if (&candidate == set) return &candidate;
  }
  return nullptr;
}

HDEVINFO UsbBench::get_class_devs(const GUID*, DWORD flags) {
  std::lock_guard held(mutex_);
  DeviceSet& set = sets_.emplace_back();
  // Present devices in port order, as the bus enumerates them.
  for (int i = 0; i < static_cast<int>(devices_.size()); ++i) {
    if (devices_[i].plugged || (flags & DIGCF_PRESENT) == 0) set.devices.push_back(i);
  }
  std::sort(set.devices.begin(), set.devices.end(),
            [&](int a, int b) { return devices_[a].wanted.port < devices_[b].wanted.port; });
  return &set;
}

BOOL UsbBench::enum_device_info(HDEVINFO set, DWORD index, SP_DEVINFO_DATA* device) {
  std::lock_guard held(mutex_);
  DeviceSet* listed = set_of(set);
  if (listed == nullptr || device == nullptr || device->cbSize != sizeof(SP_DEVINFO_DATA)) {
    SetLastError(listed == nullptr ? ERROR_INVALID_HANDLE : ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  if (index >= listed->devices.size()) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  std::memset(&device->ClassGuid, 0, sizeof device->ClassGuid);
  device->DevInst = static_cast<DEVINST>(listed->devices[index] + 1);
  device->Reserved = 0;
  return TRUE;
}

BOOL UsbBench::enum_device_interfaces(HDEVINFO set, SP_DEVINFO_DATA* device, const GUID* guid,
                                      DWORD index, SP_DEVICE_INTERFACE_DATA* data) {
  std::lock_guard held(mutex_);
  if (set_of(set) == nullptr || device == nullptr || data == nullptr ||
      data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) || device_of(device->DevInst) == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (index > 0) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  data->InterfaceClassGuid = *guid;
  data->Flags = SPINT_ACTIVE;
  data->Reserved = device->DevInst;
  return TRUE;
}

BOOL UsbBench::get_interface_detail(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data,
                                    SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail, DWORD size,
                                    DWORD* required, SP_DEVINFO_DATA*) {
  std::lock_guard held(mutex_);
  const Device* device =
      data != nullptr ? device_of(static_cast<DEVINST>(data->Reserved)) : nullptr;
  if (set_of(set) == nullptr || device == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::string path = folder_ + "\\" + device->file_name;
  const DWORD needed =
      static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1);
  if (required != nullptr) *required = needed;
  if (detail == nullptr || size < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  std::memcpy(detail->DevicePath, path.c_str(), path.size() + 1);
  return TRUE;
}

BOOL UsbBench::get_registry_property(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property,
                                     DWORD* type, BYTE* buffer, DWORD size, DWORD* required) {
  std::lock_guard held(mutex_);
  const Device* listed = device != nullptr ? device_of(device->DevInst) : nullptr;
  if (set_of(set) == nullptr || listed == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (property != SPDRP_LOCATION_INFORMATION) {
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  char location[64];
  const int length =
      std::snprintf(location, sizeof location, "Port_#%04d.Hub_#0002", listed->wanted.port);
  const DWORD needed = static_cast<DWORD>(length + 1);
  if (type != nullptr) *type = REG_SZ;
  if (required != nullptr) *required = needed;
  if (buffer == nullptr || size < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(buffer, location, needed);
  return TRUE;
}

BOOL UsbBench::destroy_info_list(HDEVINFO set) {
  std::lock_guard held(mutex_);
  for (auto it = sets_.begin(); it != sets_.end(); ++it) {
    if (&*it == set) {
      sets_.erase(it);
      return TRUE;
    }
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

CONFIGRET UsbBench::get_device_id_size(ULONG* length, DEVINST instance) {
  std::lock_guard held(mutex_);
  const Device* device = device_of(instance);
  if (device == nullptr) return CR_NO_SUCH_DEVNODE;
  *length = static_cast<ULONG>(device->instance_id.size());  // without the terminator
  return CR_SUCCESS;
}

CONFIGRET UsbBench::get_device_id(DEVINST instance, char* buffer, ULONG length) {
  std::lock_guard held(mutex_);
  const Device* device = device_of(instance);
  if (device == nullptr) return CR_NO_SUCH_DEVNODE;
  const std::string& id = device->instance_id;
  if (length < id.size()) return CR_BUFFER_SMALL;
  std::memcpy(buffer, id.data(), id.size());
  if (length > id.size()) buffer[id.size()] = '\0';
  return CR_SUCCESS;
}

// ---- WinUSB ------------------------------------------------------------------

bool UsbBench::known_pipe(UCHAR pipe) {
  return pipe == sim::kCommandIn || pipe == sim::kCommandOut || pipe == sim::kStreamIn ||
         pipe == sim::kStreamOut;
}

UsbBench::Interface* UsbBench::live(WINUSB_INTERFACE_HANDLE usb) {
  for (Interface& candidate : interfaces_) {
    if (&candidate != usb) continue;
    const Device& device = devices_[candidate.device];
    if (device.vanished || device.generation != candidate.generation) {
      SetLastError(ERROR_DEVICE_NOT_CONNECTED);
      return nullptr;
    }
    return &candidate;
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return nullptr;
}

BOOL UsbBench::initialize(HANDLE file, WINUSB_INTERFACE_HANDLE* usb) {
  // The file tells which device it is by its name.
  char path[MAX_PATH + 512];
  const DWORD length = GetFinalPathNameByHandleA(file, path, sizeof path, 0);
  if (length == 0 || length >= sizeof path) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const char* slash = std::strrchr(path, '\\');
  const std::string name = lower(slash != nullptr ? slash + 1 : path);
  std::lock_guard held(mutex_);
  for (int i = 0; i < static_cast<int>(devices_.size()); ++i) {
    Device& device = devices_[i];
    if (lower(device.file_name) != name) continue;
    ++device.initializations;
    if (!device.plugged || device.vanished) {
      SetLastError(ERROR_DEVICE_NOT_CONNECTED);
      return FALSE;
    }
    if (device.model == nullptr) {
      SetLastError(ERROR_NOT_SUPPORTED);  // WinUSB is not this device's driver
      return FALSE;
    }
    // One interface handle at a time holds a device.
    for (const Interface& other : interfaces_) {
      if (other.device == i && other.generation == device.generation) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
      }
    }
    *usb = &interfaces_.emplace_back(Interface{i, device.generation});
    return TRUE;
  }
  SetLastError(ERROR_NOT_SUPPORTED);
  return FALSE;
}

BOOL UsbBench::free(WINUSB_INTERFACE_HANDLE usb) {
  std::lock_guard held(mutex_);
  for (auto it = interfaces_.begin(); it != interfaces_.end(); ++it) {
    if (&*it != usb) continue;
    for (Transfer& transfer : transfers_) {
      if (transfer.usb == &*it && !transfer.done) finish(transfer, ERROR_OPERATION_ABORTED);
    }
    interfaces_.erase(it);
    return TRUE;
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

BOOL UsbBench::query_device_information(WINUSB_INTERFACE_HANDLE usb, ULONG type, ULONG* length,
                                        void* buffer) {
  std::lock_guard held(mutex_);
  Interface* open = live(usb);
  if (open == nullptr) return FALSE;
  Device& device = devices_[open->device];
  if (type != DEVICE_SPEED || length == nullptr || *length < 1 || buffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (device.speed_failures > 0) {
    --device.speed_failures;
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  *static_cast<UCHAR*>(buffer) = device.wanted.speed;
  *length = 1;
  return TRUE;
}

BOOL UsbBench::query_interface_settings(WINUSB_INTERFACE_HANDLE usb, UCHAR alternate,
                                        USB_INTERFACE_DESCRIPTOR* descriptor) {
  std::lock_guard held(mutex_);
  if (live(usb) == nullptr) return FALSE;
  if (alternate != 0) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  *descriptor = USB_INTERFACE_DESCRIPTOR{9, 4, 0, 0, 4, 0xFF, 0, 0, 0};
  return TRUE;
}

BOOL UsbBench::set_pipe_policy(WINUSB_INTERFACE_HANDLE usb, UCHAR pipe, ULONG type, ULONG length,
                               void* value) {
  std::lock_guard held(mutex_);
  Interface* open = live(usb);
  if (open == nullptr) return FALSE;
  if (!known_pipe(pipe) || value == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (type == PIPE_TRANSFER_TIMEOUT) {
    if (length != sizeof(ULONG)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    open->timeout_ms[pipe_row(pipe)][pipe & 0x0F] = *static_cast<ULONG*>(value);
  }
  return TRUE;
}

BOOL UsbBench::read_pipe(WINUSB_INTERFACE_HANDLE usb, UCHAR pipe, UCHAR* buffer, ULONG length,
                         ULONG* moved, OVERLAPPED* overlapped) {
  std::unique_lock held(mutex_);
  Interface* open = live(usb);
  if (open == nullptr) return FALSE;
  return transfer(held, open, pipe, buffer, nullptr, length, moved, overlapped);
}

BOOL UsbBench::write_pipe(WINUSB_INTERFACE_HANDLE usb, UCHAR pipe, const UCHAR* data, ULONG length,
                          ULONG* moved, OVERLAPPED* overlapped) {
  std::unique_lock held(mutex_);
  Interface* open = live(usb);
  if (open == nullptr) return FALSE;
  return transfer(held, open, pipe, nullptr, data, length, moved, overlapped);
}

BOOL UsbBench::abort_pipe(WINUSB_INTERFACE_HANDLE usb, UCHAR pipe) {
  std::lock_guard held(mutex_);
  Interface* open = live(usb);
  if (open == nullptr) return FALSE;
  if (!known_pipe(pipe)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  ++devices_[open->device].aborts[pipe_row(pipe)][pipe & 0x0F];
  for (Transfer& transfer : transfers_) {
    if (transfer.usb == open && transfer.pipe == pipe && !transfer.done) {
      finish(transfer, ERROR_OPERATION_ABORTED);
    }
  }
  return TRUE;
}

// A synchronous transfer waits here, releasing the lock while it waits.
BOOL UsbBench::transfer(std::unique_lock<std::mutex>& held, Interface* usb, UCHAR pipe,
                        UCHAR* buffer, const UCHAR* data, ULONG length, ULONG* moved,
                        OVERLAPPED* overlapped) {
  Device& device = devices_[usb->device];
  if (moved != nullptr) *moved = 0;
  if (!known_pipe(pipe) || in_pipe(pipe) != (buffer != nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Transfer started{usb, usb->device, pipe, buffer, data, length, overlapped};
  for (auto it = device.faults.begin(); it != device.faults.end(); ++it) {
    if (it->pipe != pipe) continue;
    const PipeFault fault = *it;
    device.faults.erase(it);
    if (fault.fault == Fault::kRefuse) {
      SetLastError(fault.error);
      return FALSE;
    }
    started.hang = fault.fault == Fault::kHang;
    started.fail_error = fault.fault == Fault::kFailLater ? fault.error : 0;
    break;
  }
  if (overlapped != nullptr) {
    overlapped->Internal = kStatusPending;
    overlapped->InternalHigh = 0;
    if (overlapped->hEvent != nullptr) ResetEvent(overlapped->hEvent);
  }
  Transfer& queued = transfers_.emplace_back(started);
  // A device armed to vanish does so while the host waits for its reply.
  if (pipe == sim::kCommandIn && device.model->take_vanish_request()) {
    device.vanished = true;
    fail_all(usb->device, ERROR_DEVICE_NOT_CONNECTED);
  }
  changed_.notify_all();
  if (overlapped != nullptr) {
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
  }

  // A synchronous transfer: bounded by the pipe's timeout policy.
  const ULONG timeout_ms = usb->timeout_ms[pipe_row(pipe)][pipe & 0x0F];
  progress();
  const auto done = [&] { return queued.done; };
  bool timed_out = false;
  if (timeout_ms == 0) {
    changed_.wait(held, done);
  } else {
    timed_out = !changed_.wait_for(held, std::chrono::milliseconds(timeout_ms), done);
  }
  const ULONG count = queued.moved;
  const DWORD error = timed_out ? ERROR_SEM_TIMEOUT : queued.error;
  for (auto it = transfers_.begin(); it != transfers_.end(); ++it) {
    if (&*it == &queued) {
      transfers_.erase(it);
      break;
    }
  }
  if (moved != nullptr) *moved = count;
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return FALSE;
  }
  return TRUE;
}

void UsbBench::fail_all(int device, DWORD error) {
  for (Transfer& transfer : transfers_) {
    if (transfer.device == device && !transfer.done) finish(transfer, error);
  }
}

void UsbBench::finish(Transfer& transfer, DWORD error) {
  transfer.done = true;
  transfer.error = error;
  if (OVERLAPPED* overlapped = transfer.overlapped) {
    // The count first: a caller polling the status must find it in place.
    overlapped->InternalHigh = transfer.moved;
    std::atomic_thread_fence(std::memory_order_release);
    *static_cast<volatile ULONG_PTR*>(&overlapped->Internal) = status_of(error);
    if (overlapped->hEvent != nullptr) SetEvent(overlapped->hEvent);
  }
  changed_.notify_all();
}

bool UsbBench::advance(Transfer& transfer) {
  Device& device = devices_[transfer.device];
  if (transfer.hang) return false;
  if (transfer.fail_error != 0) {
    finish(transfer, transfer.fail_error);
    return true;
  }
  if (!in_pipe(transfer.pipe)) {
    // The device refusing a write is a stalled pipe.
    const bool taken = device.model->write(transfer.pipe, transfer.data, transfer.length);
    if (taken) transfer.moved = transfer.length;
    if (taken && transfer.pipe == sim::kCommandOut && transfer.length >= 4) {
      const UCHAR* d = transfer.data;
      device.frames.push_back({d[0], d[1], d[2], d[3]});
    }
    finish(transfer, taken ? ERROR_SUCCESS : ERROR_GEN_FAILURE);
    return true;
  }
  // Only the oldest read of a pipe takes what the device sends.
  for (const Transfer& other : transfers_) {
    if (&other == &transfer) break;
    if (!other.done && other.device == transfer.device && other.pipe == transfer.pipe) return false;
  }
  bool moved_any = false;
  while (transfer.moved < transfer.length && device.model->readable(transfer.pipe)) {
    const ULONG room = transfer.length - transfer.moved;
    const ULONG request = device.max_request != 0 ? std::min(room, device.max_request) : room;
    const ULONG count =
        device.model->read(transfer.pipe, transfer.buffer + transfer.moved, request);
    transfer.moved += count;
    moved_any = true;
    // A request that came back short ends the transfer.
    if (count < request) break;
  }
  if (!moved_any) return false;
  const bool whole_requests =
      device.max_request != 0 && transfer.moved % device.max_request == 0 && transfer.moved > 0;
  if (transfer.moved < transfer.length && whole_requests) return true;  // more requests follow
  finish(transfer, ERROR_SUCCESS);
  return true;
}

void UsbBench::progress() {
  for (bool moved = true; moved;) {
    moved = false;
    for (auto it = transfers_.begin(); it != transfers_.end();) {
      Transfer& transfer = *it;
      if (!transfer.done && advance(transfer)) moved = true;
      // Overlapped transfers are done with once completed; synchronous ones
      // are taken off by their waiting caller.
      if (transfer.done && transfer.overlapped != nullptr) {
        it = transfers_.erase(it);
      } else {
        ++it;
      }
    }
  }
}

void UsbBench::run() {
  std::unique_lock held(mutex_);
  while (!stopping_) {
    progress();
    changed_.wait_for(held, std::chrono::milliseconds(50));
  }
}

}  // namespace maltor::standin
