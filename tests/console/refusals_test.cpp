// What the pages refuse: bad input (400, the form shown again), changes from
// other sites (403), requests of the wrong kind (405, 413, 415), and a
// controller that cannot be reached or answers wrongly (502) or too slowly
// (504). None of them may send a change to the controller.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ifcsim/lib_client.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cgi.hpp"
#include "console/page.hpp"
#include "support/scripted_server.hpp"

namespace console_test {
namespace {

using ConsoleRefusals = ConsoleTest;

// A text as the pages write it.
std::string html_text(const std::string &s) {
  console::html h;
  h.text(s);
  return h.str();
}

bool any_put(const std::vector<std::string> &requests) {
  return std::find(requests.begin(), requests.end(), "PUT") != requests.end();
}

TEST_F(ConsoleRefusals, BadInputNamesTheFieldAndSendsNothing) {
  const std::string long_name = "colour=1&" + std::string(130, 'q') + "=1";
  // field: its name; label: as the page names it; typed: what its input
  // shows again (with the problem beside it), when it has an input.
  // clang-format off
  const struct {
    const char *name, *page, *input, *field, *label;  // input: a GET's query, or a POST's body
    const char *typed = nullptr;
    bool get = false;
  } cases[] = {
      {"not a number", "targets.cgi", "to1=abc&tw1=240", "to1", "TO of colour 1", "abc"},
      {"beyond 32 bits", "targets.cgi", "to1=2147483648&tw1=1", "to1", "TO of colour 1", "2147483648"},
      {"below 32 bits", "valves.cgi", "colour=1&pin_on=-2147483649", "pin_on", "pin_on of colour 1", "-2147483649"},
      {"half a target", "targets.cgi", "to1=5", "tw1", "TW of colour 1"},
      {"bad escape", "targets.cgi", "to1=%zz&tw1=1", "to1", "TO of colour 1"},
      {"unknown valve item", "valves.cgi", "colour=2&cutter_on=5", "cutter_on", "cutter_on"},
      {"markup as a field name", "valves.cgi", "colour=1&%3Cscript%3E=1", "<script>", "<script>"},
      {"field name not UTF-8", "valves.cgi", "colour=1&%FF%C3x=1", "\xFF\xC3x", "\uFFFD\uFFFDx"},
      {"field name too long", "valves.cgi", long_name.c_str(), "(a field name)", "(a field name)"},
      {"colour number 7", "valves.cgi", "colour=7&main_on=1", "colour", "colour number"},
      {"change without a colour number", "valves.cgi", "main_on=1", "colour", "colour number"},
      {"colour number in the address", "valves.cgi", "colour=0", "colour", "colour number", nullptr, true},
      {"flag not a number", "selection.cgi", "action=flags&pin=x", "pin", "flag pin"},
      {"unknown action", "selection.cgi", "action=zap", "action", "the form's action"},
      {"status incomplete", "selection.cgi", "action=status&color=1&mode=0", "totw_sw", "totw_sw of the status"},
      {"unknown histogram item", "histograms.cgi", "action=select&side=LEFT&colour=1&item=xx", "item", "item of the left histogram"},
      {"side in lower case", "histograms.cgi", "action=select&side=left&colour=1&item=tw", "side", "histogram side"},
      {"clear request too long", "histograms.cgi", "action=clear&colour=-123456&item=tw_tbw", "colour", "colour to clear"},
      {"set request too long", "histograms.cgi",
       "action=set&lc=1&litem=tw_tbw&lt=10&rc=2&ritem=tw_tbw&rt=10&samp=123456789", "samp", "samp", "123456789"},
      {"empty note", "letoff.cgi", "action=log&note=", "note", "log note"},
      {"note of two lines", "letoff.cgi", "action=log&note=a%0Dfake%0A", "note", "log note", "a\rfake\n"},
      {"escape sequence in the button text", "letoff.cgi", "action=btnstat&text=%1B%5B2J", "text", "button text", "\x1B[2J"},
      {"C1 control in the button text", "letoff.cgi", "action=btnstat&text=a%C2%9Bb", "text", "button text"},
      {"NUL in the button text", "letoff.cgi", "action=btnstat&text=a%00b", "text", "button text"},
      {"body shorter than announced", "letoff.cgi", "", "request body", "request body"},
  };
  // clang-format on
  for (const auto &c : cases) {
    std::vector<std::string> env;
    if (*c.input == '\0') env.push_back("CONTENT_LENGTH=10");
    cgi_response r = c.get ? get(c.page, c.input) : post(c.page, c.input, env);
    EXPECT_EQ(r.exit_status, 0) << c.name;
    EXPECT_EQ(r.status, 400) << c.name;
    EXPECT_EQ(shown(r.body, "field"), html_text(c.label)) << c.name;
    EXPECT_EQ(shown(r.body, "field@data-field"), html_text(c.field)) << c.name;
    if (c.typed) {
      EXPECT_EQ(shown(r.body, std::string(c.field) + "@value"), html_text(c.typed))
          << c.name;
      EXPECT_NE(shown(r.body, std::string("why-") + c.field), "") << c.name;
    }
    EXPECT_FALSE(any_put(served())) << c.name;
  }
  EXPECT_EQ(file("cgi.log"), "");
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
  EXPECT_EQ(served(), (std::vector<std::string>{"PUT", "GET IFC_get_Tot_Twt_1"}));
}

TEST_F(ConsoleRefusals, ControllerThatFailsIsNamedWithTheReason) {
  // A port that refuses connections (bound, never listening), one that takes
  // them into its backlog and never answers, one that answers nonsense, and
  // one that sends a long reply a byte at a time, each within the wait but
  // far beyond the page's deadline.
  int refusing = socket(AF_INET, SOCK_STREAM, 0),
      silent = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  for (int fd : {refusing, silent})
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
  ASSERT_EQ(listen(silent, 8), 0);
  const std::string refused = std::to_string(testing_support::LocalPort(refusing));
  const std::string quiet = std::to_string(testing_support::LocalPort(silent));
  testing_support::ScriptedServer nonsense(
      {"<23", ">LEN0000000005", "<4", ">hello", "."});
  std::vector<std::string> trickle = {"<23", ">LEN0000001000", "<4"};
  for (int i = 0; i < 1000; ++i) trickle.insert(trickle.end(), {">x", "=50"});
  testing_support::ScriptedServer slow(trickle);
  // Its waits are long enough; the page's deadline is not.
  const std::vector<std::string> deadline = {"IFCSIM_TIMEOUT_MS=5000",
                                             "IFCSIM_PAGE_DEADLINE_MS=400"};
  // clang-format off
  const struct {
    const char *name, *page, *body;
    std::string port, address;
    std::vector<std::string> env;
    int status;
    const char *title;
    int code;
    const char *command, *detail;
  } cases[] = {
      {"refused", "overview.cgi", nullptr, refused, refused, {}, 502, "Controller not reachable", IFC_ECONNECT, "IFC_get_stat", ""},
      {"refused change", "targets.cgi", "to2=1&tw2=2", refused, refused, {}, 502, "Controller not reachable", IFC_ECONNECT, "IFC_set_to_tw_2", ""},
      {"no answer", "measurements.cgi", nullptr, quiet, quiet, {}, 504, "Controller too slow", IFC_ETIMEOUT, "IFC_get_histo_ave_1", ""},
      {"reply of another form", "overview.cgi", nullptr, std::to_string(nonsense.port()), std::to_string(nonsense.port()), {},
       502, "Unexpected answer from the controller", IFC_EFORM, "IFC_get_stat", " (the reply is not of the expected form)"},
      {"page deadline", "selection.cgi", nullptr, std::to_string(slow.port()), std::to_string(slow.port()), deadline,
       504, "Controller too slow", IFC_ETIMEOUT, "IFC_get_select_item", " (the page's deadline of 400 ms (IFCSIM_PAGE_DEADLINE_MS) passed)"},
      {"no valid port setting", "valves.cgi", nullptr, "90000", "9000", {}, 502, "Controller not reachable", IFC_ESETTING, "IFC_get_on_off_1", ""},
      {"no valid page deadline", "valves.cgi", nullptr, refused, refused, {"IFCSIM_PAGE_DEADLINE_MS=0"}, 502, "Controller not reachable", IFC_ESETTING, "IFC_get_on_off_1", ""},
  };
  // clang-format on
  for (const auto &c : cases) {
    std::vector<std::string> env = {"IFCSIM_PORT=" + c.port, "IFCSIM_TIMEOUT_MS=300"};
    env.insert(env.end(), c.env.begin(), c.env.end());
    cgi_response r = c.body ? post(c.page, c.body, env) : run(c.page, "GET", "", "", env);
    EXPECT_EQ(r.exit_status, 0) << c.name;
    EXPECT_EQ(r.status, c.status) << c.name;
    EXPECT_EQ(shown(r.body, "error@data-status"), std::to_string(c.status)) << c.name;
    EXPECT_EQ(shown(r.body, "title"), c.title) << c.name;
    EXPECT_EQ(shown(r.body, "address"), "127.0.0.1:" + c.address) << c.name;
    EXPECT_EQ(shown(r.body, "command"), c.command) << c.name;
    EXPECT_EQ(shown(r.body, "reason"),
              html_text(ifc_strerror(c.code) + std::string(c.detail)))
        << c.name;
    EXPECT_TRUE(shown(r.body, "retry@href").starts_with(c.page)) << c.name;
  }
  close(refusing);
  close(silent);
}

}  // namespace
}  // namespace console_test
