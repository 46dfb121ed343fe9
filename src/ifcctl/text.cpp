#include "ifcctl/text.hpp"

#include <cstdio>

namespace ifcctl {

void trim_trailing_blanks(std::string *s) {
  std::size_t end = s->find_last_not_of(' ');
  s->erase(end == std::string::npos ? 0 : end + 1);
}

std::string printable(std::string_view s) {
  std::string out;
  for (unsigned char c : s) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c >= 0x20 && c < 0x7f) {
      out.push_back(static_cast<char>(c));
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out;
}

}  // namespace ifcctl
