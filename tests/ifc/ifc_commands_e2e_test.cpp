// The IFC commands over the wire: the real server loop in a child process on
// an ephemeral port, in its own temporary working directory.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "client/ifc_client.hpp"
#include "ifc/ifc_set_image.hpp"
#include "ifcsim_config.hpp"
#include "support/server_process.hpp"
#include "support/temp_dir.hpp"

namespace {

using namespace ifc_test;
using testing_support::file_exists;
using testing_support::read_file;
using testing_support::ServerProcess;
using testing_support::write_file;

class IfcCommandsE2E : public testing::Test {
 protected:
  IfcCommandsE2E() : ep_(server_.endpoint()) {}

  // Every request is one connection; the server serves them in order, so a
  // GET sent after a PUT sees the PUT's change.
  ifc::get_result Get(std::string_view name) {
    ifc::get_result r = ifc::get(ep_, name);
    ++requests_;
    EXPECT_EQ(r.error, ifc::client_error::none) << name << ": " << r.message;
    EXPECT_EQ(r.length, static_cast<std::int32_t>(r.reply.size())) << name;
    return r;
  }
  std::string Reply(std::string_view name) { return Get(name).reply; }

  void Put(std::string_view name, std::string_view text) {
    ifc::put_result r = ifc::put(ep_, name, text);
    ++requests_;
    EXPECT_EQ(r.error, ifc::client_error::none) << name << ": " << r.message;
  }

  // What the server printed while handling a PUT, behind its header line.
  std::string PutAndPrinted(std::string_view name, std::string_view text) {
    Put(name, text);
    EXPECT_TRUE(server_.WaitForRequests(requests_));
    std::string out = server_.RequestOutput(requests_);
    std::size_t eol = out.find('\n');
    return eol == std::string::npos ? std::string() : out.substr(eol + 1);
  }

  // Only between requests: the server is idle once a GET has come back.
  std::string SetFile() { return read_file(server_.file(kSetFile)); }
  void WriteSetFile(const std::string &img) { write_file(server_.file(kSetFile), img); }

