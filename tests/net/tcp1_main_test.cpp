// The server loop end to end: the real loop in a child process on an
// ephemeral port, scripted clients, and what the loop prints.
#include "net/tcp1_main.hpp"

#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <string>

#include "client/ifc_client.hpp"
#include "dispatch/ether_parse.hpp"
#include "net/ether_com.hpp"
#include "support/server_process.hpp"
#include "support/stdout_capture.hpp"

namespace {

using testing::HasSubstr;
using testing_support::ChildProcess;
using testing_support::CountOccurrences;
using testing_support::RawConnection;
using testing_support::read_file;
using testing_support::RequestHeader;
using testing_support::ServerProcess;

using namespace std::string_literals;

// Proves the server still serves: a GET of an unknown name gets the length
// header for -1.
void ExpectServed(ServerProcess &server, const std::string &where) {
  EXPECT_EQ(server.Get("no_such_command"), "<len -1>") << where;
}

// Every way a request header is refused or ends early, and the PUT lengths
// at and around the limit. Each case is one connection; the next one must be
// served after it, and the server holds no more descriptors than before.
TEST(Tcp1Main, HeaderCasesPrintTheirLinesAndTheNextClientIsServed) {
  static const struct {
    const char *name;
    std::string sent;     // everything the client sends, then it half-closes
    std::string reply;    // everything the client gets before the close
    std::string printed;  // what the loop prints for the request
  } cases[] = {
      {"connect and close", "", "", "connected... \nerror: command len\n"},
      {"22 bytes then close", RequestHeader("GET", "IFC_get_stat").substr(0, 22), "",
       "connected... " + RequestHeader("GET", "IFC_get_stat").substr(0, 22) +
           "\nerror: command len\n"},
      {"lower-case get", RequestHeader("get", "IFC_get_stat"), "",
       "connected... " + RequestHeader("get", "IFC_get_stat") +
           "\nerror: UNKNOWN COMMAND\n"},
      {"unknown verb", RequestHeader("DEL", "x"), "",
       "connected... " + RequestHeader("DEL", "x") + "\nerror: UNKNOWN COMMAND\n"},
      {"GET unknown name", RequestHeader("GET", "no_such_command"), "LEN-000000001",
       "connected... " + RequestHeader("GET", "no_such_command") + "\n"},
      {"GET name filled with NULs", "GETIFC_get_stat"s + std::string(8, '\0'),
       "LEN-000000001", "connected... GETIFC_get_stat\n"},
      {"GET of blanks only", RequestHeader("GET", ""), "LEN-000000001",
       "connected... GET" + std::string(20, ' ') + "\n"},
      {"PUT length 256001", RequestHeader("PUT", "256001"), "ERR!",
       "connected... " + RequestHeader("PUT", "256001") + "\nerror: TOO BIG DATA\n"},
      {"PUT length -1", RequestHeader("PUT", "-1"), "ERR!",
       "connected... " + RequestHeader("PUT", "-1") + "\nerror: TOO BIG DATA\n"},
      {"PUT length 2^32 (0 when cut to 32 bits)", RequestHeader("PUT", "4294967296"),
       "ERR!",
       "connected... " + RequestHeader("PUT", "4294967296") + "\nerror: TOO BIG DATA\n"},
      {"PUT length 2^32-1 (-1 when cut)", RequestHeader("PUT", "4294967295"), "ERR!",
       "connected... " + RequestHeader("PUT", "4294967295") + "\nerror: TOO BIG DATA\n"},
      {"PUT length 2^32+5 (5 when cut)", RequestHeader("PUT", "4294967301"), "ERR!",
       "connected... " + RequestHeader("PUT", "4294967301") + "\nerror: TOO BIG DATA\n"},
      {"PUT length beyond 64 bits", RequestHeader("PUT", "99999999999999999999"), "ERR!",
       "connected... " + RequestHeader("PUT", "99999999999999999999") +
           "\nerror: TOO BIG DATA\n"},
      {"PUT length -2^31", RequestHeader("PUT", "-2147483648"), "ERR!",
       "connected... " + RequestHeader("PUT", "-2147483648") + "\nerror: TOO BIG DATA\n"},
      {"PUT length without digits", RequestHeader("PUT", "abc"), "FIN",
       "connected... " + RequestHeader("PUT", "abc") + "\n"},
      {"PUT length of blanks", RequestHeader("PUT", ""), "FIN",
       "connected... " + RequestHeader("PUT", "") + "\n"},
      {"PUT length -0", RequestHeader("PUT", "-0"), "FIN",
       "connected... " + RequestHeader("PUT", "-0") + "\n"},
      {"PUT length 0", RequestHeader("PUT", "0"), "FIN",
       "connected... " + RequestHeader("PUT", "0") + "\n"},
      // Accepted lengths get their first "NEXT"; the half-close then ends
      // the transfer without "FIN".
      {"PUT length after white space", RequestHeader("PUT", " \t 5"), "NEXT",
       "connected... " + RequestHeader("PUT", " \t 5") + "\n"},
      {"PUT length with a plus sign", RequestHeader("PUT", "+5"), "NEXT",
       "connected... " + RequestHeader("PUT", "+5") + "\n"},
      {"PUT length ends at the first other character", RequestHeader("PUT", "5x99"),
       "NEXT", "connected... " + RequestHeader("PUT", "5x99") + "\n"},
      {"PUT length of 20 digits", "PUT00000000000000256000", "NEXT",
       "connected... PUT00000000000000256000\n"},
      {"PUT length -1 after blanks", RequestHeader("PUT", "  -1"), "ERR!",
       "connected... " + RequestHeader("PUT", "  -1") + "\nerror: TOO BIG DATA\n"},
  };
  ServerProcess server;
  ASSERT_TRUE(server.WaitForRequests(0));
  const int descriptors = server.DescriptorCount();
  int requests = 0;
  for (const auto &c : cases) {
    RawConnection conn(server.port());
    ASSERT_TRUE(conn.connected()) << c.name;
    ASSERT_TRUE(conn.Send(c.sent)) << c.name;
    conn.ShutdownWrite();
    EXPECT_EQ(conn.ReadToClose(), c.reply) << c.name;
    ASSERT_TRUE(server.WaitForRequests(++requests)) << c.name;
    EXPECT_EQ(server.RequestOutput(requests), c.printed) << c.name;

    ExpectServed(server, c.name);
    ASSERT_TRUE(server.WaitForRequests(++requests)) << c.name;
    EXPECT_EQ(server.DescriptorCount(), descriptors) << c.name;
  }
  EXPECT_EQ(server.Stderr(), "");
}

// The payload of an append_log PUT: name, NUL, data.
std::string append_log_payload(const std::string &data) {
  return "append_log"s + '\0' + data;
}

// Data of a given size with every byte value, NULs included.
std::string pattern(size_t size) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>(i * 7 % 256);
  return s;
}

