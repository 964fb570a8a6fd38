#include "cli.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "errors.h"

namespace maltor::tool {
namespace {

using Words = std::vector<std::string>;

std::vector<Words> words_of(const std::vector<CommandLine>& commands) {
  std::vector<Words> out;
  for (const CommandLine& command : commands) out.push_back(command.words);
  return out;
}

TEST(CommandLineTest, GlobalOptionsStopAtTheFirstCommand) {
  const Words args = {"--sim",    "--sim-kind=0x2", "--sim-speed", "full",   "--sim-devices", "3",
                      "--device", "1-1.4",          "--json",      "status", "--raw"};
  const ParsedCommandLine parsed = parse_command_line(args);
  EXPECT_TRUE(parsed.options.sim);
  EXPECT_TRUE(parsed.options.json);
  EXPECT_EQ(parsed.options.sim_kind, 2);
  EXPECT_FALSE(parsed.options.sim_high_speed);
  EXPECT_EQ(parsed.options.sim_devices, 3u);
  EXPECT_EQ(parsed.options.device, "1-1.4");
  // "--raw" after the command name belongs to the command.
  EXPECT_EQ(words_of(parsed.commands), (std::vector<Words>{{"status", "--raw"}}));
}

TEST(CommandLineTest, LoneSemicolonsSeparateCommands) {
  const Words args = {"--sim", "devices", ";", "status", "--raw", ";"};
  const ParsedCommandLine parsed = parse_command_line(args);
  EXPECT_EQ(words_of(parsed.commands), (std::vector<Words>{{"devices"}, {"status", "--raw"}}));
  EXPECT_EQ(parsed.commands[1].origin, "command 2");
}

TEST(CommandLineTest, RejectsBadUsage) {
  const std::vector<Words> cases = {
      {"--sim-kind", "4", "devices"},    // there is no kind 4
      {"--sim-kind", "6", "devices"},    // past the last kind
      {"--sim-kind", "one", "devices"},  // not a number
      {"--sim-speed", "low", "devices"},
      {"--sim-devices", "17", "devices"},  // the virtual bus holds 16
      {"--sim-devices"},                   // missing value
      {"--sim=1", "devices"},              // flag with a value
      {"--frobnicate", "devices"},
      {"--device=", "devices"},          // an empty device id
      {";", "devices"},                  // empty first command
      {"devices", ";", ";", "status"},   // empty middle command
      {"--script", "x.txt", "devices"},  // two sources of commands
  };
  for (const Words& args : cases) {
    try {
      parse_command_line(args);
      ADD_FAILURE() << "accepted: " << testing::PrintToString(args);
    } catch (const ToolError& error) {
      EXPECT_EQ(error.exit_code(), kExitUsage) << testing::PrintToString(args);
    }
  }
}

TEST(ScriptTest, SplitsLinesIntoWords) {
  const std::string script =
      "# set-up\n"
      "devices\n"
      "\n"
      "  status   --raw   # the record too\r\n"
      "logfile \"C:\\logs\\my log.bin\" 'a \"b\"' say\" \\\"hi\\\"\"\n"
      "tag#1\n";
  const std::vector<CommandLine> commands = parse_script(script, "run.txt");
  EXPECT_EQ(words_of(commands),
            (std::vector<Words>{{"devices"},
                                {"status", "--raw"},
                                {"logfile", "C:\\logs\\my log.bin", "a \"b\"", "say \"hi\""},
                                {"tag#1"}}));
  EXPECT_EQ(commands[1].origin, "run.txt:4");
}

TEST(ScriptTest, UnterminatedQuoteNamesTheLine) {
  try {
    parse_script("devices\nlogfile \"open\n", "run.txt");
    FAIL() << "accepted an unterminated quote";
  } catch (const ToolError& error) {
    EXPECT_EQ(error.exit_code(), kExitUsage);
    EXPECT_NE(std::string(error.what()).find("run.txt:2"), std::string::npos) << error.what();
  }
}

TEST(ArgListTest, ConsumesOptionsAndRejectsLeftovers) {
  const Words words = {"--out=a.bin", "7", "--verbose", "--from", "0x10"};
  ArgList args("download", words);
  EXPECT_EQ(args.value("--from"), "0x10");
  EXPECT_EQ(args.value("--out"), "a.bin");
  EXPECT_FALSE(args.value("--to").has_value());
  EXPECT_TRUE(args.flag("--verbose"));
  EXPECT_FALSE(args.flag("--verbose"));
  EXPECT_EQ(args.positional(), "7");
  EXPECT_NO_THROW(args.expect_done());

  ArgList extra("status", Words{"--rwa"});
  EXPECT_THROW(extra.expect_done(), ToolError);
  ArgList missing("download", Words{"--from"});
  EXPECT_THROW(missing.value("--from"), ToolError);
}

// After "--" nothing is an option: a file may be called "-x" or "--json".
TEST(ArgListTest, DoubleDashEndsTheOptions) {
  const ParsedCommandLine parsed =
      parse_command_line(Words{"-q", "--version", "--", "download", "--json", "--", "-f"});
  EXPECT_TRUE(parsed.options.quiet);
  EXPECT_TRUE(parsed.options.version);
  ASSERT_EQ(words_of(parsed.commands), (std::vector<Words>{{"download", "--json", "--", "-f"}}));

  ArgList args("download", std::span(parsed.commands[0].words).subspan(1));
  EXPECT_TRUE(args.flag("--json"));
  EXPECT_FALSE(args.flag("-f"));
  EXPECT_FALSE(args.value("-f").has_value());
  EXPECT_EQ(args.positional(), "-f");
  EXPECT_NO_THROW(args.expect_done());

  ArgList left("download", Words{"--", "--json"});
  EXPECT_THROW(left.expect_done(), ToolError);  // "--json" is an unused argument here
}

}  // namespace
}  // namespace maltor::tool
