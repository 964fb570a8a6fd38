// What a virtual device keeps of file transfers (reflash images and
// data-processor configurations): the file being taken, the running sum that
// its end frame is checked against, and how far the host has read the
// stored configuration back.
#pragma once

#include <cstdint>

#include "sim/model/update_state.h"

namespace maltor::sim {

// Status words of the file-transfer replies (reply bytes 5-6).
enum TransferStatus : std::uint16_t {
  kTransferTaken = 0,
  kTransferSumMismatch = 1,  // end frame: the sum differs from the bytes taken
  kTransferOutOfOrder = 2,   // no start frame, an offset out of order, or bytes missing at the end
  kTransferTooLarge = 3,     // a configuration above what the device stores
};

// One file taken frame by frame: its bytes (ImageCapture: count, blocks,
// hash, the first 256 KiB kept) and their 16-bit sum.
struct FileReceipt {
  ImageCapture file;
  std::uint16_t sum = 0;
};

struct TransferState {
  FileReceipt reflash;                // the latest reflash image
  FileReceipt configuration;          // the configuration being sent; stored on its end frame
  std::uint8_t pending_tag[16] = {};  // start frame bytes 9-24, the tag once it is stored
  // Next byte of the stored configuration that a read request hands out.
  std::uint32_t read_position = 0;
};

}  // namespace maltor::sim
