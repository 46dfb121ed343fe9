// Fault rules files: any bytes go through the parser, which takes them whole
// or refuses them with a line that exists and a reason. A rule it takes keeps
// to its bounds and, parsed again from its own text, is the same rule; its
// pattern matches itself and is tried on the input as a name.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_support.hpp"
#include "net/faults.hpp"

namespace {

bool same(const fault_rule &a, const fault_rule &b) {
  return a.action == b.action && a.step == b.step && a.amount == b.amount &&
         a.times == b.times && a.after == b.after && a.reply_len == b.reply_len &&
         a.pattern_len == b.pattern_len &&
         std::memcmp(a.pattern, b.pattern, static_cast<std::size_t>(a.pattern_len)) ==
             0 &&
         (a.reply_len == 0 ||
          std::memcmp(a.reply, b.reply, static_cast<std::size_t>(a.reply_len)) == 0);
}

void check_rule(const fault_rule &r, const char *text, std::size_t size,
                const fault_table &t, fault_table *alone) {
  const bool has_reply = r.action == fault_action::reply;
  if (r.action <= fault_action::none || r.action > fault_action::down ||
      r.pattern_len < 1 || r.pattern_len > kFaultsMaxPattern || r.text < text ||
      r.text + r.text_len > text + size || r.times < 0 || r.times > kFaultsMaxCount ||
      r.after < 0 || r.after > kFaultsMaxCount || r.amount < 0 ||
      r.amount > kFaultsMaxDelayMs ||
      (has_reply && (r.reply < t.pool || r.reply_len < 0 ||
                     r.reply + r.reply_len > t.pool + sizeof t.pool)))
    __builtin_trap();
  fault_error err{};
  if (faults_parse(r.text, static_cast<std::size_t>(r.text_len), alone, &err) != 0 ||
      alone->count != 1 || !same(r, alone->rule[0]))
    __builtin_trap();
  if (!faults_match(r.pattern, r.pattern_len, r.pattern, r.pattern_len)) __builtin_trap();
  (void)faults_match(r.pattern, r.pattern_len, text, static_cast<int>(size));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_support::init_process();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static fault_table *const table = new fault_table;
  static fault_table *const alone = new fault_table;
  const char *text = reinterpret_cast<const char *>(data);
  fault_error err{};
  if (faults_parse(text, size, table, &err) != 0) {
    const long lines = std::count(text, text + size, '\n') + 1;
    if (err.line < 0 || err.line > lines || err.reason[0] == '\0' ||
        std::memchr(err.reason, '\0', sizeof err.reason) == nullptr)
      __builtin_trap();
    return 0;
  }
  if (table->count < 0 || table->count > kFaultsMaxRules) __builtin_trap();
  for (int i = 0; i < table->count; ++i)
    check_rule(table->rule[i], text, size, *table, alone);
  return 0;
}