enum class pacing { per_next, with_header, ahead_of_next };

// PUT payloads of the sizes at the block boundaries and the limit, sent block
// by block, in one piece with the header, or right after the header without
// waiting for "NEXT". The server reads exactly a block per "NEXT", so each way
// gives the same tokens and cgi.log grows by exactly the data part.
TEST(Tcp1Main, PutPayloadsAreFramedInBlocksAndAppendLogGetsTheDataPart) {
  static const struct {
    const char *name;
    size_t payload_size;
    pacing how;
  } cases[] = {
      {"name and NUL only", 11, pacing::per_next},
      {"1024 bytes, one block", 1024, pacing::per_next},
      {"1025 bytes, two blocks", 1025, pacing::per_next},
      {"2048 bytes", 2048, pacing::per_next},
      {"256000 bytes", 256000, pacing::per_next},
      {"1025 bytes with the header", 1025, pacing::with_header},
      {"256000 bytes with the header", 256000, pacing::with_header},
      {"3000 bytes ahead of NEXT", 3000, pacing::ahead_of_next},
      {"256000 bytes ahead of NEXT", 256000, pacing::ahead_of_next},
  };
  ServerProcess server;
  std::string log;
  int requests = 0;
  for (const auto &c : cases) {
    const std::string data = pattern(c.payload_size - 11);
    const std::string payload = append_log_payload(data);
    ASSERT_EQ(payload.size(), c.payload_size) << c.name;
    const std::string head = RequestHeader("PUT", std::to_string(payload.size()));
    const int blocks = static_cast<int>((payload.size() + 1023) / 1024);

    RawConnection conn(server.port());
    ASSERT_TRUE(conn.connected()) << c.name;
    std::string got;
    switch (c.how) {
      case pacing::per_next:
        ASSERT_TRUE(conn.Send(head)) << c.name;
        for (size_t off = 0; off < payload.size(); off += 1024) {
          ASSERT_EQ(conn.Read(4), "NEXT") << c.name << " at " << off;
          ASSERT_TRUE(conn.Send(payload.substr(off, 1024))) << c.name;
        }
        break;
      case pacing::with_header:
        ASSERT_TRUE(conn.Send(head + payload)) << c.name;
        got = conn.Read(4 * blocks);
        break;
      case pacing::ahead_of_next:
        ASSERT_TRUE(conn.Send(head)) << c.name;
        ASSERT_TRUE(conn.Send(payload)) << c.name;
        got = conn.Read(4 * blocks);
        break;
    }
    if (c.how != pacing::per_next) {
      std::string nexts;
      for (int i = 0; i < blocks; ++i) nexts += "NEXT";
      EXPECT_EQ(got, nexts) << c.name;
    }
    EXPECT_EQ(conn.Read(3), "FIN") << c.name;
    EXPECT_EQ(conn.ReadToClose(), "") << c.name;
    ASSERT_TRUE(server.WaitForRequests(++requests)) << c.name;
    EXPECT_EQ(server.RequestOutput(requests), "connected... " + head + "\n") << c.name;

    log += data;
    const std::string on_disk = read_file(server.file("cgi.log"));
    EXPECT_EQ(on_disk.size(), log.size()) << c.name;
    EXPECT_TRUE(on_disk == log) << c.name;
  }
}

