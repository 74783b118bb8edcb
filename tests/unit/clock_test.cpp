// Run-time clock of the auto-configuration filter: the millisecond clock and the run-time text.
#include "autoconf/clock.h"

#include <sys/time.h>

#include <string>

#include <gtest/gtest.h>

#include "support/text.h"

TEST(RunTimeClock, NowIsTheWallClockInMilliseconds) {
  struct timeval before;
  gettimeofday(&before, nullptr);
  int64_t now = now_ms();
  int64_t before_ms = static_cast<int64_t>(before.tv_sec) * 1000 + before.tv_usec / 1000;
  EXPECT_GE(now, before_ms);
  EXPECT_LT(now - before_ms, 60 * 1000) << "the same clock, not some other epoch";
}

TEST(RunTimeClock, SecondsAndThreeMillisecondDigits) {
  struct Case {
    int64_t ms;
    const char* text;
  } cases[] = {
      {2045, "2.045"},         {0, "0.000"},    {7, "0.007"},
      {999, "0.999"},          {1000, "1.000"}, {60001, "60.001"},
      {86400123, "86400.123"},
  };
  char buffer[32];
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ms);
    EXPECT_STREQ(format_elapsed_ms(buffer, sizeof(buffer), c.ms), c.text);
  }
}

TEST(RunTimeClock, ABackwardStepPrintsTheSignedPartsUnsigned) {
  char buffer[32];
  EXPECT_STREQ(format_elapsed_ms(buffer, sizeof(buffer), -1), "0.18446744073709551615");
  // The 32-byte buffer of the run-time text cuts the rest.
  EXPECT_STREQ(format_elapsed_ms(buffer, sizeof(buffer), -2045), "18446744073709551614.1844674407");
}

TEST(RunTimeClock, ElapsedTextSharesOneStaticBuffer) {
  int64_t start = now_ms();
  const char* first = elapsed_seconds_text(start);
  std::string first_text = first;
  const char* second = elapsed_seconds_text(start - 2045);
  EXPECT_EQ(first, second);
  EXPECT_TRUE(full_match(first_text, "0\\.[0-9]{3}")) << first_text;
  EXPECT_TRUE(full_match(second, "2\\.[0-9]{3}")) << second;
}
