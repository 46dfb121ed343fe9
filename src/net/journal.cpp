#include "net/journal.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "net/ether_com.hpp"

namespace {

// In the order of journal_result.
const char *const kResultNames[] = {
    "ok",          "unknown", "not-found", "no-name", "empty",    "refused",
    "bad-header",  "timeout", "closed",    "cut",     "bad-next", "io-error",
    "save-failed", "dropped", "lost",      "garbled",
};
static_assert(sizeof kResultNames / sizeof kResultNames[0] ==
              static_cast<int>(journal_result::garbled) + 1);

bool enabled = false;
char path[PATH_MAX];
int fd = -1;
dev_t file_dev;
ino_t file_ino;
bool failing = false;  // the last entry was lost; reported once
long lost = 0;

char line[kJournalLineMax];

// A line under construction; stops short instead of overflowing.
struct writer {
  char *p;
  char *end;
  bool full = false;
  bool first = true;

  void put(char c) {
    if (p < end) {
      *p++ = c;
    } else {
      full = true;
    }
  }
  void put(const char *s) {
    while (*s) put(*s++);
  }
  void number(unsigned long long v, int min_digits = 1) {
    char digits[24];
    int n = 0;
    do {
      digits[n++] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v != 0 || n < min_digits);
    while (n > 0) put(digits[--n]);
  }
  void signed_number(long long v) {
    if (v < 0) put('-');
    number(v < 0 ? 0ULL - static_cast<unsigned long long>(v)
                 : static_cast<unsigned long long>(v));
  }
  // Every byte is one character: what JSON cannot hold as it is, and every
  // byte that is not printable ASCII, is written as \u00XX, so that the
  // exact bytes come back by encoding the parsed string as Latin-1.
  void string(const char *s, int n) {
    static const char hex[] = "0123456789abcdef";
    put('"');
    for (int i = 0; i < n; ++i) {
      const unsigned char c = static_cast<unsigned char>(s[i]);
      if (c == '"' || c == '\\') {
        put('\\');
        put(static_cast<char>(c));
      } else if (c == '\n') {
        put("\\n");
      } else if (c == '\r') {
        put("\\r");
      } else if (c == '\t') {
        put("\\t");
      } else if (c >= 0x20 && c < 0x7f) {
        put(static_cast<char>(c));
      } else {
        put("\\u00");
        put(hex[c >> 4]);
        put(hex[c & 15]);
      }
    }
    put('"');
  }
  // UTC, RFC 3339 with microseconds.
  void time(const timespec &at) {
    tm t;
    const time_t secs = at.tv_sec;
    gmtime_r(&secs, &t);
    put('"');
    signed_number(t.tm_year + 1900LL);
    const int parts[] = {t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
    const char seps[] = {'-', '-', 'T', ':', ':'};
    for (int i = 0; i < 5; ++i) {
      put(seps[i]);
      number(static_cast<unsigned>(parts[i]), 2);
    }
    put('.');
    number(static_cast<unsigned long long>(at.tv_nsec / 1000), 6);
    put("Z\"");
  }
  void key(const char *name) {
    put(first ? "\"" : ",\"");
    first = false;
    put(name);
    put("\":");
  }
};

// Copies at most kJournalCut bytes; returns how many.
int keep(char *to, const char *from, int n) {
  const int k = n < kJournalCut ? n : kJournalCut;
  if (k > 0) std::memcpy(to, from, static_cast<size_t>(k));
  return k;
}

bool open_file() {
  fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) == 0) {
    file_dev = st.st_dev;
    file_ino = st.st_ino;
  }
  return true;
}

// Log rotation renames the journal away (or removes it): once the path no
// longer names the open file, a new one is started there. A path that cannot
// be looked up for another reason keeps the open file.
bool file_ready() {
  struct stat st;
  if (fd >= 0) {
    if (stat(path, &st) == 0 ? st.st_dev == file_dev && st.st_ino == file_ino
                             : errno != ENOENT)
      return true;
    close(fd);
    fd = -1;
  }
  return open_file();
}

