// Fault rules (--faults FILE): the server misbehaves on purpose at named
// steps of the exchange, so that a page's error paths can be tried. One rule
// per line, "PATTERN ACTION [ARGUMENTS] [times N] [after N]"; docs/faults.md
// has the syntax and what each action does on the wire. The parser is shared
// with ifcctl, so that a rule is checked by the code that applies it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "net/ether_com.hpp"

// A larger file is refused unread.
inline constexpr std::size_t kFaultsMaxBytes = 65535;
inline constexpr int kFaultsMaxRules = 1000;
inline constexpr int kFaultsMaxPattern = 64;
// Upper bounds of the numbers a rule takes.
inline constexpr int kFaultsMaxDelayMs = 60000;
inline constexpr int kFaultsMaxDownSeconds = 3600;
inline constexpr std::int64_t kFaultsMaxCount = 1000000000;

enum class fault_action : std::uint8_t {
  none,
  refuse,
  delay,
  close,
  reset,
  lose,
  reply,
  garble,
  down,
};

struct fault_rule {
  int line;             // from 1
  const char *text;     // the rule as written, without blanks around it or a comment
  int text_len;         // (text and pattern point into the parsed text)
  const char *pattern;  // '*' and '?' are wildcards, without a GET:/PUT: prefix
  int pattern_len;
  char verb;  // 'G' or 'P' for a pattern written GET:... or PUT:..., else 0
  fault_action action;
  ether_step step;    // delay, close, reset: before which step
  int amount;         // delay: milliseconds; down: seconds
  const char *reply;  // reply: the text, unescaped (in the table's pool)
  int reply_len;
  std::int64_t times;  // 0: no limit
  std::int64_t after;
};

struct fault_table {
  int count;
  fault_rule rule[kFaultsMaxRules];
  char pool[kFaultsMaxBytes];
};

struct fault_error {
  int line;  // from 1; 0 for the file as a whole
  char reason[160];
};

// Parses length bytes of text into *out; the rules point into text, which
// must outlive them. Returns 0, or -1 with *err filled (*out is then
// unspecified). Allocates nothing.
int faults_parse(const char *text, std::size_t length, fault_table *out,
                 fault_error *err);

// Whether name[0..n) matches pattern[0..m): '*' any run of bytes, '?' one.
bool faults_match(const char *pattern, int m, const char *name, int n);

// The server's side. Takes path (copied) as the rules file and sets the
// transfer's step hook: from now on the server checks the file (one stat)
// before each connection and reads it again when it has changed. A file
// that does not parse is refused whole with one line on standard error.
void faults_configure(const char *path);
bool faults_enabled();

// The listening socket that a `down` rule closes and opens again (*fd then
// holds the new one). The server loop passes it before it accepts.
void faults_watch_listener(int *fd);

// Per connection, while faults_enabled(): faults_begin before the header is
// read; faults_for_get once the GET's name is known and faults_for_put once
// a PUT's length is taken, each returning the action that the server loop
// plays itself (refuse, reply, garble, lose; the steps' actions are played by
// the hook); faults_end once the connection is closed (where a `down` waits).
void faults_begin();
fault_action faults_for_get(const char *name, int n);
fault_action faults_for_put(int length);
void faults_end();

// The rule that acted on the current request (one in its `after` requests
// did not), or nullptr.
const fault_rule *faults_applied();