  ServerProcess server_;
  ifc::endpoint ep_;
  int requests_ = 0;
};

TEST_F(IfcCommandsE2E, FileAppearsWithTheFirstTableAccess) {
  EXPECT_EQ(Reply("IFC_get_To_Tw_1"), "to:92 tw:242 ");
  EXPECT_FALSE(file_exists(server_.file(kSetFile)));
  EXPECT_EQ(Reply("IFC_get_stat"), "color:1 mode:0 totw_sw:0 ");
  EXPECT_EQ(SetFile(), default_image());
}

TEST_F(IfcCommandsE2E, RepliesWithTheDefaults) {
  static const struct {
    const char *name;
    std::string reply;
  } cases[] = {
      {"IFC_get_select_item", select_reply(default_image())},
      {"IFC_get_stat", "color:1 mode:0 totw_sw:0 "},
      {"IFC_get_Tot_Twt_1", "to:90 tw:240 "},
      {"IFC_get_Tot_Twt_2", "to:90 tw:240 "},
      {"IFC_get_Tot_Twt_3", "to:90 tw:240 "},
      {"IFC_get_Tot_Twt_4", "to:90 tw:240 "},
      {"IFC_get_Tot_Twt_5", "to:90 tw:240 "},
      {"IFC_get_Tot_Twt_6", "to:90 tw:240 "},
      {"IFC_get_To_Tw_1", "to:92 tw:242 "},
      {"IFC_get_To_Tw_2", "to:92 tw:252 "},
      {"IFC_get_To_Tw_3", "to:92 tw:242 "},
      {"IFC_get_To_Tw_4", "to:92 tw:242 "},
      {"IFC_get_To_Tw_5", "to:92 tw:242 "},
      {"IFC_get_To_Tw_6", "to:92 tw:242 "},
      {"IFC_get_histo_ave_1",
       "to:92 tb1:128 tb2:164 tb3:190 tb4:0 tb5:0 tb6:0 tb7:0 tb8:0 tbw:224 tw:242 "},
      {"IFC_get_histo_ave_2",
       "to:92 tb1:130 tb2:166 tb3:194 tb4:0 tb5:0 tb6:0 tb7:0 tb8:0 tbw:228 tw:252 "},
      {"IFC_get_hst_select", "1 tw 2 tw"},
      {"IFC_get_hist_cntdatL", std::string("234 500 4.65 190 500") + kHistoCounts},
      {"IFC_get_hist_cntdatR", std::string("234 500 4.52 190 500") + kHistoCounts},
  };
  for (const auto &c : cases) EXPECT_EQ(Reply(c.name), c.reply) << c.name;
  EXPECT_EQ(Reply("IFC_get_select_item").size(), 189u);
  EXPECT_EQ(Reply("IFC_get_stat").size(), 25u);
  EXPECT_EQ(Reply("IFC_get_Tot_Twt_1").size(), 13u);
  EXPECT_EQ(Reply("IFC_get_hist_cntdatL").size(), 144u);
  EXPECT_EQ(Reply("IFC_get_hst_select").size(), 9u);
  EXPECT_EQ(SetFile(), default_image()) << "replies change nothing";
}

// TBW of colours 3..6 is drawn (the sequence itself is the handlers' test):
// each command answers with its colour's reply, TBW within 0..359.
TEST_F(IfcCommandsE2E, DrawnTbwRepliesOfColours3To6) {
  const std::string head = "to:92 tb1:0 tb2:0 tb3:0 tb4:0 tb5:0 tb6:0 tb7:0 tb8:0 tbw:";
  for (int colour = 3; colour <= 6; ++colour) {
    const std::string name = "IFC_get_histo_ave_" + std::to_string(colour);
    const std::string r = Reply(name);
    ASSERT_EQ(r.compare(0, head.size(), head), 0) << name << ": " << r;
    ASSERT_GE(r.size(), head.size() + 8) << name << ": " << r;
    EXPECT_EQ(r.substr(r.size() - 8), " tw:242 ") << name << ": " << r;
    const std::string n = r.substr(head.size(), r.size() - 8 - head.size());
    ASSERT_FALSE(n.empty()) << name;
    ASSERT_EQ(n.find_first_not_of("0123456789"), std::string::npos) << name << ": " << n;
    EXPECT_LE(std::stoi(n), 359) << name;
  }
}

// One change per command that stores: the next reply and the file show it.
// The edge cases of each text are the handlers' tests; the targets are in
// EveryColourHasItsOwnCommands.
TEST_F(IfcCommandsE2E, ChangesShowInTheNextReplyAndInTheFile) {
  const struct {
    const char *name;
    const char *put;
    const char *text;
    std::vector<change> changes;  // against the defaults
    const char *get;
    std::string reply;  // "": the selection reply of the changed image
  } cases[] = {
      {"selection",
       "IFC_set_select_item",
       "pin:1",
       {{kV, 2, 1}},
       "IFC_get_select_item",
       ""},
      {"status",
       "IFC_set_stat",
       "color:3 mode:1 totw_sw:1",
       {{kStat1, 1, 3}, {kStat1, 2, 1}, {kStat1, 3, 1}},
       "IFC_get_stat",
       "color:3 mode:1 totw_sw:1 "},
      {"histogram selection",
       "IFC_hst_select_item",
       "LEFT 3 tb2",
       {{kStat2, 2, 3}, {kStat2, 1, 2}},
       "IFC_get_hst_select",
       "3 tb2 2 tw"},
  };
  for (const auto &c : cases) {
    WriteSetFile(default_image());
    Put(c.put, c.text);
    std::string want = default_image();
    for (const change &ch : c.changes) set_slot(want, ch.pos, ch.slot, ch.value);
    EXPECT_EQ(Reply(c.get), c.reply.empty() ? select_reply(want) : c.reply) << c.name;
    EXPECT_EQ(SetFile(), want) << c.name;
  }
}

TEST_F(IfcCommandsE2E, EveryColourHasItsOwnCommands) {
  std::string want = default_image();
  for (int c = 1; c <= 6; ++c) {
    const std::string n = std::to_string(c);
    Put("IFC_set_to_tw_" + n,
        "to:" + std::to_string(60 + c) + " tw:" + std::to_string(200 + c));
    set_slot(want, kTot, c, 60 + c);
    set_slot(want, kTwt, c, 200 + c);
  }
  for (int c = 1; c <= 6; ++c)
    EXPECT_EQ(Reply("IFC_get_Tot_Twt_" + std::to_string(c)),
              "to:" + std::to_string(60 + c) + " tw:" + std::to_string(200 + c) + " ")
        << c;
  EXPECT_EQ(SetFile(), want);
}

TEST_F(IfcCommandsE2E, HistogramHooksPrintTheirLines) {
  static const struct {
    const char *put, *text, *printed;
  } cases[] = {
      {"IFC_hst_clear", "2 tw_tbw", "clear_histo: color=2, item_no=11\n"},
      {"IFC_hst_set", "1 tw 10 2 tbw 10 500",
       "set_histo(L c=1, i=10, t=10, R c=2, i=9, t=10, samp=500)\n"},
  };
  for (const auto &c : cases) EXPECT_EQ(PutAndPrinted(c.put, c.text), c.printed) << c.put;
  EXPECT_FALSE(file_exists(server_.file(kSetFile))) << "the hooks store nothing";
}

// A payload of the largest size the server takes, name and NUL included, for
// each command that reads its text (the handler writes its NUL into the byte
// reserved behind the connection buffer): nothing changes and the server goes
// on serving.
TEST_F(IfcCommandsE2E, LargestPayloadsChangeNothing) {
  std::string stored = default_image();
  set_slot(stored, kV, 2, 1);
  WriteSetFile(stored);
  static const char *const commands[] = {
      "IFC_set_select_item", "IFC_set_stat",  "IFC_set_to_tw_1", "IFC_set_to_tw_6",
      "IFC_hst_select_item", "IFC_hst_clear", "IFC_hst_set"};
  for (const char *command : commands) {
    std::string payload = std::string(command) + '\0';
    payload += std::string(kMaxPayload - payload.size() - 2, 'a');
    payload += ":1";
    ASSERT_EQ(payload.size(), static_cast<std::size_t>(kMaxPayload));
    ifc::put_result r = ifc::put_payload(ep_, payload);
    ++requests_;
    EXPECT_EQ(r.error, ifc::client_error::none) << command << r.message;
    EXPECT_EQ(Reply("IFC_get_select_item"), select_reply(stored)) << command;
    EXPECT_EQ(SetFile(), stored) << command;
  }
}

}  // namespace
