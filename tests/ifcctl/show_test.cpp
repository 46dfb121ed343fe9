#include "ifcctl/show.hpp"

#include <gtest/gtest.h>

#include <sstream>

#include "ifcctl/canned_replies.hpp"

namespace {

using ifc::client_error;

// Answers from a map; a name that is not in it gets the length -1.
ifcctl::fetch_fn fake(std::map<std::string, std::string> replies,
                      std::vector<std::string> *asked = nullptr) {
  return [replies = std::move(replies), asked](std::string_view name) {
    if (asked) asked->emplace_back(name);
    ifc::get_result r;
    auto it = replies.find(std::string(name));
    if (it == replies.end()) {
      r.length = -1;
    } else {
      r.reply = it->second;
      r.length = static_cast<std::int32_t>(r.reply.size());
    }
    return r;
  };
}

std::vector<std::string> lines(const std::string &text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

// The line of the rendered screen that starts (after indentation) with key.
std::string line_of(const std::string &text, const std::string &key) {
  for (const std::string &l : lines(text))
    if (l.find("  " + key + " ") == 0) return l;
  return "";
}

const std::vector<int> kAllColours = {1, 2, 3, 4, 5, 6};

TEST(IfcctlShow, CollectsEveryPieceWithOneGetEach) {
  std::vector<std::string> asked;
  ifcctl::show_data data;
  auto err = ifcctl::collect_show(fake(ifcctl_test::default_replies(), &asked),
                                  kAllColours, &data);
  ASSERT_FALSE(err) << err->message;
  EXPECT_EQ(asked.size(), 2u + 3u * 6u + 3u);
  ASSERT_EQ(data.colours.size(), 6u);
  EXPECT_EQ(data.colours[1].colour, 2);
  EXPECT_EQ(ifcctl::find_piece(data.colours[1].measured, "tw"), 252);
  EXPECT_EQ(data.colours[5].on_off.size(), 46u);
  EXPECT_EQ(data.selection.size(), 25u);
  EXPECT_EQ(data.left.selected.item, "tw");
  EXPECT_EQ(data.right.selected.colour, 2);
  EXPECT_DOUBLE_EQ(data.right.counts.decimal, 4.52);
}

TEST(IfcctlShow, OneColourAsksOnlyForThatColour) {
  std::vector<std::string> asked;
  ifcctl::show_data data;
  ASSERT_FALSE(
      ifcctl::collect_show(fake(ifcctl_test::default_replies(), &asked), {4}, &data));
  for (const std::string &name : asked)
    if (name.find("_Tot_Twt_") != std::string::npos ||
        name.find("_To_Tw_") != std::string::npos ||
        name.find("_on_off_") != std::string::npos) {
      EXPECT_EQ(name.back(), '4') << name;
    }
  ASSERT_EQ(data.colours.size(), 1u);
  EXPECT_EQ(data.colours[0].colour, 4);
}

TEST(IfcctlShow, FailuresNameTheCommandAndKeepTheTransferError) {
  static const struct {
    const char *name;
    const char *command;  // the reply to change
    const char *reply;    // nullptr: the server does not know the command
    client_error transfer;
    const char *message_part;
  } cases[] = {
      {"unreachable", "IFC_get_stat", "", client_error::connect, "IFC_get_stat"},
      {"broken off", "IFC_get_on_off_5", "", client_error::closed, "IFC_get_on_off_5"},
      {"unknown command", "IFC_get_hst_select", nullptr, client_error::none,
       "does not know"},
      {"reply in another format", "IFC_get_Tot_Twt_3", "to 90 tw 240", client_error::none,
       "IFC_get_Tot_Twt_3: unexpected reply \"to 90 tw 240\""},
      {"bad selection", "IFC_get_hst_select", "1 tw", client_error::none,
       "IFC_get_hst_select: unexpected reply"},
      {"bad histogram", "IFC_get_hist_cntdatR", "234 500", client_error::none,
       "IFC_get_hist_cntdatR: unexpected reply"},
  };
  for (const auto &c : cases) {
    auto replies = ifcctl_test::default_replies();
    if (c.reply) {
      replies[c.command] = c.reply;
    } else {
      replies.erase(c.command);
    }
    ifcctl::fetch_fn fetch = fake(replies);
    if (c.transfer != client_error::none) {
      fetch = [&, inner = fetch](std::string_view name) {
        if (name != c.command) return inner(name);
        ifc::get_result r;
        r.error = c.transfer;
        r.message = "no luck";
        return r;
      };
    }
    ifcctl::show_data data;
    auto err = ifcctl::collect_show(fetch, kAllColours, &data);
    ASSERT_TRUE(err) << c.name;
    EXPECT_EQ(err->error, c.transfer) << c.name;
    EXPECT_NE(err->message.find(c.message_part), std::string::npos)
        << c.name << ": " << err->message;
  }
}

TEST(IfcctlShow, ScreenShowsEveryValueInItsColourColumn) {
  auto replies = ifcctl_test::default_replies();
  replies["IFC_get_stat"] = "color:3 mode:1 totw_sw:1 ";
  replies["IFC_get_select_item"].replace(0, 6, "pin:1 ");
  replies["IFC_get_Tot_Twt_2"] = "to:95 tw:250 ";
  std::string on_off_2 = replies["IFC_get_on_off_2"];
  on_off_2.replace(on_off_2.find("main_on:90 "), 11, "main_on:-5 ");
  replies["IFC_get_on_off_2"] = on_off_2;
  ifcctl::show_data data;
  ASSERT_FALSE(ifcctl::collect_show(fake(replies), kAllColours, &data));
  std::string screen = ifcctl::render_show(data);

  EXPECT_NE(screen.find("color 3  mode 1  totw_sw 1"), std::string::npos) << screen;
  EXPECT_NE(screen.find("[x] pin"), std::string::npos) << screen;
  EXPECT_NE(screen.find("[ ] sub20"), std::string::npos) << screen;
  EXPECT_EQ(line_of(screen, "target to"), "  target to       90  95  90  90  90  90");
  EXPECT_EQ(line_of(screen, "measured tw"), "  measured tw    242 252 242 242 242 242");
  // Two halves side by side: 23 items on the left, the other 23 on the right.
  EXPECT_EQ(
      line_of(screen, "main_on"),
      "  main_on       90  -5  90  90  90  90   sub9_off       0   0   0   0   0   0");
  EXPECT_EQ(
      line_of(screen, "ATC_TO_DELAY"),
      "  ATC_TO_DELAY   0   0   0   0   0   0   sub7_off     300 300 300 300 300 300");
  for (const auto &[item, value] : ifcctl_test::default_on_off_items())
    EXPECT_NE(screen.find(" " + item + " "), std::string::npos) << item;
  EXPECT_NE(screen.find("Histogram left: item tw, colour 1   (234 500 4.65 190 500)"),
            std::string::npos);
  EXPECT_NE(screen.find("Histogram right: item tw, colour 2   (234 500 4.52 190 500)"),
            std::string::npos);
  for (const std::string &l : lines(screen)) EXPECT_LE(l.size(), 80u) << l;
}

TEST(IfcctlShow, BarsScaleToTheLargestCount) {
  static const struct {
    const char *name;
    std::vector<std::int32_t> bins;
    int height;
    const char *want;
  } cases[] = {
      {"linear",
       {0, 1, 2, 4},
       4,
       "  4 |   #\n"
       "    |   #\n"
       "    |  ##\n"
       "    | ###\n"
       "  0 +----\n"
       "     0\n"},
      {"a small count still shows",
       {1000, 1},
       2,
       "  1000 |#\n"
       "       |##\n"
       "     0 +--\n"
       "        0\n"},
      {"all zero and negative draw nothing",
       {0, -3, 0},
       2,
       "  0 |\n"
       "    |\n"
       "  0 +---\n"
       "     0\n"},
      {"ticks every ten bins", std::vector<std::int32_t>(21, 1), 1,
       "  1 |#####################\n"
       "  0 +---------------------\n"
       "     0         10        20\n"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(ifcctl::render_bars(c.bins, c.height), c.want) << c.name;
}

}  // namespace
