#include "ifcctl/faults.hpp"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "net/faults_file.hpp"

namespace ifcctl {

namespace {

int fail(int status, const std::string &message) {
  std::fprintf(stderr, "ifcctl: %s\n", message.c_str());
  return status;
}

// The exit status and message of a failed edit of the file at path.
int failure(const faults_file_result &r, const std::string &path, const std::string &rule,
            int n, bool removing) {
  switch (r.error) {
    case faults_file_error::rule_refused:
      return fail(2, "fault: '" + rule + "': " + r.reason);
    case faults_file_error::not_added:
      return fail(2, "fault: '" + rule + "' cannot be added: " + path + ":" + r.reason);
    case faults_file_error::no_such_rule:
      return fail(2, "fault: no rule " + std::to_string(n) + ": " + path + " holds " +
                         std::to_string(r.count) + (r.count == 1 ? " rule" : " rules"));
    case faults_file_error::file_refused:
      return fail(1, path + ":" + r.reason + " (the server refuses this file)");
    case faults_file_error::unreadable:
      return fail(1, path + ": " + r.reason);
    default:
      return fail(1, path +
                         (removing ? ": cannot be removed (" : ": cannot be written (") +
                         r.reason + ")");
  }
}

}  // namespace

int run_fault(fault_command c, const std::string &path,
              const std::vector<std::string> &words, int n, bool as_json) {
  std::string rule;
  for (const std::string &w : words) rule += (rule.empty() ? "" : " ") + w;
  faults_file_result r;
  std::vector<faults_file_rule> rules;
  switch (c) {
    case fault_command::check: {
      const std::string why = faults_check_rule(rule);
      if (!why.empty()) r = {faults_file_error::rule_refused, why, 0, {}};
      break;
    }
    case fault_command::add:
      r = faults_file_add(path, rule);
      break;
    case fault_command::remove:
      r = faults_file_remove(path, n, nullptr);
      break;
    case fault_command::list:
      r = faults_file_list(path, &rules);
      break;
    case fault_command::clear:
      r = faults_file_clear(path);
      break;
  }
  if (r.error != faults_file_error::none)
    return failure(r, path, rule, n, c == fault_command::clear);
  if (c != fault_command::list) return 0;
  nlohmann::ordered_json json = nlohmann::ordered_json::array();
  for (std::size_t i = 0; i < rules.size(); ++i) {
    if (as_json)
      json.push_back({{"rule", i + 1}, {"line", rules[i].line}, {"text", rules[i].text}});
    else
      std::printf("%zu  %s\n", i + 1, rules[i].text.c_str());
  }
  if (as_json)
    std::printf(
        "%s\n",
        json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
  return 0;
}

}  // namespace ifcctl
