// USB trace commands: --trace's start, and reading a trace back without
// Wireshark (trace summary), or the virtual device's own record of the wire
// in the same form (trace wire), so the two can be compared.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "command.h"
#include "errors.h"
#include "link/byte_order.h"
#include "link/wire_layout.h"

namespace maltor::tool {

void Session::start_trace(const Library& library, const std::string& path) {
  const auto start = MALTOR_FUNCTION(library, MaltorTraceStart);
  if (start(path.c_str()) != MALTOR_OK) {
    MaltorErrorDetail detail{};
    MALTOR_FUNCTION(library, MaltorGetLastError)(&detail);
    throw ToolError(kExitFailed, std::string("--trace: ") + detail.text);
  }
}

namespace {

using link::get_u16;
using link::get_u32;

std::uint8_t sum8(const std::uint8_t* bytes, std::size_t first, std::size_t last) {
  std::uint8_t sum = 0;
  for (std::size_t i = first; i <= last; ++i) sum = static_cast<std::uint8_t>(sum + bytes[i]);
  return sum;
}

// One command pipe frame as the dissector shows it: command, sequence and
// checksum verdict, each empty where the frame has none.
struct Decoded {
  std::string command;
  std::string seq;
  std::string checksum;
};

const char* logger_frame(std::uint8_t code) {
  for (const auto& frame : link::kLoggerFrames) {
    if (frame.code == code) return frame.name;
  }
  return nullptr;
}

const link::GatewayFrameName* gateway_frame(std::uint8_t command, std::uint8_t qualifier) {
  for (const auto& frame : link::kGatewayFrames) {
    if (frame.command_qualifier == (command << 8 | qualifier)) return &frame;
  }
  return nullptr;
}

std::string mirel_command(std::uint32_t number) {
  for (const auto& command : link::kMirelCommands) {
    if (command.code == number) return command.name;
  }
  return "Mirel command " + std::to_string(number);
}

// Follows the command pipes: requests name what the replies after them answer.
class FrameDecoder {
 public:
  Decoded request(const std::vector<std::uint8_t>& b) {
    const std::size_t n = b.size();
    replies_ = 0;
    standard_code_ = -1;
    mirel_ = 0;
    command_.clear();
    if (n >= 6 && get_u16(&b[1]) == n && b[4] == 0 && link::layout_for_code(b[3]) != nullptr) {
      standard_code_ = b[3];
      command_ = link::layout_for_code(b[3])->name;
      return {command_, std::to_string(b[0]), verdict(b[n - 1] == sum8(b.data(), 0, n - 2))};
    }
    const bool zero_lead = n >= 9 && get_u32(&b[0]) == 0 && get_u16(&b[4]) == n;
    if (const auto* gateway = zero_lead ? gateway_frame(b[6], b[7]) : nullptr) {
      command_ = gateway->name;
      return {command_, "", gateway_verdict(b, 4, gateway->sum_bytes)};
    }
    if (zero_lead) {
      mirel_ = get_u16(&b[6]);
      command_ = mirel_command(mirel_);
      return {command_, "", verdict(b[n - 1] == sum8(b.data(), 6, n - 2))};
    }
    if (const auto* gateway = n >= 5 && get_u16(&b[0]) == n ? gateway_frame(b[2], b[3]) : nullptr) {
      command_ = gateway->name;
      return {command_, "", gateway_verdict(b, 0, gateway->sum_bytes)};
    }
    if (n >= 4 && b[0] == n && b[2] == 0 && logger_frame(b[1]) != nullptr) {
      command_ = logger_frame(b[1]);
      return {command_, "", ""};
    }
    return {};
  }

  Decoded reply(const std::vector<std::uint8_t>& b) {
    const std::size_t n = b.size();
    const unsigned index = replies_++;
    if (standard_code_ >= 0 && n >= 6) {
      std::string checksum;  // a reply cut short has no checksum to check
      if (get_u16(&b[1]) == n) checksum = verdict(b[n - 1] == sum8(b.data(), 0, n - 2));
      return {command_, std::to_string(b[0]), checksum};
    }
    if (mirel_ == 15 && index > 0) return {};
    if (standard_code_ < 0) return {command_, "", ""};
    return {};
  }

