// Buffered print, its log file, and the local time in 16-bit fields.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>

#include <cstdlib>
#include <string>

#include "ifcsim/lib_data2.h"
#include "support/stdout_capture.hpp"
#include "support/temp_dir.hpp"

using testing_support::read_file;
using testing_support::ScopedWorkDir;
using testing_support::StdoutCapture;
using testing_support::write_file;

// A settable clock for what_time: while g_fake_now is set, time() returns it.
// Defined here, it takes the place of the C library's time() for this test
// program, the library under test included.
static time_t g_fake_now = -1;

extern "C" time_t time(time_t *out) noexcept {
  time_t now = g_fake_now;
  if (now == -1) {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    now = ts.tv_sec;
  }
  if (out != nullptr) *out = now;
  return now;
}

namespace {

// len bytes of text that differ from offset to offset, so that a piece
// written twice, dropped or out of order shows.
std::string pattern(size_t offset, size_t len) {
  std::string s(len, ' ');
  for (size_t i = 0; i < len; ++i) s[i] = static_cast<char>('a' + (offset + i) % 23);
  return s;
}

// Sends text through MorPrintf in messages of at most 1000 bytes.
void morprint_in_pieces(const std::string &text) {
  for (size_t at = 0; at < text.size(); at += 1000) {
    MorPrintf("%s", text.substr(at, 1000).c_str());
  }
}

class MprintTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Leave the print-at-once state, whatever an earlier test left behind.
    StdoutCapture discard;
    mprint_pull();
  }

  ScopedWorkDir work_;
};

// The tests assert only after a StdoutCapture has ended: while it lasts, a
// failure message would land in the capture.

TEST_F(MprintTest, PrintsAtOnceBeforeAnyPush) {
  std::string printed;
  {
    StdoutCapture out;
    MorPrintf("valve %d: %s\n", 3, "on");
    printed = out.take();
  }
  EXPECT_EQ(printed, "valve 3: on\n");
}

TEST_F(MprintTest, CollectsUntilPullThenPrintsAtOnceAgain) {
  std::string collecting, pulled, after, pulled_again;
  {
    StdoutCapture out;
    mprint_push();
    MorPrintf("one ");
    MorPrintf("%d%c", 2, ' ');
    MorPrintf("%s", "three");
    collecting = out.take();
    mprint_pull();
    pulled = out.take();
    MorPrintf("after");
    after = out.take();
    mprint_pull();
    pulled_again = out.take();
  }
  EXPECT_EQ(collecting, "");
  EXPECT_EQ(pulled, "one 2 three");
  EXPECT_EQ(after, "after");
  EXPECT_EQ(pulled_again, "") << "a second pull writes nothing";
}

TEST_F(MprintTest, PushDropsWhatWasCollectedBefore) {
  std::string pulled;
  {
    StdoutCapture out;
    mprint_push();
    MorPrintf("dropped");
    mprint_push();
    MorPrintf("kept");
    mprint_pull();
    pulled = out.take();
  }
  EXPECT_EQ(pulled, "kept");
}

TEST_F(MprintTest, PullWithNothingCollectedWritesNothing) {
  std::string pulled;
  {
    StdoutCapture out;
    mprint_push();
    mprint_pull();
    pulled = out.take();
  }
  EXPECT_EQ(pulled, "");
}

// Collect `before` bytes, then send one message of `message` bytes; see what
// reached standard output right after it, then what a short tail message and
// the pull release.
TEST_F(MprintTest, ThresholdAndLongMessages) {
  static const struct {
    const char *name;
    size_t before;
    size_t message;
    size_t out_after;  // leading bytes of before+message written at once
  } cases[] = {
      {"98000 collected stay collected", 97000, 1000, 0},
      {"98001 collected are written at once", 97000, 1001, 98001},
      {"message filling the buffer to its last byte", 97000, 2999, 99999},
      {"message one byte over the room left", 97000, 3000, 97000},
      {"message over the room left, then over the threshold", 50000, 98500, 148500},
      {"message one byte under the whole buffer", 10, 99999, 100009},
      {"message as large as the whole buffer", 10, 100000, 100010},
      {"message larger than the whole buffer", 5000, 250000, 255000},
      {"message larger than the whole buffer, nothing collected", 0, 120000, 120000},
  };
  for (const auto &c : cases) {
    const std::string all = pattern(0, c.before + c.message);
    std::string collecting, at_once, tail, rest;
    {
      StdoutCapture out;
      mprint_push();
      morprint_in_pieces(all.substr(0, c.before));
      collecting = out.take();
      MorPrintf("%s", all.c_str() + c.before);
      at_once = out.take();
      MorPrintf("<tail>");
      tail = out.take();
      mprint_pull();
      rest = out.take();
    }
    EXPECT_EQ(collecting.size(), 0u) << c.name;
    EXPECT_EQ(at_once.size(), c.out_after) << c.name;
    EXPECT_TRUE(at_once == all.substr(0, c.out_after)) << c.name;
    // Collecting goes on: the tail joins what is held, and is released with
    // it by the pull, or at once where it passes the threshold itself.
    const std::string held = all.substr(c.out_after) + "<tail>";
    const bool tail_passes = held.size() > 98000;
    EXPECT_EQ(tail.size(), tail_passes ? held.size() : 0u) << c.name;
    EXPECT_EQ(rest.size(), tail_passes ? 0u : held.size()) << c.name;
    EXPECT_TRUE((tail_passes ? tail : rest) == held) << c.name;
  }
}

