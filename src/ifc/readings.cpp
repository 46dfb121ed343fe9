#include "ifc/readings.hpp"

#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>

#include "dispatch/control_file.hpp"
#include "ifc/ifc_net.hpp"
#include "ifcsim/ifcsim_protocol.h"

namespace {

constexpr int kToTwCount = 2;
constexpr int kAverageCount = 11;
constexpr int kHistogramCount = 51;
constexpr int kBins = 46;
constexpr int kFirstAverage = 6;
constexpr int kFirstHistogram = 12;

// The measured pair is item 0 and item 10 of the histogram items (to, tw);
// the averages are items 0 to 10 (to, tb1..tb8, tbw, tw).
constexpr int kToTwItems[kToTwCount] = {0, 10};
const char *const kSummaryKeys[5] = {"n1", "n2", "decimal", "n3", "n4"};

int slot_count(int reply) {
  return reply < kFirstAverage     ? kToTwCount
         : reply < kFirstHistogram ? kAverageCount
                                   : kHistogramCount;
}

// ---------------------------------------------------------------------------
// Parsing

using token = std::string_view;

// A token as a refusal shows it.
const char *shown(token t) { return control_file_shown(t, 20); }

class parser : control_file_parser<readings_error> {
 public:
  parser(readings_table *out, readings_error *err) : control_file_parser(err), t_(out) {}

  int run(const char *text, std::size_t length) {
    t_->every_ms = 0;
    t_->frames = 0;
    clear(&t_->frame[0], 0);
    every_seen_ = false;
    return each_line(text, length,
                     [this](const char *p, const char *eol) { return statement(p, eol); });
  }

 private:
  static constexpr int kMaxTokens = 64;

  static void clear(readings_frame *f, int line) {
    std::memset(f->set, 0, sizeof f->set);
    f->line = line;
  }

  readings_frame &current() { return t_->frame[t_->frames]; }

  void set(int slot, std::int64_t v) {
    current().value[slot] = v;
    current().set[slot / 64] |= std::uint64_t{1} << (slot % 64);
  }

