// line2matrix2 on arbitrary text: overlong keys and values, items without a
// colon, more than 500 items. Whatever it makes of them, every field of
// every row must stay NUL-terminated within the field, and nothing may be
// read past the text's terminator (the text is an exact-size allocation).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "ifcsim/lib_fp.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::vector<char> text(data, data + size);
  text.push_back('\0');
  line2matrix2(text.data());

  for (const l2m2_row &row : l2m2) {
    if (std::memchr(row.key, '\0', sizeof row.key) == nullptr ||
        std::memchr(row.value, '\0', sizeof row.value) == nullptr)
      __builtin_trap();
  }
  return 0;
}
