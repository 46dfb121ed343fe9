// The page writer: text from anywhere is escaped, in pieces of any length,
// and the redirect cannot be made to split its header.
#include "console/page.hpp"

#include <gtest/gtest.h>

#include <string>

namespace console {
namespace {

TEST(ConsoleHtml, EscapesTextAndAttributes) {
  static const struct {
    const char *name;
    std::string in, out;
  } cases[] = {
      {"markup", "<b onclick='x'>&\"", "&lt;b onclick=&#39;x&#39;&gt;&amp;&quot;"},
      {"plain", "sub1_on", "sub1_on"},
      {"a NUL byte", std::string("a\0b", 3),
       "a\xEF\xBF\xBD"
       "b"},
      {"longer than one piece", std::string(1500, '<'),
       [] {
         std::string s;
         for (int i = 0; i < 1500; ++i) s += "&lt;";
         return s;
       }()},
  };
  for (const auto &c : cases) {
    html h;
    h.text(c.in);
    EXPECT_EQ(h.str(), c.out) << c.name;
    html a;
    a.attr("value", c.in);
    EXPECT_EQ(a.str(), " value=\"" + c.out + "\"") << c.name;
  }
  html n;
  n << "<td>";
  n.num(-2147483648LL).fixed(4.649999, 2) << "</td>";
  EXPECT_EQ(n.str(), "<td>-21474836484.65</td>");
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
