// The reply readers: exactly the server's forms, nothing past the reply's
// length, nothing past the caller's storage.
#include "ifcsim/lib_reply.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ifcsim/ifcsim_errors.h"

namespace {

using namespace std::string_literals;
using Pairs = std::vector<std::pair<std::string, int32_t>>;

// The text in storage of exactly its size, without a terminator, so that a
// read past it shows under AddressSanitizer (never null, also when empty).
struct exact {
  explicit exact(const std::string &text)
      : bytes(new char[text.size()]), size(static_cast<int>(text.size())) {
    text.copy(bytes.get(), text.size());
  }
  const char *data() const { return bytes.get(); }
  std::unique_ptr<char[]> bytes;
  int size;
};

TEST(LibReply, PairsAreKeyColonNumberBlank) {
  const std::string key31(31, 'k'), key32(32, 'k');
  const struct {
    const char *name;
    std::string text;
    int capacity;
    int rc;
    Pairs want;  // the pairs filled, also for IFC_ETOOBIG
  } cases[] = {
      {"status reply",
       "color:1 mode:0 totw_sw:0 ",
       8,
       3,
       {{"color", 1}, {"mode", 0}, {"totw_sw", 0}}},
      {"32-bit limits",
       "a:2147483647 b:-2147483648 ",
       8,
       2,
       {{"a", 2147483647}, {"b", -2147483647 - 1}}},
      {"key of 31 bytes", key31 + ":1 ", 8, 1, {{key31, 1}}},
      {"more pieces than room", "a:1 b:2 c:3 ", 2, IFC_ETOOBIG, {{"a", 1}, {"b", 2}}},
      {"malformed behind the room", "a:1 b:2 c ", 1, IFC_EFORM, {}},
      {"key of 32 bytes", key32 + ":1 ", 8, IFC_EFORM, {}},
      {"above 32 bits", "to:2147483648 ", 8, IFC_EFORM, {}},
      {"word without colon", "to:90 tw ", 8, IFC_EFORM, {}},
      {"empty key", ":5 ", 8, IFC_EFORM, {}},
      {"trailing garbage", "to:9x ", 8, IFC_EFORM, {}},
      {"second colon", "a:1:2 ", 8, IFC_EFORM, {}},
      {"plus sign", "to:+5 ", 8, IFC_EFORM, {}},
      {"no trailing blank", "to:1 tw:2", 8, IFC_EFORM, {}},
      {"two blanks", "to:1  tw:2 ", 8, IFC_EFORM, {}},
      {"NUL in a key", "t\0o:1 "s, 8, IFC_EFORM, {}},
      {"empty reply", "", 8, IFC_EFORM, {}},
  };
  for (const auto &c : cases) {
    const exact text(c.text);
    std::vector<ifc_pair> pairs(static_cast<size_t>(c.capacity) + 1);
    pairs[static_cast<size_t>(c.capacity)].value = 4242;  // must stay untouched
    const int rc = ifc_parse_pairs(text.data(), text.size, pairs.data(), c.capacity);
    EXPECT_EQ(rc, c.rc) << c.name;
    for (size_t i = 0; i < c.want.size(); ++i) {
      EXPECT_EQ(pairs[i].key, c.want[i].first) << c.name << " " << i;
      EXPECT_EQ(pairs[i].value, c.want[i].second) << c.name << " " << i;
    }
    EXPECT_EQ(pairs[static_cast<size_t>(c.capacity)].value, 4242) << c.name;
  }
}

TEST(LibReply, PairValueTakesTheFirstOfAKey) {
  const std::string reply = "main_on:1 main_on:2 tw:3 ";
  ifc_pair pairs[3];
  ASSERT_EQ(ifc_parse_pairs(reply.data(), static_cast<int>(reply.size()), pairs, 3), 3);
  const struct {
    const char *name;
    int count;
    const char *key;
    int rc;
    int32_t value;
  } cases[] = {
      {"first of two", 3, "main_on", 0, 1},
      {"last pair", 3, "tw", 0, 3},
      {"a key's start only", 3, "main", IFC_EMISSING, -7},
      {"behind the count", 2, "tw", IFC_EMISSING, -7},
  };
  for (const auto &c : cases) {
    int32_t v = -7;
    EXPECT_EQ(ifc_pair_value(pairs, c.count, c.key, &v), c.rc) << c.name;
    EXPECT_EQ(v, c.value) << c.name;
  }
}

// The reply of the simulated source, then damaged copies of it.
TEST(LibReply, HistogramIsFiveNumbersAndFortySixCounts) {
  std::string bins;
  for (int i = 0; i < IFC_HIST_BINS; ++i) bins += " " + std::to_string(i == 23 ? 300 : i);
  const std::string head = "234 500 4.65 190 500";
  ifc_histogram h;
  const exact good(head + bins);
  ASSERT_EQ(ifc_parse_histogram(good.data(), good.size, &h), 0);
  EXPECT_EQ(h.n1, 234);
  EXPECT_EQ(h.n2, 500);
  EXPECT_DOUBLE_EQ(h.decimal, 4.65);
  EXPECT_EQ(h.n3, 190);
  EXPECT_EQ(h.n4, 500);
  EXPECT_EQ(h.bins[0], 0);
  EXPECT_EQ(h.bins[23], 300);
  EXPECT_EQ(h.bins[45], 45);

  const std::string bins45 = bins.substr(0, bins.rfind(' '));
  const struct {
    const char *name;
    std::string text;
    int rc;
    double decimal;
  } cases[] = {
      {"large decimal", "234 500 123456789.25 190 500" + bins, 0, 123456789.25},
      {"45 bins", head + bins45, IFC_EFORM, 0},
      {"47 bins", head + bins + " 1", IFC_EFORM, 0},
      {"summary only", head, IFC_EFORM, 0},
      {"one decimal place", "234 500 4.6 190 500" + bins, IFC_EFORM, 0},
      {"three decimal places", "234 500 4.650 190 500" + bins, IFC_EFORM, 0},
      {"decimal where an integer goes", "234.50 500 4.65 190 500" + bins, IFC_EFORM, 0},
      {"bin beyond 32 bits", head + bins45 + " 4294967296", IFC_EFORM, 0},
      {"trailing blank", head + bins + " ", IFC_EFORM, 0},
      {"two blanks", "234  500 4.65 190 500" + bins, IFC_EFORM, 0},
  };
  for (const auto &c : cases) {
    const exact text(c.text);
    EXPECT_EQ(ifc_parse_histogram(text.data(), text.size, &h), c.rc) << c.name;
    if (c.rc == 0) {
      EXPECT_DOUBLE_EQ(h.decimal, c.decimal) << c.name;
    }
  }
}

TEST(LibReply, HistogramSelectionIsFourWords) {
  const std::string item15(15, 'i'), item16(16, 'i');
  const struct {
    const char *name;
    std::string text;
    int rc;
    int left_colour;
    std::string left_item;
    int right_colour;
    std::string right_item;
  } cases[] = {
      {"defaults", "1 tw 2 tw", 0, 1, "tw", 2, "tw"},
      {"unknown item number", "3 ? -1 tw_tbw", 0, 3, "?", -1, "tw_tbw"},
      {"item of 15 bytes", "1 " + item15 + " 2 to", 0, 1, item15, 2, "to"},
      {"item of 16 bytes", "1 " + item16 + " 2 to", IFC_EFORM, 0, "", 0, ""},
      {"three words", "1 tw 2", IFC_EFORM, 0, "", 0, ""},
      {"colour not a number", "x tw 2 tw", IFC_EFORM, 0, "", 0, ""},
      {"trailing blank", "1 tw 2 tw ", IFC_EFORM, 0, "", 0, ""},
      {"two blanks", "1  tw 2 tw", IFC_EFORM, 0, "", 0, ""},
      {"empty", "", IFC_EFORM, 0, "", 0, ""},
  };
  for (const auto &c : cases) {
    const exact text(c.text);
    ifc_hist_select s;
    EXPECT_EQ(ifc_parse_hist_select(text.data(), text.size, &s), c.rc) << c.name;
    if (c.rc != 0) continue;
    EXPECT_EQ(s.left_colour, c.left_colour) << c.name;
    EXPECT_EQ(s.left_item, c.left_item) << c.name;
    EXPECT_EQ(s.right_colour, c.right_colour) << c.name;
    EXPECT_EQ(s.right_item, c.right_item) << c.name;
  }
}

TEST(LibReply, NullPointersAndNegativeLengthsAreUsageErrors) {
  ifc_pair p[1];
  ifc_histogram h;
  ifc_hist_select s;
  int32_t v;
  const struct {
    const char *name;
    int rc;
  } cases[] = {
      {"pairs of no reply", ifc_parse_pairs(nullptr, 0, p, 1)},
      {"pairs into nothing", ifc_parse_pairs("a:1 ", 4, nullptr, 1)},
      {"value into nothing", ifc_pair_value(p, 0, "a", nullptr)},
      {"value of no pairs", ifc_pair_value(nullptr, 1, "a", &v)},
      {"histogram into nothing", ifc_parse_histogram("1", 1, nullptr)},
      {"histogram of a negative length", ifc_parse_histogram("1", -1, &h)},
      {"selection into nothing", ifc_parse_hist_select("1 a 2 b", 7, nullptr)},
      {"selection of no reply", ifc_parse_hist_select(nullptr, 0, &s)},
  };
  for (const auto &c : cases) EXPECT_EQ(c.rc, IFC_EUSAGE) << c.name;
}

}  // namespace
