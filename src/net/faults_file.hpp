// The rules file of ifcsim --faults as the tools change it (ifcctl fault,
// the console's Faults page): every rule checked with the server's own
// parser, the file replaced whole, and edits of one file taken one at a
// time. The server itself only reads the file (net/faults).
#pragma once

#include <string>
#include <vector>

enum class faults_file_error {
  none,
  rule_refused,  // the rule is not one rule the server takes: reason
  not_added,     // the file with the rule would be refused: reason "LINE: why"
  no_such_rule,  // there is no rule n: count
  rule_changed,  // rule n is no longer the text given: found
  file_refused,  // the server refuses the file as it is: reason "LINE: why"
  unreadable,    // reason: the system's
  unwritable,    // reason: the system's
};

struct faults_file_result {
  faults_file_error error = faults_file_error::none;
  std::string reason;
  int count = 0;      // no_such_rule: the rules the file holds
  std::string found;  // rule_changed: the text of rule n now
};

struct faults_file_rule {
  int line;          // in the file, from 1
  std::string text;  // as written, without a comment or the blanks around it
};

// "" when rule is one rule the server takes, else the parser's reason.
std::string faults_check_rule(const std::string &rule);

// The rules of the file at path into *out, in file order: rule n is
// (*out)[n - 1]. A missing file holds none.
faults_file_result faults_file_list(const std::string &path,
                                    std::vector<faults_file_rule> *out);

// Appends rule as the file's last line; makes the file when there is none.
faults_file_result faults_file_add(const std::string &path, const std::string &rule);

// Removes rule n, as faults_file_list numbers them; comments and the other
// lines stay. Given text, only when rule n is still that text, so that an
// edit made meanwhile cannot make it remove another rule.
faults_file_result faults_file_remove(const std::string &path, int n,
                                      const std::string *text);

// Removes the file: no faults.
faults_file_result faults_file_clear(const std::string &path);
