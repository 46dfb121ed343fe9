// traffic.cgi: the controller's traffic journal (its --journal FILE, named
// by IFCSIM_JOURNAL), newest first, filtered by command and result, and one
// entry in full. The file is read from its end, a bounded stretch at a time,
// so a large journal costs no more than a small one.
#include <fnmatch.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "journal_reader.hpp"
#include "request.hpp"

namespace {

using namespace console;

constexpr char kFile[] = "traffic.cgi";
constexpr int kPageEntries = 50;         // entries on a page
constexpr long long kWindow = 4 << 20;   // bytes of the file read for one page
constexpr long long kLineMax = 1 << 20;  // a longer line is no entry
constexpr int kSnippet = 48;             // bytes of a text or reply in the list

bool known_field(std::string_view name) {
  return name == "command" || name == "result" || name == "before" || name == "at" ||
         name == "time";
}

std::string label(std::string_view field) {
  if (field == "command") return "command pattern";
  if (field == "before") return "place in the journal";
  if (field == "at") return "entry";
  if (field == "time") return "entry's time";
  return std::string(field);
}

// Bytes as a person can see them: printable ASCII as it is, every other
// byte marked (\n, \r, \t, \xHH); in full, a line end also ends the line.
void visible(html &h, std::string_view bytes, size_t limit, bool full) {
  static const char kHex[] = "0123456789abcdef";
  size_t run = 0;
  const size_t n = std::min(bytes.size(), limit);
  for (size_t i = 0; i <= n; ++i) {
    const unsigned char c = i < n ? static_cast<unsigned char>(bytes[i]) : 0;
    if (i < n && c >= 0x20 && c < 0x7F) continue;
    h.text(bytes.substr(run, i - run));
    run = i + 1;
    if (i == n) break;
    char mark[5] = {'\\', 'x', kHex[c >> 4], kHex[c & 15], '\0'};
    if (c == '\n' || c == '\r' || c == '\t') {
      mark[1] = c == '\n' ? 'n' : c == '\r' ? 'r' : 't';
      mark[2] = '\0';
    }
    h << "<span class=\"byte\">";
    h.text(mark) << "</span>";
    if (full && c == '\n') h << "\n";
  }
  if (bytes.size() > limit) h << "<span class=\"more\">&hellip;</span>";
}

// An offset in the file: digits, at most 18 of them.
long long offset_of(fields &query, const char *name) {
  if (!query.has(name)) return -1;
  std::string t = query.text(name, 18);
  if (t.empty() || t.find_first_not_of("0123456789") != std::string::npos) {
    query.fail(name, "not a place in the journal");
    return -1;
  }
  return std::strtoll(t.c_str(), nullptr, 10);
}

// A query value: anything but letters, digits and _-. as %XX.
std::string url_encoded(std::string_view v) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : v) {
    if (std::isalnum(c) || c == '_' || c == '-' || c == '.')
      out += static_cast<char>(c);
    else
      out += {'%', kHex[c >> 4], kHex[c & 15]};
  }
  return out;
}

struct filter {
  std::string command, result;
  std::string query() const {  // for the links of the page
    std::string q;
    if (!command.empty()) q += "&command=" + url_encoded(command);
    if (!result.empty()) q += "&result=" + url_encoded(result);
    return q;
  }
  bool matches(const journal_entry &e) const {
    if (e.find("mark")) return true;  // test names between the exchanges
    if (!result.empty() && e.text("result") != result) return false;
    if (command.empty()) return true;
    const journal_value *c = e.find("command");
    return c && fnmatch(command.c_str(), c->text.c_str(), 0) == 0;
  }
};

void filter_form(html &h, const filter &f, const outcome *again) {
  h << "<form method=\"get\" id=\"filter-form\" action=\"traffic.cgi\"><label>command "
       "<input type=\"text\" class=\"mid\" name=\"command\" id=\"command\" "
       "placeholder=\"IFC_set_*\"";
  h.attr("value", field_value(again, "command", f.command)) << "></label>";
  problem_note(h, again, "command");
  h << " <label>result <input type=\"text\" class=\"mid\" name=\"result\" id=\"result\" "
       "placeholder=\"ok, not-found, ...\"";
  h.attr("value", field_value(again, "result", f.result)) << "></label>";
  problem_note(h, again, "result");
  h << " <button id=\"filter\" type=\"submit\">Filter</button> <a id=\"refresh\"";
  h.attr("href", "traffic.cgi?" + f.query().substr(f.query().empty() ? 0 : 1))
      << ">Refresh</a></form>\n";
}

