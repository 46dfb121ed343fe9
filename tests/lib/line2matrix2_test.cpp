#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "ifcsim/lib_fp.h"

namespace {

using Rows = std::vector<std::pair<std::string, std::string>>;

// The 80-byte image a row must have: both fields zero behind their text.
std::string row_image(const std::string &key, const std::string &value) {
  std::string image(sizeof(l2m2_row), '\0');
  image.replace(0, key.size(), key);
  image.replace(offsetof(l2m2_row, value), value.size(), value);
  return image;
}

// Splits a copy of text held in a buffer of exactly its size plus the NUL,
// so that a read behind the text shows up under AddressSanitizer.
std::vector<char> split(const std::string &text) {
  std::vector<char> buf(text.begin(), text.end());
  buf.push_back('\0');
  line2matrix2(buf.data());
  return buf;
}

void expect_rows(const std::string &name, const Rows &rows) {
  ASSERT_LE(rows.size(), static_cast<size_t>(L2M2_ROWS)) << name;
  for (size_t k = 0; k < L2M2_ROWS; ++k) {
    std::string want = k < rows.size() ? row_image(rows[k].first, rows[k].second)
                                       : std::string(sizeof(l2m2_row), '\0');
    std::string got(reinterpret_cast<const char *>(&l2m2[k]), sizeof(l2m2_row));
    ASSERT_EQ(got, want) << name << ": row " << k;
  }
}

const std::string kBad = L2M2_BAD_KEY;

TEST(Line2Matrix2, SplitsItemsIntoRows) {
  static const std::string key29(29, 'k'), key30(30, 'k');
  static const std::string value49(49, '7'), value50(50, '7');
  static const struct {
    const char *name;
    std::string text;
    Rows rows;
  } cases[] = {
      {"two items", "main_on:95 main_off:160", {{"main_on", "95"}, {"main_off", "160"}}},
      {"runs of spaces",
       "   main_on:95    main_off:160   ",
       {{"main_on", "95"}, {"main_off", "160"}}},
      {"second colon stays in the value", "a:1:2", {{"a", "1:2"}}},
      {"empty value", "x:", {{"x", ""}}},
      {"empty key is kept and later items still split",
       "main_on:95 :5 main_off:1",
       {{"main_on", "95"}, {"", "5"}, {"main_off", "1"}}},
      {"colon alone", ":", {{"", ""}}},
      {"empty text", "", {}},
      {"spaces only", "     ", {}},
      {"line feed is part of the item", "a:1\nb:2", {{"a", "1\nb:2"}}},
      {"tab and carriage return are part of the item",
       "a:\t1\r b:2",
       {{"a", "\t1\r"}, {"b", "2"}}},
      {"duplicate keys give two rows", "a:1 a:2", {{"a", "1"}, {"a", "2"}}},
      {"key of 29 characters", key29 + ":1", {{key29, "1"}}},
      {"key of 30 characters matches nothing",
       key30 + ":1 b:2",
       {{kBad, ""}, {"b", "2"}}},
      {"value of 49 characters", "a:" + value49, {{"a", value49}}},
      {"value of 50 characters matches nothing",
       "a:" + value50 + " b:2",
       {{kBad, ""}, {"b", "2"}}},
      {"item without a colon matches nothing",
       "main_on main_off:5",
       {{kBad, ""}, {"main_off", "5"}}},
      {"long item without a colon",
       std::string(1000, 'z') + " b:2",
       {{kBad, ""}, {"b", "2"}}},
      {"empty key with a value of 50 characters", ":" + value50, {{kBad, ""}}},
  };
  for (const auto &c : cases) {
    split(c.text);
    expect_rows(c.name, c.rows);
  }
}

TEST(Line2Matrix2, KeepsAtMost500Items) {
  static const struct {
    const char *name;
    int items;
  } cases[] = {
      {"499 items", 499}, {"500 items", 500}, {"501 items", 501}, {"2000 items", 2000}};
  for (const auto &c : cases) {
    std::string text;
    Rows rows;
    for (int i = 0; i < c.items; ++i) {
      text += "k" + std::to_string(i) + ":" + std::to_string(i) + " ";
      if (i < L2M2_ROWS) rows.emplace_back("k" + std::to_string(i), std::to_string(i));
    }
    split(text);
    expect_rows(c.name, rows);
  }
}

TEST(Line2Matrix2, ClearsWhatTheLastCallLeft) {
  split("a:1 b:2 c:3");
  split("d:4");
  expect_rows("second call", {{"d", "4"}});
}

TEST(Line2Matrix2, EndsEachItemWithANulInPlace) {
  std::vector<char> buf = split(" a:1  b:2 ");
  EXPECT_EQ(std::string(buf.data(), buf.size()), std::string(" a:1\0 b:2\0", 11));
}

}  // namespace
