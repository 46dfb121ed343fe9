// The page writer: text from anywhere is escaped, in pieces of any length,
// and the redirect cannot be made to split its header.
#include "console/page.hpp"

#include <gtest/gtest.h>

#include <string>

namespace console {
namespace {

std::string repeat(const std::string &s, int n) {
  std::string out;
  while (n-- > 0) out += s;
  return out;
}

TEST(ConsoleHtml, EscapesTextAndAttributes) {
  static const struct {
    const char *name;
    std::string in, out;
  } cases[] = {
      {"markup", "<b onclick='x'>&\"", "&lt;b onclick=&#39;x&#39;&gt;&amp;&quot;"},
      {"a NUL byte", std::string("a\0b", 3),
       "a\xEF\xBF\xBD"
       "b"},
      {"longer than one piece", repeat("<", 1500), repeat("&lt;", 1500)},
      {"UTF-8 as it is", "\u00e9\u20ac\U0001F600", "\u00e9\u20ac\U0001F600"},
      {"bytes that are not UTF-8", "a\xff\xc3(\xe2\x82\xed\xa0\x80\xc0\xaf",
       "a\uFFFD\uFFFD(\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"a sequence cut at a piece's end", repeat("a", 511) + "\u20ac",
       repeat("a", 511) + "\u20ac"},
  };
  for (const auto &c : cases) {
    html h;
    h.text(c.in).attr("value", c.in);
    EXPECT_EQ(h.str(), c.out + " value=\"" + c.out + "\"") << c.name;
  }
  html n;
  n.num(-2147483648LL).fixed(4.649999, 2);
  EXPECT_EQ(n.str(), "-21474836484.65");
}

TEST(ConsoleSeeOther, RedirectsWithoutSplittingTheHeader) {
  response r = see_other("targets.cgi?done=saved");
  EXPECT_EQ(r.status, 303);
  EXPECT_NE(r.headers.find("Location: targets.cgi?done=saved\r\n"), std::string::npos);
  EXPECT_EQ(see_other("x\r\nSet-Cookie: a=b").headers.find("Set-Cookie"),
            std::string::npos);
}

}  // namespace
}  // namespace console