void no_journal(html &h, const char *path, int error) {
  h << "<div id=\"no-journal\" class=\"notice\">";
  if (path == nullptr) {
    h << "<p>No traffic journal is known to the console.</p><p>The controller keeps "
         "one when it is started with <code>--journal FILE</code>; the pages find it "
         "through <code>IFCSIM_JOURNAL</code> in their environment. "
         "<code>ifcsim-console</code> starts its server with a journal in its "
         "directory; with <code>--controller</code>, give it the file of that server "
         "with <code>--journal FILE</code>.</p>";
  } else {
    h << "<p>The journal <code id=\"journal-file\">";
    h.text(path) << "</code> cannot be read: ";
    h.text(error == ENOENT ? "there is no such file yet (the controller creates it when "
                             "it starts with --journal)"
           : error == EINVAL ? "it is not a regular file"
                             : std::strerror(error))
        << ".</p>";
  }
  h << "</div>\n";
}

void request_cell(html &h, const journal_entry &e) {
  const journal_value *verb = e.find("verb");
  if (verb == nullptr) {
    h << "<span class=\"hint\">header</span> ";
    visible(h, e.text("header"), kSnippet, false);
    return;
  }
  h.text(verb->text) << " ";
  visible(h, e.text("command"), kSnippet, false);
}

void list_cell(html &h, const journal_value *v) {
  if (v == nullptr) return;
  for (size_t i = 0; i < v->items.size(); ++i) {
    if (i > 0) h << " ";
    h.text(v->items[i].first);
    if (!v->items[i].first.empty()) h << " ";
    visible(h, v->items[i].second, kSnippet, false);
  }
}

std::string entry_link(long long offset, const journal_entry &e) {
  return "traffic.cgi?at=" + std::to_string(offset) +
         "&time=" + url_encoded(e.text("time"));
}

void entry_row(html &h, long long offset, const std::string &line) {
  journal_entry e;
  if (line.size() > kLineMax || !journal_parse(line, &e)) {
    h << "<tr class=\"unreadable\"><td colspan=\"9\">Not a journal entry (at byte ";
    h.num(offset) << "): ";
    visible(h, line, kSnippet, false);
    h << "</td></tr>\n";
    return;
  }
  if (const journal_value *mark = e.find("mark")) {
    h << "<tr class=\"mark\"><td class=\"name\">";
    h.text(e.text("time")) << "</td><td colspan=\"8\" class=\"name\">mark: <strong>";
    visible(h, mark->text, 256, false);
    h << "</strong></td></tr>\n";
    return;
  }
  h << "<tr class=\"entry\"";
  h.attr("id", "e-" + std::to_string(offset)).attr("data-result", e.text("result"));
  h.attr("data-command", e.text("command")) << "><td class=\"name nowrap\">";
  h.text(e.text("time")) << "</td><td class=\"name nowrap\">";
  h.text(e.text("peer")) << "</td><td class=\"name nowrap\">";
  request_cell(h, e);
  h << "</td><td class=\"name\">";
  h.text(e.text("result")) << "</td><td class=\"name\">";
  list_cell(h, e.find("saved"));
  h << "</td><td class=\"name\">";
  list_cell(h, e.find("notes"));
  h << "</td><td>";
  h.text(e.text("ms")) << "</td><td class=\"name bytes\">";
  visible(h, e.find("text") ? e.text("text") : e.text("reply"), kSnippet, false);
  h << "</td><td><a";
  h.attr("href", entry_link(offset, e)) << ">full</a></td></tr>\n";
}