  // Splits [p, eol) into tokens up to a '#'; refuses control bytes before it.
  bool statement(const char *p, const char *eol) {
    // A NUL even in a comment: the file is then no text.
    if (std::memchr(p, '\0', static_cast<std::size_t>(eol - p)) != nullptr)
      return fail("a NUL byte: this is no text file");
    token words[kMaxTokens];
    int n = 0;
    for (const char *q = p; q < eol && *q != '#';) {
      if (control_file_blank(*q)) {
        ++q;
        continue;
      }
      const char *start = q;
      while (q < eol && !control_file_blank(*q) && *q != '#') {
        const unsigned char c = static_cast<unsigned char>(*q);
        if (c < 0x20 || c == 0x7f) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "0x%02x", c);
          return fail("a control byte (%s) outside a comment", hex);
        }
        ++q;
      }
      if (n == kMaxTokens) return fail("more than 64 words on one line");
      words[n++] = token(start, static_cast<std::size_t>(q - start));
    }
    if (n == 0) return true;
    const token w = words[0];
    if (w == "every") return every(words, n);
    if (w == "frame") return frame(n);
    if (w == "measured" || w == "average") return colours(words, n, w == "average");
    if (w == "left" || w == "right" || w == "both") return histogram(words, n);
    return fail("unknown word '%s' (every, frame, measured, average, left, right, both)",
                shown(w));
  }

  bool every(const token *words, int n) {
    if (every_seen_ || t_->frames > 0)
      return fail("'every' comes at most once, before the first frame");
    if (n != 2)
      return fail("'every' takes one interval: request, or such as 2s or 500ms");
    every_seen_ = true;
    const token v = words[1];
    if (v == "request") return true;
    const bool ms = v.ends_with("ms");
    const token digits = v.substr(0, v.size() - (ms ? 2 : v.ends_with("s") ? 1 : 0));
    std::int64_t x = 0;
    bool ok = digits.size() < v.size() && !digits.empty() && digits.size() <= 9;
    for (std::size_t i = 0; ok && i < digits.size(); ++i) {
      ok = digits[i] >= '0' && digits[i] <= '9';
      x = x * 10 + (digits[i] - '0');
    }
    if (ok) x *= ms ? 1 : 1000;
    if (!ok || x < 1 || x > kReadingsMaxEveryMs)
      return fail("'%s' is no interval: request, or 1ms to 86400s (such as 2s, 500ms)",
                  shown(v));
    t_->every_ms = x;
    return true;
  }

  bool frame(int n) {
    if (n != 1) return fail("'frame' stands alone on its line");
    if (t_->frames == kReadingsMaxFrames) return fail("more than 1000 frames");
    ++t_->frames;
    std::memcpy(&current(), &t_->frame[0], sizeof(readings_frame));
    current().line = line_;
    return true;
  }

  // A whole number within 32 bits: an optional '-', then digits.
  bool whole(token v, std::int64_t *out) {
    const bool neg = v.starts_with('-');
    const token digits = v.substr(neg ? 1 : 0);
    std::int64_t x = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return fail("'%s' is no whole number", shown(v));
      if (x <= INT64_C(1) << 32) x = x * 10 + (c - '0');
    }
    if (digits.empty()) return fail("'%s' is no whole number", shown(v));
    x = neg ? -x : x;
    if (x < INT32_MIN || x > INT32_MAX)
      return fail("%s is outside 32 bits (-2147483648 to 2147483647)", shown(v));
    *out = x;
    return true;
  }

  // In hundredths: digits, then a point and one or two decimals if any.
  bool decimal(token v, std::int64_t *out) {
    const bool neg = v.starts_with('-');
    const token body = v.substr(neg ? 1 : 0);
    const std::size_t point = body.find('.');
    const token ints = body.substr(0, point);
    const token decs = point == token::npos ? token() : body.substr(point + 1);
    bool ok = !ints.empty() && (point == token::npos || !decs.empty());
    std::int64_t x = 0;
    // Digits only; past 16 of them (refused below) x no longer grows.
    for (std::size_t i = 0; ok && i < ints.size(); ++i) {
      ok = ints[i] >= '0' && ints[i] <= '9';
      if (ok && i < 16) x = x * 10 + (ints[i] - '0');
    }
    for (std::size_t i = 0; ok && i < 2; ++i) {
      const char c = i < decs.size() ? decs[i] : '0';
      ok = ok && c >= '0' && c <= '9';
      x = x * 10 + (c - '0');
    }
    if (!ok || decs.size() > 2)
      return fail("'%s' is no decimal with at most two places (such as 4.65)", shown(v));
    if (ints.size() > static_cast<std::size_t>(kReadingsDecimalDigits))
      return fail("%s has more than 13 digits before the point", shown(v));
    *out = neg ? -x : x;
    return true;
  }

  // "key:number" pieces for the reply's keys; slot is the reply's first.
  bool pieces(const token *words, int n, int reply, int keys, const char *what) {
    if (n == 0) return fail("nothing to set: %s", what);
    for (int i = 0; i < n; ++i) {
      const std::size_t colon = words[i].find(':');
      const token key = words[i].substr(0, colon);
      int k = 0;
      while (k < keys && key != readings_key(reply, k)) ++k;
      if (colon == token::npos || k == keys)
        return fail("'%s' is no piece of %s", shown(words[i]), what);
      const token v = words[i].substr(colon + 1);
      std::int64_t x = 0;
      const bool is_decimal = reply >= kFirstHistogram && k == kReadingsDecimalIndex;
      if (!(is_decimal ? decimal(v, &x) : whole(v, &x))) return false;
      set(readings_first_slot(reply) + k, x);
    }
    return true;
  }

  // "3", "3-6" or (when all_word) "all", within lo..hi.
  bool range(token v, int lo, int hi, const char *all_word, int *from, int *to,
             const char *what) {
    if (all_word != nullptr && v == all_word) {
      *from = lo;
      *to = hi;
      return true;
    }
    int x[2] = {-1, -1};
    int k = 0;
    for (char c : v) {
      if (c == '-' && k == 0 && x[0] >= 0) {
        k = 1;
      } else if (c >= '0' && c <= '9' && x[k] < 1000) {
        x[k] = (x[k] < 0 ? 0 : x[k] * 10) + (c - '0');
      } else {
        x[k] = INT_MAX;
        break;
      }
    }
    if (k == 0) x[1] = x[0];
    if (x[0] < lo || x[1] > hi || x[0] > x[1])
      return fail("'%s' is no %s", shown(v), what);
    *from = x[0];
    *to = x[1];
    return true;
  }

  bool colours(const token *words, int n, bool average) {
    const char *what =
        average ? "average (to:N, tb1:N to tb8:N, tbw:N, tw:N)" : "measured (to:N tw:N)";
    if (n < 2) return fail("no colour number: 1 to 6, a range such as 3-6, or all");
    int from = 0, to = 0;
    if (!range(words[1], 1, 6, "all", &from, &to,
               "colour number: 1 to 6, a range such as 3-6, or all"))
      return false;
    for (int c = from; c <= to; ++c) {
      const int reply = (average ? kFirstAverage : 0) + c - 1;
      if (!pieces(words + 2, n - 2, reply, slot_count(reply), what)) return false;
    }
    return true;
  }

  bool histogram(const token *words, int n) {
    const int first = words[0] == "right" ? 1 : 0;
    const int last = words[0] == "left" ? 0 : 1;
    for (int side = first; side <= last; ++side) {
      const int reply = kFirstHistogram + side;
      if (n >= 2 && words[1] == "bins") {
        if (!bins(words + 2, n - 2, readings_first_slot(reply) + kReadingsFirstBin))
          return false;
      } else if (!pieces(words + 1, n - 1, reply, kReadingsFirstBin,
                         "a histogram (n1:N n2:N decimal:D n3:N n4:N, or bins)")) {
        return false;
      }
    }
    return true;
  }

  // "K v v ..." from bin K on, or "K-L v" for each of them, or "K-L" and
  // one value per bin.
  bool bins(const token *words, int n, int slot0) {
    int from = 0, to = 0;
    if (n < 2)
      return fail("'bins' takes a bin or range and its counts, such as bins 0-45 0");
    if (!range(words[0], 0, kBins - 1, nullptr, &from, &to,
               "bin or range of bins 0 to 45"))
      return false;
    const int values = n - 1;
    const bool ranged = words[0].find('-') != token::npos;
    char counts[16];
    std::snprintf(counts, sizeof counts, "%d", values);
    if (ranged && values != 1 && values != to - from + 1)
      return fail("range %s takes one count or one per bin, not %s", shown(words[0]),
                  counts);
    if (!ranged && from + values > kBins)
      return fail("%s counts from bin %s run past bin 45", counts, shown(words[0]));
    if (!ranged) to = from + values - 1;
    for (int b = from; b <= to; ++b) {
      std::int64_t x = 0;
      if (!whole(words[values == 1 ? 1 : 1 + b - from], &x)) return false;
      set(slot0 + b, x);
    }
    return true;
  }

  readings_table *t_;
  bool every_seen_ = false;
};

