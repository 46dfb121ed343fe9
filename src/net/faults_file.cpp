#include "net/faults_file.hpp"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "dispatch/control_file.hpp"
#include "net/faults.hpp"

namespace {

using error = faults_file_error;

faults_file_result failed(error e, std::string reason) {
  faults_file_result r;
  r.error = e;
  r.reason = std::move(reason);
  return r;
}

// "" when the server takes text, else "LINE: why".
std::string parse(const std::string &text, fault_table *table) {
  fault_error err{};
  if (faults_parse(text.data(), text.size(), table, &err) == 0) return "";
  return std::to_string(err.line) + ": " + err.reason;
}

// Each edit reads the file, changes the text and renames a new file over
// it: two at once would lose one's change. The lock is the directory's, so
// that none is left behind. Where the file system has no such locks the
// edits go on without (a remove still checks the rule's text).
class edit_lock {
 public:
  explicit edit_lock(const std::string &path) {
    const std::string dir = path.substr(0, path.rfind('/') + 1);
    fd_ = open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    while (fd_ >= 0 && flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
  ~edit_lock() {
    if (fd_ >= 0) close(fd_);
  }
  edit_lock(const edit_lock &) = delete;
  edit_lock &operator=(const edit_lock &) = delete;

 private:
  int fd_;
};

// The file's text and its table; "" and no rules when there is no file.
faults_file_result read_rules(const std::string &path, std::string *text,
                              fault_table *table) {
  control_file file;
  file.path = path.c_str();
  std::vector<char> buf(kFaultsMaxBytes + 1);
  const char *why = nullptr;
  const long n = control_file_read(&file, buf.data(), buf.size(), &why);
  if (n < 0 && errno != ENOENT) return failed(error::unreadable, why);
  text->assign(buf.data(), n < 0 ? 0 : static_cast<std::size_t>(n));
  std::string refused = parse(*text, table);
  if (!refused.empty()) return failed(error::file_refused, refused);
  return {};
}

faults_file_result replace_file(const std::string &path, const std::string &text) {
  if (control_file_replace(path.c_str(), text.data(), text.size()) == 0) return {};
  return failed(error::unwritable, std::strerror(errno));
}

// The text without its line `line` (from 1).
std::string without_line(const std::string &text, int line) {
  std::size_t at = 0;
  for (int k = 1; k < line; ++k) at = text.find('\n', at) + 1;
  const std::size_t end = text.find('\n', at);
  return text.substr(0, at) + (end == std::string::npos ? "" : text.substr(end + 1));
}

std::string rule_text(const fault_rule &r) {
  return std::string(r.text, static_cast<std::size_t>(r.text_len));
}

}  // namespace

std::string faults_check_rule(const std::string &rule) {
  if (rule.find('\n') != std::string::npos) return "a rule is one line";
  auto table = std::make_unique<fault_table>();
  fault_error err{};
  if (faults_parse(rule.data(), rule.size(), table.get(), &err) != 0) return err.reason;
  return table->count == 1 ? "" : "no rule, only blanks or a comment";
}

faults_file_result faults_file_list(const std::string &path,
                                    std::vector<faults_file_rule> *out) {
  auto table = std::make_unique<fault_table>();
  std::string text;
  faults_file_result r = read_rules(path, &text, table.get());
  if (r.error != error::none) return r;
  for (int i = 0; i < table->count; ++i)
    out->push_back({table->rule[i].line, rule_text(table->rule[i])});
  return r;
}

faults_file_result faults_file_add(const std::string &path, const std::string &rule) {
  std::string why = faults_check_rule(rule);
  if (!why.empty()) return failed(error::rule_refused, why);
  edit_lock lock(path);
  auto table = std::make_unique<fault_table>();
  std::string text;
  faults_file_result r = read_rules(path, &text, table.get());
  if (r.error != error::none) return r;
  if (!text.empty() && text.back() != '\n') text += '\n';
  text += rule + "\n";
  why = parse(text, table.get());
  if (!why.empty()) return failed(error::not_added, why);
  return replace_file(path, text);
}

faults_file_result faults_file_remove(const std::string &path, int n,
                                      const std::string *text) {
  edit_lock lock(path);
  auto table = std::make_unique<fault_table>();
  std::string file_text;
  faults_file_result r = read_rules(path, &file_text, table.get());
  if (r.error != error::none) return r;
  if (n < 1 || n > table->count) {
    r.error = error::no_such_rule;
    r.count = table->count;
    return r;
  }
  const fault_rule &rule = table->rule[n - 1];
  if (text != nullptr && rule_text(rule) != *text) {
    r.error = error::rule_changed;
    r.found = rule_text(rule);
    return r;
  }
  return replace_file(path, without_line(file_text, rule.line));
}

faults_file_result faults_file_clear(const std::string &path) {
  edit_lock lock(path);
  if (unlink(path.c_str()) != 0 && errno != ENOENT)
    return failed(error::unwritable, std::strerror(errno));
  return {};
}
