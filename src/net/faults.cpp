#include "net/faults.hpp"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iterator>
#include <string_view>

#include "dispatch/control_file.hpp"
#include "ifcsim/ifcsim_protocol.h"
#include "ifcsim_config.hpp"

namespace {

using token = std::string_view;

// In the order of fault_action and ether_step.
const char *const kActions[] = {"",     "refuse", "delay",  "close", "reset",
                                "lose", "reply",  "garble", "down"};
const char *const kSteps[] = {"len", "block", "next", "fin"};
constexpr int kActionCount = static_cast<int>(std::size(kActions));
constexpr int kStepCount = static_cast<int>(std::size(kSteps));

bool has_step(const fault_rule &r) {
  return r.action == fault_action::delay || r.action == fault_action::close ||
         r.action == fault_action::reset;
}

// Acts before a PUT's payload, when its name is not known yet.
bool before_payload(const fault_rule &r) {
  return r.action == fault_action::refuse || (has_step(r) && r.step == ether_step::next);
}

bool any_name(const fault_rule &r) { return r.pattern_len == 1 && r.pattern[0] == '*'; }

// Whether the rule can act on a GET (get) or a PUT.
bool acts_on(const fault_rule &r, bool get) {
  if (r.verb != 0 && (r.verb == 'G') != get) return false;
  switch (r.action) {
    case fault_action::reply:
    case fault_action::garble:
      return get;
    case fault_action::lose:
      return !get;
    case fault_action::refuse:
      return get || any_name(r);
    default:
      return !has_step(r) ||
             get == (r.step == ether_step::len || r.step == ether_step::block);
  }
}

// A token as a refusal shows it.
const char *shown(token t) { return control_file_shown(t, 24); }

class parser : control_file_parser<fault_error> {
 public:
  parser(fault_table *out, fault_error *err) : control_file_parser(err), t_(out) {}

  int run(const char *text, std::size_t length) {
    t_->count = 0;
    pool_used_ = 0;
    line_ = 0;
    // The pool holds the unescaped texts, never longer than the file.
    if (length > kFaultsMaxBytes) {
      fail("larger than %zu bytes", kFaultsMaxBytes);
      return -1;
    }
    return each_line(text, length,
                     [this](const char *p, const char *eol) { return statement(p, eol); });
  }

 private:
  static constexpr int kMaxWords = 16;

  // Splits [p, eol) into words up to a '#' outside quotes; a quoted text is
  // one word, its backslash escapes included.
  bool statement(const char *p, const char *eol) {
    if (std::memchr(p, '\0', static_cast<std::size_t>(eol - p)) != nullptr)
      return fail("a NUL byte: this is no text file");
    token words[kMaxWords];
    int n = 0;
    for (const char *q = p; q < eol && *q != '#';) {
      if (control_file_blank(*q)) {
        ++q;
        continue;
      }
      const char *start = q;
      bool quoted = false;
      while (q < eol && (quoted || (!control_file_blank(*q) && *q != '#'))) {
        const unsigned char c = static_cast<unsigned char>(*q);
        if (c < 0x20 || c == 0x7f)
          return fail("a control byte (0x%02x) outside a comment%s", c,
                      quoted ? ": write it as an escape such as \\t" : "");
        if (c == '"') quoted = !quoted;
        q += quoted && c == '\\' && q + 1 < eol ? 2 : 1;
      }
      if (quoted) return fail("a text without its closing quote");
      if (n == kMaxWords) return fail("more than 16 words on one line");
      words[n++] = token(start, static_cast<std::size_t>(q - start));
    }
    return n == 0 || rule(words, n);
  }

  bool number(token v, std::int64_t lo, std::int64_t hi, const char *what,
              std::int64_t *out) {
    std::int64_t x = 0;
    bool ok = !v.empty();
    // Past hi x no longer grows: no overflow, however many digits.
    for (std::size_t i = 0; ok && i < v.size(); ++i) {
      ok = v[i] >= '0' && v[i] <= '9';
      if (x <= hi) x = x * 10 + (v[i] - '0');
    }
    if (!ok || x < lo || x > hi)
      return fail("'%s' is no %s (%lld to %lld)", shown(v), what,
                  static_cast<long long>(lo), static_cast<long long>(hi));
    *out = x;
    return true;
  }

