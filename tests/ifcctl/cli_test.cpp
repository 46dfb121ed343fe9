// End-to-end tests of the built ifcctl: against the real server loop in a
// child process, against a scripted fake server for the failures a real one
// does not produce on demand, and without any server.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <nlohmann/json.hpp>

#include "dispatch/ether_parse.hpp"
#include "ifcctl/canned_replies.hpp"
#include "ifcctl/run_tool.hpp"
#include "support/server_process.hpp"
#include "support/temp_dir.hpp"

namespace {

using ifcctl_test::run_tool;
using ifcctl_test::tool_result;
using ifcctl_test::tool_run;
using json = nlohmann::json;

std::vector<std::string> at_port(std::uint16_t port, std::vector<std::string> args) {
  args.insert(args.begin(), {"--port", std::to_string(port)});
  return args;
}

std::string bare(const char *stored) {
  std::string s = stored;
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// A TCP socket on an ephemeral port of 127.0.0.1; listening or not.
class local_socket {
 public:
  explicit local_socket(bool listening, int backlog = 5) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(fd_, reinterpret_cast<sockaddr *>(&a), len) != 0 ||
        (listening && listen(fd_, backlog) != 0) ||
        getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &len) != 0)
      ADD_FAILURE() << "cannot set up a local socket";
    port_ = ntohs(a.sin_port);
  }
  ~local_socket() { close(fd_); }
  std::uint16_t port() const { return port_; }

  // The next connection, or -1 when none comes within 10 seconds.
  int accept_one() {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 10000) != 1) return -1;
    return accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
  }

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

// Reads exactly n bytes within 10 seconds; what came when the peer closed.
std::string read_n(int fd, std::size_t n) {
  std::string s;
  while (s.size() < n) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 10000) != 1) break;
    char buf[4096];
    ssize_t r = read(fd, buf, std::min(sizeof buf, n - s.size()));
    if (r <= 0) break;
    s.append(buf, static_cast<std::size_t>(r));
  }
  return s;
}

