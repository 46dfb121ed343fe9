#include "valve/com_ifc.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

const int kInitial[20] = {210, 450, 690, 930, 1170, 1410, 1650};

std::string expected_reply(const int (&loc)[20]) {
  std::string text;
  for (int n = 1; n <= 20; ++n) {
    text += "sub" + std::to_string(n) + ":" + std::to_string(loc[n - 1]) + " ";
  }
  return text;
}

std::string reply() {
  char buf[512];
  std::memset(buf, 'x', sizeof buf);
  int len = IFC_get_valve_loc(buf);
  EXPECT_EQ(buf[len], '\0');
  EXPECT_EQ(std::strlen(buf), static_cast<size_t>(len));
  return std::string(buf, len);
}

// The table lives as long as the process: each change is undone.
void restore() {
  for (int n = 1; n <= 20; ++n) IFC_set_valve_loc(n, kInitial[n - 1]);
}

class ValveLocTest : public ::testing::Test {
 protected:
  void TearDown() override { restore(); }
};

TEST_F(ValveLocTest, InitialReplyIs168Bytes) {
  std::string text = reply();
  EXPECT_EQ(text.size(), 168u);
  EXPECT_EQ(text, expected_reply(kInitial));
  EXPECT_NE(text.find("sub7:1650 sub8:0 "), std::string::npos);
}

TEST_F(ValveLocTest, SetChangesOnlyValidLocations) {
  static const struct {
    const char *name;
    int n;
    int value;
    int changed;  // entry that must show value, 0 for none
  } cases[] = {
      {"last location", 20, 500, 20}, {"first location negative", 1, -100, 1},
      {"largest value", 8, 32767, 8}, {"smallest value", 9, -32768, 9},
      {"location 0", 0, 5, 0},        {"location 21", 21, 5, 0},
      {"location -1", -1, 5, 0},      {"location 32767", 32767, 5, 0},
  };
  for (const auto &c : cases) {
    int want[20];
    std::memcpy(want, kInitial, sizeof want);
    if (c.changed) want[c.changed - 1] = c.value;
    IFC_set_valve_loc(static_cast<std::int16_t>(c.n), static_cast<std::int16_t>(c.value));
    EXPECT_EQ(reply(), expected_reply(want)) << c.name;
    restore();
  }
}

TEST_F(ValveLocTest, LongestReplyIs251Bytes) {
  int want[20];
  for (int n = 1; n <= 20; ++n) {
    IFC_set_valve_loc(n, -32768);
    want[n - 1] = -32768;
  }
  std::string text = reply();
  EXPECT_EQ(text.size(), 251u);
  EXPECT_EQ(text, expected_reply(want));
}

}  // namespace