// Writes the whole line or, if that fails, takes back what part of it went
// in, so that a reader never meets half an entry.
bool append(int to, const char *s, int n) {
  int done = 0;
  while (done < n) {
    const ssize_t w = write(to, s + done, static_cast<size_t>(n - done));
    if (w > 0) {
      done += static_cast<int>(w);
      continue;
    }
    if (w < 0 && errno == EINTR) continue;
    const int err = w < 0 ? errno : ENOSPC;
    // Nothing more can be done when taking it back fails too.
    if (done > 0) {
      const off_t at = lseek(to, 0, SEEK_CUR);
      if (at >= done) (void)!ftruncate(to, at - done);
    }
    errno = err;
    return false;
  }
  return true;
}

}  // namespace

const char *journal_result_name(journal_result r) {
  return kResultNames[static_cast<int>(r)];
}

const char *journal_result_word(int i) {
  const int count = sizeof kResultNames / sizeof kResultNames[0];
  return i >= 0 && i < count ? kResultNames[i] : nullptr;
}

int journal_open(const char *file) {
  if (std::strlen(file) >= sizeof path) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::strcpy(path, file);
  if (!open_file()) return -1;
  enabled = true;
  exchange_watch(true);
  ether_watch_early = true;
  return 0;
}

bool journal_enabled() { return enabled; }

void journal_start(journal_entry &e, const sockaddr_in *peer) {
  clock_gettime(CLOCK_REALTIME, &e.accepted);
  clock_gettime(CLOCK_MONOTONIC, &e.started);
  e.has_peer = peer != nullptr;
  if (peer != nullptr) e.peer = *peer;
  e.verb = nullptr;
  e.header_len = 0;
  e.has_length = false;
  e.command_len = -1;
  e.text_len = -1;
  e.text_bytes = 0;
  e.reply = nullptr;
  e.reply_bytes = 0;
  e.result = journal_result::ok;
  e.fault_line = 0;
}

void journal_keep_header(journal_entry &e, const char *bytes, int n) {
  e.header_len = n < kHeaderSize ? n : kHeaderSize;
  if (e.header_len > 0) std::memcpy(e.header, bytes, static_cast<size_t>(e.header_len));
}

void journal_keep_get_name(journal_entry &e, const char *field, int n) {
  while (n > 0 && field[n - 1] == ' ') --n;
  e.command_len = keep(e.command, field, n);
}

void journal_keep_payload(journal_entry &e, const char *payload, int n) {
  if (n <= 0) return;
  const char *nul = static_cast<const char *>(std::memchr(payload, '\0', n));
  const char *text = payload;
  if (nul != nullptr) {
    e.command_len = keep(e.command, payload, static_cast<int>(nul - payload));
    text = nul + 1;
  }
  e.text_bytes = static_cast<int>(payload + n - text);
  e.text_len = keep(e.text, text, e.text_bytes);
}