// ---------------------------------------------------------------------------
// The server's file

std::int64_t monotonic_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

char path_copy[PATH_MAX];
control_file file;
char file_text[kReadingsMaxBytes + 1];
readings_table table;
readings_error last_error;
bool active = false;
std::uint64_t requests[kReadingsReplies];
std::int64_t start_ms = 0;
std::int64_t (*clock_ms)() = monotonic_ms;

void refuse(int line, const char *reason) {
  active = false;
  if (line > 0)
    std::fprintf(stderr,
                 "ifcsim: %s:%d: %s (readings refused, simulated values served)\n",
                 file.path, line, reason);
  else
    std::fprintf(stderr, "ifcsim: %s: %s (readings refused, simulated values served)\n",
                 file.path, reason);
}

void refresh() {
  const int state = control_file_check(&file);
  if (state == kControlUnchanged) return;
  active = false;
  if (state == kControlGone) return;
  const char *why = nullptr;
  const long n = control_file_read(&file, file_text, sizeof file_text, &why);
  if (n < 0) return refuse(0, why);
  if (readings_parse(file_text, static_cast<std::size_t>(n), &table, &last_error) != 0)
    return refuse(last_error.line, last_error.reason);
  active = true;
  std::memset(requests, 0, sizeof requests);
  start_ms = clock_ms();
}

