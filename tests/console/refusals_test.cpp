// What the pages refuse: bad input (400), changes from other sites (403),
// requests of the wrong kind (405, 413, 415), and a controller that cannot
// be reached (502). None of them may send anything to the controller.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ifcsim/lib_client.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "cgi.hpp"

namespace console_test {
namespace {

using ConsoleRefusals = ConsoleTest;

TEST_F(ConsoleRefusals, BadInputNamesTheFieldAndSendsNothing) {
  static const struct {
    const char *name, *page, *method, *input, *field;
  } cases[] = {
      {"not a number", "targets.cgi", "POST", "to1=abc&tw1=240", "to1"},
      {"beyond 32 bits", "targets.cgi", "POST", "to1=2147483648&tw1=1", "to1"},
      {"below 32 bits", "valves.cgi", "POST", "colour=1&pin_on=-2147483649", "pin_on"},
      {"missing partner", "targets.cgi", "POST", "to1=5", "tw1"},
      {"bad escape", "targets.cgi", "POST", "to1=%zz&tw1=1", "to1"},
      {"unknown valve item", "valves.cgi", "POST", "colour=2&cutter_on=5", "cutter_on"},
      {"markup as a field name", "valves.cgi", "POST", "colour=1&%3Cscript%3E=1",
       "&lt;script&gt;"},
      {"colour number 7", "valves.cgi", "POST", "colour=7&main_on=1", "colour"},
      {"colour number in the address", "valves.cgi", "GET", "colour=0", "colour"},
      {"flag not a number", "selection.cgi", "POST", "action=flags&pin=x", "pin"},
      {"unknown action", "selection.cgi", "POST", "action=zap", "action"},
      {"status incomplete", "selection.cgi", "POST", "action=status&color=1&mode=0",
       "totw_sw"},
      {"unknown histogram item", "histograms.cgi", "POST",
       "action=select&side=LEFT&colour=1&item=xx", "item"},
      {"side in lower case", "histograms.cgi", "POST",
       "action=select&side=left&colour=1&item=tw", "side"},
      {"clear request too long", "histograms.cgi", "POST",
       "action=clear&colour=-123456&item=tw_tbw", "colour"},
      {"set request too long", "histograms.cgi", "POST",
       "action=set&lc=1&litem=tw_tbw&lt=10&rc=2&ritem=tw_tbw&rt=10&samp=123456789",
       "samp"},
      {"empty note", "letoff.cgi", "POST", "action=log&note=", "note"},
      {"NUL in the button text", "letoff.cgi", "POST", "action=btnstat&text=a%00b",
       "text"},
      {"body shorter than announced", "letoff.cgi", "POST", "", "request body"},
  };
  for (const auto &c : cases) {
    bool is_post = std::string(c.method) == "POST";
    std::vector<std::string> env;
    if (*c.input == '\0') env.push_back("CONTENT_LENGTH=10");
    cgi_response r =
        run(c.page, c.method, is_post ? "" : c.input, is_post ? c.input : "", env);
    EXPECT_EQ(r.exit_status, 0) << c.name;
    EXPECT_EQ(r.status, 400) << c.name;
    EXPECT_EQ(text_of(r.body, "field"), c.field) << c.name;
    EXPECT_EQ(served(), std::vector<std::string>{}) << c.name;
  }
  EXPECT_FALSE(testing_support::file_exists(server_.file("ifc_set.set")));
  EXPECT_FALSE(testing_support::file_exists(server_.file("valve_fp.set")));
}

TEST_F(ConsoleRefusals, RequestsThatAreNotChangesFromTheConsole) {
  static const struct {
    const char *name, *page, *method;
    std::vector<std::string> env;
    int status;
    const char *allow;
  } cases[] = {
      {"other origin",
       "targets.cgi",
       "POST",
       {"HTTP_ORIGIN=http://evil.example"},
       403,
       ""},
      {"other port",
       "targets.cgi",
       "POST",
       {"HTTP_ORIGIN=http://127.0.0.1:8081"},
       403,
       ""},
      {"referer of another site",
       "targets.cgi",
       "POST",
       {"HTTP_ORIGIN", "HTTP_REFERER=http://127.0.0.1:8080.evil/x"},
       403,
       ""},
      {"neither origin nor referer", "targets.cgi", "POST", {"HTTP_ORIGIN"}, 403, ""},
      {"a page that takes no changes", "overview.cgi", "POST", {}, 405, "GET, HEAD"},
      {"PUT", "targets.cgi", "PUT", {}, 405, "GET, HEAD, POST"},
      {"multipart form",
       "targets.cgi",
       "POST",
       {"CONTENT_TYPE=multipart/form-data; boundary=x"},
       415,
       ""},
      {"body too large", "letoff.cgi", "POST", {"CONTENT_LENGTH=65537"}, 413, ""},
  };
  for (const auto &c : cases) {
    cgi_response r = run(c.page, c.method, "", "to1=1&tw1=1", c.env);
    EXPECT_EQ(r.exit_status, 0) << c.name;
    EXPECT_EQ(r.status, c.status) << c.name;
    EXPECT_EQ(attr_of(r.body, "error", "data-status"), std::to_string(c.status))
        << c.name;
    if (*c.allow) {
      EXPECT_EQ(r.headers["Allow"], c.allow) << c.name;
    }
    EXPECT_EQ(served(), std::vector<std::string>{}) << c.name;
  }
  // The Referer of the console's own page is enough when a browser sends no Origin.
  cgi_response r =
      post("targets.cgi", "to1=91&tw1=241",
           {"HTTP_ORIGIN", "HTTP_REFERER=http://127.0.0.1:8080/cgi-bin/targets.cgi"});
  EXPECT_EQ(r.status, 303);
  EXPECT_EQ(served(), std::vector<std::string>{"PUT"});
}

// A port on which nothing listens, and one that accepts connections into
// its backlog but never answers.
class ConsoleUnreachable : public ConsoleTest {
 protected:
  void SetUp() override {
    for (int *fd : {&closed_, &silent_}) {
      *fd = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      ASSERT_EQ(bind(*fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    }
    ASSERT_EQ(listen(silent_, 8), 0);
    closed_port_ = testing_support::LocalPort(closed_);
    silent_port_ = testing_support::LocalPort(silent_);
    close(closed_);  // bound, never listened: connections are refused
  }
  void TearDown() override { close(silent_); }
  int closed_ = -1, silent_ = -1;
  uint16_t closed_port_ = 0, silent_port_ = 0;
};

TEST_F(ConsoleUnreachable, PagesSayWhichControllerAndWhy) {
  std::string refused = std::to_string(closed_port_),
              silent = std::to_string(silent_port_);
  static const struct {
    const char *name, *page, *method, *body;
    bool silent;
    const char *port;
    int code;
    const char *command;
  } cases[] = {
      {"refused", "overview.cgi", "GET", "", false, nullptr, IFC_ECONNECT,
       "IFC_get_stat"},
      {"refused change", "targets.cgi", "POST", "to2=1&tw2=2", false, nullptr,
       IFC_ECONNECT, "IFC_set_to_tw_2"},
      {"no answer", "measurements.cgi", "GET", "", true, nullptr, IFC_ETIMEOUT,
       "IFC_get_histo_ave_1"},
      {"no valid port setting", "valves.cgi", "GET", "", false, "90000", IFC_ESETTING,
       "IFC_get_on_off_1"},
  };
  for (const auto &c : cases) {
    std::string port = c.port ? c.port : c.silent ? silent : refused;
    cgi_response r = run(c.page, c.method, "", c.body,
                         {"IFCSIM_PORT=" + port, "IFCSIM_TIMEOUT_MS=300"});
    EXPECT_EQ(r.exit_status, 0) << c.name;
    EXPECT_EQ(r.status, 502) << c.name;
    std::string address = "127.0.0.1:" + (c.port ? std::string("9000") : port);
    EXPECT_EQ(text_of(r.body, "address"), address) << c.name;
    EXPECT_EQ(text_of(r.body, "command"), c.command) << c.name;
    EXPECT_EQ(text_of(r.body, "reason"), ifc_strerror(c.code)) << c.name;
    EXPECT_TRUE(attr_of(r.body, "retry", "href").starts_with(c.page)) << c.name;
  }
}

}  // namespace
}  // namespace console_test
