// The traffic page's reader of the journal: exactly the journal's JSON, each
// string back as its bytes, and lines read from the end within a bound.
#include "console/journal_reader.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.hpp"

namespace console {
namespace {

// A field's value as one text: a list's items and an object's members
// joined by commas.
std::string flat(const journal_value &v) {
  std::string out = v.text;
  for (const auto &[key, item] : v.items)
    out += (out.empty() ? "" : ",") + (key.empty() ? item : key + "=" + item);
  return out;
}

TEST(JournalParse, ReadsTheJournalsFormAndNothingElse) {
  using namespace std::string_literals;
  // clang-format off
  static const struct {
    const char *name;
    std::string line;
    const char *field;  // nullptr: the line is refused
    std::string value;
  } cases[] = {
      {"bytes back from their escapes", R"({"text":"a\"\\\n\r\t\u0000\u00FF\u001b/"})", "text", "a\"\\\n\r\t\0\xff\x1b/"s},
      {"a number as written", R"({"time":"t","ms":-0.412e3})", "ms", "-0.412e3"},
      {"a list", R"({"notes":["early-bytes","key-order"],"saved":[]})", "notes", "early-bytes,key-order"},
      {"the fault object", R"({"fault":{"line":3,"rule":"IFC_* drop"}})", "fault", "line=3,rule=IFC_* drop"},
      {"blanks between the parts", R"( { "mark" : "test 1" } )", "mark", "test 1"},
      {"an escape beyond a byte", R"({"text":"\u0100"})", nullptr, ""},
      {"an escape the journal does not write", R"({"text":"\q"})", nullptr, ""},
      {"a raw control byte", "{\"text\":\"a\x01\"}", nullptr, ""},
      {"a string not ended", R"({"text":"abc})", nullptr, ""},
      {"more after the object", R"({"a":1} x)", nullptr, ""},
      {"a list in a list", R"({"a":[["x"]]})", nullptr, ""},
      {"a word", R"({"a":true})", nullptr, ""},
      {"a number without digits", R"({"a":-})", nullptr, ""},
      {"not an object", R"(["a"])", nullptr, ""},
      {"nothing", "", nullptr, ""},
  };
  // clang-format on
  for (const auto &c : cases) {
    journal_entry e;
    ASSERT_EQ(journal_parse(c.line, &e), c.field != nullptr) << c.name;
    if (c.field) {
      EXPECT_EQ(flat(*e.find(c.field)), c.value) << c.name;
    }
  }
}

TEST(JournalTail, NewestFirstWholeLinesWithinTheWindow) {
  testing_support::TempDir dir;
  const std::string path = dir.file("journal.jsonl");
  testing_support::write_file(path, "a\nbb\nccc\npartial");  // the last one being written
  static const struct {
    const char *name;
    long long before, window;
    std::vector<std::pair<long long, std::string>> lines;
    long long first;
  } cases[] = {
      {"all of it", -1, 1 << 20, {{5, "ccc"}, {2, "bb"}, {0, "a"}}, 0},
      {"before a line", 5, 1 << 20, {{2, "bb"}, {0, "a"}}, 0},
      {"a window that cuts a line", -1, 12, {{5, "ccc"}}, 5},
      {"a window with the end of a line alone", -1, 9, {}, 9},
      {"a window within one line", -1, 6, {}, 10},
  };
  for (const auto &c : cases) {
    journal_lines tail;
    ASSERT_EQ(journal_tail(path.c_str(), c.before, c.window, &tail), 0) << c.name;
    EXPECT_EQ(tail.lines, c.lines) << c.name;
    EXPECT_EQ(tail.first, c.first) << c.name;
    EXPECT_EQ(tail.size, 16) << c.name;
  }
}

}  // namespace
}  // namespace console
