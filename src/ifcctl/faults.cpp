#include "ifcctl/faults.hpp"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>

#include "dispatch/control_file.hpp"
#include "ifcctl/text.hpp"
#include "net/faults.hpp"

namespace ifcctl {

namespace {

int fail(int status, const std::string &message) {
  std::fprintf(stderr, "ifcctl: %s\n", message.c_str());
  return status;
}

// Parses text as the server would; "" when it takes it, else the reason,
// after the line's number when with_line.
std::string parse(const std::string &text, fault_table *table, bool with_line) {
  fault_error err{};
  if (faults_parse(text.data(), text.size(), table, &err) == 0) return "";
  return (with_line ? std::to_string(err.line) + ": " : "") + err.reason;
}

// The file's text, "" when there is none; false when it cannot be read.
bool read_rules(const std::string &path, std::string *text, std::string *error) {
  control_file file;
  file.path = path.c_str();
  std::vector<char> buf(kFaultsMaxBytes + 1);
  const char *why = nullptr;
  const long n = control_file_read(&file, buf.data(), buf.size(), &why);
  if (n < 0 && errno == ENOENT) return true;
  if (n < 0) *error = path + ": " + why;
  if (n >= 0) text->assign(buf.data(), static_cast<std::size_t>(n));
  return n >= 0;
}

// The text without its line `line` (from 1).
std::string without_line(const std::string &text, int line) {
  std::size_t at = 0;
  for (int k = 1; k < line; ++k) at = text.find('\n', at) + 1;
  const std::size_t end = text.find('\n', at);
  return text.substr(0, at) + (end == std::string::npos ? "" : text.substr(end + 1));
}

}  // namespace

int run_fault(fault_command c, const std::string &path,
              const std::vector<std::string> &words, int n, bool as_json) {
  auto table = std::make_unique<fault_table>();
  std::string rule;
  for (const std::string &w : words) rule += (rule.empty() ? "" : " ") + w;
  if (c == fault_command::check || c == fault_command::add) {
    std::string why = rule.find('\n') != std::string::npos
                          ? "a rule is one line"
                          : parse(rule, table.get(), false);
    if (why.empty() && table->count != 1) why = "no rule, only blanks or a comment";
    if (!why.empty()) return fail(2, "fault: '" + rule + "': " + why);
    if (c == fault_command::check) return 0;
  }
  if (c == fault_command::clear) {
    if (unlink(path.c_str()) != 0 && errno != ENOENT)
      return fail(1, path + ": cannot be removed (" + std::strerror(errno) + ")");
    return 0;
  }
  std::string text, error;
  if (!read_rules(path, &text, &error)) return fail(1, error);
  const std::string refused = parse(text, table.get(), true);
  if (!refused.empty())
    return fail(1, path + ":" + refused + " (the server refuses this file)");
  if (c == fault_command::list) {
    nlohmann::ordered_json json = nlohmann::ordered_json::array();
    for (int i = 0; i < table->count; ++i) {
      const fault_rule &r = table->rule[i];
      const std::string t(r.text, static_cast<std::size_t>(r.text_len));
      if (as_json)
        json.push_back({{"rule", i + 1}, {"line", r.line}, {"text", t}});
      else
        std::printf("%d  %s\n", i + 1, t.c_str());
    }
    if (as_json)
      std::printf(
          "%s\n",
          json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    return 0;
  }
  if (c == fault_command::remove) {
    if (n < 1 || n > table->count)
      return fail(2, "fault: no rule " + std::to_string(n) + ": " + path + " holds " +
                         std::to_string(table->count) +
                         (table->count == 1 ? " rule" : " rules"));
    text = without_line(text, table->rule[n - 1].line);
  } else {
    if (!text.empty() && text.back() != '\n') text += '\n';
    text += rule + "\n";
    const std::string why = parse(text, table.get(), true);
    if (!why.empty())
      return fail(2, "fault: '" + rule + "' cannot be added: " + path + ":" + why);
  }
  if (!replace_file(path, text))
    return fail(1, path + ": cannot be written (" + std::strerror(errno) + ")");
  return 0;
}

}  // namespace ifcctl
