// The checks every page makes of its input: where a change comes from, the
// numbers, and the fields of a form.
#include "console/request.hpp"

#include <gtest/gtest.h>

namespace console {
namespace {

TEST(ConsoleSameOrigin, OnlyTheConsolesOwnHostAndPort) {
  static const struct {
    const char *name, *origin, *referer, *host;
    bool https, expected;
  } cases[] = {
      {"origin matches", "http://127.0.0.1:8080", nullptr, "127.0.0.1:8080", false, true},
      {"host names compare without case", "http://Console:8080", nullptr, "console:8080",
       false, true},
      {"other port", "http://127.0.0.1:8081", nullptr, "127.0.0.1:8080", false, false},
      {"other scheme", "https://127.0.0.1:8080", nullptr, "127.0.0.1:8080", false, false},
      {"https console", "https://console", nullptr, "console", true, true},
      {"longer host", "http://127.0.0.1:80800", nullptr, "127.0.0.1:8080", false, false},
      {"opaque origin", "null", "http://127.0.0.1:8080/", "127.0.0.1:8080", false, false},
      {"origin decides over referer", "http://evil", "http://h/", "h", false, false},
      {"referer of a page", nullptr, "http://h:1/cgi-bin/targets.cgi?x", "h:1", false,
       true},
      {"referer of the root", nullptr, "http://h:1", "h:1", false, true},
      {"referer of a longer host", nullptr, "http://h:1.evil/", "h:1", false, false},
      {"referer with user part", nullptr, "http://h:1@evil/", "h:1", false, false},
      {"neither header", nullptr, nullptr, "h:1", false, false},
      {"no host", "http://h", nullptr, nullptr, false, false},
      {"host with a line end", "http://h\r\nX: y", nullptr, "h\r\nX: y", false, false},
      {"bracketed IPv6", "http://[::1]:8080", nullptr, "[::1]:8080", false, true},
  };
  for (const auto &c : cases)
    EXPECT_EQ(same_origin(c.origin, c.referer, c.host, c.https), c.expected) << c.name;
}

TEST(ConsoleParseInt32, DecimalNumbersThatFit) {
  static const struct {
    const char *text;
    number_error error;
    int32_t value;
  } cases[] = {
      {"0", number_error::none, 0},
      {" -17 ", number_error::none, -17},
      {"+5", number_error::none, 5},
      {"2147483647", number_error::none, 2147483647},
      {"-2147483648", number_error::none, INT32_MIN},
      {"2147483648", number_error::too_big, 0},
      {"-2147483649", number_error::too_big, 0},
      {"99999999999999999999999", number_error::too_big, 0},
      {"", number_error::empty, 0},
      {"  ", number_error::empty, 0},
      {"-", number_error::not_a_number, 0},
      {"1.5", number_error::not_a_number, 0},
      {"0x10", number_error::not_a_number, 0},
      {"1 2", number_error::not_a_number, 0},
  };
  for (const auto &c : cases) {
    int32_t v = 0;
    EXPECT_EQ(parse_int32(c.text, &v), c.error) << c.text;
    if (c.error == number_error::none) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
}

bool known(std::string_view name) { return name == "a" || name == "b"; }

TEST(ConsoleFields, RecordTheFirstFailure) {
  static const std::string long_name = "a=1&" + std::string(130, 'q') + "=1";
  static const struct {
    const char *name, *form;
    const char *field, *why;  // field "": no failure
  } cases[] = {
      {"all fine", "a=1&b=x+y", "", ""},
      {"unknown field", "a=1&c=2&d", "c", "unknown field"},
      {"unknown field after an empty piece", "a=1&&z=1", "z", "unknown field"},
      {"field name too long", long_name.c_str(), "(a field name)",
       "too long to be a field of this page"},
      {"number missing", "b=x", "a", "missing"},
      {"not a number", "a=x&b=1", "a", "not a number"},
      {"bad escape", "a=%G1&b=1", "a", "badly encoded"},
  };
  for (const auto &c : cases) {
    fields f(c.form);
    f.only(known);
    f.number("a");
    f.text("b", 8);
    EXPECT_EQ(f.ok(), *c.field == '\0') << c.name;
    if (*c.field == '\0') continue;
    std::string body = f.error("x.cgi").body;
    EXPECT_NE(
        body.find(std::string("<code id=\"field\">") + c.field + "</code>: " + c.why),
        std::string::npos)
        << c.name << "\n"
        << body;
  }
  fields f("a=5&b=long+text");
  EXPECT_EQ(f.text("b", 4), "");
  EXPECT_FALSE(f.ok());
  int32_t v = 0;
  fields g("a=5");
  EXPECT_TRUE(g.number_if_present("a", &v));
  EXPECT_EQ(v, 5);
  EXPECT_FALSE(g.number_if_present("b", &v));
  EXPECT_TRUE(g.ok());
}

}  // namespace
}  // namespace console
