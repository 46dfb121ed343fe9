// The response writers, byte for byte, and what they refuse to write.
#include "ifcsim/lib_cgi.h"

#include <gtest/gtest.h>

#include <string>

#include "support/stdout_capture.hpp"

namespace {

using testing_support::StdoutCapture;

// clang-format off
TEST(LibCgi, WritesExactlyAndRefusesWhatWouldBreakTheResponse) {
  static const struct {
    const char *name;
    int (*write)();
    int rc;
    const char *out;
  } cases[] = {
      {"%s and %c escaped, the format not",
       [] { return cgi_printf("<b>%s</b>%c%d%%", "a<&>\"'", '<', -5); }, 39,
       "<b>a&lt;&amp;&gt;&quot;&#39;</b>&lt;-5%"},
      {"width and precision count the text before escaping",
       [] { return cgi_printf("[%5s|%-4.2s|%*d|%-*c]", "<", "&&&", 4, 7, -3, '"'); }, 37,
       "[    &lt;|&amp;&amp;  |   7|&quot;  ]"},
      {"every length of number",
       [] { return cgi_printf("%hhd %hu %ld %llu %zu %jd %td %5.1f %Lg %#x",
                              static_cast<signed char>(-1), static_cast<unsigned short>(65535),
                              -2L, 3ULL, static_cast<size_t>(4), static_cast<intmax_t>(5),
                              static_cast<ptrdiff_t>(-6), 2.25, 1.5L, 255u); }, 35,
       "-1 65535 -2 3 4 5 -6   2.2 1.5 0xff"},
      {"a null text", [] { const char *volatile none = nullptr; return cgi_printf("%s", none); },
       6, "(null)"},
      {"%n refused", [] { int n; return cgi_printf("ab%n", &n); }, IFC_EUSAGE, ""},
      {"a format ending in %", [] { const char *f = "50%"; return cgi_printf(f, 1); },
       IFC_EUSAGE, ""},
      {"status", [] { return cgi_status(404); }, 0, "Status: 404 Not Found\r\n"},
      {"status out of range", [] { return cgi_status(99); }, IFC_EUSAGE, ""},
      {"header", [] { return cgi_header("X-Note", "a\tb"); }, 0, "X-Note: a\tb\r\n"},
      {"header value with a line end",
       [] { return cgi_header("X-Note", "a\r\nSet-Cookie: x"); }, IFC_EUSAGE, ""},
      {"header name with a blank", [] { return cgi_header("X Note", "a"); }, IFC_EUSAGE,
       ""},
      {"end of the headers", [] { return cgi_end_headers(); }, 0, "\r\n"},
      {"see other", [] { return cgi_see_other("t.cgi?saved=1&a=\"<"); }, 0,
       "Status: 303 See Other\r\nLocation: t.cgi?saved=1&a=\"<\r\n"
       "Content-Type: text/html; charset=utf-8\r\n\r\n<!DOCTYPE html>\n"
       "<p><a href=\"t.cgi?saved=1&amp;a=&quot;&lt;\">Continue</a></p>\n"},
      {"see other with a line end", [] { return cgi_see_other("t.cgi\nLocation: x"); },
       IFC_EUSAGE, ""},
      {"page frame", [] { int rc = cgi_page_begin(200, "A & B"); return rc ? rc : cgi_page_end(); },
       0,
       "Status: 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
       "Cache-Control: no-store\r\n\r\n<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
       "<title>A &amp; B</title></head>\n<body>\n</body></html>\n"},
      {"error page", [] { return cgi_error_page(504, IFC_ETIMEOUT, "<to>"); }, 0,
       "Status: 504 Gateway Timeout\r\nContent-Type: text/html; charset=utf-8\r\n"
       "Cache-Control: no-store\r\n\r\n<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
       "<title>Gateway Timeout</title></head>\n<body>\n<h1>504 Gateway Timeout</h1>\n"
       "<p id=\"error\" data-code=\"-3\">&lt;to&gt;: timed out</p>\n</body></html>\n"},
  };
  for (const auto &c : cases) {
    int rc;
    std::string out;
    {
      // Asserting only afterwards: a failure message would land in the capture.
      StdoutCapture capture;
      rc = c.write();
      out = capture.take();
    }
    EXPECT_EQ(rc, c.rc) << c.name;
    EXPECT_EQ(out, c.out) << c.name;
  }
}
// clang-format on

}  // namespace