void say(int fd, const std::string &bytes) {
  ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

TEST(IfcctlCli, HelpGoesToStdoutWithExamples) {
  static const std::vector<std::string> cases[] = {
      {"--help"},         {"-h"},
      {"get", "--help"},  {"put", "--help"},
      {"commands", "-h"}, {"show", "--help"},
      {"dump", "--help"}, {"journal", "--help"},
  };
  for (const auto &args : cases) {
    tool_result r = run_tool(args);
    std::string name = args[0] + " " + args.back();
    EXPECT_EQ(r.status, 0) << name;
    EXPECT_NE(r.out.find("Usage: ifcctl"), std::string::npos) << name << "\n" << r.out;
    EXPECT_NE(r.out.find("Examples:\n  ifcctl "), std::string::npos) << name << "\n"
                                                                     << r.out;
    EXPECT_EQ(r.err, "") << name;
  }
}

TEST(IfcctlCli, WrongUsageExitsTwoWithTheReasonOnStderr) {
  static const struct {
    const char *name;
    std::vector<std::string> args;
    const char *reason;  // follows "ifcctl: "
  } cases[] = {
      {"no sub-command",
       {},
       "a command is required: get, put, commands, show, dump, readings, journal, fault\n"},
      {"unknown sub-command",
       {"--port", "9", "gett", "IFC_get_stat"},
       "unknown command 'gett'; the commands are get, put, commands, show, dump, "
       "readings, journal, fault\n"},
      {"unknown option",
       {"--bogus", "commands"},
       "The following argument was not expected"},
      {"get without a name", {"get"}, "NAME is required"},
      {"get with two names", {"get", "IFC_get_stat", "IFC_get_stat"}, "not expected"},
      {"get name of 21 characters",
       {"get", "IFC_get_hist_cntdatLX"},
       "a GET name has 1 to 20 characters"},
      {"colour 0",
       {"show", "0"},
       "COLOUR: 0 is out of range: a colour number is 1 to 6\n"},
      {"colour 7", {"show", "7"}, "COLOUR: 7 is out of range"},
      {"colour not a number", {"show", "x"}, "COLOUR: \"x\" is not a number\n"},
      {"port 0",
       {"--port", "0", "commands"},
       "--port: 0 is out of range: a port is 1 to 65535\n"},
      {"port beyond 16 bits",
       {"--port", "70000", "commands"},
       "--port: 70000 is out of range"},
      {"port not a number",
       {"--port", "abc", "commands"},
       "--port: \"abc\" is not a number\n"},
      {"timeout 0",
       {"--timeout", "0", "commands"},
       "--timeout: 0 is out of range: the time-out is 0.001 to 3600 seconds\n"},
      {"timeout not a number",
       {"commands", "--timeout", "soon"},
       "--timeout: \"soon\" is not a number of seconds\n"},
      {"dump without a file", {"dump"}, "FILE is required"},
      {"journal without a file", {"journal", "count"}, "journal: no file: give FILE"},
      {"journal result no word",
       {"journal", "--result", "fine", "j"},
       "--result: \"fine\" is no result: ok, unknown, not-found,"},
      {"journal table option with count",
       {"journal", "count", "--last", "2", "j"},
       "--follow, --json and --last are for the table\n"},
      {"journal mark too long",
       {"journal", "mark", std::string(4097, 'm'), "j"},
       "a mark has at most 4096 bytes, not 4097\n"},
  };
  for (const auto &c : cases) {
    tool_result r = run_tool(c.args);
    EXPECT_EQ(r.status, 2) << c.name;
    EXPECT_EQ(r.out, "") << c.name;
    EXPECT_EQ(r.err.rfind("ifcctl: ", 0), 0u) << c.name << ": " << r.err;
    EXPECT_NE(r.err.find(c.reason), std::string::npos) << c.name << ": " << r.err;
  }
}

TEST(IfcctlCli, UnreachableServerExitsThree) {
  local_socket not_listening(false);
  std::string where = "127.0.0.1:" + std::to_string(not_listening.port());
  static const std::vector<std::string> cases[] = {
      {"get", "IFC_get_stat"},
      {"put", "append_log", "x"},
      {"show"},
      {"show", "--json"},
  };
  for (const auto &args : cases) {
    tool_result r = run_tool(at_port(not_listening.port(), args));
    EXPECT_EQ(r.status, 3) << args[0];
    EXPECT_EQ(r.out, "") << args[0];
    EXPECT_NE(r.err.find(where), std::string::npos) << args[0] << ": " << r.err;
  }
}

// A connection that is never completed is an unreachable server too, not a
// server that failed to answer: here the listener's queue is full, so the
// kernel drops the tool's connection request until --timeout runs out.
TEST(IfcctlCli, ConnectThatTimesOutExitsThree) {
  local_socket full(true, 0);
  const int queued = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(full.port());
  ASSERT_EQ(connect(queued, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
  std::string where = "127.0.0.1:" + std::to_string(full.port());
  static const std::vector<std::string> cases[] = {
      {"--timeout", "0.3", "get", "IFC_get_stat"},
      {"--timeout", "0.3", "put", "append_log", "x"},
  };
  for (const auto &args : cases) {
    tool_result r = run_tool(at_port(full.port(), args));
    EXPECT_EQ(r.status, 3) << args[2] << ": " << r.err;
    EXPECT_EQ(r.out, "") << args[2];
    EXPECT_NE(r.err.find(where), std::string::npos) << args[2] << ": " << r.err;
  }
  close(queued);
}

TEST(IfcctlCli, CommandsListsTheServersOwnTables) {
  tool_result text = run_tool({"commands"});
  ASSERT_EQ(text.status, 0) << text.err;
  tool_result as_json = run_tool({"commands", "--json"});
  ASSERT_EQ(as_json.status, 0) << as_json.err;
  json j = json::parse(as_json.out);

  struct table {
    const char *key;
    std::vector<std::pair<std::string, std::string>> rows;
  } tables[2] = {{"get", {}}, {"put", {}}};
  for (const auto *row = get_commands; row->name; ++row)
    tables[0].rows.emplace_back(bare(row->name), row->summary ? row->summary : "");
  for (const auto *row = put_commands; row->name; ++row)
    tables[1].rows.emplace_back(bare(row->name), row->summary ? row->summary : "");

  for (const table &t : tables) {
    ASSERT_EQ(j[t.key].size(), t.rows.size()) << t.key;
    for (std::size_t i = 0; i < t.rows.size(); ++i) {
      const auto &[name, summary] = t.rows[i];
      EXPECT_EQ(j[t.key][i]["name"], name) << t.key << " row " << i;
      EXPECT_EQ(j[t.key][i]["summary"], summary) << name;
      EXPECT_FALSE(summary.empty()) << name << " has no description";
      EXPECT_NE(text.out.find("\n  " + name + "  "), std::string::npos) << name;
      EXPECT_NE(text.out.find(summary + "\n"), std::string::npos) << name;
    }
  }
}

// Failures that a healthy server does not produce on demand, scripted.
TEST(IfcctlCli, ServerThatRefusesOrBreaksOffIsAFailure) {
  static const struct {
    const char *name;
    std::vector<std::string> args;
    std::function<void(int conn)> server;
    const char *err_part;
  } cases[] = {
      {"PUT length refused",
       {"put", "append_log", "x"},
       [](int c) {
         read_n(c, 23);
         say(c, "ERR!");
       },
       "refused"},
      {"PUT closed without FIN",
       {"put", "append_log", "abc"},
       [](int c) {
         read_n(c, 23);
         say(c, "NEXT");
         read_n(c, 14);
       },
       "without \"FIN\""},
      {"GET closed after the length header",
       {"get", "IFC_get_stat"},
       [](int c) {
         read_n(c, 23);
         say(c, "LEN0000000025");
       },
       "IFC_get_stat"},
      {"GET length header garbled",
       {"get", "IFC_get_stat"},
       [](int c) {
         read_n(c, 23);
         say(c, "XYZ0000000025");
       },
       "protocol does not allow"},
      {"GET of a name the server does not know",
       {"get", "IFC_get_nothing"},
       [](int c) {
         read_n(c, 23);
         say(c, "LEN-000000001");
       },
       "does not know"},
      {"GET never answered",
       {"--timeout", "0.3", "get", "IFC_get_stat"},
       [](int c) { read_n(c, 23); },
       "no answer"},
      {"show stops at a reply it cannot read",
       {"show"},
       [](int c) {
         read_n(c, 23);
         say(c, "LEN0000000005");
         read_n(c, 4);
         say(c, "hello");
       },
       "IFC_get_stat: unexpected reply \"hello\""},
  };
  for (const auto &c : cases) {
    local_socket fake(true);
    tool_run run(at_port(fake.port(), c.args));
    int conn = fake.accept_one();
    ASSERT_GE(conn, 0) << c.name;
    c.server(conn);
    // Closing ends the exchange, except for the silent server, whose client
    // gives up first on its own.
    if (std::string(c.name) != "GET never answered") shutdown(conn, SHUT_RDWR);
    tool_result r = run.finish();
    close(conn);
    EXPECT_EQ(r.status, 1) << c.name << ": " << r.err;
    EXPECT_EQ(r.out, "") << c.name;
    EXPECT_NE(r.err.find(c.err_part), std::string::npos) << c.name << ": " << r.err;
  }
}

class IfcctlServer : public ::testing::Test {
 protected:
  tool_result run(std::vector<std::string> args, std::string input = "") {
    return run_tool(at_port(server_.port(), std::move(args)), std::move(input));
  }
  // Runs ifcctl and expects success.
  std::string ok(std::vector<std::string> args, std::string input = "") {
    tool_result r = run(args, std::move(input));
    EXPECT_EQ(r.status, 0) << args[0] << ": " << r.err;
    return r.out;
  }
  // The server runs a PUT's command after "FIN", and serves one connection
  // at a time: once a later GET is answered, the files hold every change.
  void settle() { ok({"get", "IFC_get_stat"}); }
  json show_json(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"show", "--json"};
    args.insert(args.end(), extra.begin(), extra.end());
    return json::parse(ok(args));
  }

  testing_support::ServerProcess server_;
};

TEST_F(IfcctlServer, GetPrintsTheReply) {
  static const struct {
    const char *name;
    std::vector<std::string> args;
    std::string want;
  } cases[] = {
      {"line end added", {"get", "IFC_get_Tot_Twt_1"}, "to:90 tw:240 \n"},
      {"raw: the reply bytes", {"get", "--raw", "IFC_get_Tot_Twt_1"}, "to:90 tw:240 "},
      {"status", {"get", "IFC_get_stat"}, "color:1 mode:0 totw_sw:0 \n"},
      {"histogram selection", {"get", "--raw", "IFC_get_hst_select"}, "1 tw 2 tw"},
      {"20-character name",
       {"get", "--raw", "IFC_get_hist_cntdatR"},
       ifcctl_test::histogram_reply(false)},
      {"on/off points",
       {"get", "--raw", "IFC_get_on_off_6"},
       ifcctl_test::default_on_off_reply()},
  };
  for (const auto &c : cases) {
    tool_result r = run(c.args);
    EXPECT_EQ(r.status, 0) << c.name << ": " << r.err;
    EXPECT_EQ(r.out, c.want) << c.name;
  }
  // Options also after the sub-command.
  tool_result after =
      run_tool({"get", "IFC_get_To_Tw_2", "--port", std::to_string(server_.port())});
  EXPECT_EQ(after.status, 0) << after.err;
  EXPECT_EQ(after.out, "to:92 tw:252 \n");

  tool_result unknown = run({"get", "IFC_get_nothing"});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_EQ(unknown.out, "");
  EXPECT_NE(unknown.err.find("IFC_get_nothing: the server does not know"),
            std::string::npos)
      << unknown.err;
}

TEST_F(IfcctlServer, PutDeliversTextArgumentOrStandardInput) {
  ok({"put", "IFC_set_to_tw_2", "to:95 tw:250"});
  EXPECT_EQ(ok({"get", "IFC_get_Tot_Twt_2"}), "to:95 tw:250 \n");
  EXPECT_EQ(ok({"get", "IFC_get_Tot_Twt_1"}), "to:90 tw:240 \n");

  ok({"put", "append_log", "abc"});
  ok({"put", "append_log", "-"}, std::string("line\n\0x", 7));
  ok({"put", "append_log"});
  settle();
  EXPECT_EQ(testing_support::read_file(server_.file("cgi.log")),
            std::string("abcline\n\0x", 10));
}

TEST_F(IfcctlServer, PutLengthsAtAndBeyondTheLimit) {
  // "append_log", its NUL and the text: 256000 bytes is the largest payload.
  std::string largest(256000 - 11, 'a');
  tool_result at_limit = run({"put", "append_log", "-"}, largest);
  EXPECT_EQ(at_limit.status, 0) << at_limit.err;
  settle();
  EXPECT_EQ(testing_support::read_file(server_.file("cgi.log")).size(), largest.size());

  tool_result over = run({"put", "append_log", "-"}, largest + "b");
  EXPECT_EQ(over.status, 1);
  EXPECT_NE(over.err.find("256001 bytes is refused"), std::string::npos) << over.err;
  EXPECT_EQ(testing_support::read_file(server_.file("cgi.log")).size(), largest.size());
}

TEST_F(IfcctlServer, ShowDefaults) {
  std::string screen = ok({"show"});
  EXPECT_NE(screen.find("Status     color 1  mode 0  totw_sw 0\n"), std::string::npos)
      << screen;
  EXPECT_NE(screen.find("  target tw      240 240 240 240 240 240\n"), std::string::npos);
  EXPECT_NE(screen.find("  measured tw    242 252 242 242 242 242\n"), std::string::npos);
  EXPECT_NE(screen.find("  pin_on        70  70  70  70  70  70"), std::string::npos);
  EXPECT_NE(screen.find("Histogram left: item tw, colour 1"), std::string::npos);
  EXPECT_NE(screen.find("Histogram right: item tw, colour 2"), std::string::npos);

  json j = show_json();
  EXPECT_EQ(j["status"], json({{"color", 1}, {"mode", 0}, {"totw_sw", 0}}));
  EXPECT_EQ(j["selection"].size(), 25u);
  ASSERT_EQ(j["colours"].size(), 6u);
  for (const json &c : j["colours"]) {
    EXPECT_EQ(c["target"], json({{"to", 90}, {"tw", 240}}));
    EXPECT_EQ(c["on_off"].size(), 46u);
    for (const auto &[item, value] : ifcctl_test::default_on_off_items())
      EXPECT_EQ(c["on_off"][item], value) << item;
  }
  EXPECT_EQ(j["colours"][1]["measured"]["tw"], 252);
  auto bins = j["histograms"]["left"]["bins"];
  ASSERT_EQ(bins.size(), 46u);
  EXPECT_EQ(bins[23], 300);
  EXPECT_EQ(j["histograms"]["right"]["summary"], json({234, 500, 4.52, 190, 500}));
}

TEST_F(IfcctlServer, ShowAfterChanges) {
  ok({"put", "IFC_set_stat", "color:3 mode:1 totw_sw:1"});
  ok({"put", "IFC_set_select_item", "sub19:1"});
  ok({"put", "IFC_set_to_tw_4", "to:95 tw:250"});
  ok({"put", "IFC_set_on_off_3", "main_on:95 main_off:100"});
  ok({"put", "IFC_hst_select_item", "LEFT 3 tb2"});

  json j = show_json();
  EXPECT_EQ(j["status"]["color"], 3);
  EXPECT_EQ(j["status"]["totw_sw"], 1);
  EXPECT_EQ(j["selection"]["sub19"], 1);
  EXPECT_EQ(j["selection"]["sub18"], 0);
  EXPECT_EQ(j["colours"][3]["target"], json({{"to", 95}, {"tw", 250}}));
  EXPECT_EQ(j["colours"][2]["target"], json({{"to", 90}, {"tw", 240}}));
  EXPECT_EQ(j["colours"][2]["on_off"]["main_on"], 95);
  EXPECT_EQ(j["colours"][2]["on_off"]["main_off"], 100);
  EXPECT_EQ(j["colours"][1]["on_off"]["main_on"], 90);
  EXPECT_EQ(j["histograms"]["left"]["colour"], 3);
  EXPECT_EQ(j["histograms"]["left"]["item"], "tb2");
  EXPECT_EQ(j["histograms"]["right"]["item"], "tw");

  std::string one = ok({"show", "3"});
  EXPECT_NE(one.find("  main_on       95   "), std::string::npos) << one;
  EXPECT_NE(one.find("Timings  colour    3\n"), std::string::npos) << one;
  EXPECT_NE(one.find("[x] sub19"), std::string::npos) << one;
  EXPECT_NE(one.find("Histogram left: item tb2, colour 3"), std::string::npos) << one;
  json only3 = show_json({"3"});
  ASSERT_EQ(only3["colours"].size(), 1u);
  EXPECT_EQ(only3["colours"][0]["colour"], 3);
}

TEST_F(IfcctlServer, DumpDecodesTheServersSetFiles) {
  ok({"put", "IFC_set_on_off_2", "main_on:100"});
  ok({"put", "IFC_set_to_tw_1", "to:-5 tw:0"});
  settle();

  json ifc = json::parse(ok({"dump", "--json", server_.file("ifc_set.set")}));
  EXPECT_EQ(ifc["size"], 800);
  EXPECT_EQ(ifc["kind"], "IFC settings (ifc_set.set)");
  ASSERT_EQ(ifc["records"].size(), 10u);
  EXPECT_EQ(ifc["records"][0]["name"], "Tot");
  EXPECT_EQ(ifc["records"][0]["values"], json({0, -5, 90, 90, 90, 90, 90}));
  EXPECT_EQ(ifc["records"][1]["min"], 190);
  EXPECT_EQ(ifc["records"][3]["values"], json({0, 10, 1, 10, 2, 0, 0}));
  EXPECT_EQ(ifc["records"][9]["notes"], json({"end of table"}));

  json valve = json::parse(ok({"dump", "--json", server_.file("valve_fp.set")}));
  ASSERT_EQ(valve["records"].size(), 112u);
  EXPECT_EQ(valve["records"][7]["name"], "VAL_main_on");
  EXPECT_EQ(valve["records"][7]["values"], json({0, 90, 100, 90, 90, 90, 90}));
  EXPECT_EQ(valve["records"][7]["group"], "g1");
  EXPECT_EQ(valve["records"][109]["type"], 2);
  EXPECT_EQ(valve["records"][110]["min"], -10);
  EXPECT_EQ(valve["records"][111]["notes"], json({"end of table"}));
  for (std::size_t i = 0; i < 111; ++i)
    EXPECT_EQ(valve["records"][i]["notes"], json::array()) << i;

  std::string text = ok({"dump", server_.file("valve_fp.set")});
  EXPECT_NE(text.find("valve settings (valve_fp.set): 112 records (8960 bytes)\n"),
            std::string::npos);
  EXPECT_NE(text.find("\n 110    2  VAL_1st_apc_drop "), std::string::npos) << text;
}

// A file that is no table image is refused; one the server would not take
// as it stands is shown with its marks and fails.
TEST(IfcctlCli, DumpOfDamagedFilesReportsOrMarks) {
  testing_support::TempDir dir;
  std::string unterminated(80, '\0');
  unterminated[0] = 1;
  for (int i = 4; i < 32; ++i) unterminated[i] = 'N';
  std::string end(80, '\0');
  std::string good = unterminated;
  good[31] = '\0';
  static const struct {
    const char *name;
    std::string bytes;     // written to the file
    const char *out_part;  // stdout (nullptr: none)
    const char *err_part;  // stderr, after "ifcctl: " and the path (nullptr: none)
  } cases[] = {
      {"empty file", "", nullptr, "empty file"},
      {"one byte short", std::string(799, '\0'), nullptr,
       "799 bytes is no multiple of 80: a table image is made of whole 80-byte records"},
      {"one byte over", std::string(81, '\0'), nullptr, "81 bytes is no multiple of 80"},
      {"name without NUL", unterminated + end, "name not terminated within 28 bytes",
       "1 record the server would not use as it stands (position 1)\n"},
      {"no end record", good + good, "no end record",
       "no end record: the server's lookups run on to the last record\n"},
      {"garbage type and behind the end", std::string(80, 'A') + end + good,
       "type 1094795585: refused",
       "2 records the server would not use as it stands (positions 1, 3)\n"},
      {"usable", good + end, "table image: 2 records (160 bytes)\n", nullptr},
  };
  for (const auto &c : cases) {
    std::string path = dir.file("t.set");
    testing_support::write_file(path, c.bytes);
    for (bool as_json : {false, true}) {
      std::vector<std::string> args = {"dump", path};
      if (as_json) args.push_back("--json");
      tool_result r = run_tool(args);
      std::string name = std::string(c.name) + (as_json ? " (json)" : "");
      EXPECT_EQ(r.status, c.err_part ? 1 : 0) << name << ": " << r.err;
      if (!c.out_part)
        EXPECT_EQ(r.out, "") << name;
      else if (as_json)
        EXPECT_TRUE(json::accept(r.out)) << name;
      else
        EXPECT_NE(r.out.find(c.out_part), std::string::npos) << name << "\n" << r.out;
      if (c.err_part)
        EXPECT_NE(r.err.find("ifcctl: " + path + ": " + c.err_part), std::string::npos)
            << name << ": " << r.err;
      else
        EXPECT_EQ(r.err, "") << name;
    }
  }
  tool_result missing = run_tool({"dump", dir.file("missing.set")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("No such file"), std::string::npos) << missing.err;
  tool_result directory = run_tool({"dump", dir.path()});
  EXPECT_EQ(directory.status, 1);
}

}  // namespace
