// Form fields, the request body and HTML escaping, into caller buffers.
#include "ifcsim/lib_form.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ifcsim/ifcsim_errors.h"

namespace {

using namespace std::string_literals;

TEST(LibForm, FieldValueIsDecodedIntoTheBuffer) {
  const struct {
    const char *name;
    std::string form;
    const char *field;
    int capacity;
    int rc;
    std::string value;
  } cases[] = {
      {"plus and escape", "a=1&b=x+y%21", "b", 16, 4, "x y!"},
      {"first of two", "a=1&a=2", "a", 16, 1, "1"},
      {"hex in either case", "p=%2f%2F", "p", 16, 2, "//"},
      {"field without =", "flag&a=1", "flag", 16, 0, ""},
      {"= inside the value", "a=b=c", "a", 16, 3, "b=c"},
      {"name decoded", "m%61in+on=95", "main on", 16, 2, "95"},
      {"semicolon is no separator", "a=1;b=2", "a", 16, 5, "1;b=2"},
      {"exactly fits", "a=abc", "a", 4, 3, "abc"},
      {"a byte too long", "a=abcd", "a", 4, IFC_ETOOBIG, ""},
      {"missing", "a=1&b=2", "c", 16, IFC_EMISSING, ""},
      {"bad hex", "a=%zz", "a", 16, IFC_EFORM, ""},
      {"escape cut short", "a=1%4", "a", 16, IFC_EFORM, ""},
      {"escape of a NUL", "a=x%00y", "a", 16, IFC_EFORM, ""},
      {"malformed behind the room", "a=abcdef%zz", "a", 4, IFC_EFORM, ""},
      {"malformed in another field", "x=%zz&a=1", "a", 16, 1, "1"},
      {"malformed in a name", "%zz=1&a=2", "a", 16, 1, "2"},
  };
  for (const auto &c : cases) {
    // Exactly the form's bytes, no terminator: a read past them shows under ASan.
    std::unique_ptr<char[]> form(new char[c.form.size()]);
    c.form.copy(form.get(), c.form.size());
    std::string out(static_cast<size_t>(c.capacity), 'x');
    const int rc = cgi_form_value(form.get(), static_cast<int>(c.form.size()), c.field,
                                  out.data(), c.capacity);
    EXPECT_EQ(rc, c.rc) << c.name;
    EXPECT_EQ(std::string(out.c_str()), c.value) << c.name;
  }
  char out[8];
  EXPECT_EQ(cgi_form_value("a=12", 3, "a", out, sizeof out), 1) << "only length bytes";
  EXPECT_STREQ(out, "1");
}

TEST(LibForm, HtmlEscapingFitsTheBufferOrWritesNothing) {
  const struct {
    const char *name;
    const char *text;
    int capacity;
    int rc;
    const char *out;
  } cases[] = {
      {"all five", "a<b>&\"'", 64, 26, "a&lt;b&gt;&amp;&quot;&#39;"},
      {"empty", "", 1, 0, ""},
      {"exactly fits", "<", 5, 4, "&lt;"},
      {"entity one byte short", "<", 4, IFC_ETOOBIG, ""},
      {"plain text one byte short", "abc", 3, IFC_ETOOBIG, ""},
  };
  for (const auto &c : cases) {
    std::string out(static_cast<size_t>(c.capacity), 'x');
    EXPECT_EQ(cgi_html_escape(c.text, out.data(), c.capacity), c.rc) << c.name;
    EXPECT_STREQ(out.c_str(), c.out) << c.name;
    EXPECT_EQ(html_escape(c.text, out.data(), c.capacity), c.rc)
        << c.name << " (old name)";
  }
}

// The body comes from standard input, here a pipe.
TEST(LibForm, BodyOfContentLengthBytes) {
  const struct {
    const char *name;
    const char *content_length;  // nullptr: not set
    std::string input;
    int capacity;
    int rc;
    std::string body;
  } cases[] = {
      {"whole body", "5", "hello", 16, 5, "hello"},
      {"no more than the length", "5", "hello world", 16, 5, "hello"},
      {"empty CONTENT_LENGTH", "", "hello", 16, 0, ""},
      {"input ends first", "5", "hel", 16, IFC_ECLOSED, "hel"},
      {"too long for the buffer", "5", "hello", 5, IFC_ETOOBIG, ""},
      {"no number", "abc", "hello", 16, IFC_EFORM, ""},
      {"beyond an int", "99999999999", "hello", 16, IFC_EFORM, ""},
  };
  const int saved_stdin = dup(STDIN_FILENO);
  ASSERT_GE(saved_stdin, 0);
  for (const auto &c : cases) {
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    ASSERT_EQ(write(p[1], c.input.data(), c.input.size()),
              static_cast<ssize_t>(c.input.size()));
    close(p[1]);
    dup2(p[0], STDIN_FILENO);
    close(p[0]);
    if (c.content_length)
      setenv("CONTENT_LENGTH", c.content_length, 1);
    else
      unsetenv("CONTENT_LENGTH");
    std::string body(static_cast<size_t>(c.capacity), 'x');
    EXPECT_EQ(cgi_read_body(body.data(), c.capacity), c.rc) << c.name;
    EXPECT_EQ(std::string(body.c_str()), c.body) << c.name;
  }
  dup2(saved_stdin, STDIN_FILENO);
  close(saved_stdin);
  unsetenv("CONTENT_LENGTH");
}

// A number field: what a page reads, and the three ways it can be wrong.
TEST(LibForm, NumberFieldIsCheckedAgainstItsRange) {
  static const struct {
    const char *name, *form, *field;
    int32_t min, max;
    int rc;
    int32_t value;  // -7 when untouched
  } cases[] = {
      {"in range", "to=95&tw=250", "tw", 0, 359, 0, 250},
      {"the upper bound", "to=359", "to", 0, 359, 0, 359},
      {"sign and blanks, encoded", "to=+%2B95%09+", "to", 0, 359, 0, 95},
      {"negative", "to=-5", "to", -10, 10, 0, -5},
      {"the 32-bit ends", "to=-2147483648", "to", INT32_MIN, INT32_MAX, 0, INT32_MIN},
      {"missing", "tw=1", "to", 0, 359, IFC_EMISSING, -7},
      {"empty", "to=", "to", 0, 359, IFC_ENOTNUMBER, -7},
      {"a sign alone", "to=-", "to", -9, 9, IFC_ENOTNUMBER, -7},
      {"letters behind the digits", "to=95x", "to", 0, 359, IFC_ENOTNUMBER, -7},
      {"a blank inside", "to=9+5", "to", 0, 359, IFC_ENOTNUMBER, -7},
      {"above the range", "to=360", "to", 0, 359, IFC_ERANGE, -7},
      {"below the range", "to=-1", "to", 0, 359, IFC_ERANGE, -7},
      {"beyond 32 bits", "to=99999999999999999999", "to", INT32_MIN, INT32_MAX,
       IFC_ERANGE, -7},
      {"bad escape", "to=9%2", "to", 0, 359, IFC_EFORM, -7},
      {"range upside down", "to=1", "to", 5, 4, IFC_EUSAGE, -7},
  };
  for (const auto &c : cases) {
    int32_t v = -7;
    const int len = static_cast<int>(std::strlen(c.form));
    EXPECT_EQ(cgi_form_int(c.form, len, c.field, c.min, c.max, &v), c.rc) << c.name;
    EXPECT_EQ(v, c.value) << c.name;
  }
  static const cgi_int_field fields[] = {{"to", 0, 359}, {"tw", 0, 359}};
  int32_t values[2] = {-7, -7};
  int bad = 9;
  EXPECT_EQ(cgi_form_ints("tw=2&to=1&x=y", 13, fields, 2, values, &bad), 0);
  EXPECT_EQ(bad, -1);
  EXPECT_EQ(values[0], 1);
  EXPECT_EQ(values[1], 2);
  EXPECT_EQ(cgi_form_ints("to=1&tw=400", 11, fields, 2, values, &bad), IFC_ERANGE);
  EXPECT_EQ(bad, 1);
}

TEST(LibForm, NullPointersAndNoRoomAreUsageErrors) {
  char out[4];
  const struct {
    const char *name;
    int rc;
  } cases[] = {
      {"no form", cgi_form_value(nullptr, 0, "a", out, 4)},
      {"no buffer", cgi_form_value("a=1", 3, "a", nullptr, 4)},
      {"no room", cgi_form_value("a=1", 3, "a", out, 0)},
      {"body into no room", cgi_read_body(out, 0)},
      {"escape of nothing", cgi_html_escape(nullptr, out, 4)},
      {"escape into no room", cgi_html_escape("a", out, 0)},
  };
  for (const auto &c : cases) EXPECT_EQ(c.rc, IFC_EUSAGE) << c.name;
}

// "name=value" per field, or "!code" for a failed one.
std::vector<std::string> walk(const std::string &form, int name_capacity = 16,
                              int value_capacity = 16) {
  std::vector<std::string> out;
  int pos = 0;
  char name[64], value[64];
  for (int guard = 0; guard < 20; ++guard) {
    int r = cgi_form_next(form.data(), static_cast<int>(form.size()), &pos, name,
                          name_capacity, value, value_capacity);
    if (r == IFC_EMISSING) return out;
    out.push_back(r < 0 ? std::string(name) + "!" + std::to_string(r)
                        : std::string(name) + "=" + std::string(value, r));
  }
  out.push_back("(no end)");
  return out;
}

TEST(CgiFormNext, WalksEveryFieldInOrder) {
  // clang-format off
  static const struct {
    const char *name, *form;
    std::vector<std::string> fields;
  } cases[] = {
      {"empty form", "", {}},
      {"only separators", "&&&", {}},
      {"decoded names and values", "a=1&b%5B%5D=x+y%21&c", {"a=1", "b[]=x y!", "c="}},
      {"empty pieces skipped", "&a=1&&b=2&", {"a=1", "b=2"}},
      {"a name given twice", "a=1&a=2", {"a=1", "a=2"}},
      {"empty name", "=v", {"=v"}},
      {"bad escape in a value, walk goes on", "a=%zz&b=1", {"a!-11", "b=1"}},
      {"bad escape in a name", "%z=1&b=1", {"!-11", "b=1"}},
      {"decoded NUL", "a=%00&b=1", {"a!-11", "b=1"}},
      {"value too long, name kept", "a=0123456789abcdefXYZ&b=1", {"a!-7", "b=1"}},
      {"name too long", "0123456789abcdefXYZ=1&b=1", {"!-7", "b=1"}},
  };
  // clang-format on
  for (const auto &c : cases) EXPECT_EQ(walk(c.form), c.fields) << c.name;
}

TEST(CgiFormNext, RefusesBadArguments) {
  char name[8], value[8];
  int pos = 0;
  EXPECT_EQ(cgi_form_next(nullptr, 0, &pos, name, 8, value, 8), IFC_EUSAGE);
  EXPECT_EQ(cgi_form_next("a=1", 3, nullptr, name, 8, value, 8), IFC_EUSAGE);
  EXPECT_EQ(cgi_form_next("a=1", 3, &pos, name, 0, value, 8), IFC_EUSAGE);
  pos = 4;
  EXPECT_EQ(cgi_form_next("a=1", 3, &pos, name, 8, value, 8), IFC_EUSAGE);
  pos = -1;
  EXPECT_EQ(cgi_form_next("a=1", 3, &pos, name, 8, value, 8), IFC_EUSAGE);
  // Only length bytes are read: the field behind them is not there.
  pos = 0;
  EXPECT_EQ(cgi_form_next("a=1&b=2", 3, &pos, name, 8, value, 8), 1);
  EXPECT_EQ(cgi_form_next("a=1&b=2", 3, &pos, name, 8, value, 8), IFC_EMISSING);
}

}  // namespace
