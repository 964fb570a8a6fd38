// Writes the Wireshark dissector's command table from the library's own
// (link/wire_layout.h), so the two cannot drift:
//   maltor_lua_table              print the table
//   maltor_lua_table --check F    exit 1 when F's table differs (a test runs this)
//   maltor_lua_table --write F    replace F's table
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "link/wire_layout.h"

namespace {

using maltor::link::FieldType;
using maltor::link::WireField;

constexpr const char* kBegin = "-- BEGIN command table";
constexpr const char* kEnd = "-- END command table";

const char* type_name(FieldType type) {
  switch (type) {
    case FieldType::kU8:
      return "u8";
    case FieldType::kU16:
      return "u16";
    case FieldType::kU32:
      return "u32";
    case FieldType::kBytes:
      break;
  }
  return "bytes";
}

void fields(std::ostringstream& out, const WireField (&list)[maltor::link::kMaxFields]) {
  out << "{";
  for (const WireField& field : list) {
    if (field.name == nullptr) break;
    out << "{\"" << field.name << "\", " << int{field.offset} << ", \"" << type_name(field.type)
        << "\", " << field.length << "}, ";
  }
  out << "}";
}

std::string table() {
  std::ostringstream out;
  out << kBegin << " (maltor_lua_table writes it from src/link/wire_layout.h)\n";
  out << "local commands = {\n";
  for (std::size_t i = 0; i < static_cast<std::size_t>(maltor::link::CommandId::kCount); ++i) {
    const auto& row = maltor::link::kCommandTable[i];
    const auto& layout = maltor::link::kCommandLayouts[i];
    char code[8];
    std::snprintf(code, sizeof code, "0x%02X", row.code);
    out << "  [" << code << "] = {name = \"" << layout.name << "\", request = ";
    fields(out, layout.request);
    out << ", reply = ";
    fields(out, layout.reply);
    out << "},\n";
  }
  out << "}\n";
  char code[8];
  out << "local mirel_commands = {\n";
  for (const auto& mirel : maltor::link::kMirelCommands) {
    out << "  [" << mirel.code << "] = \"" << mirel.name << "\",\n";
  }
  out << "}\nlocal logger_frames = {\n";
  for (const auto& logger : maltor::link::kLoggerFrames) {
    std::snprintf(code, sizeof code, "0x%02X", logger.code);
    out << "  [" << code << "] = \"" << logger.name << "\",\n";
  }
  out << "}\nlocal gateway_frames = {\n";
  for (const auto& gateway : maltor::link::kGatewayFrames) {
    std::snprintf(code, sizeof code, "0x%04X", gateway.command_qualifier);
    out << "  [" << code << "] = {\"" << gateway.name << "\", " << int{gateway.sum_bytes} << "},\n";
  }
  out << "}\n" << kEnd << "\n";
  return out.str();
}

}  // namespace

int main(int argc, char** argv) {
  const std::string generated = table();
  if (argc == 1) {
    std::fputs(generated.c_str(), stdout);
    return 0;
  }
  if (argc != 3) {
    std::fputs("usage: maltor_lua_table [--check FILE | --write FILE]\n", stderr);
    return 2;
  }
  const std::string mode = argv[1];
  std::ifstream in(argv[2], std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  const std::size_t begin = text.find(kBegin);
  const std::size_t end_line = text.find(kEnd);
  if (!in || begin == std::string::npos || end_line == std::string::npos) {
    std::fprintf(stderr, "%s: no command table found\n", argv[2]);
    return 1;
  }
  const std::size_t end = text.find('\n', end_line) + 1;
  const std::string current = text.substr(begin, end - begin);
  if (mode == "--check") {
    if (current == generated) return 0;
    std::fprintf(stderr,
                 "%s: the command table differs from src/link/wire_layout.h; "
                 "run maltor_lua_table --write %s\n",
                 argv[2], argv[2]);
    return 1;
  }
  if (mode == "--write") {
    std::ofstream out(argv[2], std::ios::binary);
    out << text.substr(0, begin) << generated << text.substr(end);
    out.close();
    return out ? 0 : 1;
  }
  return 2;
}
