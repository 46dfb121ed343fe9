#include "ifcctl/replies.hpp"

#include <gtest/gtest.h>

#include "ifcctl/canned_replies.hpp"

namespace {

using ifcctl::piece;

TEST(IfcctlReplies, PiecesFollowTheKeyColonNumberFormat) {
  static const struct {
    const char *name;
    const char *text;
    bool ok;
    std::vector<std::pair<std::string, std::int32_t>> want;
  } cases[] = {
      {"status reply",
       "color:1 mode:0 totw_sw:0 ",
       true,
       {{"color", 1}, {"mode", 0}, {"totw_sw", 0}}},
      {"negative and zero", "to:-5 tw:0 ", true, {{"to", -5}, {"tw", 0}}},
      {"largest 32-bit value", "to:2147483647 ", true, {{"to", 2147483647}}},
      {"smallest 32-bit value", "to:-2147483648 ", true, {{"to", -2147483647 - 1}}},
      {"extra blanks", "to:1  tw:2 ", false, {}},
      {"no trailing blank", "to:1 tw:2", false, {}},
      {"value beyond 32 bits", "to:2147483648 ", false, {}},
      {"word without colon", "to:90 tw ", false, {}},
      {"empty key", ":5 ", false, {}},
      {"empty number", "to: ", false, {}},
      {"trailing garbage", "to:9x ", false, {}},
      {"second colon", "a:1:2 ", false, {}},
      {"plus sign", "to:+5 ", false, {}},
      {"empty reply", "", false, {}},
      {"blanks only", "   ", false, {}},
  };
  for (const auto &c : cases) {
    auto got = ifcctl::parse_pieces(c.text);
    ASSERT_EQ(got.has_value(), c.ok) << c.name;
    if (!got) continue;
    ASSERT_EQ(got->size(), c.want.size()) << c.name;
    for (std::size_t i = 0; i < c.want.size(); ++i) {
      EXPECT_EQ((*got)[i].key, c.want[i].first) << c.name;
      EXPECT_EQ((*got)[i].value, c.want[i].second) << c.name;
    }
  }
}

TEST(IfcctlReplies, FindPieceTakesTheFirstOfAKey) {
  auto p = ifcctl::parse_pieces("main_on:1 main_on:2 tw:3 ");
  ASSERT_TRUE(p);
  EXPECT_EQ(ifcctl::find_piece(*p, "main_on"), 1);
  EXPECT_EQ(ifcctl::find_piece(*p, "tw"), 3);
  EXPECT_FALSE(ifcctl::find_piece(*p, "main"));
}

TEST(IfcctlReplies, HistogramSelectionIsFourWords) {
  static const struct {
    const char *name;
    const char *text;
    bool ok;
    int left_colour;
    const char *left_item;
    int right_colour;
    const char *right_item;
  } cases[] = {
      {"defaults", "1 tw 2 tw", true, 1, "tw", 2, "tw"},
      {"after LEFT 3 tb2", "3 tb2 2 tw", true, 3, "tb2", 2, "tw"},
      {"colour outside 1..6 is shown as stored", "9 tw_tbw -1 to", true, 9, "tw_tbw", -1,
       "to"},
      {"three words", "1 tw 2", false, 0, "", 0, ""},
      {"five words", "1 tw 2 tw x", false, 0, "", 0, ""},
      {"colour not a number", "x tw 2 tw", false, 0, "", 0, ""},
      {"right colour not a number", "1 tw tw 2", false, 0, "", 0, ""},
      {"empty", "", false, 0, "", 0, ""},
  };
  for (const auto &c : cases) {
    auto got = ifcctl::parse_hst_select(c.text);
    ASSERT_EQ(got.has_value(), c.ok) << c.name;
    if (!got) continue;
    EXPECT_EQ(got->first.colour, c.left_colour) << c.name;
    EXPECT_EQ(got->first.item, c.left_item) << c.name;
    EXPECT_EQ(got->second.colour, c.right_colour) << c.name;
    EXPECT_EQ(got->second.item, c.right_item) << c.name;
  }
}

TEST(IfcctlReplies, HistogramReplyOfTheSimulatedSource) {
  std::string reply = ifcctl_test::histogram_reply(true);
  ASSERT_EQ(reply.size(), 144u);
  auto h = ifcctl::parse_histogram(reply);
  ASSERT_TRUE(h);
  EXPECT_EQ(h->n1, 234);
  EXPECT_EQ(h->n2, 500);
  EXPECT_DOUBLE_EQ(h->decimal, 4.65);
  EXPECT_EQ(h->n3, 190);
  EXPECT_EQ(h->n4, 500);
  ASSERT_EQ(h->bins.size(), 46u);
  EXPECT_EQ(h->bins[13], 0);
  EXPECT_EQ(h->bins[14], 10);
  EXPECT_EQ(h->bins[23], 300);
  EXPECT_EQ(h->bins[32], 10);
  EXPECT_EQ(h->bins[45], 0);
}

TEST(IfcctlReplies, DamagedHistogramRepliesAreRefused) {
  static const struct {
    const char *name;
    const char *text;
    bool ok;
  } cases[] = {
      {"summary only", "234 500 4.52 190 500", false},
      {"four summary numbers", "234 500 4.65 190", false},
      {"decimal not a number", "234 500 x 190 500 0", false},
      {"integer where the decimal is not allowed", "234.5 500 4.65 190 500 0", false},
      {"bin not a number", "234 500 4.65 190 500 1 2 z", false},
      {"bin beyond 32 bits", "234 500 4.65 190 500 4294967296", false},
      {"empty", "", false},
  };
  for (const auto &c : cases)
    EXPECT_EQ(ifcctl::parse_histogram(c.text).has_value(), c.ok) << c.name;
}

}  // namespace
