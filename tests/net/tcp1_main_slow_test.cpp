// The server loop against the clock: silent clients and the transfer
// deadline, end to end.
#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <string>
#include <thread>

#include "net/ether_com.hpp"
#include "support/server_process.hpp"

namespace {

using namespace std::string_literals;
using testing_support::file_exists;
using testing_support::RawConnection;
using testing_support::read_file;
using testing_support::RequestHeader;
using testing_support::ServerProcess;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

// A client that falls silent holds the server for one wait of 5 seconds;
// then it is dropped with nothing more sent, and the next client is served.
TEST(Tcp1MainSlow, SilentClientIsDroppedAfterFiveSeconds) {
  const std::string put_head = RequestHeader("PUT", "5");
  const std::string get_head = RequestHeader("GET", "IFC_get_Tot_Twt_1");
  static const struct {
    const char *name;
    std::string sent;
    bool ether_com_debug;
    std::string reply;
    std::string printed;
  } cases[] = {
      {"nothing after connect", "", true, "",
       "connected... \nether_recv_unit_data(): select() timeout\n"
       "main(): ether_recv_unit_data\n"},
      {"22 header bytes", RequestHeader("GET", "x").substr(0, 22), true, "",
       "connected... \nether_recv_unit_data(): select() timeout\n"
       "main(): ether_recv_unit_data\n"},
      {"22 header bytes, ether_com quiet", RequestHeader("GET", "x").substr(0, 22), false,
       "", "connected... main(): ether_recv_unit_data\n"},
      {"PUT without payload", put_head, true, "NEXT",
       "connected... " + put_head + "\n\nether_recv_unit_data(): select() timeout\n"},
      {"PUT without payload, ether_com quiet", put_head, false, "NEXT",
       "connected... " + put_head + "\n"},
      {"GET without \"NEXT\"", get_head, true, "LEN0000000013",
       "connected... " + get_head +
           "\n\nether_recv_unit_data(): select() timeout\n"
           "ether_send_all_data(): ether_recv_unit_data() error\n"},
  };
  for (const auto &c : cases) {
    const bool debug = c.ether_com_debug;
    ServerProcess server([debug] { deb_ether_com = debug ? 1 : 0; });
    RawConnection conn(server.port());
    ASSERT_TRUE(conn.connected()) << c.name;
    ASSERT_TRUE(conn.Send(c.sent)) << c.name;
    const auto last_byte = Clock::now();
    const auto reply = conn.ReadToClose(std::chrono::seconds(15));
    const double held = SecondsSince(last_byte);
    EXPECT_EQ(reply, c.reply) << c.name;
    EXPECT_GE(held, 4.9) << c.name;
    EXPECT_LT(held, 10.0) << c.name;
    ASSERT_TRUE(server.WaitForRequests(1)) << c.name;
    EXPECT_EQ(server.RequestOutput(1), c.printed) << c.name;
    EXPECT_EQ(server.Get("no_such_command"), "<len -1>") << c.name;
    EXPECT_FALSE(file_exists(server.file("cgi.log"))) << c.name;
  }
}

// The deadline (10 s) is checked only before a block: a block trickled one
// byte every 4 seconds (each wait stays under 5 s) runs on past it, but no
// block starts after it. All that while the one-at-a-time server holds a
// second client in the backlog.
TEST(Tcp1MainSlow, TrickledBlockOutlivesTheDeadlineButNoBlockStartsAfterIt) {
  static const struct {
    const char *name;
    int payload_size;  // data part of an append_log request
    bool taken;
  } cases[] = {
      {"single block trickled past the deadline", 11 + 4, true},
      {"second block after the deadline", 1024 + 4, false},
  };
  for (const auto &c : cases) {
    ServerProcess server;
    const std::string payload =
        "append_log"s + '\0' + std::string(c.payload_size - 11, 'd');
    RawConnection conn(server.port());
    ASSERT_TRUE(conn.Send(RequestHeader("PUT", std::to_string(payload.size()))))
        << c.name;
    ASSERT_EQ(conn.Read(4), "NEXT") << c.name;
    const auto start = Clock::now();
    RawConnection other(server.port());
    ASSERT_TRUE(other.Send(RequestHeader("GET", "IFC_get_Tot_Twt_1") + "NEXT")) << c.name;
    const size_t first_block = std::min<size_t>(payload.size(), 1024);
    // All but the last three bytes of the first block at once, then one byte
    // every 4 seconds: the block ends 12 s after it began.
    ASSERT_TRUE(conn.Send(payload.substr(0, first_block - 3))) << c.name;
    for (size_t i = first_block - 3; i < first_block; ++i) {
      std::this_thread::sleep_for(std::chrono::seconds(4));
      ASSERT_TRUE(conn.Send(payload.substr(i, 1))) << c.name;
    }
    EXPECT_EQ(other.Read(1, testing_support::Millis(0)), "")
        << c.name << ": the client behind was served meanwhile";
    if (c.taken) {
      EXPECT_EQ(conn.Read(3), "FIN") << c.name;
      EXPECT_EQ(conn.ReadToClose(), "") << c.name;
      EXPECT_GT(SecondsSince(start), 10.0) << c.name << ": the block ended in time";
      ASSERT_TRUE(server.WaitForRequests(1)) << c.name;
      EXPECT_EQ(read_file(server.file("cgi.log")), payload.substr(11)) << c.name;
    } else {
      EXPECT_EQ(conn.ReadToClose(), "") << c.name << ": no NEXT, no FIN";
      ASSERT_TRUE(server.WaitForRequests(1)) << c.name;
      EXPECT_EQ(server.RequestOutput(1),
                "connected... " + RequestHeader("PUT", std::to_string(payload.size())) +
                    "\nether_recv_all_data(): time_out\n")
          << c.name;
      EXPECT_FALSE(file_exists(server.file("cgi.log"))) << c.name;
    }
    const double held = SecondsSince(start);
    EXPECT_EQ(other.ReadToClose(), "LEN0000000013to:90 tw:240 ") << c.name;
    std::cout << c.name << ": the trickle held the server " << held
              << " s (deadline 10 s); the client behind it was served after "
              << SecondsSince(start) << " s" << std::endl;
  }
}

}  // namespace
