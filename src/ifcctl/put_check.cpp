#include "ifcctl/put_check.hpp"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <vector>

#include "ifcctl/text.hpp"
#include "ifcsim/ifcsim_protocol.h"

namespace ifcctl {

namespace {

// Lengths beyond which the histogram commands ignore their text.
constexpr std::size_t kHstSelectMax = IFC_HST_SELECT_TEXT_MAX,
                      kHstClearMax = IFC_HST_CLEAR_TEXT_MAX,
                      kHstSetMax = IFC_HST_SET_TEXT_MAX;
// The splitter's limits for one on/off item.
constexpr std::size_t kKeyMax = IFC_ON_OFF_NAME_MAX;
constexpr std::size_t kValueMax = IFC_ON_OFF_VALUE_MAX;

bool is_space(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// Appended, not "\"" + text: that trips a false -Wrestrict in g++ 12 (Release).
std::string quoted(std::string_view s) {
  std::string out = "\"";
  return out.append(printable(s)).append("\"");
}

bool blank(std::string_view s) {
  for (char c : s)
    if (!is_space(c)) return false;
  return true;
}

std::string_view trim_front(std::string_view s) {
  while (!s.empty() && is_space(s.front())) s.remove_prefix(1);
  return s;
}

std::string join(const std::vector<std::string> &parts, const char *between) {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) out += (i ? between : "") + parts[i];
  return out;
}

template <typename NameAt>
std::vector<std::string> names(NameAt name_at) {
  std::vector<std::string> out;
  for (int i = 0; const char *n = name_at(i); ++i) out.push_back(n);
  return out;
}

const char *flag_name(int i) {
  const ifc_item *item = ifc_flag_item(i);
  return item != nullptr ? item->name : nullptr;
}

const char *valve_name(int i) {
  const ifc_item *item = ifc_valve_item(i);
  return item != nullptr ? item->name : nullptr;
}

bool contains(const std::vector<std::string> &list, std::string_view s) {
  for (const std::string &e : list)
    if (e == s) return true;
  return false;
}

const std::vector<std::string> &histogram_items() {
  static const std::vector<std::string> items = names(ifc_hist_item_name);
  return items;
}

std::string no_histogram_item(std::string_view word) {
  return quoted(word) + " is no histogram item (" + join(histogram_items(), " ") + ")";
}

// A number as the server's sscanf "%ld" and strtoll read it: white space, a
// sign, decimal digits; saturated beyond 64 bits.
struct number {
  bool read = false;  // there were digits
  bool fits = false;  // within the signed 32-bit range
  long long value = 0;
  std::string text;  // sign and digits as written
};

// Walks a text as the server's scanf patterns do.
class scanner {
 public:
  explicit scanner(std::string_view text) : text_(text) {}