  // A double-quoted text with C escapes, unescaped into the pool.
  bool text(token v, fault_rule *r) {
    if (v.size() < 2 || v.front() != '"' || v.back() != '"')
      return fail("reply takes a text in double quotes, such as \"color:1 \", not '%s'",
                  shown(v));
    char *out = t_->pool + pool_used_;
    int n = 0;
    for (std::size_t i = 1; i + 1 < v.size(); ++i) {
      char c = v[i];
      if (c == '\\') {
        c = v[++i];
        static const char kFrom[] = "abfnrtv\\\"'?";
        static const char kTo[] = "\a\b\f\n\r\t\v\\\"'?";
        const char *known = std::strchr(kFrom, c);
        int digits = 0, value = 0;
        const bool hex = c == 'x';
        for (std::size_t j = i + (hex ? 1 : 0);
             j + 1 < v.size() && digits < (hex ? 2 : 3); ++j, ++digits) {
          const char d = v[j];
          const int k = d >= '0' && d <= (hex ? '9' : '7') ? d - '0'
                        : hex && d >= 'a' && d <= 'f'      ? d - 'a' + 10
                        : hex && d >= 'A' && d <= 'F'      ? d - 'A' + 10
                                                           : -1;
          if (k < 0) break;
          value = value * (hex ? 16 : 8) + k;
        }
        if (c != '\0' && known != nullptr) {
          c = kTo[known - kFrom];
        } else if (digits > 0 && value < 256) {
          c = static_cast<char>(value);
          i += static_cast<std::size_t>(digits) - (hex ? 0 : 1);
        } else {
          return fail(
              "'%s' holds no escape that C knows (\\n, \\t, \\\", \\\\, \\x41, \\101...)",
              shown(v.substr(i - 1, 4)));
        }
      }
      out[n++] = c;
    }
    r->reply = out;
    r->reply_len = n;
    pool_used_ += static_cast<std::size_t>(n);
    return true;
  }

  bool rule(const token *w, int n) {
    if (t_->count == kFaultsMaxRules) return fail("more than %d rules", kFaultsMaxRules);
    fault_rule &r = t_->rule[t_->count];
    r = fault_rule{};
    r.line = line_;
    r.text = w[0].data();
    r.text_len = static_cast<int>(w[n - 1].data() + w[n - 1].size() - w[0].data());
    // GET: or PUT: before the pattern: the rule meets requests of that verb
    // only (no command name holds a colon).
    token pattern = w[0];
    if (pattern.substr(0, 4) == "GET:" || pattern.substr(0, 4) == "PUT:") {
      r.verb = pattern[0] == 'G' ? 'G' : 'P';
      pattern.remove_prefix(4);
    }
    r.pattern = pattern.data();
    r.pattern_len = static_cast<int>(pattern.size());
    if (pattern.empty() || pattern.size() > static_cast<std::size_t>(kFaultsMaxPattern) ||
        pattern[0] == '"')
      return fail(
          "'%s' is no pattern: a command name of at most %d characters, * and ?, "
          "perhaps after GET: or PUT:",
          shown(w[0]), kFaultsMaxPattern);
    int a = 1;
    while (n > 1 && a < kActionCount && w[1] != kActions[a]) ++a;
    if (n < 2 || a == kActionCount)
      return fail(
          "%s'%s' is no action (refuse, delay, close, reset, lose, reply, garble, "
          "down)",
          n < 2 ? "no action after the pattern: " : "", shown(n < 2 ? w[0] : w[1]));
    r.action = static_cast<fault_action>(a);
    int i = 2;
    std::int64_t x = 0;
    const token none;
    if (r.action == fault_action::delay) {
      if (!number(i < n ? w[i] : none, 0, kFaultsMaxDelayMs, "delay in milliseconds", &x))
        return false;
      r.amount = static_cast<int>(x);
      ++i;
    } else if (r.action == fault_action::down) {
      if (!number(i < n ? w[i] : none, 1, kFaultsMaxDownSeconds, "time down in seconds",
                  &x))
        return false;
      r.amount = static_cast<int>(x);
      ++i;
    } else if (r.action == fault_action::reply) {
      if (!text(i < n ? w[i] : none, &r)) return false;
      ++i;
    }
    if (has_step(r)) {
      int s = 0;
      while (i + 1 < n && s < kStepCount && w[i + 1] != kSteps[s]) ++s;
      if (i + 1 >= n || w[i] != "before" || s == kStepCount)
        return fail("%s takes 'before' and a step: len, block, next or fin", kActions[a]);
      r.step = static_cast<ether_step>(s);
      i += 2;
    }
    bool times = false, after = false;
    for (; i < n; i += 2) {
      const bool is_times = w[i] == "times";
      if ((!is_times && w[i] != "after") || (is_times ? times : after))
        return fail(
            "'%s' is not understood here: a rule may end in 'times N' and "
            "'after N', once each",
            shown(w[i]));
      if (!number(i + 1 < n ? w[i + 1] : none, is_times ? 1 : 0, kFaultsMaxCount,
                  is_times ? "number of times" : "number of requests", &x))
        return false;
      (is_times ? times : after) = true;
      (is_times ? r.times : r.after) = x;
    }
    if (r.verb != 0 && !acts_on(r, r.verb == 'G'))
      return fail("'%s': %s does not act on a %s, so this rule would never act",
                  shown(w[0]), kActions[a], r.verb == 'G' ? "GET" : "PUT");
    // A PUT's name comes with its payload: what acts before it cannot
    // choose PUTs by name. A refuse rule naming GET commands only acts on GETs.
    if (!any_name(r) && has_step(r) && r.step == ether_step::next)
      return fail(
          "'%s' before next: a PUT's name comes only after its first NEXT, so "
          "this rule takes only the pattern * or PUT:*",
          shown(w[0]));
    if (!any_name(r) && r.action == fault_action::refuse && r.verb != 'G') {
      for (int k = 0; const ifc_command_info *c = ifc_command_at(k); ++k) {
        if (c->verb == IFC_VERB_PUT &&
            faults_match(r.pattern, r.pattern_len, c->name,
                         static_cast<int>(std::strlen(c->name))))
          return fail(
              "'%s' matches PUT commands, whose name comes only after the first "
              "NEXT: to refuse PUTs, give the pattern * or PUT:*",
              shown(w[0]));
      }
    }
    ++t_->count;
    return true;
  }

