// cgi_form_next: every field of a form, in order, decoded.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib/lib_client.hpp"
#include "lib/lib_form.hpp"

namespace {

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