response list(const filter &f, long long before, const outcome *again) {
  page p(kFile);
  html &h = p.out();
  if (again) problems_box(h, *again, label);
  filter_form(h, f, again);
  const char *path = std::getenv("IFCSIM_JOURNAL");
  if (path == nullptr || *path == '\0') {
    no_journal(h, nullptr, 0);
    return p.finish(again ? again->status : 200);
  }
  journal_lines tail;
  int error = again ? 0 : journal_tail(path, before, kWindow, &tail);
  if (error != 0) no_journal(h, path, error);
  if (again || error != 0) return p.finish(again ? again->status : 200);

  h << "<p class=\"hint\">Newest first, from <code id=\"journal-file\">";
  h.text(path) << "</code> (";
  h.num(tail.size)
      << " bytes). Bytes other than printable ASCII are shown marked: "
         "<span class=\"byte\">\\n</span>, <span class=\"byte\">\\xe9</span>."
         "</p>\n<table id=\"traffic\"><tr><th class=\"name\">time (UTC)</th>"
         "<th class=\"name\">peer</th><th class=\"name\">request</th>"
         "<th class=\"name\">result</th><th class=\"name\">saved</th>"
         "<th class=\"name\">notes</th><th>ms</th><th class=\"name\">text "
         "or reply</th><th></th></tr>\n";
  int shown = 0;
  long long older = tail.first;  // where the next page goes on
  for (const auto &[offset, line] : tail.lines) {
    if (line.empty()) continue;
    journal_entry e;
    if (journal_parse(line, &e) && !f.matches(e)) continue;
    if (shown == kPageEntries) {
      older = offset + static_cast<long long>(line.size()) + 1;
      break;
    }
    entry_row(h, offset, line);
    ++shown;
  }
  h << "</table>\n";
  if (shown == 0) h << "<p id=\"empty\">No entries here.</p>\n";
  if (older > 0) {
    h << "<p><a id=\"older\"";
    h.attr("href", "traffic.cgi?before=" + std::to_string(older) + f.query())
        << ">Older entries</a></p>\n";
  }
  return p.finish();
}

// One field of an entry in full.
void field_row(html &h, const std::string &key, const journal_value &v) {
  h << "<tr><th class=\"name\">";
  h.text(key) << "</th><td class=\"name\"";
  h.attr("id", "f-" + key) << ">";
  if (v.kind == journal_value::string) {
    h << "<pre class=\"bytes\">";
    visible(h, v.text, v.text.size(), true);
    h << "</pre>";
  } else if (v.kind == journal_value::number) {
    h.text(v.text);
  } else {
    list_cell(h, &v);
  }
  h << "</td></tr>\n";
}

response one_entry(long long offset, const std::string &time) {
  page p(kFile, "Traffic: one entry");
  html &h = p.out();
  const char *path = std::getenv("IFCSIM_JOURNAL");
  std::string line;
  int error = path && *path ? journal_line_at(path, offset, kLineMax, &line) : ENOENT;
  journal_entry e;
  if (error != 0 || !journal_parse(line, &e) ||
      (!time.empty() && e.text("time") != time)) {
    h << "<div id=\"error\" class=\"error\" data-status=\"404\"><p>";
    h << (error != 0 && error != ENOENT
              ? markup("The journal cannot be read")
              : markup("No entry of that time begins at that place of the journal: the "
                       "journal may have been rotated or removed since"));
    h << ".</p></div><p><a href=\"traffic.cgi\">The newest entries</a></p>\n";
    return p.finish(404);
  }
  h << "<table id=\"entry\">";
  for (const auto &[key, v] : e.fields) field_row(h, key, v);
  h << "</table>\n<p class=\"hint\">Strings are shown byte for byte: printable ASCII as "
       "it "
       "is, every other byte marked. The line as the journal holds it:</p><pre "
       "id=\"line\">";
  h.text(line) << "</pre>\n<p><a";
  h.attr("href", "traffic.cgi#e-" + std::to_string(offset))
      << ">Back to the list</a></p>\n";
  return p.finish();
}

response show(const request &rq) {
  fields query(rq.query, known_field);
  filter f;
  if (query.has("command")) f.command = query.text("command", 64);
  if (query.has("result")) f.result = query.text("result", 16);
  if (f.result.find_first_not_of("abcdefghijklmnopqrstuvwxyz-") != std::string::npos)
    query.fail("result", "one word of letters and -, such as not-found");
  query.plain_text("command", f.command);
  const long long before = offset_of(query, "before");
  const long long at = offset_of(query, "at");
  std::string time = query.has("time") ? query.text("time", 40) : std::string();
  if (!query.ok()) {
    const outcome o = refusal(query);
    return list(f, -1, &o);
  }
  if (at >= 0) return one_entry(at, time);
  return list(f, before, nullptr);
}

}  // namespace

int main() { return serve({kFile, show, nullptr}); }