// The frame this request of the reply shows, or nullptr for simulated values.
const readings_frame *take_frame(int reply) {
  if (file.path == nullptr) return nullptr;
  refresh();
  if (!active) return nullptr;
  std::uint64_t k = requests[reply]++;
  if (table.every_ms > 0) {
    const std::int64_t now = clock_ms();
    k = now > start_ms ? static_cast<std::uint64_t>((now - start_ms) / table.every_ms)
                       : 0;
  }
  return &readings_frame_at(table, static_cast<int>(k % readings_frame_count(table)));
}

void put(const readings_frame &f, int slot, std::int32_t *to) {
  if (readings_is_set(f, slot)) *to = static_cast<std::int32_t>(f.value[slot]);
}

}  // namespace

int readings_first_slot(int reply) {
  if (reply <= kFirstAverage) return reply * kToTwCount;
  if (reply <= kFirstHistogram)
    return kFirstAverage * kToTwCount + (reply - kFirstAverage) * kAverageCount;
  return kFirstAverage * kToTwCount + 6 * kAverageCount +
         (reply - kFirstHistogram) * kHistogramCount;
}

const char *readings_key(int reply, int index) {
  if (reply < kFirstAverage) return ifc_hist_item_name(kToTwItems[index]);
  if (reply < kFirstHistogram) return ifc_hist_item_name(index);
  return index < kReadingsFirstBin ? kSummaryKeys[index] : nullptr;
}

bool readings_is_set(const readings_frame &f, int slot) {
  return (f.set[slot / 64] >> (slot % 64)) & 1;
}

int readings_frame_count(const readings_table &t) { return t.frames > 0 ? t.frames : 1; }

const readings_frame &readings_frame_at(const readings_table &t, int k) {
  return t.frame[t.frames > 0 ? k + 1 : 0];
}

int readings_parse(const char *text, std::size_t length, readings_table *out,
                   readings_error *err) {
  return parser(out, err).run(text, length);
}

void readings_configure(const char *path) {
  file = control_file{};
  active = false;
  if (path != nullptr) {
    std::snprintf(path_copy, sizeof path_copy, "%s", path);
    file.path = path_copy;
    refresh();
  }
}

void readings_use_clock(std::int64_t (*now_ms)()) {
  clock_ms = now_ms != nullptr ? now_ms : monotonic_ms;
}

void readings_to_tw(int colour, std::int32_t *to, std::int32_t *tw) {
  const readings_frame *f = take_frame(colour - 1);
  if (f == nullptr) return;
  const int slot = readings_first_slot(colour - 1);
  put(*f, slot, to);
  put(*f, slot + 1, tw);
}

void readings_averages(int colour, std::int32_t *const items[11]) {
  const int reply = kFirstAverage + colour - 1;
  const readings_frame *f = take_frame(reply);
  if (f == nullptr) return;
  for (int i = 0; i < kAverageCount; ++i)
    put(*f, readings_first_slot(reply) + i, items[i]);
}

void readings_histogram(int side, std::int32_t *const n1_to_n4[4], double *decimal,
                        std::int32_t bins[46]) {
  const int reply = kFirstHistogram + (side == 0 ? 0 : 1);
  const readings_frame *f = take_frame(reply);
  if (f == nullptr) return;
  const int slot = readings_first_slot(reply);
  for (int i = 0, k = 0; i < kReadingsFirstBin; ++i) {
    if (i == kReadingsDecimalIndex) {
      if (readings_is_set(*f, slot + i))
        *decimal = static_cast<double>(f->value[slot + i]) / 100.0;
    } else {
      put(*f, slot + i, n1_to_n4[k++]);
    }
  }
  for (int b = 0; b < kBins; ++b) put(*f, slot + kReadingsFirstBin + b, &bins[b]);
}
