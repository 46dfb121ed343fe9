// Control files: text files that a tester or a tool writes while the server
// runs (the readings file, the faults file). The server notices a change with
// one stat per check and reads the file again only then.
//
// Use: one static control_file per file, path set at start-up; before the
// file's contents are needed, control_file_check(); on kControlChanged,
// control_file_read() into the caller's static buffer and parse it there;
// on kControlGone, drop what the last contents said.
#pragma once

#include <sys/types.h>

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>

struct control_file {
  // Absolute (a relative one follows the working directory); the caller
  // keeps the string alive.
  const char *path = nullptr;
  // What the last check or read saw; for the module only.
  bool checked = false;
  bool present = false;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  timespec mtime{};
};

// Results of control_file_check.
inline constexpr int kControlUnchanged = 0;  // same file as last time, or still none
inline constexpr int kControlChanged = 1;    // there, and new or changed: read it
inline constexpr int kControlGone = 2;       // no file now (also at the first check)

// One stat of f->path, compared with the last one by device, inode, size and
// modification time. A path that cannot be stat'ed counts as no file.
int control_file_check(control_file *f);

// Reads the whole file into buf and NUL-terminates it; a file of capacity
// bytes or more is refused unread. Returns its length, or -1 with *reason
// (static text) and errno set: "not a regular file" (EINVAL), "larger than
// N bytes" (EFBIG) or the system's reason (strerror; ENOENT: no file). Either way the
// file as it is now counts as seen, so a refused file is not read again until it changes.
// Allocates nothing.
long control_file_read(control_file *f, char *buf, std::size_t capacity,
                       const char **reason);

// Replaces the file at path with text[0..length), as a file that a server
// may read at any moment must be replaced: a temporary file beside it,
// synced and renamed over it, so a reader gets the whole old text or the
// whole new one. Returns 0, or -1 with errno set (the temporary file
// removed). For the tools that write control files, not the server.
int control_file_replace(const char *path, const char *text, std::size_t length);

// The parsers of control files share the look of their refusals and what
// separates their words.

// A word of a control file as a refusal shows it: printable ASCII as it is,
// a backslash and other bytes as \xNN, cut after max bytes (at most 24) with
// "...". Static storage, valid until the next call.
const char *control_file_shown(std::string_view word, std::size_t max);

// Blank, tab and carriage return: what separates words on a line.
inline bool control_file_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// What the parsers share: the walk over the lines and the refusal. Error is
// the parser's error struct, with `int line` and `char reason[N]`.
template <class Error>
class control_file_parser {
 protected:
  explicit control_file_parser(Error *err) : err_(err) {}

  // Hands each line of text[0..length) to statement(p, eol), without its
  // '\n'; the first line refused ends the walk. Returns 0 or -1.
  template <class Statement>
  int each_line(const char *text, std::size_t length, Statement statement) {
    const char *p = text;
    const char *end = text + length;
    for (line_ = 1; p < end; ++line_) {
      const char *eol = static_cast<const char *>(std::memchr(p, '\n', end - p));
      if (eol == nullptr) eol = end;
      if (!statement(p, eol)) return -1;
      p = eol + 1;
    }
    return 0;
  }

  // Refuses the current line: its number and the reason go to the error.
  // Member function: "this" is argument 1.
  __attribute__((format(printf, 2, 3))) bool fail(const char *fmt, ...) {
    err_->line = line_;
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(err_->reason, sizeof err_->reason, fmt, ap);
    va_end(ap);
    return false;
  }

  Error *err_;
  int line_ = 0;  // the line being read, from 1
};
