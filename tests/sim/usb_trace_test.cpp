// The USB trace: what lands in the pcapng file for exchanges that succeed
// and fail, and a trace file that cannot be written.
#include "link/usb_trace.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#endif

#include <cstring>

#include "sim_fixture.h"

namespace maltor::test {
namespace {

std::uint32_t le32(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0] | at[1] << 8 | at[2] << 16 | at[3] << 24);
}

struct Packet {
  std::uint64_t id;
  char type;
  std::uint8_t transfer_type;
  std::uint8_t endpoint;
  std::int32_t status;
  std::uint32_t urb_length;
  std::vector<std::uint8_t> data;
};

struct TraceFile {
  std::uint16_t link_type = 0;
  std::string interface_text;  // every option value of the interface block
  std::vector<Packet> packets;
};

TraceFile parse(const std::vector<std::uint8_t>& file) {
  TraceFile out;
  std::size_t at = 0;
  while (at + 12 <= file.size()) {
    const std::uint32_t type = le32(&file[at]);
    const std::uint32_t length = le32(&file[at + 4]);
    if (length < 12 || at + length > file.size()) {
      ADD_FAILURE() << "block at " << at << " overruns the file";
      break;
    }
    EXPECT_EQ(le32(&file[at + length - 4]), length) << "trailing length of the block at " << at;
    if (type == 1) {
      out.link_type = static_cast<std::uint16_t>(file[at + 8] | file[at + 9] << 8);
      out.interface_text.assign(file.begin() + at + 16, file.begin() + at + length - 4);
    } else if (type == 6) {
      const std::uint8_t* h = &file[at + 28];
      std::uint64_t id = 0;
      std::memcpy(&id, h, 8);
      out.packets.push_back({id, static_cast<char>(h[8]), h[9], h[10],
                             static_cast<std::int32_t>(le32(h + 28)), le32(h + 32),
                             std::vector<std::uint8_t>(h + 64, h + 64 + le32(h + 36))});
    }
    at += length;
  }
  EXPECT_EQ(at, file.size());
  return out;
}

class UsbTraceTest : public SimFolderTest {
 protected:
  std::string path() const { return (dir_ / "trace.pcapng").string(); }
};

TEST_F(UsbTraceTest, RecordsTheDeviceAndEveryTransferAsTheWireSawIt) {
  plug_and_connect(2);
  ASSERT_EQ(MaltorTraceStart(path().c_str()), MALTOR_OK);
  std::uint32_t clock = 0;
  ASSERT_EQ(SCGetDateTime(&clock), MALTOR_OK);
  MaltorTraceStop();

  const TraceFile file = parse(read_bytes(path()));
  EXPECT_EQ(file.link_type, 220);
  EXPECT_NE(file.interface_text.find("MaltorUSBdrv 0.2.0"), std::string::npos);
  // The descriptor exchange names the device opened before the trace began;
  // then the write and the read, each submitted and completed under one id.
  ASSERT_EQ(file.packets.size(), 6u);
  const std::vector<std::uint8_t>& descriptor = file.packets[1].data;
  ASSERT_EQ(descriptor.size(), 18u);
  EXPECT_EQ(descriptor[8] | descriptor[9] << 8, 0x4D54);
  EXPECT_EQ(descriptor[10] | descriptor[11] << 8, 0x0002);

  const std::vector<Transfer> wire = trace();
  ASSERT_EQ(wire.size(), 2u);
  const Packet* p = &file.packets[2];
  EXPECT_EQ(p[0].endpoint, 0x02);
  EXPECT_EQ(p[0].data, wire[0].bytes);
  EXPECT_EQ(p[1].id, p[0].id);
  EXPECT_EQ(p[1].urb_length, wire[0].length);
  EXPECT_EQ(p[2].endpoint, 0x82);
  EXPECT_TRUE(p[2].data.empty());
  EXPECT_EQ(p[3].id, p[2].id);
  EXPECT_EQ(p[3].status, 0);
  EXPECT_EQ(p[3].data, wire[1].bytes);
}

TEST_F(UsbTraceTest, CompletionsCarryTheOutcome) {
  struct Case {
    const char* name;
    std::uint32_t fault;
    std::uint8_t endpoint;  // of the completion that shows it
    std::int32_t status;    // usbmon's errno value
  };
  const Case cases[] = {
      {"no reply: the read times out", MALTOR_SIM_FAULT_NO_REPLY, 0x82, -110},
      {"the write fails", MALTOR_SIM_FAULT_WRITE_FAILS, 0x02, -71},
      // The virtual device fails a read it abandons, as a host controller would.
      {"the device vanishes during the read", MALTOR_SIM_FAULT_UNPLUG_ON_READ, 0x82, -71},
      {"the device was unplugged before", 0, 0x02, -19},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CloseDevice();
    MaltorSim_Reset();
    const std::int32_t device = plug_and_connect(1);
    ASSERT_EQ(MaltorTraceStart(path().c_str()), MALTOR_OK);
    if (c.fault != 0) {
      MaltorSim_InjectFault(device, c.fault, 0x11, 1, 0);
    } else {
      MaltorSim_Unplug(device);
    }
    std::uint32_t clock = 0;
    SCGetDateTime(&clock);
    MaltorTraceStop();
    bool seen = false;
    for (const Packet& p : parse(read_bytes(path())).packets) {
      if (p.type == 'C' && p.transfer_type == 3 && p.endpoint == c.endpoint && p.status != 0) {
        EXPECT_EQ(p.status, c.status);
        seen = true;
      }
    }
    EXPECT_TRUE(seen);
  }
}

TEST_F(UsbTraceTest, AFileThatCannotBeCreatedIsRefusedWithTheDetail) {
  const std::string missing = (dir_ / "no-such-folder" / "trace.pcapng").string();
  EXPECT_EQ(MaltorTraceStart(missing.c_str()), MALTOR_ERR_FILE_OPEN);
  MaltorErrorDetail detail{};
  EXPECT_EQ(MaltorGetLastError(&detail), MALTOR_DETAIL_FILE);
  EXPECT_NE(std::strstr(detail.text, "no-such-folder"), nullptr);
  EXPECT_FALSE(trace::running());
}

#ifndef _WIN32  // the file size limit is a POSIX resource limit
TEST_F(UsbTraceTest, AFullDiskStopsTheTraceButNotTheExchanges) {
  plug_and_connect(1);
  ASSERT_EQ(MaltorTraceStart(path().c_str()), MALTOR_OK);
  // The file may grow past its header but not by a whole buffer of packets.
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  rlimit limit = saved;
  limit.rlim_cur = 4096;
  auto* previous = signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &limit);
  bool all_done = true;
  for (int i = 0; i < 400 && trace::running(); ++i) {
    std::uint32_t clock = 0;
    all_done = all_done && SCGetDateTime(&clock) == MALTOR_OK;
  }
  MaltorErrorDetail detail{};
  MaltorGetLastError(&detail);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previous);
  EXPECT_TRUE(all_done);
  EXPECT_FALSE(trace::running());
  EXPECT_EQ(detail.kind, MALTOR_DETAIL_FILE);
  EXPECT_NE(std::strstr(detail.text, "trace.pcapng"), nullptr);
  std::uint32_t clock = 0;
  EXPECT_EQ(SCGetDateTime(&clock), MALTOR_OK);
}
#endif

}  // namespace
}  // namespace maltor::test
