// `ifcctl fault`: the rules file of ifcsim --faults (docs/faults.md), each
// rule checked by the server's own parser, the file replaced atomically.
#pragma once

#include <string>
#include <vector>

namespace ifcctl {

enum class fault_command { check, add, remove, list, clear };

// Runs one sub-command on the rules file at path (check reads none). words:
// the rule of check and add, joined by blanks; n: the rule that remove
// removes, numbered from 1 in file order as list shows them. Prints on
// stdout and stderr and returns the exit status: 0; 1 when the file cannot
// be read or written or the server would refuse it; 2 when the rule is
// refused (with the parser's reason) or there is no rule n.
int run_fault(fault_command c, const std::string &path,
              const std::vector<std::string> &words, int n, bool as_json);

}  // namespace ifcctl
