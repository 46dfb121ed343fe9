// Redirect pages, the text/plain debug output and the page attribute records.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <string>

#include "ifcsim/lib_fp.h"
#include "support/stdout_capture.hpp"

using testing_support::run_in_child_capturing_stdout;
using testing_support::StdoutCapture;

namespace {

const char kHtmlHead[] = "content-type: text/html\r\n\r\n<html>\n";
const char kPlainHead[] = "content-type: text/plain\r\n\r\n";

TEST(Redirect, PagesByteForByte) {
  static const struct {
    const char *name;
    const char *url;
    const char *written;  // the url as it appears between the double quotes
  } cases[] = {
      {"path", "/cgi-bin/menu.cgi", "/cgi-bin/menu.cgi"},
      {"query string with & and =", "/cgi-bin/vfp.cgi?col=3&item=main_on&x=",
       "/cgi-bin/vfp.cgi?col=3&item=main_on&x="},
      {"absolute with port, fragment, percent and blank",
       "http://10.0.0.5:8080/a%20b/c d;e?f=(1)+[2]#top",
       "http://10.0.0.5:8080/a%20b/c d;e?f=(1)+[2]#top"},
      {"bytes above 0x7F pass", "/caf\xC3\xA9\xFF", "/caf\xC3\xA9\xFF"},
      {"empty", "", ""},
      {"single quote", "a'b", "a%27b"},
      {"double quote", "a\"b", "a%22b"},
      {"backslash", "a\\b", "a%5Cb"},
      {"angle brackets", "</script><b>", "%3C/script%3E%3Cb%3E"},
      {"control characters and DEL", "\ta\r\nb\x01\x1F\x7F", "%09a%0D%0Ab%01%1F%7F"},
      {"break out of the script string", "x\";alert(1);//", "x%22;alert(1);//"},
      {"break out of the attribute", "x' onmouseover='alert(1)",
       "x%27 onmouseover=%27alert(1)"},
  };
  for (const auto &c : cases) {
    std::string page, parent_page;
    {
      // Asserting only afterwards: a failure message would land in the capture.
      StdoutCapture out;
      cgi_redirect(c.url);
      page = out.take();
      cgi_parent_redirect(c.url);
      parent_page = out.take();
    }
    EXPECT_EQ(page, std::string(kHtmlHead) + "<body onload='javascript:location.href=\"" +
                        c.written + "\";'>\n</body></html>")
        << c.name;
    EXPECT_EQ(parent_page, std::string(kHtmlHead) +
                               "<body onload='javascript:parent.location.href=\"" +
                               c.written + "\";'>\n</body></html>")
        << c.name;
  }
}

TEST(Redirect, NullUrlIsWrittenAsEmpty) {
  std::string page;
  {
    StdoutCapture out;
    cgi_redirect(nullptr);
    page = out.take();
  }
  EXPECT_EQ(page, std::string(kHtmlHead) +
                      "<body onload='javascript:location.href=\"\";'>\n</body></html>");
}

// One call of the debug output family, run in a sequence.
struct Step {
  char op;  // 'i' show_debinfo_init, 'd' show_debinfo, 't' show_text, 'p' SorPrintf,
            // 'v' vSorPrintf, 's' sprint_push + sprint_pull
  const char *text;
};

int call_vsor(const char *format, ...) {
  va_list args;
  va_start(args, format);
  int n = vSorPrintf(format, args);
  va_end(args);
  return n;
}

// Runs the steps; the count each call returns is printed as "=N|" behind its
// text, so the expected output shows the results too.
void run_steps(const void *arg) {
  for (const Step *s = static_cast<const Step *>(arg); s->op != 0; ++s) {
    int n = -2;
    switch (s->op) {
      case 'i':
        show_debinfo_init();
        continue;
      case 's':
        sprint_push();
        sprint_pull();
        continue;
      case 'd':
        n = show_debinfo("%s", s->text);
        break;
      case 't':
        n = show_text("%s", s->text);
        break;
      case 'p':
        n = SorPrintf("%s", s->text);
        break;
      case 'v':
        n = call_vsor("%s", s->text);
        break;
    }
    printf("=%d|", n);
  }
}

// Each sequence runs in a fresh child process: the header flag starts as a
// program that links the library finds it.
TEST(DebugOutput, HeaderWrittenOnceAfterInit) {
  static const Step no_init[] = {{'d', "a\n"}, {'t', "b"}, {0, nullptr}};
  static const Step init_then_two[] = {
      {'i', ""}, {'d', "a\n"}, {'d', "bc"}, {'t', "d"}, {0, nullptr}};
  static const Step init_then_text[] = {{'i', ""}, {'t', "x"}, {'d', "y"}, {0, nullptr}};
  static const Step rearmed[] = {{'i', ""}, {'d', "1"}, {'i', ""},
                                 {'i', ""}, {'t', "2"}, {0, nullptr}};
  static const Step printf_wrappers[] = {{'i', ""},  {'p', "p%"}, {'s', ""},
                                         {'v', "v"}, {'d', "d"},  {0, nullptr}};
  static const struct {
    const char *name;
    const Step *steps;
    std::string want;
  } cases[] = {
      {"no header without init", no_init, "a\n=2|b=1|"},
      {"header before the first text only", init_then_two,
       std::string(kPlainHead) + "a\n=2|bc=2|d=1|"},
      {"show_text writes the armed header too", init_then_text,
       std::string(kPlainHead) + "x=1|y=1|"},
      {"init again arms it again, once", rearmed,
       std::string(kPlainHead) + "1=1|" + kPlainHead + "2=1|"},
      {"printf wrappers neither write nor consume the header", printf_wrappers,
       std::string("p%=2|v=1|") + kPlainHead + "d=1|"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(run_in_child_capturing_stdout(run_steps, c.steps), c.want) << c.name;
  }
}

// Bytes of a record at the offsets its callers rely on.
struct Image {
  unsigned char bytes[128] = {};
  void i32(size_t at, int32_t v) { std::memcpy(bytes + at, &v, 4); }
  void i16(size_t at, int16_t v) { std::memcpy(bytes + at, &v, 2); }
  void text(size_t at, const char *s) { std::memcpy(bytes + at, s, std::strlen(s)); }
};

TEST(AttributeRecords, TableRecordsLayoutAndValues) {
  static const struct {
    const char *name;
    const mtbl_attr *record;
    int32_t width;
    int32_t show_error;
    int16_t refresh[2];
  } cases[] = {
      {"default_1", &mtbl_attr_default_1, 52, 1, {0, 0}},
      {"default_2", &mtbl_attr_default_2, 90, 1, {0, 0}},
      {"default_img", &mtbl_attr_default_img, 70, 1, {0, 0}},
      {"no_perror_1", &mtbl_attr_no_perror_1, 52, 0, {0, 0}},
      {"no_perror_2", &mtbl_attr_no_perror_2, 90, 0, {0, 0}},
      {"no_perror_img", &mtbl_attr_no_perror_img, 70, 0, {0, 0}},
      {"refresh1", &mtbl_attr_refresh1, 70, 0, {1, 1}},
      {"refresh2", &mtbl_attr_refresh2, 70, 0, {1, 2}},
      {"refresh3", &mtbl_attr_refresh3, 70, 0, {1, 3}},
      {"refresh2_1", &mtbl_attr_refresh2_1, 70, 0, {2, 1}},
      {"refresh2_2", &mtbl_attr_refresh2_2, 70, 0, {2, 2}},
      {"refresh2_3", &mtbl_attr_refresh2_3, 70, 0, {2, 3}},
  };
  ASSERT_EQ(sizeof(mtbl_attr), 108u);
  for (const auto &c : cases) {
    Image want;
    want.i32(0, c.width);
    want.text(4, "#FFE4C4");
    want.text(12, "#000000");
    want.text(20, "middle");
    want.text(30, "center");
    want.text(40, "center");
    want.i32(52, 1);
    want.i32(64, c.show_error);
    want.i16(68, c.refresh[0]);
    want.i16(70, c.refresh[1]);
    const auto *got = reinterpret_cast<const unsigned char *>(c.record);
    // Bytes 50 and 51 are alignment padding in front of the integers.
    EXPECT_EQ(std::memcmp(got, want.bytes, 50), 0) << c.name;
    EXPECT_EQ(std::memcmp(got + 52, want.bytes + 52, 108 - 52), 0) << c.name;
  }
}

TEST(AttributeRecords, OptionAndChoiceRecords) {
  static const struct {
    const char *name;
    const void *record;
    int32_t values[6];
  } options[] = {
      {"tbl_opt_default", &tbl_opt_default, {0, 0, 0, 0, 0, 12}},
      {"js_opt_clr", &js_opt_clr, {0, 0, 0, 0, 0, 0}},
      {"js_opt_default_1", &js_opt_default_1, {0, 1, 0, 0, 0, 0}},
  };
  ASSERT_EQ(sizeof(tbl_opt), 24u);
  ASSERT_EQ(sizeof(js_opt), 24u);
  for (const auto &c : options) {
    EXPECT_EQ(std::memcmp(c.record, c.values, 24), 0) << c.name;
  }

  static const struct {
    const char *name;
    const rdoyn_attr *record;
    int16_t first, second;
    const char *first_label, *second_label;
  } choices[] = {
      {"y_n", &rdoyn_attr_y_n, 1, 0, nullptr, nullptr},
      {"i_c", &rdoyn_attr_i_c, 0, 1, "inch", "cm"},
      {"a_s", &rdoyn_attr_a_s, 0, 1, "ALL", "SET"},
  };
  for (const auto &c : choices) {
    EXPECT_EQ(c.record->first_value, c.first) << c.name;
    EXPECT_EQ(c.record->second_value, c.second) << c.name;
    EXPECT_EQ(c.record->flags, 0) << c.name;
    for (auto [got, want] : {std::pair{c.record->first_label, c.first_label},
                             std::pair{c.record->second_label, c.second_label}}) {
      if (want == nullptr) {
        EXPECT_EQ(got, nullptr) << c.name;
      } else {
        EXPECT_STREQ(got, want) << c.name;
      }
    }
  }
}

}  // namespace
