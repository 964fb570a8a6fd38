// The time text of the progress and configuration logs on the host's real
// clock: the C runtime's English ctime form in every locale. Locales are
// compiled into a temporary folder, so the machine's own set does not matter.
#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "update/progress_log.h"

namespace maltor::test {
namespace {

// "Sun Dec  6 21:57:40 2026\n": English day and month, the day padded with a
// space, two-digit time fields, a four-digit year and the line feed.
bool has_ctime_form(const std::string& t) {
  static const std::string days = "Sun Mon Tue Wed Thu Fri Sat ";
  static const std::string months = "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec ";
  const auto digits = [&](std::size_t at, std::size_t n) {
    for (std::size_t i = at; i < at + n; ++i) {
      if (t[i] < '0' || t[i] > '9') return false;
    }
    return true;
  };
  // A word of a list of four-character entries starts at a multiple of four.
  const auto listed = [&](const std::string& list, std::size_t at) {
    return list.find(t.substr(at, 4)) % 4 == 0;
  };
  return t.size() == 25 && listed(days, 0) && listed(months, 4) &&
         (t[8] == ' ' || (t[8] >= '1' && t[8] <= '3')) && digits(9, 1) && t[10] == ' ' &&
         digits(11, 2) && t[13] == ':' && digits(14, 2) && t[16] == ':' && digits(17, 2) &&
         t[19] == ' ' && digits(20, 4) && t[24] == '\n';
}

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

  int locales = 0;
  for (const char* name : {"ru_RU.UTF-8", "de_DE.UTF-8"}) {
    if (built_.find(name) == std::string::npos) continue;
    ASSERT_NE(std::setlocale(LC_ALL, name), nullptr) << name;
    ++locales;
    for (std::size_t i = 0; i < std::size(moments); ++i) {
      const std::string text = text_at(moments[i]);
      EXPECT_EQ(text, expected[i]) << name;
      EXPECT_EQ(text.size(), 25u) << name;
      EXPECT_TRUE(has_ctime_form(text)) << name << ": " << text;
    }
    // What both logs write: the same 25 characters, nothing after them.
    const std::string line = update::local_time_line();
    EXPECT_TRUE(has_ctime_form(line)) << name << ": " << line;
  }
  if (locales == 0) GTEST_SKIP() << "localedef or the locale sources (package locales) are missing";
}

}  // namespace
}  // namespace maltor::test