int journal_format(const journal_entry &e, const exchange_record &x, long long micros,
                   char *out, int cap) {
  writer w{out, out + cap};
  w.put('{');
  w.key("time");
  w.time(e.accepted);
  w.key("ms");
  if (micros < 0) micros = 0;
  w.number(static_cast<unsigned long long>(micros / 1000));
  w.put('.');
  w.number(static_cast<unsigned long long>(micros % 1000), 3);
  if (e.has_peer) {
    const unsigned char *a = reinterpret_cast<const unsigned char *>(&e.peer.sin_addr);
    w.key("peer");
    w.put('"');
    for (int i = 0; i < 4; ++i) {
      if (i > 0) w.put('.');
      w.number(a[i]);
    }
    w.put(':');
    w.number(ntohs(e.peer.sin_port));
    w.put('"');
  }
  if (e.verb != nullptr) {
    w.key("verb");
    w.string(e.verb, static_cast<int>(std::strlen(e.verb)));
  } else {
    w.key("header");
    w.string(e.header, e.header_len);
  }
  if (e.has_length) {
    w.key("length");
    w.signed_number(e.length);
  }
  if (e.command_len >= 0) {
    w.key("command");
    w.string(e.command, e.command_len);
  }
  if (e.text_len >= 0) {
    w.key("text");
    w.string(e.text, e.text_len);
    if (e.text_bytes > e.text_len) {
      w.key("text_bytes");
      w.number(static_cast<unsigned>(e.text_bytes));
    }
  }
  if (e.reply != nullptr) {
    w.key("reply");
    w.string(e.reply, e.reply_bytes < kJournalCut ? e.reply_bytes : kJournalCut);
    if (e.reply_bytes > kJournalCut) {
      w.key("reply_bytes");
      w.number(static_cast<unsigned>(e.reply_bytes));
    }
  }
  w.key("result");
  w.put('"');
  w.put(journal_result_name(e.result));
  w.put('"');
  w.key("saved");
  w.put('[');
  for (int i = 0, n = 0; i < kExchangeFileCount; ++i) {
    if ((x.saved & (1u << i)) == 0) continue;
    if (n++ > 0) w.put(',');
    w.put('"');
    w.put(exchange_file_name(i));
    w.put('"');
  }
  w.put(']');
  w.key("notes");
  w.put('[');
  for (int i = 0, n = 0; i < kExchangeNoteCount; ++i) {
    if ((x.notes & (1u << i)) == 0) continue;
    if (n++ > 0) w.put(',');
    w.put('"');
    w.put(exchange_note_name(i));
    w.put('"');
  }
  w.put(']');
  if (e.fault_line > 0) {
    w.key("fault");
    w.put("{\"line\":");
    w.number(static_cast<unsigned>(e.fault_line));
    w.put(",\"rule\":");
    w.string(e.fault_rule,
             e.fault_rule_len < kJournalCut ? e.fault_rule_len : kJournalCut);
    w.put('}');
  }
  w.put("}\n");
  return w.full ? -1 : static_cast<int>(w.p - out);
}

void journal_write(const journal_entry &e) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  const long long micros = (now.tv_sec - e.started.tv_sec) * 1000000LL +
                           (now.tv_nsec - e.started.tv_nsec) / 1000;
  const int n = journal_format(e, exchange_current(), micros, line, sizeof line);
  if (n > 0 && file_ready() && append(fd, line, n)) {
    if (failing) {
      std::fprintf(stderr, "ifcsim: journal %s: written again, %ld entries lost\n", path,
                   lost);
      failing = false;
      lost = 0;
    }
    return;
  }
  const int err = errno;
  ++lost;
  if (!failing) {
    std::fprintf(stderr,
                 "ifcsim: journal %s: cannot be written (%s); entries are lost until it "
                 "can\n",
                 path, std::strerror(err));
    failing = true;
  }
}

int journal_format_mark(const timespec &at, const char *text, int n, char *out, int cap) {
  writer w{out, out + cap};
  w.put('{');
  w.key("time");
  w.time(at);
  w.key("mark");
  w.string(text, n);
  w.put("}\n");
  return w.full ? -1 : static_cast<int>(w.p - out);
}

int journal_append_mark(const char *file, const char *text, int n) {
  if (n < 0 || n > kJournalCut) {
    errno = EMSGSIZE;
    return -1;
  }
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  char mark[kJournalMarkMax];
  const int len = journal_format_mark(now, text, n, mark, sizeof mark);
  // O_APPEND and a single write: the marker lands between two of the
  // server's lines, never inside one.
  const int to = open(file, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (to < 0) return -1;
  const bool written = append(to, mark, len);
  const int err = errno;
  close(to);
  errno = err;
  return written ? 0 : -1;
}