  const std::string& command() const { return command_; }

 private:
  static std::string verdict(bool good) { return good ? "good" : "bad"; }
  static std::string gateway_verdict(const std::vector<std::uint8_t>& b, std::size_t at,
                                     std::uint8_t sum_bytes) {
    const std::size_t n = b.size();
    if (sum_bytes == 1) return verdict(b[n - 1] == sum8(b.data(), at + 2, n - 2));
    std::uint32_t sum = 0;
    for (std::size_t i = at + 2; i + 2 < n; ++i) sum = (sum + b[i]) & 0xFFFF;
    return verdict(get_u16(&b[n - 2]) == sum);
  }

  unsigned replies_ = 0;
  int standard_code_ = -1;
  std::uint32_t mirel_ = 0;
  std::string command_;
};

std::string line(const Decoded& d) {
  return d.command + "\t" + d.seq + "\t" + d.checksum + "\n";
}

// ---- Reading a pcapng trace --------------------------------------------------

struct Packet {
  char type;  // 'S' or 'C'
  std::uint8_t transfer_type;
  std::uint8_t endpoint;
  std::int32_t status;
  std::vector<std::uint8_t> data;
};

std::vector<Packet> read_trace(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ToolError(kExitFailed, "cannot read the trace " + path);
  const std::vector<std::uint8_t> file{std::istreambuf_iterator<char>(in),
                                       std::istreambuf_iterator<char>()};
  const auto bad = [&](const std::string& why) {
    return ToolError(kExitFailed, path + " is not a USB trace this tool reads: " + why);
  };
  if (file.size() < 28 || get_u32(&file[0]) != 0x0A0D0D0A || get_u32(&file[8]) != 0x1A2B3C4D) {
    throw bad("no little-endian pcapng section header");
  }
  std::vector<Packet> packets;
  std::size_t at = 0;
  while (at + 12 <= file.size()) {
    const std::uint32_t type = get_u32(&file[at]);
    const std::uint32_t length = get_u32(&file[at + 4]);
    if (length < 12 || length % 4 != 0 || length > file.size() - at) throw bad("a block overruns");
    if (type == 1 && get_u16(&file[at + 8]) != 220) throw bad("the link type is not usbmon (220)");
    if (type == 6 && length >= 32) {
      const std::uint32_t captured = get_u32(&file[at + 20]);
      if (captured < 64 || captured > length - 32) throw bad("a packet overruns its block");
      const std::uint8_t* h = &file[at + 28];
      const std::uint32_t data_length = get_u32(h + 36);
      if (data_length > captured - 64) throw bad("a packet's data overrun it");
      packets.push_back({static_cast<char>(h[8]), h[9], h[10],
                         static_cast<std::int32_t>(get_u32(h + 28)),
                         std::vector<std::uint8_t>(h + 64, h + 64 + data_length)});
    }
    at += length;
  }
  return packets;
}

const char* status_text(std::int32_t status) {
  switch (status) {
    case -110:
      return "timed out";
    case -2:
      return "aborted";
    case -19:
      return "device gone";
  }
  return "failed";
}

int run_summary(Session& session, ArgList& args) {
  const std::string path = args.required("FILE");
  args.expect_done();
  const std::vector<Packet> packets = read_trace(path);
  struct Counts {
    unsigned count = 0;
    unsigned failures = 0;
  };
  std::map<std::string, Counts> commands;
  std::vector<std::string> failures;
  FrameDecoder decoder;
  std::string current = "(before any command)";
  for (std::size_t i = 0; i < packets.size(); ++i) {
    const Packet& p = packets[i];
    if (p.transfer_type != 3) continue;
    const std::string where = "packet " + std::to_string(i + 1) + ": ";
    if (p.type == 'S' && p.endpoint == 0x02) {
      const Decoded d = decoder.request(p.data);
      current = d.command.empty() ? "(unrecognised frame)" : d.command;
      ++commands[current].count;
      if (d.checksum == "bad") {
        ++commands[current].failures;
        failures.push_back(where + current + " request with a bad checksum");
      }
    } else if (p.type == 'C') {
      std::string what;
      if (p.status != 0) {
        what = std::string(p.endpoint & 0x80 ? "read " : "write ") + status_text(p.status);
      } else if (p.endpoint == 0x82 && !p.data.empty() && decoder.reply(p.data).checksum == "bad") {
        what = "reply with a bad checksum";
      }
      if (what.empty()) continue;
      const bool stream = (p.endpoint & 0x0F) == 0x03;
      const std::string name = stream ? "stream data" : current;
      ++commands[name].failures;
      failures.push_back(where + name + ": " + what);
    }
  }
  if (session.json()) {
    std::printf("{\"commands\":[");
    const char* comma = "";
    for (const auto& [name, counts] : commands) {
      std::printf("%s{\"name\":\"%s\",\"count\":%u,\"failures\":%u}", comma, name.c_str(),
                  counts.count, counts.failures);
      comma = ",";
    }
    std::printf("],\"failures\":%zu}\n", failures.size());
    return kExitOk;
  }
  std::printf("%-32s %7s %9s\n", "command", "count", "failures");
  for (const auto& [name, counts] : commands) {
    std::printf("%-32s %7u %9u\n", name.c_str(), counts.count, counts.failures);
  }
  std::printf("%zu failures\n", failures.size());
  for (const std::string& failure : failures) std::printf("  %s\n", failure.c_str());
  return kExitOk;
}

int run_wire(Session& session, ArgList& args) {
  const std::string path = args.required("FILE");
  args.expect_done();
  Library& library = session.library();
  if (!library.exports("MaltorSim_TraceGet")) {
    throw ToolError(kExitFailed, "trace wire needs the virtual device (--sim)");
  }
  const auto count = MALTOR_FUNCTION(library, MaltorSim_TraceCount)();
  const auto get = MALTOR_FUNCTION(library, MaltorSim_TraceGet);
  std::ofstream out(path, std::ios::binary);
  FrameDecoder decoder;
  std::vector<std::uint8_t> bytes(65536 + 64);
  for (std::uint32_t i = 0; i < count; ++i) {
    MaltorSimTraceEntry entry{};
    const std::int32_t stored =
        get(i, &entry, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    if (stored <= 0 || (entry.pipe != 0x02 && entry.pipe != 0x82)) continue;
    const std::vector<std::uint8_t> frame(bytes.begin(), bytes.begin() + stored);
    out << line(entry.pipe == 0x02 ? decoder.request(frame) : decoder.reply(frame));
  }
  out.close();
  if (!out) throw ToolError(kExitFailed, "cannot write " + path);
  return kExitOk;
}

constexpr Command kCommands[] = {
    {"trace", "read a USB trace back: per-command counts and failures",
     "maltor trace summary FILE\n"
     "       maltor --sim trace wire FILE\n"
     "  summary  reads a trace written with --trace (pcapng) and prints, per command,\n"
     "           how often it was sent and how many of its transfers failed\n"
     "  wire     writes the virtual device's own record of the command pipes, one\n"
     "           line per frame (command, sequence, checksum verdict), as the\n"
     "           Wireshark dissector decodes them\n",
     [](Session& session, ArgList& args) {
       const std::string what = args.required("summary|wire");
       if (what == "summary") return run_summary(session, args);
       if (what == "wire") return run_wire(session, args);
       throw usage_error("trace: expected summary or wire, got '" + what + "'");
     }},
};

}  // namespace

std::span<const Command> trace_commands() {
  return kCommands;
}

}  // namespace maltor::tool
