// The card: its log catalogue (logs) and formatting (format).
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "call_errors.h"
#include "command.h"
#include "command_support.h"
#include "console.h"
#include "device_link.h"
#include "errors.h"
#include "output.h"

namespace maltor::tool {

namespace {

// The library does not say how many partitions a card has; an empty one
// answers with 0 logs like a missing one. Sixteen covers any layout seen in
// practice and costs sixteen short exchanges.
constexpr unsigned kDefaultPartitions = 16;
constexpr unsigned kMaxPartitions = 256;

// One log info record, its seven words in the library's output order.
struct LogRecord {
  std::uint32_t words[7] = {};
  std::uint8_t block_16[16] = {};
  std::uint8_t block_255[255] = {};
  std::uint8_t trailing = 0;
};

struct Catalogue {
  std::optional<unsigned> partition;  // none: the whole card
  std::vector<LogRecord> logs;
};

// Reads the card's catalogue, or one partition's. Returns false at Ctrl-C.
bool read_catalogue(const Library& library, Catalogue& catalogue) {
  std::uint16_t count = 0;
  if (catalogue.partition) {
    const auto partition = static_cast<std::uint8_t>(*catalogue.partition);
    check_result(
        MALTOR_FUNCTION(library, SCPartitionLogCount)(partition, &count),
        "counting the logs of partition " + std::to_string(partition) + " (SCPartitionLogCount)");
  } else {
    check_result(MALTOR_FUNCTION(library, SCSDLogCount)(&count),
                 "counting the card's logs (SCSDLogCount)");
  }
  const auto card_info = MALTOR_FUNCTION(library, SCSDLogInfo);
  const auto partition_info = MALTOR_FUNCTION(library, SCPartitionLogInfo);
  catalogue.logs.resize(count);
  for (std::uint16_t index = 0; index < count; ++index) {
    if (interrupted()) return false;
    LogRecord& r = catalogue.logs[index];
    std::uint32_t* w = r.words;
    if (catalogue.partition) {
      const auto partition = static_cast<std::uint8_t>(*catalogue.partition);
      check_result(partition_info(partition, index, &w[0], &w[1], &w[2], &w[3], &w[4], &w[5], &w[6],
                                  r.block_16, r.block_255, &r.trailing),
                   "reading log " + std::to_string(index) + " of partition " +
                       std::to_string(partition) + " (SCPartitionLogInfo)");
    } else {
      check_result(card_info(index, &w[0], &w[1], &w[2], &w[3], &w[4], &w[5], &w[6], r.block_16,
                             r.block_255, &r.trailing),
                   "reading log " + std::to_string(index) + " of the card (SCSDLogInfo)");
    }
  }
  return true;
}

std::string catalogue_title(const Catalogue& catalogue) {
  const std::size_t count = catalogue.logs.size();
  const std::string logs = std::to_string(count) + (count == 1 ? " log" : " logs");
  if (!catalogue.partition) return "Card: " + logs;
  return "Partition " + std::to_string(*catalogue.partition) + ": " + logs;
}

void print_catalogue(const Catalogue& catalogue, bool wide) {
  std::printf("%s\n", catalogue_title(catalogue).c_str());
  if (catalogue.logs.empty()) return;
  std::vector<TableColumn> columns = {{"#", true},    {"w1", true},  {"w2", true}, {"w3", true},
                                      {"w4", true},   {"w5", true},  {"w6", true}, {"w7", true},
                                      {"flag", true}, {"tag", false}};
  if (wide) columns.push_back({"text", false});
  std::vector<std::vector<std::string>> rows;
  for (std::size_t index = 0; index < catalogue.logs.size(); ++index) {
    const LogRecord& r = catalogue.logs[index];
    std::vector<std::string> row = {std::to_string(index)};
    for (const std::uint32_t word : r.words) row.push_back(std::to_string(word));
    row.push_back(std::to_string(r.trailing));
    row.push_back(describe_block(r.block_16));
    if (wide) row.push_back(describe_block(r.block_255));
    rows.push_back(std::move(row));
  }
  std::printf("%s", format_table(columns, rows).c_str());
}

void json_catalogue(JsonWriter& json, const Catalogue& catalogue) {
  json.begin_object();
  if (catalogue.partition) json.key("partition").value(*catalogue.partition);
  json.key("count").value(catalogue.logs.size()).key("logs").begin_array();
  for (std::size_t index = 0; index < catalogue.logs.size(); ++index) {
    const LogRecord& r = catalogue.logs[index];
    json.begin_object().key("index").value(index).key("words").begin_array();
    for (const std::uint32_t word : r.words) json.value(std::uint64_t{word});
    json.end_array().key("trailing").value(unsigned{r.trailing});
    json.key("block_16").value(hex_string(r.block_16));
    if (const auto text = printable_text(r.block_16)) json.key("block_16_text").value(*text);
    json.key("block_255").value(hex_string(r.block_255));
    if (const auto text = printable_text(r.block_255)) json.key("block_255_text").value(*text);
    json.end_object();
  }
  json.end_array().end_object();
}

int run_logs(Session& session, ArgList& args) {
  const bool json_out = wants_json(session, args);
  const bool wide = args.flag("--wide");
  const std::optional<std::string> one = args.value("--partition");
  const auto partitions = static_cast<unsigned>(
      option_number(args, "--partitions", kMaxPartitions, kDefaultPartitions));
  args.expect_done();
  std::vector<Catalogue> catalogues;
  if (one) {
    catalogues.push_back({static_cast<unsigned>(parse_number(*one, 255, "--partition")), {}});
  } else {
    catalogues.push_back({});
    for (unsigned p = 0; p < partitions; ++p) catalogues.push_back({p, {}});
  }

  connect(session);
  for (Catalogue& catalogue : catalogues) {
    if (!read_catalogue(session.library(), catalogue)) return interrupt_exit_code();
  }

  if (json_out) {
    JsonWriter json;
    json.begin_object();
    if (!one) {
      json.key("card");
      json_catalogue(json, catalogues.front());
    }
    json.key("partitions").begin_array();
    for (const Catalogue& catalogue : catalogues) {
      if (catalogue.partition) json_catalogue(json, catalogue);
    }
    json.end_array().end_object();
    print_json(json);
    return kExitOk;
  }
  // Partitions without logs are summed up in one line rather than one each.
  std::vector<unsigned> empty;
  bool first = true;
  for (const Catalogue& catalogue : catalogues) {
    if (catalogue.partition && catalogue.logs.empty() && !one) {
      empty.push_back(*catalogue.partition);
      continue;
    }
    if (!first) std::printf("\n");
    first = false;
    print_catalogue(catalogue, wide);
  }
  if (!empty.empty()) {
    std::printf("\nNo logs in partition%s %s\n", empty.size() == 1 ? "" : "s",
                format_number_ranges(empty).c_str());
  }
  return kExitOk;
}

int run_format(Session& session, ArgList& args) {
  const bool json_out = wants_json(session, args);
  const bool yes = args.flag("--yes");
  const auto parameter = static_cast<std::uint16_t>(option_number(args, "--parameter", 0xFFFF, 0));
  args.expect_done();
  if (!yes && !is_terminal(stdin)) {
    throw usage_error("format: no terminal to confirm on; add --yes to format without asking");
  }
  connect(session);
  const Library& library = session.library();
  if (!yes) {
    // Say what is at stake; a failed count does not stop the question.
    std::uint16_t count = 0;
    const std::string stake =
        MALTOR_FUNCTION(library, SCSDLogCount)(&count) == MALTOR_OK
            ? "the " + std::to_string(count) + (count == 1 ? " log" : " logs") + " on it"
            : "every log on it";
    if (!ask_yes_no("Format the card? This erases " + stake + ".")) {
      if (interrupted()) return interrupt_exit_code();
      throw ToolError(kExitFailed, "format: not confirmed; the card was not touched");
    }
  }
  std::uint16_t reply = 0;
  check_result(MALTOR_FUNCTION(library, SCSDFormat)(parameter, &reply),
               "formatting the card (SCSDFormat)");
  if (json_out) {
    JsonWriter json;
    json.begin_object().key("formatted").value(true).key("format_reply").value(unsigned{reply});
    json.end_object();
    print_json(json);
  } else {
    std::printf("card formatted; format reply %s\n", hex(reply, 4).c_str());
  }
  return kExitOk;
}

constexpr Command kCommands[] = {
    {"logs", "list the logs on the card and in each partition",
     "maltor [global options] logs [--partitions N | --partition P] [--wide] [--json]\n"
     "\n"
     "Lists the card's log catalogue (SCSDLogCount, SCSDLogInfo), then each\n"
     "partition's (SCPartitionLogCount, SCPartitionLogInfo). A row shows the seven\n"
     "info words w1-w7 in the library's output order, the trailing byte (flag) and\n"
     "the 16-byte block (tag), as text when it reads as text, else in hex; the\n"
     "device gives them their meaning.\n"
     "\n"
     "  --partitions N  look at partitions 0 to N-1 (default 16; 0: the card only).\n"
     "                  The library cannot tell an empty partition from a missing one.\n"
     "  --partition P   list partition P only\n"
     "  --wide          add the 255-byte block (text)\n"
     "  --json          one JSON object, every field of every record, for scripts\n",
     run_logs},
    {"format", "format the card, erasing every log (asks first)",
     "maltor [global options] format [--parameter N] [--yes] [--json]\n"
     "\n"
     "Formats the whole card (SCSDFormat) and shows the device's format reply.\n"
     "Asks for confirmation on the terminal first; without a terminal it refuses\n"
     "unless --yes is given.\n"
     "\n"
     "  --parameter N   the 16-bit format parameter the device interprets (default 0)\n"
     "  --yes           do not ask\n",
     run_format},
};

}  // namespace

std::span<const Command> storage_commands() {
  return kCommands;
}

}  // namespace maltor::tool
