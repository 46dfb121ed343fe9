// The valve commands over the wire: a real server loop in a child process.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "client/ifc_client.hpp"
#include "support/server_process.hpp"
#include "support/temp_dir.hpp"
#include "valve/valve_expect.hpp"

namespace {

using testing_support::file_exists;
using testing_support::PutLe32;
using testing_support::read_file;
using valve_expect::default_image;
using valve_expect::on_off_reply;
using valve_expect::position_of;
using valve_expect::slot_offset;

class ValveServerTest : public ::testing::Test {
 protected:
  // The reply of a GET; the length header must agree with it.
  std::string Get(const std::string &name) {
    ifc::get_result r = ifc::get(server_.endpoint(), name);
    ++requests_;
    EXPECT_EQ(r.error, ifc::client_error::none) << name << ": " << r.message;
    EXPECT_EQ(r.length, static_cast<std::int32_t>(r.reply.size())) << name;
    return r.reply;
  }

  // Sends the payload and waits until the server has run its handler, which
  // happens after "FIN".
  void PutPayload(const std::string &payload) {
    ifc::put_result r = ifc::put_payload(server_.endpoint(), payload);
    ++requests_;
    EXPECT_EQ(r.error, ifc::client_error::none) << r.message;
    ASSERT_TRUE(server_.WaitForRequests(requests_));
  }

  void Put(const std::string &name, const std::string &text) {
    PutPayload(name + std::string(1, '\0') + text);
  }

  std::string SetFile() const { return server_.file("valve_fp.set"); }

  // What the handler of the last request printed: the loop's own line (the
  // request header) comes first.
  std::string HandlerOutput() {
    std::string text = server_.RequestOutput(requests_);
    size_t header_end = text.find('\n');
    return header_end == std::string::npos ? "<no header line>"
                                           : text.substr(header_end + 1);
  }

  testing_support::ServerProcess server_;
  int requests_ = 0;
};

std::string get_name(int colour) { return "IFC_get_on_off_" + std::to_string(colour); }
std::string set_name(int colour) { return "IFC_set_on_off_" + std::to_string(colour); }

TEST_F(ValveServerTest, DefaultReplyForEveryColourNumber) {
  for (int colour = 1; colour <= 6; ++colour) {
    std::string reply = Get(get_name(colour));
    EXPECT_EQ(reply.size(), 554u) << colour;
    EXPECT_EQ(reply, on_off_reply(default_image(), colour)) << colour;
  }
  EXPECT_EQ(read_file(SetFile()), default_image());
}

// One change per set command: seen in the file and at its colour number
// only. The edge cases of the text are the handlers' tests.
TEST_F(ValveServerTest, ChangesAreSeenAtTheirColourNumberOnly) {
  static const struct {
    int colour;
    std::string text;
    std::vector<std::pair<const char *, std::int32_t>> stored;
  } cases[] = {
      {1, "pin_on:80", {{"VAL_pin_open", 80}}},
      {2, "main_on:95 main_off:100", {{"VAL_main_on", 95}, {"VAL_main_off", 100}}},
      {3, "tandem_off:33", {{"VAL_tandem_off", 33}}},
      {4, "stretch_on:4", {{"VAL_stretch_on", 4}}},
      {5, "sub1_on:1", {{"VAL_sub1_on", 1}}},
      {6, "sub18_off:-7", {{"VAL_sub18_off", -7}}},
  };
  for (const auto &c : cases) {
    const std::string name = set_name(c.colour);
    std::remove(SetFile().c_str());
    Put(name, c.text);
    std::string want = default_image();
    for (const auto &[record, value] : c.stored) {
      PutLe32(want, slot_offset(position_of(record), c.colour), value);
    }
    EXPECT_EQ(read_file(SetFile()), want) << name;
    for (int colour = 1; colour <= 6; ++colour) {
      EXPECT_EQ(Get(get_name(colour)), on_off_reply(want, colour))
          << name << ", seen from colour " << colour;
    }
  }
}

TEST_F(ValveServerTest, MainOnOfColour2IsStoredInBytes600To603) {
  Put("IFC_set_on_off_2", "main_on:100");
  std::string file = read_file(SetFile());
  ASSERT_EQ(file.size(), 8960u);
  EXPECT_EQ(file.substr(600, 4), std::string("d\0\0\0", 4));
  EXPECT_NE(Get("IFC_get_on_off_2").find(" main_on:100 main_off:160 "),
            std::string::npos);
  EXPECT_NE(Get("IFC_get_on_off_1").find(" main_on:90 main_off:160 "), std::string::npos);
}

TEST_F(ValveServerTest, LetOffButtonPrintsTheTextLine) {
  Put("MLETOFF_set_btnstat", "abc");
  EXPECT_EQ(HandlerOutput(), "abc\n");
  EXPECT_FALSE(file_exists(SetFile()));
}

TEST_F(ValveServerTest, ValveLocationsAreNoCommand) {
  ifc::get_result r = ifc::get(server_.endpoint(), "IFC_get_valve_loc");
  EXPECT_EQ(r.error, ifc::client_error::none) << r.message;
  EXPECT_EQ(r.length, -1);
}

}  // namespace
