// The C++ client: what its layer over the C client adds (strings, the -1 of
// an unknown name, error kinds with messages). The framing itself is tested
// in tests/lib/lib_client_test.cpp.
#include "client/ifc_client.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/scripted_server.hpp"
#include "support/server_process.hpp"

namespace {

using namespace std::string_literals;
using ifc::client_error;
using testing_support::read_file;
using testing_support::RequestHeader;
using testing_support::ScriptedServer;
using testing_support::ServerProcess;

TEST(IfcClient, TalksToTheServer) {
  ServerProcess server;
  ifc::endpoint ep;
  ep.host = "localhost";
  ep.port = server.port();

  const ifc::get_result unknown = ifc::get(ep, "no_such_command");
  EXPECT_EQ(unknown.error, client_error::none) << unknown.message;
  EXPECT_EQ(unknown.length, -1);
  EXPECT_EQ(unknown.reply, "");

  const ifc::get_result stat = ifc::get(ep, "IFC_get_stat");
  EXPECT_EQ(stat.error, client_error::none) << stat.message;
  EXPECT_EQ(stat.length, 25);
  EXPECT_EQ(stat.reply, "color:1 mode:0 totw_sw:0 ");

  EXPECT_EQ(ifc::put_payload(ep, "append_log\0one "s).error, client_error::none);
  EXPECT_EQ(ifc::put_payload(ep, "").error, client_error::none);
  EXPECT_EQ(ifc::put(ep, "append_log", "two").error, client_error::none);
  ASSERT_TRUE(server.WaitForRequests(5));
  EXPECT_EQ(server.RequestOutput(4), "connected... " + RequestHeader("PUT", "0") + "\n");
  EXPECT_EQ(read_file(server.file("cgi.log")), "one two");
}

// What the C client cannot be given (a NUL inside a name, a host that does
// not fit), and what it refuses, are usage errors with a message.
TEST(IfcClient, RequestsThatCannotBeSentAreUsageErrors) {
  ifc::endpoint ep;
  ep.port = 1;  // never reached
  ifc::endpoint long_host = ep;
  long_host.host = std::string(256, 'h');
  auto result = [](const auto &r) { return std::pair{r.error, r.message}; };
  const struct {
    const char *name;
    std::pair<client_error, std::string> result;
  } cases[] = {
      {"GET name with a NUL", result(ifc::get(ep, "IFC_get\0stat"s))},
      {"host of 256 characters", result(ifc::get(long_host, "IFC_get_stat"))},
      {"PUT name with a NUL", result(ifc::put(ep, "app\0end"s, "x"))},
      {"PUT text one byte too long",
       result(ifc::put(ep, "append_log", std::string(256000 - 10, 't')))},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(c.result.first, client_error::usage) << c.name;
    EXPECT_NE(c.result.second, "") << c.name;
  }
}

// Each failure of the C client keeps its kind and says what happened.
TEST(IfcClient, FailuresHaveAKindAndAMessage) {
  const testing_support::FullListener full;
  const std::uint16_t nothing = testing_support::FreePort();
  static const struct {
    const char *name;
    std::vector<std::string> steps;  // empty: no server
    bool full_queue;
    client_error error;
    const char *message;
  } cases[] = {
      {"nothing listening", {}, false, client_error::connect, "Connection refused"},
      {"no connection in time", {}, true, client_error::connect, "within 300 ms"},
      {"silent server",
       {"<23", "."},
       false,
       client_error::timeout,
       "no answer within 300 ms"},
      {"closed early", {"<23", ">NEXT"}, false, client_error::closed, "closed"},
      {"ERR!", {"<23", ">ERR!"}, false, client_error::refused, "ERR!"},
      {"bad token", {"<23", ">HELLO"}, false, client_error::protocol, "protocol"},
  };
  for (const auto &c : cases) {
    std::optional<ScriptedServer> server;
    ifc::endpoint ep;
    ep.timeout_ms = 300;
    ep.port = c.full_queue ? full.port() : nothing;
    if (!c.steps.empty()) {
      server.emplace(c.steps);
      ep.port = server->port();
    }
    const ifc::put_result r = ifc::put(ep, "cmd", "x");
    if (server) server->Join();
    EXPECT_EQ(r.error, c.error) << c.name << ": " << r.message;
    EXPECT_NE(r.message.find(c.message), std::string::npos)
        << c.name << ": " << r.message;
  }
  EXPECT_STREQ(ifc::client_error_name(client_error::connect), "connect");
}

}  // namespace