// The length is read from the command field only: a digit that an earlier
// payload left in the buffer right behind the field is not part of it.
TEST(Tcp1Main, PutLengthEndsWithTheCommandField) {
  ServerProcess server;
  {
    // Byte 23 of this payload, which stays in the buffer, is a '7'.
    std::string payload = "append_log"s + '\0' + "abcdefghijkl7mn";
    ASSERT_EQ(payload[23], '7');
    RawConnection conn(server.port());
    ASSERT_TRUE(
        conn.Send(RequestHeader("PUT", std::to_string(payload.size())) + payload));
    EXPECT_EQ(conn.ReadToClose(), "NEXTFIN");
  }
  RawConnection conn(server.port());
  ASSERT_TRUE(conn.Send("PUT00000000000000000001"));
  ASSERT_EQ(conn.Read(4), "NEXT");
  ASSERT_TRUE(conn.Send("x"));
  conn.ShutdownWrite();
  EXPECT_EQ(conn.ReadToClose(), "FIN") << "the length was read as 1";
  ASSERT_TRUE(server.WaitForRequests(2));
  EXPECT_EQ(server.RequestOutput(2),
            "connected... PUT00000000000000000001\nCOMMAND END not found\n");
}

// A PUT whose client goes away in the middle is dropped without "FIN";
// nothing reaches cgi.log, no descriptor is left open and the next client is
// served.
TEST(Tcp1Main, PutCutShortIsDroppedWithoutFin) {
  static const struct {
    const char *name;
    int length;
    std::string sent;  // after the first "NEXT"
    bool reset;        // close with a reset instead of a half-close
  } cases[] = {
      {"close after part of a block", 20, "append_log"s + '\0' + "ab", false},
      {"close after the first block", 1030, append_log_payload(pattern(1013)), false},
      {"reset after part of a block", 20, "append_log"s + '\0' + "ab", true},
      {"close before any byte", 5, "", false},
  };
  ServerProcess server;
  ASSERT_TRUE(server.WaitForRequests(0));
  const int descriptors = server.DescriptorCount();
  int requests = 0;
  for (const auto &c : cases) {
    const std::string head = RequestHeader("PUT", std::to_string(c.length));
    {
      RawConnection conn(server.port());
      ASSERT_TRUE(conn.connected()) << c.name;
      ASSERT_TRUE(conn.Send(head)) << c.name;
      ASSERT_EQ(conn.Read(4), "NEXT") << c.name;
      ASSERT_TRUE(conn.Send(c.sent)) << c.name;
      if (c.reset) {
        conn.Reset();
      } else {
        conn.ShutdownWrite();
        const auto rest = conn.ReadToClose();
        ASSERT_TRUE(rest.has_value()) << c.name;
        // A full first block is released with a second "NEXT", never "FIN".
        EXPECT_EQ(rest->find("FIN"), std::string::npos) << c.name;
      }
    }
    ASSERT_TRUE(server.WaitForRequests(++requests)) << c.name;
    EXPECT_EQ(server.RequestOutput(requests), "connected... " + head + "\n") << c.name;
    EXPECT_FALSE(testing_support::file_exists(server.file("cgi.log"))) << c.name;
    ExpectServed(server, c.name);
    ASSERT_TRUE(server.WaitForRequests(++requests)) << c.name;
    EXPECT_EQ(server.DescriptorCount(), descriptors) << c.name;
  }
}

