// What the pages refuse: bad input (400), changes from other sites (403),
// requests of the wrong kind (405, 413, 415), and a controller that cannot
// be reached (502). None of them may send anything to the controller.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ifcsim/lib_client.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "cgi.hpp"

namespace console_test {
namespace {

using ConsoleRefusals = ConsoleTest;

TEST_F(ConsoleRefusals, BadInputNamesTheFieldAndSendsNothing) {
  const std::string long_name = "colour=1&" + std::string(130, 'q') + "=1";
  // clang-format off
  const struct {
    const char *name, *page, *input, *field;  // input: a GET's query, or a POST's body
    bool get = false;
  } cases[] = {
      {"not a number", "targets.cgi", "to1=abc&tw1=240", "to1"},
      {"beyond 32 bits", "targets.cgi", "to1=2147483648&tw1=1", "to1"},
      {"below 32 bits", "valves.cgi", "colour=1&pin_on=-2147483649", "pin_on"},
      {"half a target", "targets.cgi", "to1=5", "tw1"},
      {"bad escape", "targets.cgi", "to1=%zz&tw1=1", "to1"},
      {"unknown valve item", "valves.cgi", "colour=2&cutter_on=5", "cutter_on"},
      {"markup as a field name", "valves.cgi", "colour=1&%3Cscript%3E=1", "&lt;script&gt;"},
      {"field name too long", "valves.cgi", long_name.c_str(), "(a field name)"},
      {"colour number 7", "valves.cgi", "colour=7&main_on=1", "colour"},
      {"change without a colour number", "valves.cgi", "main_on=1", "colour"},
      {"colour number in the address", "valves.cgi", "colour=0", "colour", true},
      {"flag not a number", "selection.cgi", "action=flags&pin=x", "pin"},
      {"unknown action", "selection.cgi", "action=zap", "action"},
      {"status incomplete", "selection.cgi", "action=status&color=1&mode=0", "totw_sw"},
      {"unknown histogram item", "histograms.cgi", "action=select&side=LEFT&colour=1&item=xx", "item"},
      {"side in lower case", "histograms.cgi", "action=select&side=left&colour=1&item=tw", "side"},
      {"clear request too long", "histograms.cgi", "action=clear&colour=-123456&item=tw_tbw", "colour"},
      {"set request too long", "histograms.cgi",
       "action=set&lc=1&litem=tw_tbw&lt=10&rc=2&ritem=tw_tbw&rt=10&samp=123456789", "samp"},
      {"empty note", "letoff.cgi", "action=log&note=", "note"},
      {"note of two lines", "letoff.cgi", "action=log&note=a%0Dfake%0A", "note"},
      {"NUL in the button text", "letoff.cgi", "action=btnstat&text=a%00b", "text"},
      {"body shorter than announced", "letoff.cgi", "", "request body"},
  };
  // clang-format on
  for (const auto &c : cases) {
    std::vector<std::string> env;
    if (*c.input == '\0') env.push_back("CONTENT_LENGTH=10");
    cgi_response r = c.get ? get(c.page, c.input) : post(c.page, c.input, env);
    EXPECT_EQ(r.exit_status, 0) << c.name;
    EXPECT_EQ(r.status, 400) << c.name;
    EXPECT_EQ(shown(r.body, "field"), c.field) << c.name;
    EXPECT_EQ(served(), std::vector<std::string>{}) << c.name;
  }
  EXPECT_FALSE(testing_support::file_exists(server_.file("ifc_set.set")));
  EXPECT_FALSE(testing_support::file_exists(server_.file("valve_fp.set")));
}

TEST_F(ConsoleRefusals, RequestsThatAreNotChangesFromTheConsole) {
  // clang-format off
  const struct {
    const char *name, *page, *method;
    std::vector<std::string> env;
    int status;
    const char *allow;
  } cases[] = {
      {"other origin", "targets.cgi", "POST", {"HTTP_ORIGIN=http://evil.example"}, 403, nullptr},
      {"referer of another site", "targets.cgi", "POST",
       {"HTTP_ORIGIN", "HTTP_REFERER=http://127.0.0.1:8080.evil/x"}, 403, nullptr},
      {"neither origin nor referer", "targets.cgi", "POST", {"HTTP_ORIGIN"}, 403, nullptr},
      {"host name pointed here", "targets.cgi", "POST",
       {"HTTP_HOST=evil.example:8080", "HTTP_ORIGIN=http://evil.example:8080"}, 403, nullptr},
      {"a page that takes no changes", "overview.cgi", "POST", {}, 405, "GET, HEAD"},
      {"PUT", "targets.cgi", "PUT", {}, 405, "GET, HEAD, POST"},
      {"multipart form", "targets.cgi", "POST", {"CONTENT_TYPE=multipart/form-data; boundary=x"}, 415, nullptr},
      {"body too large", "letoff.cgi", "POST", {"CONTENT_LENGTH=65537"}, 413, nullptr},
  };
  // clang-format on
  for (const auto &c : cases) {
    cgi_response r = run(c.page, c.method, "", "to1=1&tw1=1", c.env);
    EXPECT_EQ(r.exit_status, 0) << c.name;
    EXPECT_EQ(r.status, c.status) << c.name;
    EXPECT_EQ(shown(r.body, "error@data-status"), std::to_string(c.status)) << c.name;
    EXPECT_EQ(r.headers["Allow"], c.allow ? c.allow : "") << c.name;
    EXPECT_EQ(served(), std::vector<std::string>{}) << c.name;
  }
  // Without an Origin, the Referer of the console's own page is enough.
  cgi_response r =
      post("targets.cgi", "to1=91&tw1=241",
           {"HTTP_ORIGIN", "HTTP_REFERER=http://127.0.0.1:8080/cgi-bin/targets.cgi"});
  EXPECT_EQ(r.status, 303);
  EXPECT_EQ(served(), std::vector<std::string>{"PUT"});
}

TEST_F(ConsoleRefusals, UnreachableControllerIsNamedWithTheReason) {
  // A port that refuses connections (bound, never listening), and one that
  // takes them into its backlog and never answers.
  int refusing = socket(AF_INET, SOCK_STREAM, 0),
      silent = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  for (int fd : {refusing, silent})
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
  ASSERT_EQ(listen(silent, 8), 0);
  const std::string refused = std::to_string(testing_support::LocalPort(refusing));
  const std::string quiet = std::to_string(testing_support::LocalPort(silent));
  // clang-format off
  const struct {
    const char *name, *page, *body;
    std::string port, address;
    int code;
    const char *command;
  } cases[] = {
      {"refused", "overview.cgi", nullptr, refused, refused, IFC_ECONNECT, "IFC_get_stat"},
      {"refused change", "targets.cgi", "to2=1&tw2=2", refused, refused, IFC_ECONNECT, "IFC_set_to_tw_2"},
      {"no answer", "measurements.cgi", nullptr, quiet, quiet, IFC_ETIMEOUT, "IFC_get_histo_ave_1"},
      {"no valid port setting", "valves.cgi", nullptr, "90000", "9000", IFC_ESETTING, "IFC_get_on_off_1"},
  };
  // clang-format on
  for (const auto &c : cases) {
    std::vector<std::string> env = {"IFCSIM_PORT=" + c.port, "IFCSIM_TIMEOUT_MS=300"};
    cgi_response r = c.body ? post(c.page, c.body, env) : run(c.page, "GET", "", "", env);
    EXPECT_EQ(r.exit_status, 0) << c.name;
    EXPECT_EQ(r.status, 502) << c.name;
    EXPECT_EQ(shown(r.body, "address"), "127.0.0.1:" + c.address) << c.name;
    EXPECT_EQ(shown(r.body, "command"), c.command) << c.name;
    EXPECT_EQ(shown(r.body, "reason"), ifc_strerror(c.code)) << c.name;
    EXPECT_TRUE(shown(r.body, "retry@href").starts_with(c.page)) << c.name;
  }
  close(refusing);
  close(silent);
}

}  // namespace
}  // namespace console_test
