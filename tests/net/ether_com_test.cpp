// Framed transfer on a real TCP connection within the test process: the
// "server" side runs the routine (in a thread where the peer must react), the
// test plays the peer.
#include "net/ether_com.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "support/server_process.hpp"
#include "support/stdout_capture.hpp"

namespace {

using namespace std::string_literals;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;
using testing_support::LocalPort;
using Connection = testing_support::ConnectedPair;

// Runs fn on another thread while the test reads everything the peer gets
// until the server side shuts its sending half; fn's result and stdout.
struct outcome {
  int result;
  std::string peer_got;
  std::string printed;
};

outcome run_server_side(Connection &conn, const std::function<int()> &fn) {
  outcome o{};
  CaptureStdout();
  std::thread t([&] {
    o.result = fn();
    shutdown(conn.server(), SHUT_WR);
  });
  o.peer_got = conn.peer().ReadToClose().value_or("<no close>");
  t.join();
  o.printed = GetCapturedStdout();
  return o;
}

std::string pattern(size_t size) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>(i * 13 % 256);
  return s;
}

std::string repeat(const std::string &s, int n) {
  std::string r;
  for (int i = 0; i < n; ++i) r += s;
  return r;
}

class EtherCom : public testing::Test {
 protected:
  void TearDown() override { deb_ether_com = 1; }
};

// Replies of every size class: the length header alone for 0 and -1, one
// block up to 1024, then blocks of 1024 and a rest, each after one "NEXT".
TEST_F(EtherCom, SendAllDataFramesTheReply) {
  static const struct {
    const char *name;
    int count;
    std::string peer_sends;  // sent ahead, then the peer half-closes
    int result;
    std::string header;
    int body_bytes;  // how much of the reply reaches the peer
    std::string printed;
  } cases[] = {
      {"empty reply", 0, "", 0, "LEN0000000000", 0, ""},
      {"unknown command", -1, "", 0, "LEN-000000001", 0, ""},
      {"one byte", 1, "NEXT", 1, "LEN0000000001", 1, ""},
      {"1024 bytes in one block", 1024, "NEXT", 1024, "LEN0000001024", 1024, ""},
      {"1025 bytes in two blocks", 1025, "NEXTNEXT", 1025, "LEN0000001025", 1025, ""},
      {"256000 bytes", 256000, repeat("NEXT", 250), 256000, "LEN0000256000", 256000, ""},
      // A second token that is not "NEXT" shows where the first block ended.
      {"1025 bytes, second token wrong", 1025, "NEXTnext", -1, "LEN0000001025", 1024,
       "ether_send_all_data(): can't found \"NEXT\"\n"},
      {"lower-case next", 10, "next", -1, "LEN0000000010", 0,
       "ether_send_all_data(): can't found \"NEXT\"\n"},
      {"NEXT with a NUL behind", 2048, "NEXT\0NEXT"s, -1, "LEN0000002048", 1024,
       "ether_send_all_data(): can't found \"NEXT\"\n"},
      {"peer closes before 4 bytes", 10, "NE", -1, "LEN0000000010", 0, ""},
      {"peer closes after a block", 2048, "NEXT", -1, "LEN0000002048", 1024, ""},
  };
  for (const auto &c : cases) {
    Connection conn;
    const std::string reply = pattern(c.count > 0 ? static_cast<size_t>(c.count) : 0);
    ASSERT_TRUE(conn.peer().Send(c.peer_sends)) << c.name;
    conn.peer().ShutdownWrite();
    const outcome o = run_server_side(conn, [&] {
      return ether_send_all_data(conn.server(), reply.data(), c.count, 10);
    });
    EXPECT_EQ(o.result, c.result) << c.name;
    EXPECT_EQ(o.peer_got.substr(0, 13), c.header) << c.name;
    EXPECT_EQ(o.peer_got.size(), 13u + c.body_bytes) << c.name;
    EXPECT_TRUE(o.peer_got.substr(13) == reply.substr(0, c.body_bytes)) << c.name;
    EXPECT_EQ(o.printed, c.printed) << c.name;
  }
}

