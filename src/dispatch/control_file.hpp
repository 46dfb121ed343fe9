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

#include <cstddef>
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