// A client that is gone by the time the server answers: the send fails with
// an error instead of ending the server, and the next client is served. The
// first connection keeps the server busy so that the second one is reset
// while it waits in the queue.
TEST(Tcp1Main, SendToAResetClientFailsAndTheServerGoesOn) {
  ServerProcess server;
  RawConnection busy(server.port());
  ASSERT_TRUE(busy.connected());
  ASSERT_TRUE(server.WaitForOutput("connected... ").find("connected... ") !=
              std::string::npos);
  {
    RawConnection gone(server.port());
    ASSERT_TRUE(gone.connected());
    ASSERT_TRUE(gone.Send(RequestHeader("PUT", "2000") + "append_log"s + '\0'));
    gone.Reset();
  }
  ASSERT_TRUE(busy.Send(RequestHeader("GET", "x")));
  EXPECT_EQ(busy.ReadToClose(), "LEN-000000001");
  ASSERT_TRUE(server.WaitForRequests(2));
  // The header was queued before the reset; the "NEXT" that follows it
  // cannot go out.
  EXPECT_EQ(server.RequestOutput(2),
            "connected... " + RequestHeader("PUT", "2000") + "\nsend() error\n");
  ExpectServed(server, "after the reset client");
  ASSERT_TRUE(server.WaitForRequests(3));
  EXPECT_FALSE(testing_support::file_exists(server.file("cgi.log")));
}

// GET replies reach the client whole: the same bytes as the handler writes
// when called directly on default settings.
TEST(Tcp1Main, GetRepliesArriveAsTheHandlerWroteThem) {
  static const char *const names[] = {"IFC_get_stat", "IFC_get_Tot_Twt_1",
                                      "IFC_get_on_off_1"};
  ServerProcess server;
  const ifc::endpoint ep = server.endpoint();
  int requests = 0;
  for (const char *name : names) {
    std::string expected;
    {
      testing_support::ScopedWorkDir dir;
      static char buf[256001];
      const int n = ether_get_data(RequestHeader("", name).substr(0, 20).c_str(), buf);
      ASSERT_GE(n, 0) << name;
      expected.assign(buf, static_cast<size_t>(n));
    }
    const ifc::get_result r = ifc::get(ep, name);
    EXPECT_EQ(r.error, ifc::client_error::none) << name << ": " << r.message;
    EXPECT_EQ(r.length, static_cast<int>(expected.size())) << name;
    EXPECT_EQ(r.reply, expected) << name;
    ASSERT_TRUE(server.WaitForRequests(++requests)) << name;
    EXPECT_EQ(server.RequestOutput(requests),
              "connected... " + RequestHeader("GET", name) + "\n")
        << name;
  }
}

// What one connection leaves flushed on stdout: "connected... " always, and
// each of the loop's four error lines with what came before it; the header
// line and the dispatch lines of a GET or PUT wait for the next flush. The
// connection is served in a child that ends without flushing.
TEST(Tcp1Main, ConnectionFlushesOnlyAfterConnectedAndTheErrorLines) {
  const std::string put_big = RequestHeader("PUT", "256001");
  const std::string short_head = RequestHeader("GET", "IFC_get_stat").substr(0, 22);
  static const struct {
    const char *name;
    std::string sent;  // then a half-close
    bool reset;        // a reset instead
    int debug;
    std::string flushed;
  } cases[] = {
      {"close at once", "", false, 1, "connected... \nerror: command len\n"},
      {"short header", short_head, false, 1,
       "connected... " + short_head + "\nerror: command len\n"},
      {"reset before the header", "", true, 1,
       "connected... main(): ether_recv_unit_data\n"},
      {"unknown verb", RequestHeader("DEL", "x"), false, 1,
       "connected... " + RequestHeader("DEL", "x") + "\nerror: UNKNOWN COMMAND\n"},
      {"PUT too big", put_big, false, 1,
       "connected... " + put_big + "\nerror: TOO BIG DATA\n"},
      {"GET", RequestHeader("GET", "no_such_command"), false, 1, "connected... "},
      {"PUT of length 0", RequestHeader("PUT", "0"), false, 1, "connected... "},
      {"PUT of an unknown name", RequestHeader("PUT", "2") + "x\0"s, false, 1,
       "connected... "},
      {"PUT without NUL", RequestHeader("PUT", "2") + "xy", false, 1, "connected... "},
      {"quiet: close at once", "", false, 0, "error: command len\n"},
      {"quiet: PUT too big", put_big, false, 0, "error: TOO BIG DATA\n"},
      {"quiet: GET", RequestHeader("GET", "no_such_command"), false, 0, ""},
  };
  for (const auto &c : cases) {
    testing_support::ConnectedPair conn;
    ASSERT_TRUE(conn.peer().Send(c.sent)) << c.name;
    if (c.reset) {
      conn.peer().Reset();
    } else {
      conn.peer().ShutdownWrite();
    }
    const std::string flushed = testing_support::run_in_child_flushed_stdout([&] {
      deb_tcp1_main = static_cast<std::int16_t>(c.debug);
      tcp1_handle_connection(conn.server());
    });
    EXPECT_EQ(flushed, c.flushed) << c.name;
  }
}