  fault_table *t_;
  std::size_t pool_used_ = 0;
};

// ---------------------------------------------------------------------------
// The server's file and the current request

char path_copy[PATH_MAX];
control_file file;
char file_text[kFaultsMaxBytes + 1];
fault_table table;
fault_error last_error;
bool enabled = false;
// Matching requests each rule has seen since the file was read.
std::int64_t seen[kFaultsMaxRules];

bool decided = false;  // the current request has met its rule, or passes them all
const fault_rule *applied = nullptr;
int *listener = nullptr;
sockaddr_in listener_addr;
int held = -1;  // the port's socket while it is down
bool down_pending = false;

void pause_ms(long ms) {
  timespec left{ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

void refresh() {
  const int state = control_file_check(&file);
  if (state == kControlUnchanged) return;
  table.count = 0;
  std::memset(seen, 0, sizeof seen);
  if (state == kControlGone) return;
  const char *why = nullptr;
  const long n = control_file_read(&file, file_text, sizeof file_text, &why);
  if (n >= 0 &&
      faults_parse(file_text, static_cast<std::size_t>(n), &table, &last_error) == 0)
    return;
  table.count = 0;
  if (n < 0)
    std::fprintf(stderr, "ifcsim: %s: %s (faults refused, no rule applies)\n", file.path,
                 why);
  else
    std::fprintf(stderr, "ifcsim: %s:%d: %s (faults refused, no rule applies)\n",
                 file.path, last_error.line, last_error.reason);
}

bool live(int i) {
  const fault_rule &r = table.rule[i];
  return r.times == 0 || seen[i] < r.after + r.times;
}

// A socket bound to listener_addr, or -1.
int bound_socket() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  const int one = 1;
  if (fd >= 0 && setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == 0 &&
      bind(fd, reinterpret_cast<const sockaddr *>(&listener_addr),
           sizeof listener_addr) == 0)
    return fd;
  if (fd >= 0) close(fd);
  return -1;
}

// A `down` stops listening at once, so that a client that has its reply
// already finds the port closed; the wait comes once the request is done.
void stop_listening() {
  socklen_t len = sizeof listener_addr;
  if (listener == nullptr || *listener < 0 ||
      getsockname(*listener, reinterpret_cast<sockaddr *>(&listener_addr), &len) != 0)
    return;
  close(*listener);
  *listener = -1;
  down_pending = true;
  // A socket bound to the port but not listening: connections are refused
  // as with none, yet the port stays ours. Without it a port the kernel
  // picked (--port 0) could be handed to another program meanwhile.
  held = bound_socket();
}

// Rule i meets the request: it acts unless the request is one of its first
// `after`.
void take(int i) {
  decided = true;
  if (++seen[i] <= table.rule[i].after) return;
  applied = &table.rule[i];
  if (applied->action == fault_action::down) stop_listening();
}

// The PUT's rules that act once its name is known, in file order.
void take_after_payload(const char *payload, int n) {
  const char *nul = static_cast<const char *>(std::memchr(payload, '\0', n));
  const int name_len = nul != nullptr ? static_cast<int>(nul - payload) : 0;
  for (int i = 0; i < table.count && !decided; ++i) {
    const fault_rule &r = table.rule[i];
    if (acts_on(r, false) && !before_payload(r) && live(i) &&
        faults_match(r.pattern, r.pattern_len, payload, name_len))
      take(i);
  }
  decided = true;
}

bool at_step(int sock, ether_step step, const char *buf, int n) {
  if (step == ether_step::fin && !decided) take_after_payload(buf, n);
  const fault_rule *r = applied;
  if (r == nullptr || !has_step(*r) || r->step != step) return true;
  if (r->action == fault_action::delay) {
    pause_ms(r->amount);
    return true;
  }
  if (r->action == fault_action::reset) {
    const linger now{1, 0};
    (void)setsockopt(sock, SOL_SOCKET, SO_LINGER, &now, sizeof now);
  }
  return false;
}

// The same address and port as before the `down` (also one the kernel
// picked), kept bound meanwhile; should it have been lost in the moment
// between the close and the bind, again every second.
void listen_again() {
  bool told = false;
  for (;;) {
    const int fd = held >= 0 ? held : bound_socket();
    held = -1;
    if (fd >= 0 && listen(fd, kListenBacklog) == 0) {
      *listener = fd;
      return;
    }
    const int err = errno;
    if (fd >= 0) close(fd);
    if (!told)
      std::fprintf(stderr,
                   "ifcsim: down: port %u cannot be listened on again (%s); "
                   "trying every second\n",
                   ntohs(listener_addr.sin_port), std::strerror(err));
    told = true;
    pause_ms(1000);
  }
}

}  // namespace

int faults_parse(const char *text, std::size_t length, fault_table *out,
                 fault_error *err) {
  return parser(out, err).run(text, length);
}

bool faults_match(const char *p, int m, const char *s, int n) {
  // On a mismatch the last '*' takes one byte more: no backtracking beyond it.
  int pi = 0, si = 0, star = -1, mark = 0;
  while (si < n) {
    if (pi < m && p[pi] == '*') {
      star = pi++;
      mark = si;
    } else if (pi < m && (p[pi] == '?' || p[pi] == s[si])) {
      ++pi;
      ++si;
    } else if (star >= 0) {
      pi = star + 1;
      si = ++mark;
    } else {
      return false;
    }
  }
  while (pi < m && p[pi] == '*') ++pi;
  return pi == m;
}

void faults_configure(const char *path) {
  file = control_file{};
  table.count = 0;
  enabled = path != nullptr;
  ether_step_hook = enabled ? at_step : nullptr;
  if (!enabled) return;
  std::snprintf(path_copy, sizeof path_copy, "%s", path);
  file.path = path_copy;
  refresh();
}

bool faults_enabled() { return enabled; }

void faults_watch_listener(int *fd) { listener = fd; }

void faults_begin() {
  refresh();
  decided = false;
  applied = nullptr;
}

fault_action faults_for_get(const char *name, int n) {
  while (n > 0 && name[n - 1] == ' ') --n;
  for (int i = 0; i < table.count && !decided; ++i) {
    const fault_rule &r = table.rule[i];
    if (acts_on(r, true) && live(i) && faults_match(r.pattern, r.pattern_len, name, n))
      take(i);
  }
  decided = true;
  return applied != nullptr ? applied->action : fault_action::none;
}

fault_action faults_for_put(int length) {
  // Only rules for every name can be taken now; a rule for every name that
  // acts after the payload comes first when it stands above them.
  for (int i = 0; i < table.count && !decided; ++i) {
    const fault_rule &r = table.rule[i];
    if (!acts_on(r, false) || !any_name(r) || !live(i)) continue;
    if (!before_payload(r)) break;
    if (r.action == fault_action::refuse || length > 0) take(i);
  }
  return applied != nullptr ? applied->action : fault_action::none;
}

void faults_end() {
  if (!down_pending) return;
  down_pending = false;
  pause_ms(applied->amount * 1000L);
  listen_again();
}

const fault_rule *faults_applied() { return applied; }
