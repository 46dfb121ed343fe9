// ifcctl put checks a text against its command's format before it sends it.
// Each text is tried twice: against a port where nothing listens, so that a
// refusal (2) is told apart from an attempt to send (3); then with --force
// against a fresh server, whose state and output show that the refusal
// said what the server makes of the text.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "ifcctl/run_tool.hpp"
#include "support/server_process.hpp"

namespace {

using ifcctl_test::run_tool;
using ifcctl_test::tool_result;

// A port of 127.0.0.1 that refuses connections: bound, never listening.
std::uint16_t closed_port() {
  static const int fd = [] {
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
    return s;
  }();
  return testing_support::LocalPort(fd);
}

std::vector<std::string> with(std::vector<std::string> args, std::uint16_t port,
                              bool force) {
  if (force) args.insert(args.begin() + 1, "--force");
  args.insert(args.begin(), {"--port", std::to_string(port)});
  return args;
}

TEST(IfcctlPutCheck, RefusesTextsTheServerWouldNotTakeAsWritten) {
  static const struct {
    const char *name;
    std::vector<std::string> args;  // put NAME TEXT
    int status;                     // 2 refused, 3 sent (nobody listens)
    const char *err;                // part of the message
    // With --force against a fresh server: part of the reply of GET get,
    // and what the server printed for the PUT behind its header line
    // (nullptr: not looked at).
    const char *get, *reply, *printed;
    std::string input = "";  // standard input, for TEXT -
  } cases[] = {
      // clang-format off
      // Names.
      {"no PUT command", {"put", "IFC_set_nothing", "x:1"}, 2,
       "IFC_set_nothing is no PUT command", nullptr, nullptr, "not found\n"},
      {"any text to append_log", {"put", "append_log", "a:b, c"}, 3,
       "127.0.0.1", nullptr, nullptr, ""},
      // Targets.
      {"targets", {"put", "IFC_set_to_tw_1", "to:95 tw:250\n"}, 3,
       "127.0.0.1", "IFC_get_Tot_Twt_1", "to:95 tw:250 ", ""},
      {"targets: one colon", {"put", "IFC_set_to_tw_1", "to:95"}, 2,
       "\"to:95\" has 1 of the 2 colons of to:N tw:N: the server changes nothing",
       "IFC_get_Tot_Twt_1", "to:90 tw:240 ", nullptr},
      {"targets: keys swapped", {"put", "IFC_set_to_tw_2", "tw:250 to:95"}, 2,
       "the keys are not in the order to:N tw:N: the server changes nothing",
       "IFC_get_Tot_Twt_2", "to:90 tw:240 ", nullptr},
      {"targets: comma", {"put", "IFC_set_to_tw_3", "to:95, tw:250"}, 2,
       "\",\" stands where tw is due: the server stores only to 95",
       "IFC_get_Tot_Twt_3", "to:95 tw:240 ", nullptr},
      {"targets: empty value", {"put", "IFC_set_to_tw_4", "to: tw:250"}, 2,
       "the value of to is no number: the server changes nothing",
       "IFC_get_Tot_Twt_4", "to:90 tw:240 ", nullptr},
      {"targets: leading blank", {"put", "IFC_set_to_tw_5", " to:95 tw:250"}, 2,
       "begins with white space: the server changes nothing",
       "IFC_get_Tot_Twt_5", "to:90 tw:240 ", nullptr},
      {"targets: beyond 32 bits", {"put", "IFC_set_to_tw_6", "to:2147483648 tw:250"}, 2,
       "to 2147483648 is beyond 32 bits: the server stores only tw 250",
       "IFC_get_Tot_Twt_6", "to:90 tw:250 ", nullptr},
      {"targets: text behind", {"put", "IFC_set_to_tw_1", "to:95 tw:250 x"}, 2,
       "\"x\" is ignored: the server stores to 95 and tw 250",
       "IFC_get_Tot_Twt_1", "to:95 tw:250 ", nullptr},
      // Status.
      {"status: keys in another order", {"put", "IFC_set_stat", "mode:1 color:3 totw_sw:1"}, 2,
       "not in the order color:N mode:N totw_sw:N: the server changes nothing",
       "IFC_get_stat", "color:1 mode:0 totw_sw:0 ", nullptr},
      {"status: one value is no number", {"put", "IFC_set_stat", "color:3 mode:x totw_sw:1"}, 2,
       "the value of mode is no number: the server stores only color 3",
       "IFC_get_stat", "color:3 mode:0 totw_sw:0 ", nullptr},
      // Selection flags.
      {"selection", {"put", "IFC_set_select_item", "sub20:1"}, 3,
       "127.0.0.1", "IFC_get_select_item", " sub19:0 sub20:1 ", ""},
      {"selection: upper case", {"put", "IFC_set_select_item", "PIN:1"}, 2,
       "\"PIN\" is no item (pin abs main", "IFC_get_select_item", "pin:0 ", nullptr},
      {"selection: no colon", {"put", "IFC_set_select_item", "pin 1"}, 2,
       "\"pin 1\" has no colon (NAME:N): the server changes nothing",
       "IFC_get_select_item", "pin:0 ", nullptr},
      {"selection: empty value", {"put", "IFC_set_select_item", "pin:"}, 2,
       "the value of pin is no number: the server changes nothing",
       "IFC_get_select_item", "pin:0 ", nullptr},
      {"selection: two items", {"put", "IFC_set_select_item", "pin:1 abs:1"}, 2,
       "\"abs:1\" is ignored (one item per request): the server sets pin to 1",
       "IFC_get_select_item", "pin:1 abs:0 ", nullptr},
      {"selection: all with a value", {"put", "IFC_set_select_item", "all:1"}, 2,
       "all takes no value but 0: the server sets all 25 flags to 0, not to 1",
       nullptr, nullptr, nullptr},
      {"selection: all", {"put", "IFC_set_select_item", "all:"}, 3,
       "127.0.0.1", nullptr, nullptr, nullptr},
      // On/off points.
      {"on/off", {"put", "IFC_set_on_off_1", "main_on:95 main_off:100"}, 3,
       "127.0.0.1", "IFC_get_on_off_1", " main_on:95 main_off:100 ", ""},
      {"on/off: empty value", {"put", "IFC_set_on_off_1", "main_on:"}, 2,
       "main_on has no value: the server stores 0",
       "IFC_get_on_off_1", " main_on:0 ", nullptr},
      {"on/off: no number", {"put", "IFC_set_on_off_2", "pin_on:abc"}, 2,
       "the value of pin_on, \"abc\", is no number: the server stores 0",
       "IFC_get_on_off_2", " pin_on:0 ", nullptr},
      {"on/off: commas", {"put", "IFC_set_on_off_3", "main_on:95,main_off:100"}, 2,
       "\",main_off:100\" is ignored (items are separated by blanks): the server stores main_on 95",
       "IFC_get_on_off_3", " main_on:95 main_off:160 ", nullptr},
      {"on/off: one item per line", {"put", "IFC_set_on_off_4", "main_on:95\nmain_off:100"}, 2,
       "\"main_off:100\" is ignored (items are separated by blanks)",
       "IFC_get_on_off_4", " main_on:95 main_off:160 ", nullptr},
      {"on/off: unknown items", {"put", "IFC_set_on_off_5", "cutter_on:5 ATC_TO_DELAY:1"}, 2,
       "\"cutter_on\" is no item of IFC_set_on_off_5 (see its GET reply): the server skips it; "
       "1 more item not as written", nullptr, nullptr, nullptr},
      {"on/off: empty name", {"put", "IFC_set_on_off_6", "main_on:95 :7 main_off:100"}, 2,
       "\":7\" has no name: the server stops there, ignoring what follows",
       "IFC_get_on_off_6", " main_on:95 main_off:160 ", nullptr},
      {"on/off: beyond 32 bits", {"put", "IFC_set_on_off_1", "main_on:-2147483649"}, 2,
       "main_on -2147483649 is beyond 32 bits: the server stores -2147483648",
       "IFC_get_on_off_1", " main_on:-2147483648 ", nullptr},
      {"on/off: value too long", {"put", "IFC_set_on_off_1", "main_on:" + std::string(50, '1')}, 2,
       "is longer than an item can be (names up to 29, values up to 49 characters)",
       "IFC_get_on_off_1", " main_on:90 ", nullptr},
      {"on/off: nothing", {"put", "IFC_set_on_off_1", "  "}, 2,
       "no item: the server changes nothing", nullptr, nullptr, nullptr},
      // Histogram selection, clear and set.
      {"histogram side", {"put", "IFC_hst_select_item", "LEFT 3 tb2"}, 3,
       "127.0.0.1", "IFC_get_hst_select", "3 tb2 2 tw", ""},
      {"histogram side: lower-case left", {"put", "IFC_hst_select_item", "left 3 tb2"}, 2,
       "\"left\" is not LEFT (only LEFT in capitals is the left side): "
       "the server sets the right colour to 3 and the right item to tb2",
       "IFC_get_hst_select", "1 tw 3 tb2", nullptr},
      {"histogram side: colour 7", {"put", "IFC_hst_select_item", "LEFT 7 tb2"}, 2,
       "colour 7 is not 1 to 6: the server sets the left item to tb2",
       "IFC_get_hst_select", "1 tb2 2 tw", nullptr},
      {"histogram side: unknown item", {"put", "IFC_hst_select_item", "LEFT 3 TB2"}, 2,
       "\"TB2\" is no histogram item (to tb1", "IFC_get_hst_select", "3 tw 2 tw", nullptr},
      {"histogram side: side missing", {"put", "IFC_hst_select_item", "3 tb2"}, 2,
       "the colour is no number: the server changes nothing",
       "IFC_get_hst_select", "1 tw 2 tw", nullptr},
      {"histogram side: 16 bytes", {"put", "IFC_hst_select_item", "LEFT 3 tw_tbw  x"}, 2,
       "longer than 15 bytes: the server changes nothing",
       "IFC_get_hst_select", "1 tw 2 tw", nullptr},
      {"clear", {"put", "IFC_hst_clear", "9 tw"}, 3,
       "127.0.0.1", nullptr, nullptr, "clear_histo: color=9, item_no=10\n"},
      {"clear: unknown item", {"put", "IFC_hst_clear", "2 xx"}, 2,
       "\"xx\" is no histogram item (to tb1 tb2 tb3 tb4 tb5 tb6 tb7 tb8 tbw tw tw_tbw): "
       "the server prints nothing", nullptr, nullptr, ""},
      {"clear: 11 bytes", {"put", "IFC_hst_clear", "2 tw_tbw  x"}, 2,
       "longer than 10 bytes: the server prints nothing", nullptr, nullptr, ""},
      {"set: unknown item", {"put", "IFC_hst_set", "1 xx 10 2 tbw 10 500"}, 2,
       "\"xx\" is no histogram item", nullptr, nullptr,
       "set_histo(L c=1, i=0, t=10, R c=2, i=9, t=10, samp=500)\n"},
      {"set: a number missing", {"put", "IFC_hst_set", "1 tw x 2 tbw 10 500"}, 2,
       "the left t is no number: the server prints "
       "set_histo(L c=1, i=10, t=0, R c=0, i=0, t=0, samp=0)", nullptr, nullptr,
       "set_histo(L c=1, i=10, t=0, R c=0, i=0, t=0, samp=0)\n"},
      {"let-off button text with a NUL", {"put", "MLETOFF_set_btnstat", "-"}, 2,
       "a NUL at byte 1: the server reads the text only up to it", nullptr, nullptr, "a\n",
       std::string("a\0b", 3)},
      // clang-format on
  };
  const std::string suffix = " (--force sends it as it is)\n";
  for (const auto &c : cases) {
    tool_result r = run_tool(with(c.args, closed_port(), false), c.input);
    EXPECT_EQ(r.status, c.status) << c.name << ": " << r.err;
    EXPECT_EQ(r.out, "") << c.name;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << c.name << ": " << r.err;
    if (c.status == 2) {
      EXPECT_TRUE(r.err.ends_with(suffix)) << c.name << ": " << r.err;
    }

    testing_support::ServerProcess server;
    tool_result forced = run_tool(with(c.args, server.port(), true), c.input);
    EXPECT_EQ(forced.status, 0) << c.name << ": " << forced.err;
    // Only a name that is no command draws a word when forced.
    bool unknown = c.printed && std::string(c.printed) == "not found\n";
    EXPECT_EQ(
        forced.err.rfind("ifcctl: warning: " + c.args[1] + " is no PUT command", 0) == 0,
        unknown)
        << c.name << ": " << forced.err;
    ASSERT_TRUE(server.WaitForRequests(1)) << c.name;
    if (c.printed) {
      std::string printed = server.RequestOutput(1);
      EXPECT_EQ(printed.substr(printed.find('\n') + 1), c.printed) << c.name;
    }
    if (c.reply) {
      tool_result got = run_tool({"--port", std::to_string(server.port()), "get", c.get});
      EXPECT_NE(got.out.find(c.reply), std::string::npos) << c.name << ": " << got.out;
    }
  }
}

}  // namespace