// A payload comes in blocks, each released by "NEXT", and "FIN" ends it; the
// peer may send ahead of the "NEXT"s.
TEST_F(EtherCom, RecvAllDataTakesThePayloadBlockByBlock) {
  static const struct {
    const char *name;
    int count;
    size_t peer_sends;  // bytes of the payload sent ahead, then a half-close
    int result;
    std::string peer_gets;
  } cases[] = {
      {"count 0", 0, 0, 0, "FIN"},
      {"negative count", -5, 0, 0, "FIN"},
      {"one byte", 1, 1, 1, "NEXTFIN"},
      {"1024 bytes", 1024, 1024, 1024, "NEXTFIN"},
      {"1025 bytes", 1025, 1025, 1025, "NEXTNEXTFIN"},
      {"256000 bytes", 256000, 256000, 256000, repeat("NEXT", 250) + "FIN"},
      {"peer closes inside the only block", 10, 5, -1, "NEXT"},
      {"peer closes after the first block", 2048, 1024 + 10, -1, "NEXTNEXT"},
  };
  for (const auto &c : cases) {
    Connection conn;
    const std::string payload = pattern(c.peer_sends);
    static char buf[256001];
    std::memset(buf, 'x', sizeof buf);
    ASSERT_TRUE(conn.peer().Send(payload)) << c.name;
    conn.peer().ShutdownWrite();
    const outcome o = run_server_side(
        conn, [&] { return ether_recv_all_data(conn.server(), buf, c.count, 10); });
    EXPECT_EQ(o.result, c.result) << c.name;
    EXPECT_EQ(o.peer_got, c.peer_gets) << c.name;
    EXPECT_EQ(o.printed, "") << c.name;
    if (c.result > 0) {
      EXPECT_TRUE(std::string(buf, static_cast<size_t>(c.count)) == payload) << c.name;
      EXPECT_EQ(buf[c.count], 'x') << c.name << ": nothing written behind the payload";
    }
  }
}

// Failures detected before anything is waited for: a deadline already past,
// and a side that can no longer send (the send fails with EPIPE and must not
// raise SIGPIPE, which would end this test process). With the switch off the
// same failures are silent.
TEST_F(EtherCom, FailuresBeforeTheFirstBlockPrintTheirLines) {
  enum routine { send_all, recv_all };
  static const struct {
    const char *name;
    routine which;
    int count;
    int limit;
    bool cannot_send;
    std::string peer_gets;
    std::string printed;
  } cases[] = {
      {"send: deadline passed", send_all, 5, -1, false, "LEN0000000005",
       "ether_send_all_data(): time_out\n"},
      {"send: deadline passed, nothing to send", send_all, 0, -1, false, "LEN0000000000",
       ""},
      {"send: header cannot be sent", send_all, 5, 10, true, "",
       "ether_send_all_data(): send() error\n"},
      {"recv: deadline passed", recv_all, 5, -1, false, "",
       "ether_recv_all_data(): time_out\n"},
      {"recv: NEXT cannot be sent", recv_all, 5, 10, true, "", "send() error\n"},
  };
  for (int debug : {1, 0}) {
    for (const auto &c : cases) {
      deb_ether_com = static_cast<std::int16_t>(debug);
      Connection conn;
      char buf[16] = "hello";
      conn.peer().ShutdownWrite();
      if (c.cannot_send) shutdown(conn.server(), SHUT_WR);
      const outcome o = run_server_side(conn, [&] {
        return c.which == send_all
                   ? ether_send_all_data(conn.server(), buf, c.count, c.limit)
                   : ether_recv_all_data(conn.server(), buf, c.count, c.limit);
      });
      EXPECT_EQ(o.result, c.count > 0 ? -1 : 0) << c.name;
      EXPECT_EQ(o.peer_got, c.peer_gets) << c.name;
      EXPECT_EQ(o.printed, debug ? c.printed : "") << c.name << " debug " << debug;
    }
  }
}

// The block send fails after the header went out and "NEXT" came: the
// sending half is shut between the two.
TEST_F(EtherCom, SendAllDataReportsAFailedBlockSend) {
  Connection conn;
  const std::string reply = pattern(100);
  CaptureStdout();
  int result = 0;
  std::thread t(
      [&] { result = ether_send_all_data(conn.server(), reply.data(), 100, 10); });
  EXPECT_EQ(conn.peer().Read(13), "LEN0000000100");
  shutdown(conn.server(), SHUT_WR);
  ASSERT_TRUE(conn.peer().Send("NEXT"));
  t.join();
  EXPECT_EQ(GetCapturedStdout(), "ether_send_all_data(): data send error\n");
  EXPECT_EQ(result, -1);
  EXPECT_EQ(conn.peer().ReadToClose(), "");
}