// With deb_tcp1_main off the progress lines go, the error lines stay.
TEST(Tcp1Main, DebugSwitchOffLeavesOnlyTheErrorLines) {
  ServerProcess server([] { deb_tcp1_main = 0; });
  const ifc::endpoint ep = server.endpoint();
  EXPECT_EQ(ifc::get(ep, "x").length, -1);
  RawConnection conn(server.port());
  ASSERT_TRUE(conn.Send(RequestHeader("get", "x")));
  EXPECT_EQ(conn.ReadToClose(), "");
  EXPECT_EQ(server.WaitForOutput("UNKNOWN COMMAND\n"), "error: UNKNOWN COMMAND\n");
}

// accept failing (here: no descriptor left) is reported with perror and the
// loop tries again at once, without pause: one line on stderr per attempt,
// and no descriptor is taken meanwhile. Once descriptors are free, the
// client that waited in the backlog is served.
TEST(Tcp1Main, AcceptFailureIsReportedAndTheLoopGoesOn) {
  // The child keeps 0, 1, 2 and the listening socket (3): no room for a
  // connection.
  ServerProcess server([] { testing_support::LimitOwnDescriptors(4); });
  RawConnection conn(server.port());
  ASSERT_TRUE(conn.connected());
  ASSERT_TRUE(conn.Send(RequestHeader("GET", "x")));
  const std::string expected = "server: accept: "s + std::strerror(EMFILE) + "\n";
  ASSERT_THAT(server.WaitForStderr(expected), HasSubstr(expected)) << server.Output();
  const auto spin_start = std::chrono::steady_clock::now();
  EXPECT_GE(
      CountOccurrences(
          server.WaitForStderr(expected, testing_support::kDefaultWait, 1000), expected),
      1000);
  std::cout << "accept spin: 1000 failed accepts in "
            << std::chrono::duration<double>(std::chrono::steady_clock::now() -
                                             spin_start)
                   .count()
            << " s" << std::endl;
  EXPECT_EQ(server.DescriptorCount(), 4);

  rlimit lim;
  getrlimit(RLIMIT_NOFILE, &lim);
  ASSERT_TRUE(server.SetDescriptorLimit(lim.rlim_cur)) << std::strerror(errno);
  EXPECT_EQ(conn.ReadToClose(), "LEN-000000001");
  // The server closes a connection before the client sees the end of it.
  EXPECT_EQ(server.DescriptorCount(), 4);
  ExpectServed(server, "after the shortage");
  // Nothing but accept reports on stderr.
  const std::string err = server.Stderr();
  EXPECT_EQ(CountOccurrences(err, expected) * expected.size(), err.size());
}

// Start-up failures end tcp1_main with a nonzero status after the line.
TEST(Tcp1Main, StartUpFailureEndsWithItsLines) {
  int taken = -1;
  ASSERT_EQ(ether_init(&taken, 0), 1);
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  ASSERT_EQ(getsockname(taken, reinterpret_cast<sockaddr *>(&addr), &len), 0);
  const std::uint16_t port = ntohs(addr.sin_port);

  static const struct {
    const char *name;
    bool no_descriptors;
    std::string err;
  } cases[] = {
      {"port taken", false, "server: bind: "s + std::strerror(EADDRINUSE) + "\n"},
      {"no descriptor for the socket", true, "server: socket()\n"},
  };
  for (const auto &c : cases) {
    ChildProcess child([&c, port] {
      if (c.no_descriptors) {
        rlimit lim;
        getrlimit(RLIMIT_NOFILE, &lim);
        lim.rlim_cur = 3;
        setrlimit(RLIMIT_NOFILE, &lim);
      }
      return tcp1_main(port);
    });
    const auto status = child.WaitForExit();
    ASSERT_TRUE(status.has_value()) << c.name;
    ASSERT_TRUE(WIFEXITED(*status)) << c.name;
    EXPECT_NE(WEXITSTATUS(*status), 0) << c.name;
    EXPECT_EQ(child.Output(), "Can't initialize sever socket.\n") << c.name;
    EXPECT_EQ(child.Stderr(), c.err) << c.name;
  }
  close(taken);
}

}  // namespace