  std::size_t pos() const { return pos_; }
  void skip_space() {
    while (pos_ < text_.size() && is_space(text_[pos_])) ++pos_;
  }
  // A word of the pattern itself: matched as it stands, nothing skipped first.
  bool literal(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }
  // "%Ns": white space skipped, then up to max characters that are not.
  std::string_view word(std::size_t max = std::string_view::npos) {
    skip_space();
    std::size_t start = pos_;
    while (pos_ < text_.size() && !is_space(text_[pos_]) && pos_ - start < max) ++pos_;
    return text_.substr(start, pos_ - start);
  }
  number read_number() {
    skip_space();
    std::size_t p = pos_;
    if (p < text_.size() && (text_[p] == '+' || text_[p] == '-')) ++p;
    std::size_t digits = p;
    while (p < text_.size() && std::isdigit(static_cast<unsigned char>(text_[p]))) ++p;
    number n;
    if (p == digits) return n;
    n.read = true;
    n.text = std::string(text_.substr(pos_, p - pos_));
    errno = 0;
    n.value = std::strtoll(n.text.c_str(), nullptr, 10);
    n.fits = errno != ERANGE && n.value >= INT32_MIN && n.value <= INT32_MAX;
    pos_ = p;
    return n;
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

// The text that the last read left over, when it is more than white space.
std::optional<std::string> ignored(std::string_view text, std::size_t pos) {
  std::string_view rest = text.substr(pos);
  if (blank(rest)) return std::nullopt;
  return quoted(trim_front(rest)) + " is ignored";
}

std::string outcome(const std::string &problem, const std::vector<std::string> &done,
                    const char *nothing = "changes nothing") {
  return problem + ": the server " + (done.empty() ? nothing : join(done, " and "));
}

// "key:N key:N ...": the server turns the first colons, one per key, into
// blanks and reads "key %ld key %ld ...". A value that is no number ends the
// reading; one beyond 32 bits is skipped.
std::optional<std::string> check_keyed(std::string_view text,
                                       std::initializer_list<const char *> keys) {
  std::string form;
  for (const char *k : keys) form += std::string(form.empty() ? "" : " ") + k + ":N";
  std::string t(text);
  std::size_t colons = 0;
  for (char &c : t) {
    if (c == ':' && colons < keys.size()) {
      c = ' ';
      ++colons;
    }
  }
  if (colons < keys.size())
    return quoted(text) + " has " + std::to_string(colons) + " of the " +
           std::to_string(keys.size()) + " colons of " + form +
           ": the server changes nothing";

  scanner s(t);
  std::vector<std::string> stored;
  std::string problem;
  bool first = true;
  for (const char *key : keys) {
    if (!first) s.skip_space();
    std::size_t at = s.pos();
    if (!s.literal(key)) {
      scanner look(std::string_view(t).substr(at));
      std::string_view found = look.word();
      bool known = false;
      for (const char *k : keys) known = known || found == k;
      if (found.empty())
        problem = std::string(key) + " is missing";
      else if (at == 0 && is_space(t[0]))
        problem = "the text begins with white space";
      else if (known)
        problem = "the keys are not in the order " + form;
      else
        problem = quoted(found) + " stands where " + key + " is due";
      break;
    }
    first = false;
    number v = s.read_number();
    if (!v.read) {
      problem = std::string("the value of ") + key + " is no number";
      break;
    }
    if (!v.fits) {
      if (problem.empty())
        problem = std::string(key) + " " + v.text + " is beyond 32 bits";
      continue;
    }
    stored.push_back(std::string(key) + " " + std::to_string(v.value));
  }
  if (problem.empty()) {
    auto rest = ignored(text, s.pos());
    if (!rest) return std::nullopt;
    problem = *rest;
  }
  if (stored.empty()) return outcome(problem, {});
  return outcome(problem, {(stored.size() < keys.size() ? "stores only " : "stores ") +
                           join(stored, " and ")});
}

std::optional<std::string> check_select_item(std::string_view text) {
  if (text.find(':') == std::string_view::npos)
    return quoted(text) + " has no colon (NAME:N): the server changes nothing";
  std::string t(text);
  t[t.find(':')] = ' ';
  scanner s(t);
  std::string_view name = s.word();
  if (name == "all") {
    std::size_t after_name = s.pos();
    number v = s.read_number();
    if (v.read && v.value != 0)
      return "all takes no value but 0: the server sets all 25 flags to 0, not to " +
             v.text;
    if (auto rest = ignored(t, v.read ? s.pos() : after_name))
      return outcome(*rest, {"sets all 25 flags to 0"});
    return std::nullopt;
  }
  static const std::vector<std::string> items = names(flag_name);
  if (!contains(items, name))
    return outcome(quoted(name) + " is no item (" + join(items, " ") + " all)", {});
  number v = s.read_number();
  std::string key(name);
  if (!v.read) return outcome("the value of " + key + " is no number", {});
  if (!v.fits) return outcome(key + " " + v.text + " is beyond 32 bits", {});
  if (auto rest = ignored(t, s.pos()))
    return outcome(*rest + " (one item per request)",
                   {"sets " + key + " to " + std::to_string(v.value)});
  return std::nullopt;
}

std::optional<std::string> check_hst_select(std::string_view text) {
  if (text.size() > kHstSelectMax)
    return "longer than " + std::to_string(kHstSelectMax) +
           " bytes: the server changes nothing";
  scanner s(text);
  std::string side(s.word(kHstSelectMax));
  if (side.empty()) return "no text: the server changes nothing";
  std::string upper;
  for (char c : side) upper.push_back(static_cast<char>(std::toupper(c)));
  const char *which = side == "LEFT" ? "left" : "right";
  std::string problem;
  if (side != "LEFT" && upper == "LEFT")
    problem = quoted(side) + " is not LEFT (only LEFT in capitals is the left side)";
  number colour = s.read_number();
  std::vector<std::string> done;
  if (!colour.read) {
    if (problem.empty()) problem = "the colour is no number";
    return outcome(problem, done);
  }
  if (colour.value >= 1 && colour.value <= 6)
    done.push_back("the " + std::string(which) + " colour to " +
                   std::to_string(colour.value));
  else if (problem.empty())
    problem = "colour " + colour.text + " is not 1 to 6";
  std::string_view item = s.word(kHstSelectMax);
  if (contains(histogram_items(), item))
    done.push_back("the " + std::string(which) + " item to " + std::string(item));
  else if (problem.empty())
    problem = item.empty() ? "the item is missing" : no_histogram_item(item);
  if (problem.empty()) {
    auto rest = ignored(text, s.pos());
    if (!rest) return std::nullopt;
    problem = *rest;
  }
  if (done.empty()) return outcome(problem, {});
  return outcome(problem, {"sets " + join(done, " and ")});
}

std::optional<std::string> check_hst_clear(std::string_view text) {
  const char *nothing = "prints nothing";
  if (text.size() > kHstClearMax)
    return "longer than " + std::to_string(kHstClearMax) + " bytes: the server " +
           nothing;
  scanner s(text);
  number colour = s.read_number();
  if (!colour.read) return outcome("the colour is no number", {}, nothing);
  if (!colour.fits)
    return outcome("colour " + colour.text + " is beyond 32 bits", {}, nothing);
  std::string_view item = s.word(kHstSelectMax);
  int item_no = -1;
  for (std::size_t i = 0; i < histogram_items().size(); ++i)
    if (histogram_items()[i] == item) item_no = static_cast<int>(i);
  if (item_no < 0)
    return outcome(item.empty() ? "the item is missing" : no_histogram_item(item), {},
                   nothing);
  if (auto rest = ignored(text, s.pos()))
    return outcome(*rest, {"prints clear_histo: color=" + std::to_string(colour.value) +
                           ", item_no=" + std::to_string(item_no)});
  return std::nullopt;
}

std::optional<std::string> check_hst_set(std::string_view text) {
  if (text.size() > kHstSetMax)
    return "longer than " + std::to_string(kHstSetMax) +
           " bytes: the server prints nothing";
  static const struct {
    const char *name;
    bool item;
  } fields[] = {{"the left colour", false},
                {"the left item", true},
                {"the left t", false},
                {"the right colour", false},
                {"the right item", true},
                {"the right t", false},
                {"samp", false}};
  long long v[7] = {};
  std::string problem;
  scanner s(text);
  bool stopped = false;
  for (int i = 0; i < 7 && !stopped; ++i) {
    std::string what;
    if (fields[i].item) {
      std::string_view item = s.word(kHstSetMax);
      stopped = item.empty();
      for (std::size_t k = 0; k < histogram_items().size(); ++k)
        if (histogram_items()[k] == item) v[i] = static_cast<long long>(k);
      if (stopped)
        what = std::string(fields[i].name) + " is missing";
      else if (!contains(histogram_items(), item))
        what = no_histogram_item(item) + ", passed as 0";
    } else {
      number n = s.read_number();
      stopped = !n.read;
      if (stopped)
        what = std::string(fields[i].name) + " is no number";
      else if (!n.fits)
        what = std::string(fields[i].name) + " " + n.text + " is beyond 32 bits";
      else
        v[i] = n.value;
    }
    if (problem.empty()) problem = what;
  }
  if (problem.empty()) {
    auto rest = ignored(text, s.pos());
    if (!rest) return std::nullopt;
    problem = *rest;
  }
  char line[160];
  std::snprintf(line, sizeof line,
                "prints set_histo(L c=%lld, i=%lld, t=%lld, R c=%lld, i=%lld, t=%lld, "
                "samp=%lld)",
                v[0], v[1], v[2], v[3], v[4], v[5], v[6]);
  return outcome(problem, {line});
}

// Items split at runs of blanks as the server's splitter does; each is
// looked up by its name, and its value read as strtoll reads it.
std::optional<std::string> check_on_off(std::string_view command, std::string_view text) {
  static const std::vector<std::string> items = names(valve_name);
  std::vector<std::string_view> split;
  for (std::size_t p = 0; p < text.size();) {
    if (text[p] == ' ') {
      ++p;
      continue;
    }
    std::size_t end = text.find(' ', p);
    if (end == std::string_view::npos) end = text.size();
    split.push_back(text.substr(p, end - p));
    p = end;
  }
  if (split.empty()) return std::string("no item: the server changes nothing");

  std::vector<std::string> problems;
  for (std::size_t k = 0; k < split.size(); ++k) {
    std::string_view item = split[k];
    if (k == IFC_ON_OFF_PIECES_MAX) {
      problems.push_back("more than " + std::to_string(IFC_ON_OFF_PIECES_MAX) +
                         " items: the server ignores the " +
                         std::to_string(split.size() - k) + " behind the last it takes");
      break;
    }
    std::size_t colon = item.find(':');
    if (colon == std::string_view::npos) {
      problems.push_back(quoted(item) + " has no colon (NAME:N): the server skips it");
      continue;
    }
    std::string key(item.substr(0, colon));
    std::string_view value = item.substr(colon + 1);
    if (key.size() > kKeyMax || value.size() > kValueMax) {
      problems.push_back(quoted(item) + " is longer than an item can be (names up to " +
                         std::to_string(kKeyMax) + ", values up to " +
                         std::to_string(kValueMax) + " characters): the server skips it");
      continue;
    }
    if (key.empty()) {
      problems.push_back(quoted(item) + " has no name: the server stops there" +
                         (k + 1 < split.size() ? ", ignoring what follows" : ""));
      break;
    }
    if (!contains(items, key)) {
      problems.push_back(
          quoted(key) + " is no item of " + std::string(command) +
          (key == "ATC_TO_DELAY" ? " (it is always 0)" : " (see its GET reply)") +
          ": the server skips it");
      continue;
    }
    scanner s(value);
    number v = s.read_number();
    if (!v.read) {
      problems.push_back((value.empty() ? key + " has no value"
                                        : "the value of " + key + ", " + quoted(value) +
                                              ", is no number") +
                         ": the server stores 0");
    } else if (!v.fits) {
      problems.push_back(key + " " + v.text + " is beyond 32 bits: the server stores " +
                         std::to_string(v.value < 0 ? INT32_MIN : INT32_MAX));
    } else if (auto rest = ignored(value, s.pos())) {
      problems.push_back(*rest + " (items are separated by blanks): the server stores " +
                         key + " " + std::to_string(v.value));
    }
  }
  if (problems.empty()) return std::nullopt;
  std::string out = problems.front();
  if (problems.size() > 1)
    out += "; " + std::to_string(problems.size() - 1) + " more item" +
           (problems.size() > 2 ? "s" : "") + " not as written";
  return out;
}

}  // namespace

bool is_put_command(std::string_view name) {
  const ifc_command_info *c = ifc_command_find(std::string(name).c_str());
  return c != nullptr && c->verb == IFC_VERB_PUT;
}

std::optional<std::string> check_put_text(std::string_view name, std::string_view text) {
  const ifc_command_info *c = ifc_command_find(std::string(name).c_str());
  const int command = c != nullptr ? c->command : -1;
  if (command == IFC_CMD_APPEND_LOG) return std::nullopt;  // any bytes, stored as sent
  std::size_t nul = text.find('\0');
  if (nul != std::string_view::npos)
    return "a NUL at byte " + std::to_string(nul) +
           ": the server reads the text only up to it";
  switch (command) {
    case IFC_CMD_SET_SELECT_ITEM:
      return check_select_item(text);
    case IFC_CMD_SET_STAT:
      return check_keyed(text, {"color", "mode", "totw_sw"});
    case IFC_CMD_SET_TO_TW:
      return check_keyed(text, {"to", "tw"});
    case IFC_CMD_SET_ON_OFF:
      return check_on_off(name, text);
    case IFC_CMD_HST_SELECT_ITEM:
      return check_hst_select(text);
    case IFC_CMD_HST_CLEAR:
      return check_hst_clear(text);
    case IFC_CMD_HST_SET:
      return check_hst_set(text);
    default:
      return std::nullopt;  // MLETOFF_set_btnstat prints any text
  }
}

}  // namespace ifcctl
