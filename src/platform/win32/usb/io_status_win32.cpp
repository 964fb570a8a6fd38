#include "platform/win32/usb/win32_usb.h"

namespace maltor::platform::win32 {

IoStatus io_status_from_error(DWORD error) {
  switch (error) {
    case ERROR_IO_PENDING:
      return IoStatus::kPending;
    case ERROR_IO_INCOMPLETE:
      return IoStatus::kIncomplete;
    case ERROR_NOACCESS:
      return IoStatus::kNoAccess;
    case ERROR_FILE_NOT_FOUND:
      return IoStatus::kGone;
    default:
      return IoStatus::kFailed;
  }
}

}  // namespace maltor::platform::win32
