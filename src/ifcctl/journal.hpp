// `ifcctl journal`: the server's traffic journal (docs/journal.md) as a
// table a person reads, counted and waited for by test scripts, and marked
// between tests. Lines that are no entry are skipped and counted on stderr.
#pragma once

#include <string>

namespace ifcctl {

// What selects entries; an empty field selects any. Markers are no entries.
struct journal_filter {
  std::string command;  // a glob (fnmatch) on the command name
  std::string result;   // a result word
  bool any() const { return !command.empty() || !result.empty(); }
};

// The result words the server writes, as "ok, unknown, ...".
std::string journal_result_words();
bool is_journal_result(const std::string &word);

// Each returns ifcctl's exit status: 0 success; 1 the file cannot be read or
// written, a count differs or a wait ran out; 2 wrong usage. Messages go to
// stderr.

// The table (or with as_json the lines as they are) of the entries that
// match, the last `last` of them unless 0, and the markers. follow: then
// the new ones as they come, also after the file was rotated; until stdout
// can no longer be written.
int journal_show(const std::string &path, const journal_filter &f, bool follow,
                 bool as_json, int last);
// Prints how many entries match; with expect >= 0, a count that differs
// fails.
int journal_count(const std::string &path, const journal_filter &f, long expect);
// Returns once `count` entries match (0), or after timeout_ms (1).
int journal_wait(const std::string &path, const journal_filter &f, long count,
                 int timeout_ms);
// Appends a marker with text.
int journal_mark(const std::string &path, const std::string &text);

}  // namespace ifcctl