TEST_F(MprintTest, LongFormattedMessageKeepsItsText) {
  std::string at_once, pulled;
  {
    StdoutCapture out;
    mprint_push();
    morprint_in_pieces(pattern(0, 97500));
    MorPrintf("[%05000d]", 42);  // 5002 bytes, room left 2500
    at_once = out.take();
    mprint_pull();
    pulled = out.take();
  }
  EXPECT_TRUE(at_once == pattern(0, 97500)) << at_once.size() << " bytes";
  EXPECT_EQ(pulled, "[" + std::string(4998, '0') + "42]");
}

TEST_F(MprintTest, PullLogAppendsTextAndTwoLineEnds) {
  write_file("mprint.log", "old entry\n\n");
  std::string first, second, empty;
  {
    StdoutCapture out;
    mprint_push();
    MorPrintf("first %d", 1);
    mprint_pull_log();
    first = out.take();
    mprint_push();
    MorPrintf("second\n");
    mprint_pull_log();
    second = out.take();
    mprint_pull_log();  // nothing collected
    empty = out.take();
  }
  EXPECT_EQ(first, "first 1");
  EXPECT_EQ(second, "second\n");
  EXPECT_EQ(empty, "");
  EXPECT_EQ(read_file("mprint.log"), "old entry\n\nfirst 1\n\nsecond\n\n\n\n\n");
}

TEST_F(MprintTest, PullLogCreatesMissingLog) {
  std::string printed;
  {
    StdoutCapture out;
    mprint_pull_log();
    printed = out.take();
  }
  EXPECT_EQ(printed, "");
  EXPECT_EQ(read_file("mprint.log"), "\n\n");
}

TEST_F(MprintTest, PullLogThatCannotOpenTheLogStillPrints) {
  ASSERT_EQ(mkdir("mprint.log", 0755), 0);
  std::string printed;
  {
    StdoutCapture out;
    mprint_push();
    MorPrintf("kept on stdout");
    mprint_pull_log();
    printed = out.take();
  }
  EXPECT_EQ(printed, "kept on stdout");
}

// Sets TZ for the lifetime of the object.
class ScopedTz {
 public:
  explicit ScopedTz(const char *tz) {
    const char *old = std::getenv("TZ");
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~ScopedTz() {
    if (had_) {
      setenv("TZ", old_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  bool had_;
  std::string old_;
};

TEST(WhatTime, FixedInstantsInSeveralZones) {
  static const struct {
    const char *name;
    const char *tz;
    time_t now;
    time_fields want;  // second, minute, hour, day, month, year, weekday
  } cases[] = {
      {"5 January 2026, UTC", "UTC0", 1767616496, {56, 34, 12, 5, 1, 2026, 1}},
      {"last second of 2023 UTC, one hour east",
       "<+01>-1",
       1704067199,
       {59, 59, 0, 1, 1, 2024, 1}},
      {"29 February 2024 00:00 UTC, five hours west",
       "<-05>5",
       1709164800,
       {0, 0, 19, 28, 2, 2024, 3}},
  };
  for (const auto &c : cases) {
    ScopedTz tz(c.tz);
    g_fake_now = c.now;
    time_fields got;
    what_time(&got);
    g_fake_now = -1;
    EXPECT_EQ(got.second, c.want.second) << c.name;
    EXPECT_EQ(got.minute, c.want.minute) << c.name;
    EXPECT_EQ(got.hour, c.want.hour) << c.name;
    EXPECT_EQ(got.day, c.want.day) << c.name;
    EXPECT_EQ(got.month, c.want.month) << c.name;
    EXPECT_EQ(got.year, c.want.year) << c.name;
    EXPECT_EQ(got.weekday, c.want.weekday) << c.name;
  }
}

TEST(WhatTime, MatchesLocaltimeOfTheRealClock) {
  // Retry when the second changes during the call, so the comparison is exact.
  for (int attempt = 0; attempt < 5; ++attempt) {
    time_t before = ::time(nullptr);
    time_fields got;
    what_time(&got);
    time_t after = ::time(nullptr);
    if (before != after) continue;
    struct tm want;
    ASSERT_NE(localtime_r(&before, &want), nullptr);
    EXPECT_EQ(got.second, want.tm_sec);
    EXPECT_EQ(got.minute, want.tm_min);
    EXPECT_EQ(got.hour, want.tm_hour);
    EXPECT_EQ(got.day, want.tm_mday);
    EXPECT_EQ(got.month, want.tm_mon + 1);
    EXPECT_EQ(got.year, want.tm_year + 1900);
    EXPECT_EQ(got.weekday, want.tm_wday);
    return;
  }
  FAIL() << "the clock changed its second during every attempt";
}

}  // namespace
