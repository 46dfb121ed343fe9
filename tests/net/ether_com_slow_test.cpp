// Framed transfer against the clock: the 5-second waits and the transfer
// deadline, on a real TCP connection within the test process.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "net/ether_com.hpp"
#include "support/server_process.hpp"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;
using Connection = testing_support::ConnectedPair;
using Clock = std::chrono::steady_clock;
using Wall = std::chrono::system_clock;

double seconds_since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

// A silent peer is given up after one wait of 5 seconds.
TEST(EtherComSlow, SilentPeerIsGivenUpAfterFiveSeconds) {
  static const struct {
    const char *name;
    bool sending;
    std::string printed;
  } cases[] = {
      {"no NEXT for a reply", true,
       "\nether_recv_unit_data(): select() timeout\n"
       "ether_send_all_data(): ether_recv_unit_data() error\n"},
      {"no block of a payload", false, "\nether_recv_unit_data(): select() timeout\n"},
  };
  for (const auto &c : cases) {
    Connection conn;
    static char buf[64];
    CaptureStdout();
    const auto start = Clock::now();
    const int r = c.sending ? ether_send_all_data(conn.server(), buf, 10, 10)
                            : ether_recv_all_data(conn.server(), buf, 10, 10);
    const double waited = seconds_since(start);
    EXPECT_EQ(GetCapturedStdout(), c.printed) << c.name;
    EXPECT_EQ(r, -1) << c.name;
    EXPECT_GE(waited, 4.9) << c.name;
    EXPECT_LT(waited, 9.0) << c.name;
    EXPECT_EQ(conn.peer().Read(c.sending ? 13 : 4), c.sending ? "LEN0000000010" : "NEXT")
        << c.name;
  }
}

// Sleeps until half a second past whole second `second` of the wall clock.
void sleep_until_mid(std::time_t second) {
  std::this_thread::sleep_until(Wall::from_time_t(second) +
                                std::chrono::milliseconds(500));
}

// Starts just after a whole second S and returns S: a transfer started now
// has its deadline at S + limit.
std::time_t align_to_second() {
  const auto now = Wall::now();
  const std::time_t next = Wall::to_time_t(now) + 1;
  std::this_thread::sleep_until(Wall::from_time_t(next) + std::chrono::milliseconds(50));
  return next;
}

// With limit 1 the deadline is T = S + 1: a block that starts within second
// T still runs, one that would start in second T + 1 does not. The first
// block is held back (by the peer) until the middle of that second.
TEST(EtherComSlow, DeadlineIsComparedInWholeSecondsBeforeEachBlock) {
  static const struct {
    const char *name;
    bool sending;
    int delay_seconds;  // the second block starts in second S + this
    bool runs;
  } cases[] = {
      {"payload, second block at T", false, 1, true},
      {"payload, second block at T + 1", false, 2, false},
      {"reply, second block at T", true, 1, true},
      {"reply, second block at T + 1", true, 2, false},
  };
  static char buf[2048];
  const std::string block(1024, 'b');
  for (const auto &c : cases) {
    Connection conn;
    int result = 0;
    CaptureStdout();
    const std::time_t s = align_to_second();
    std::thread t([&] {
      result = c.sending ? ether_send_all_data(conn.server(), buf, 2048, 1)
                         : ether_recv_all_data(conn.server(), buf, 2048, 1);
      shutdown(conn.server(), SHUT_WR);
    });
    std::string got;
    if (c.sending) {
      got = conn.peer().Read(13);
      sleep_until_mid(s + c.delay_seconds);
      conn.peer().Send("NEXT");
      got += conn.peer().Read(1024);
      if (c.runs) {
        conn.peer().Send("NEXT");
        got += conn.peer().Read(1024);
      }
    } else {
      got = conn.peer().Read(4);
      sleep_until_mid(s + c.delay_seconds);
      conn.peer().Send(block);
      if (c.runs) {
        got += conn.peer().Read(4);
        conn.peer().Send(block);
      }
    }
    got += conn.peer().ReadToClose().value_or("<open>");
    t.join();
    const std::string printed = GetCapturedStdout();

    const std::string late = c.sending ? "ether_send_all_data(): time_out\n"
                                       : "ether_recv_all_data(): time_out\n";
    EXPECT_EQ(printed, c.runs ? "" : late) << c.name;
    EXPECT_EQ(result, c.runs ? 2048 : -1) << c.name;
    if (c.sending) {
      EXPECT_EQ(got.size(), c.runs ? 13u + 2048 : 13u + 1024) << c.name;
    } else {
      EXPECT_EQ(got, c.runs ? "NEXTNEXTFIN" : "NEXT") << c.name;
    }
  }
}

}  // namespace
