// ether_put_data and every PUT handler, with the payload placed at the very
// end of a buffer of exactly 256001 bytes: the handlers may write the byte
// right behind the data part, and only that one, so any write past the
// reserved byte lands in ASan's redzone.
//
// Input: byte 0 picks the entry (0: ether_put_data on the whole payload,
// k: row k of put_commands with the payload as its data part), byte 1 picks a
// GET command to run afterwards (so the reply shows what the PUT stored),
// the rest is the payload, cut to 256000 bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "dispatch/ether_parse.hpp"
#include "fuzz_support.hpp"
#include "ifcsim_config.hpp"

namespace {

int count_rows(const command_entry<put_handler> *t) {
  int n = 0;
  while (t[n].name != nullptr) ++n;
  return n;
}

int count_rows(const command_entry<get_handler> *t) {
  int n = 0;
  while (t[n].name != nullptr) ++n;
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_support::init_process();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 2) return 0;
  fuzz_support::scratch_dir in_scratch;

  static char *const buf = new char[kMaxPayload + 1];
  static char *const reply = new char[kMaxPayload];
  static const int put_rows = count_rows(put_commands);
  static const int get_rows = count_rows(get_commands);

  int pick = data[0] % (put_rows + 1);
  int get_pick = data[1] % (get_rows + 1);
  data += 2;
  size -= 2;
  if (size > static_cast<std::size_t>(kMaxPayload)) size = kMaxPayload;
  int len = static_cast<int>(size);

  char *payload = buf + kMaxPayload - len;
  if (len > 0) std::memcpy(payload, data, size);
  buf[kMaxPayload] = '\x7f';  // whatever a handler may overwrite

  if (pick == 0) {
    ether_put_data(payload, len);
  } else {
    put_commands[pick - 1].handler(payload, len);
  }

  if (get_pick > 0) {
    int n = get_commands[get_pick - 1].handler(reply);
    // A GET reply is a NUL-terminated text of the returned length.
    if (n < 0 || n >= kMaxPayload || reply[n] != '\0' ||
        std::memchr(reply, '\0', static_cast<std::size_t>(n)) != nullptr)
      __builtin_trap();
  }
  return 0;
}
