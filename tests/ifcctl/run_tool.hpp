// Runs the built ifcctl (IFCCTL_PATH) as a child process with arguments and
// standard input, and collects its output and exit status, bounded in time.
#pragma once

#include <string>
#include <vector>

#include "support/program_run.hpp"

namespace ifcctl_test {

using tool_result = testing_support::program_result;

class tool_run : public testing_support::program_run {
 public:
  // Starts ifcctl; stdin gets `input` and is then closed.
  tool_run(const std::vector<std::string> &args, std::string input = "")
      : program_run(IFCCTL_PATH, args, {}, true, std::move(input)) {}
};

inline tool_result run_tool(const std::vector<std::string> &args,
                            std::string input = "") {
  return tool_run(args, std::move(input)).finish();
}

}  // namespace ifcctl_test
