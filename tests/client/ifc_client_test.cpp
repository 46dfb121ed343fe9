// The C++ client: what its layer over the C client adds (strings, the -1 of
// an unknown name, error kinds with messages). The framing itself is tested
// in tests/lib/lib_client_test.cpp.
#include "client/ifc_client.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
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

TEST(IfcClient, RequestsThatCannotBeSentAreUsageErrors) {
  ifc::endpoint ep;
  ep.port = 1;  // never reached
  ifc::endpoint long_host = ep;
  long_host.host = std::string(256, 'h');
  const struct {
    const char *name;
    std::function<ifc::put_result()> call;
  } cases[] = {
      {"GET name of 21 characters",
       [&] {
         const auto r = ifc::get(ep, std::string(21, 'n'));
         return ifc::put_result{r.error, r.message};
       }},
      {"GET name with a NUL",
       [&] {
         const auto r = ifc::get(ep, "IFC_get\0stat"s);
         return ifc::put_result{r.error, r.message};
       }},
      {"host name of 256 characters",
       [&] {
         const auto r = ifc::get(long_host, "IFC_get_stat");
         return ifc::put_result{r.error, r.message};
       }},
      {"payload of 256001 bytes",
       [&] { return ifc::put_payload(ep, std::string(256001, 'p')); }},
      {"PUT name with a NUL", [&] { return ifc::put(ep, "app\0end"s, "x"); }},
      {"PUT name of 21 characters",
       [&] { return ifc::put(ep, std::string(21, 'n'), "x"); }},
      {"PUT text one byte too long",
       [&] { return ifc::put(ep, "append_log", std::string(256000 - 10, 't')); }},
  };
  for (const auto &c : cases) {
    const ifc::put_result r = c.call();
    EXPECT_EQ(r.error, client_error::usage) << c.name;
    EXPECT_NE(r.message, "") << c.name;
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
