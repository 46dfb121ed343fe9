// The traffic journal as the traffic page reads it (the format is in
// docs/journal.md): lines read from the end of the file, within a bound,
// and a reader of exactly the journal's JSON, which gives each string back
// as the bytes it stands for.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace console {

// A field's value: a string (its bytes: every \u00XX is the byte XX), a
// number (its text), a list of strings, or an object of strings and numbers
// (the "fault" field).
struct journal_value {
  enum kind_t { string, number, list, object } kind = string;
  std::string text;
  std::vector<std::pair<std::string, std::string>> items;  // list: ("", item)
};

struct journal_entry {
  std::vector<std::pair<std::string, journal_value>> fields;
  // The first field called name, or null.
  const journal_value *find(std::string_view name) const;
  // Its text; "" when it is absent.
  std::string text(std::string_view name) const;
};

// Parses one line without its line end. False when it is not one JSON
// object of the journal's form (out is then unspecified).
bool journal_parse(std::string_view line, journal_entry *out);

// The whole lines that start before `before` (-1: the end of the file),
// newest first, read from at most window bytes before it; a line without
// its line end (being written) is left out.
struct journal_lines {
  std::vector<std::pair<long long, std::string>> lines;  // offset, text
  long long first = 0;  // offset of the oldest line: where older ones end
  long long size = 0;   // of the file
};
// 0, EINVAL when it is no regular file (a FIFO is not waited on), or the
// errno of the failure.
int journal_tail(const char *path, long long before, long long window,
                 journal_lines *out);

// The line that starts at offset, of at most max bytes. 0, ENOENT when no
// line starts there, or the errno of the failure.
int journal_line_at(const char *path, long long offset, long long max, std::string *out);

}  // namespace console