// Which failures flush standard output: only the three where the reply's
// "NEXT" does not come (whether or not a line is printed). The routine runs
// in a child that prints a marker first and ends without flushing, so the
// marker shows up only when the routine flushed.
TEST_F(EtherCom, OnlyTheMissingNextFailuresFlushStdout) {
  enum routine { send_all, recv_all };
  enum class peer_then { nothing, reset_after_header, next_after_shutdown };
  static const struct {
    const char *name;
    routine which;
    int count;
    int limit;
    std::string peer_sends;  // ahead, then a half-close (unless it plays later)
    bool server_cannot_send;
    peer_then later;
    int debug;
    std::string flushed;
  } cases[] = {
      {"send: not NEXT", send_all, 5, 10, "next", false, peer_then::nothing, 1,
       "marker\nether_send_all_data(): can't found \"NEXT\"\n"},
      {"send: not NEXT, quiet", send_all, 5, 10, "next", false, peer_then::nothing, 0,
       "marker\n"},
      {"send: closed before 4 bytes", send_all, 5, 10, "NE", false, peer_then::nothing, 1,
       "marker\n"},
      {"send: receive error", send_all, 5, 10, "", false, peer_then::reset_after_header,
       1, "marker\nether_send_all_data(): ether_recv_unit_data() error\n"},
      {"send: receive error, quiet", send_all, 5, 10, "", false,
       peer_then::reset_after_header, 0, "marker\n"},
      {"send: deadline passed", send_all, 5, -1, "", false, peer_then::nothing, 1, ""},
      {"send: header not sent", send_all, 5, 10, "", true, peer_then::nothing, 1, ""},
      {"send: block not sent", send_all, 5, 10, "", false, peer_then::next_after_shutdown,
       1, ""},
      {"send: whole reply", send_all, 5, 10, "NEXT", false, peer_then::nothing, 1, ""},
      {"recv: deadline passed", recv_all, 5, -1, "", false, peer_then::nothing, 1, ""},
      {"recv: NEXT not sent", recv_all, 5, 10, "", true, peer_then::nothing, 1, ""},
      {"recv: closed inside the block", recv_all, 5, 10, "ab", false, peer_then::nothing,
       1, ""},
      {"recv: whole payload", recv_all, 5, 10, "abcde", false, peer_then::nothing, 1, ""},
  };
  for (const auto &c : cases) {
    Connection conn;
    ASSERT_TRUE(conn.peer().Send(c.peer_sends)) << c.name;
    if (c.later == peer_then::nothing) conn.peer().ShutdownWrite();
    if (c.server_cannot_send) shutdown(conn.server(), SHUT_WR);
    const std::string flushed = testing_support::run_in_child_flushed_stdout(
        [&] {
          // The peer's socket must close when the parent closes it.
          close(conn.peer().fd());
          deb_ether_com = static_cast<std::int16_t>(c.debug);
          static char buf[16] = "hello";
          printf("marker\n");
          if (c.which == send_all) {
            (void)ether_send_all_data(conn.server(), buf, c.count, c.limit);
          } else {
            (void)ether_recv_all_data(conn.server(), buf, c.count, c.limit);
          }
        },
        [&] {
          if (c.later == peer_then::nothing) return;
          EXPECT_EQ(conn.peer().Read(13), "LEN0000000005") << c.name;
          if (c.later == peer_then::reset_after_header) {
            conn.peer().Reset();
          } else {
            // The socket is shared with the child: its next send fails.
            shutdown(conn.server(), SHUT_WR);
            EXPECT_TRUE(conn.peer().Send("NEXT")) << c.name;
          }
        });
    EXPECT_EQ(flushed, c.flushed) << c.name;
  }
}

