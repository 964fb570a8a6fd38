#include "progress.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace maltor::tool {
namespace {

TEST(ProgressFormatTest, Amounts) {
  EXPECT_EQ(format_amount(0, ProgressUnit::kBytes), "0 B");
  EXPECT_EQ(format_amount(1023, ProgressUnit::kBytes), "1023 B");
  EXPECT_EQ(format_amount(1536, ProgressUnit::kBytes), "1.5 KiB");
  EXPECT_EQ(format_amount(5ull << 30, ProgressUnit::kBytes), "5.0 GiB");
  EXPECT_EQ(format_amount(1536, ProgressUnit::kItems), "1536");
}

TEST(ProgressFormatTest, Durations) {
  EXPECT_EQ(format_duration(0), "0:00");
  EXPECT_EQ(format_duration(59.6), "1:00");
  EXPECT_EQ(format_duration(3723), "1:02:03");
  EXPECT_EQ(format_duration(-1), "--:--");
  EXPECT_EQ(format_duration(1e12), "--:--");
}

TEST(ProgressFormatTest, LineWithKnownTotal) {
  const ProgressSnapshot half{1 << 20, 2 << 20, 2.0, ProgressUnit::kBytes};
  EXPECT_EQ(format_progress_line("download", half, 10),
            "download [#####-----]  50%  1.0 MiB / 2.0 MiB  512.0 KiB/s  0:02 left");
  // Plain lines carry no bar.
  EXPECT_EQ(format_progress_line("blocks", {30, 40, 3.0, ProgressUnit::kItems}, 0),
            "blocks  75%  30 / 40  10/s  0:01 left");
}

TEST(ProgressFormatTest, LineWithoutTotalOrTime) {
  // No total: no bar, percentage or time left. No elapsed time: no rate.
  EXPECT_EQ(format_progress_line("live", {2048, 0, 4.0, ProgressUnit::kBytes}, 10),
            "live  2.0 KiB  512 B/s");
  EXPECT_EQ(format_progress_line("erase", {0, 8, 0.0, ProgressUnit::kItems}, 4),
            "erase [----]   0%  0 / 8");
  // More done than announced stays at a full bar.
  EXPECT_EQ(format_progress_line("x", {12, 10, 0.0, ProgressUnit::kItems}, 4),
            "x [####] 100%  12 / 10");
}

TEST(ProgressFormatTest, PercentAndElapsedLinesLeaveTheCountsOut) {
  EXPECT_EQ(format_progress_line("update", {25, 100, 5.0, ProgressUnit::kPercent}, 4),
            "update [#---]  25%  0:15 left");
  EXPECT_EQ(format_progress_line("reflash", {0, 0, 75.0, ProgressUnit::kElapsed}, 4),
            "reflash  1:15 elapsed");
}

// Plain output (not a terminal): one line per tenth of the way and the last one once.
TEST(ProgressBarTest, PlainOutputPrintsEveryTenth) {
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  {
    ProgressBar bar("copy", 100, ProgressUnit::kItems, out, false);
    for (int done = 0; done <= 100; ++done) bar.update(static_cast<std::uint64_t>(done));
    bar.finish();
  }
  std::rewind(out);
  int lines = 0;
  char line[256];
  while (std::fgets(line, sizeof line, out) != nullptr) ++lines;
  std::fclose(out);
  EXPECT_EQ(lines, 11);  // 0%, 10%, ..., 100%
}

}  // namespace
}  // namespace maltor::tool
