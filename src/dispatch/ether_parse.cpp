#include "dispatch/ether_parse.hpp"

#include <cstdio>
#include <cstring>

#include "dispatch/sim_main.hpp"
#include "ifcsim_config.hpp"

std::int16_t deb_ether_parse = 1;

// GET names are stored followed by 20 blanks: the first 20 characters of a
// row are then the name as a client fills the command field.
#define GET_ROW(name, summary) \
  { #name "                    ", name, summary }
#define PUT_ROW(name, summary) \
  { #name, name, summary }

const command_entry<get_handler> get_commands[] = {
    {nullptr, nullptr, nullptr},
};

const command_entry<put_handler> put_commands[] = {
    PUT_ROW(append_log, "append the text to cgi.log"),
    {nullptr, nullptr, nullptr},
};

#undef GET_ROW
#undef PUT_ROW

namespace {

// Names match when they agree over 20 characters or up to a NUL both have.
bool names_match(const char *received, const char *row) {
  return strncmp(received, row, kCommandFieldSize) == 0;
}

}  // namespace

int ether_get_data(const char *name, char *buf) {
  for (const auto *row = get_commands; row->name != nullptr; ++row) {
    if (names_match(name, row->name)) return row->handler(buf);
  }
  return -1;
}

void ether_put_data(char *payload, int len) {
  const char *end =
      len > 0 ? static_cast<const char *>(memchr(payload, '\0', len)) : nullptr;
  if (end == nullptr) {
    if (deb_ether_parse) puts("COMMAND END not found");
    return;
  }
  const int name_len = static_cast<int>(end - payload);
  char *data = payload + name_len + 1;
  const int data_len = len - name_len - 1;
  for (const auto *row = put_commands; row->name != nullptr; ++row) {
    if (names_match(payload, row->name)) {
      (void)row->handler(data, data_len);
      return;
    }
  }
  if (deb_ether_parse) puts("not found");
}
