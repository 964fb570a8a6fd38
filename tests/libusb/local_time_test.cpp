// The time text of the progress and configuration logs on the host's real
// clock: the C runtime's English ctime form in every locale. Locales are
// compiled into a temporary folder, so the machine's own set does not matter.
#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "update/progress_log.h"

namespace maltor::test {
namespace {

class LocalTimeText : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ =
        std::filesystem::temp_directory_path() / ("maltor_locales_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder_);
    for (const char* name : {"ru_RU", "de_DE"}) {
      const std::string command = "localedef -i " + std::string(name) + " -f UTF-8 '" +
                                  (folder_ / (std::string(name) + ".UTF-8")).string() +
                                  "' >/dev/null 2>&1";
      if (std::system(command.c_str()) == 0) built_ += std::string(name) + ".UTF-8 ";
    }
    setenv("LOCPATH", folder_.c_str(), 1);
  }
  static void TearDownTestSuite() {
    std::setlocale(LC_ALL, "C");
    unsetenv("LOCPATH");
    std::filesystem::remove_all(folder_);
  }
  void TearDown() override { std::setlocale(LC_ALL, "C"); }

  static std::string text_at(std::int64_t seconds) {
    char out[26];
    std::memset(out, 'x', sizeof out);
    platform::local_time_text(seconds, out);
    return std::string(out, strnlen(out, sizeof out));
  }

  static inline std::filesystem::path folder_;
  static inline std::string built_;
};

TEST_F(LocalTimeText, IsTheEnglishCtimeFormInEveryLocale) {
  const std::int64_t moments[] = {0, 1796594260 /* a December Sunday */, 1000000000, 4102444799};
  std::setlocale(LC_ALL, "C");
  std::vector<std::string> expected;
  for (const std::int64_t t : moments) expected.push_back(text_at(t));

  const std::regex form(
      R"((Sun|Mon|Tue|Wed|Thu|Fri|Sat) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 123]\d [0-2]\d:[0-5]\d:[0-6]\d \d{4}\n)");
  int locales = 0;
  for (const char* name : {"ru_RU.UTF-8", "de_DE.UTF-8"}) {
    if (built_.find(name) == std::string::npos) continue;
    ASSERT_NE(std::setlocale(LC_ALL, name), nullptr) << name;
    ++locales;
    for (std::size_t i = 0; i < std::size(moments); ++i) {
      const std::string text = text_at(moments[i]);
      EXPECT_EQ(text, expected[i]) << name;
      EXPECT_EQ(text.size(), 25u) << name;
      EXPECT_TRUE(std::regex_match(text, form)) << name << ": " << text;
    }
    // What both logs write: the same 25 characters, nothing after them.
    const std::string line = update::local_time_line();
    EXPECT_TRUE(std::regex_match(line, form)) << name << ": " << line;
  }
  if (locales == 0) GTEST_SKIP() << "localedef or the locale sources (package locales) are missing";
}

}  // namespace
}  // namespace maltor::test