TEST_F(EtherCom, RecvUnitDataReturnsWhatCameBeforeTheClose) {
  static const struct {
    const char *name;
    std::string peer_sends;
    int count;
    int result;
  } cases[] = {
      {"all bytes", "abcde", 5, 5},
      {"more than asked: the rest stays", "abcdefgh", 5, 5},
      {"fewer, then close", "abc", 5, 3},
      {"close at once", "", 5, 0},
  };
  for (const auto &c : cases) {
    Connection conn;
    ASSERT_TRUE(conn.peer().Send(c.peer_sends)) << c.name;
    conn.peer().ShutdownWrite();
    char buf[16] = {};
    CaptureStdout();
    EXPECT_EQ(ether_recv_unit_data(conn.server(), buf, c.count, 5), c.result) << c.name;
    EXPECT_EQ(GetCapturedStdout(), "") << c.name;
    EXPECT_EQ(std::string(buf, static_cast<size_t>(c.result)),
              c.peer_sends.substr(0, static_cast<size_t>(c.result)))
        << c.name;
  }
}

TEST_F(EtherCom, RecvUnitDataFailures) {
  // Nothing to receive: the descriptor is not even looked at.
  char buf[8];
  EXPECT_EQ(ether_recv_unit_data(-1, buf, 0, 5), 0);
  EXPECT_EQ(ether_recv_unit_data(-1, buf, -3, 5), 0);

  for (int debug : {1, 0}) {
    deb_ether_com = static_cast<std::int16_t>(debug);
    {
      Connection conn;  // silent peer, wait of 0 seconds
      CaptureStdout();
      EXPECT_EQ(ether_recv_unit_data(conn.server(), buf, 4, 0), -1);
      EXPECT_EQ(GetCapturedStdout(),
                debug ? "\nether_recv_unit_data(): select() timeout\n" : "");
    }
    {
      // A descriptor that is no longer open: the wait itself fails, which
      // is reported like a wait that ran out.
      const int fd = 1023;  // far above anything this test opens
      ASSERT_EQ(fcntl(fd, F_GETFD), -1);
      CaptureStdout();
      EXPECT_EQ(ether_recv_unit_data(fd, buf, 4, 5), -1);
      EXPECT_EQ(GetCapturedStdout(),
                debug ? "\nether_recv_unit_data(): select() timeout\n" : "");
    }
    {
      Connection conn;  // reset by the peer: a receive error, no message
      conn.peer().Reset();
      CaptureStdout();
      EXPECT_EQ(ether_recv_unit_data(conn.server(), buf, 4, 5), -1);
      EXPECT_EQ(GetCapturedStdout(), "");
    }
  }
}

// The wait works for descriptors beyond what select() can watch.
TEST_F(EtherCom, RecvUnitDataWaitsOnHighDescriptors) {
  rlimit lim;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &lim), 0);
  if (lim.rlim_max < 2100) GTEST_SKIP() << "RLIMIT_NOFILE hard limit below 2100";
  const rlimit old = lim;
  lim.rlim_cur = lim.rlim_max;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lim), 0);

  Connection conn;
  const int high = fcntl(conn.server(), F_DUPFD_CLOEXEC, 2000);
  ASSERT_GE(high, 2000);
  ASSERT_TRUE(conn.peer().Send("abcd"));
  char buf[4];
  EXPECT_EQ(ether_recv_unit_data(high, buf, 4, 5), 4);
  EXPECT_EQ(std::string(buf, 4), "abcd");
  close(high);
  setrlimit(RLIMIT_NOFILE, &old);
}

TEST_F(EtherCom, InitListensOnAnEphemeralPortAndReportsATakenOne) {
  int fd = -1;
  ASSERT_EQ(ether_init(&fd, 0), 1);
  EXPECT_NE(LocalPort(fd), 0);
  EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
  int listening = 0;
  socklen_t len = sizeof listening;
  getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &len);
  EXPECT_EQ(listening, 1);

  int second = -1;
  CaptureStderr();
  EXPECT_EQ(ether_init(&second, LocalPort(fd)), -1);
  EXPECT_EQ(GetCapturedStderr(), "server: bind: "s + std::strerror(EADDRINUSE) + "\n");
  EXPECT_GE(second, 0) << "the descriptor is stored as soon as it exists";
  close(second);
  close(fd);
}

}  // namespace
