// faults.cgi: the controller's fault rules (its --faults FILE, named by
// IFCSIM_FAULTS), numbered as `ifcctl fault list` numbers them; a rule typed
// in is added, one removed, all cleared, and ready-made rules set up the
// common error paths in one click. The file is edited as ifcctl edits it
// (net/faults_file: the server's parser, the file replaced whole), so the
// page never writes a rule the controller refuses. It asks the controller
// nothing: it works while the controller is down.
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "net/faults_file.hpp"
#include "request.hpp"

namespace {

using namespace console;

constexpr char kFile[] = "faults.cgi";
// A rule in the file may be as long as the file (a long reply text): the
// body's limit is the only one.
constexpr int kMaxRule = kMaxBody;
constexpr const char *kActions[] = {"add", "preset", "remove", "clear"};

struct preset {
  const char *name;  // the form's value; the button is #preset-NAME
  const char *title;
  const char *rule;
  markup what;  // what the controller does, and what a page then shows
};

const preset kPresets[] = {
    {"refuse", "Next save refused", "PUT:* refuse times 1",
     "The controller refuses the next change it is sent, whatever it is, before "
     "anything is stored, then serves as before; reads go on as usual. The page that "
     "sends it shows 502, <q>refused by the server</q>."},
    {"lose", "Next save lost", "IFC_set_* lose times 1",
     "The next change of targets, valve points, selection flags or status is answered "
     "as taken but not stored. The page reads it back and says so: 409, the page again "
     "with what the controller holds beside the field."},
    {"down", "Controller down for 30 s", "* down 30 times 1",
     "The next request is served as usual; then the controller stops listening for "
     "30 s. Every request meanwhile, also the rest of that page's, is refused a "
     "connection: 502, <q>Controller not reachable</q>."},
    {"slow", "Replies take 6 s", "* delay 6000 before len",
     "Every read waits 6 s before its reply begins, longer than the pages wait for an "
     "answer (5 s, IFCSIM_TIMEOUT_MS): 504, <q>Controller too slow</q>. A save is not "
     "slowed, but its read-back is. Stays until removed."},
};

bool known_field(std::string_view name) {
  return name == "action" || name == "rule" || name == "preset" || name == "n" ||
         name == "text";
}

std::string label(std::string_view field) {
  if (field == "action") return "the form's action";
  if (field == "n") return "rule number";
  if (field == "text") return "rule as shown";
  return std::string(field);
}

// What went wrong with a change other than the form's fields.
struct trouble {
  int status;
  std::string why;
};

const char *faults_path() {
  const char *path = std::getenv("IFCSIM_FAULTS");
  return path != nullptr && *path != '\0' ? path : nullptr;
}

void no_file(html &h) {
  h << "<div id=\"no-faults\" class=\"notice\"><p>No faults file is known to the "
       "console.</p><p>The controller takes fault rules when it is started with "
       "<code>--faults FILE</code>; the pages find the file through "
       "<code>IFCSIM_FAULTS</code> in their environment. <code>ifcsim-console</code> "
       "starts its server with <code>faults</code> in its directory; with "
       "<code>--controller</code>, give it the file of that server with "
       "<code>--faults FILE</code>.</p></div>\n";
}

void hidden(html &h, markup name, std::string_view value) {
  h << "<input type=\"hidden\"";
  h.attr("name", name.text).attr("value", value) << ">";
}

void rules_table(html &h, const char *path) {
  std::vector<faults_file_rule> rules;
  const faults_file_result r = faults_file_list(path, &rules);
  const bool refused = r.error == faults_file_error::file_refused;
  h << "<p id=\"faults-file\" class=\"hint\"";
  h.attr("data-state", refused                              ? "refused"
                       : r.error != faults_file_error::none ? "unreadable"
                       : rules.empty()                      ? "empty"
                                                            : "rules")
      << ">The controller's rules file <code id=\"faults-path\">";
  h.text(path) << "</code>";
  if (r.error != faults_file_error::none) {
    h << (refused
              ? markup(" is refused by the controller, which applies none of it (line ")
              : markup(" cannot be read ("));
    h.text(r.reason) << "). Remove all rules, or correct it by hand.</p>\n";
  } else {
    h << ". The controller reads it again before a request once it has changed; the "
         "counts of <code>times</code> and <code>after</code> start again then. A spent "
         "rule stays in the file until it is removed.</p>\n";
  }
  if (rules.empty()) {
    if (r.error == faults_file_error::none)
      h << "<p id=\"no-rules\">No rules: the controller serves every request as "
           "usual.</p>\n";
  } else {
    h << "<table id=\"rules\"><tr><th>#</th><th class=\"name\">rule</th><th>line</th>"
         "<th></th></tr>\n";
    for (size_t i = 0; i < rules.size(); ++i) {
      const std::string n = std::to_string(i + 1);
      h << "<tr";
      h.attr("id", "rule-" + n) << "><td>";
      h.text(n) << "</td><td class=\"name\"><code";
      h.attr("id", "text-" + n) << ">";
      h.text(rules[i].text) << "</code></td><td>";
      h.num(rules[i].line) << "</td><td>";
      form_start(h, "remove-" + n, kFile, "remove");
      hidden(h, "n", n);
      hidden(h, "text", rules[i].text);
      h << "<button type=\"submit\"";
      h.attr("id", "remove-" + n + "-send") << ">Remove</button></form></td></tr>\n";
    }
    h << "</table>\n";
  }
  if (r.error != faults_file_error::none || !rules.empty()) {
    form_start(h, "clear-form", kFile, "clear");
    h << "<button id=\"clear-send\" type=\"submit\">Remove all</button></form>\n";
  }
}

response show(const request &rq, const outcome *again, const trouble *failed) {
  page p(kFile);
  html &h = p.out();
  const int status = again ? again->status : failed ? failed->status : 200;
  if (again) {
    problems_box(h, *again, label);
  } else if (failed) {
    h << "<div id=\"error\" class=\"error\"";
    h.attr("data-status", failed->status) << "><p>";
    h.text(failed->why) << "</p></div>\n";
  } else {
    p.notice(done_of(rq),
             {{"added", "Added. The controller applies it from its next request on."},
              {"removed", "Removed."},
              {"cleared",
               "All rules removed: the controller serves every request as "
               "usual."}});
  }
  const char *path = faults_path();
  if (path == nullptr) {
    no_file(h);
    return p.finish(status);
  }
  h << "<h2>Rules</h2>\n";
  rules_table(h, path);

  h << "<h2>Add a rule</h2>\n";
  form_start(h, "add-form", kFile, "add");
  h << "<label>rule <input type=\"text\" class=\"wide\" name=\"rule\" id=\"rule\" "
       "placeholder=\"IFC_get_* delay 6000 before len\"";
  h.attr("value", field_value(again, "rule", ""))
      << "></label> "
      << "<button id=\"add-send\" type=\"submit\">Add</button>";
  problem_note(h, again, "rule");
  h << "</form><p class=\"hint\"><code>PATTERN ACTION [ARGUMENTS] [times N] [after "
       "N]</code>, checked by the controller's own parser; the first rule that "
       "matches a request applies (docs/faults.md).</p>\n";

  h << "<h2>Ready-made</h2>\n<div class=\"row\">";
  for (const preset &x : kPresets) {
    form_start(h, std::string("preset-") + x.name + "-form", kFile, "preset");
    hidden(h, "preset", x.name);
    h << "<fieldset class=\"preset\"><p><button type=\"submit\"";
    h.attr("id", std::string("preset-") + x.name) << ">";
    h.text(x.title) << "</button> <code>";
    h.text(x.rule) << "</code></p><p class=\"hint\">" << x.what
                   << "</p></fieldset></form>";
  }
  h << "</div>\n";
  return p.finish(status);
}

response show_page(const request &rq) { return show(rq, nullptr, nullptr); }

// The rule a form adds: typed in, or a preset's.
std::string rule_of(fields &form, int action) {
  if (action == 0) return form.text("rule", kMaxRule);
  const char *names[std::size(kPresets)];
  for (size_t i = 0; i < std::size(kPresets); ++i) names[i] = kPresets[i].name;
  const int k = form.choice("preset", names, static_cast<int>(std::size(kPresets)));
  return k < 0 ? std::string() : kPresets[k].rule;
}

response change(const request &rq) {
  fields form(rq.body, known_field);
  const int action =
      form.choice("action", kActions, static_cast<int>(std::size(kActions)));
  std::string rule, text;
  int32_t n = 0;
  if (action == 0 || action == 1) rule = rule_of(form, action);
  if (action == 2) {
    n = form.number("n");
    text = form.text("text", kMaxRule);
  }
  const char *path = faults_path();
  if (!form.ok() || path == nullptr) {
    const outcome o = refusal(form);
    const trouble none{409,
                       "No faults file is known to the console; nothing was changed."};
    return path == nullptr ? show(rq, nullptr, &none) : show(rq, &o, nullptr);
  }

  const faults_file_result r = action <= 1   ? faults_file_add(path, rule)
                               : action == 2 ? faults_file_remove(path, n, &text)
                                             : faults_file_clear(path);
  using error = faults_file_error;
  switch (r.error) {
    case error::none:
      return see_other(action <= 1   ? "faults.cgi?done=added"
                       : action == 2 ? "faults.cgi?done=removed"
                                     : "faults.cgi?done=cleared");
    case error::rule_refused:
    case error::not_added: {
      const std::string why =
          r.error == error::not_added
              ? "the file with it added would be refused: line " + r.reason
              : r.reason;
      if (action == 1) {
        const trouble t{409, "Not added: " + why + "."};
        return show(rq, nullptr, &t);
      }
      form.fail("rule", why);
      const outcome o = refusal(form, "add");
      return show(rq, &o, nullptr);
    }
    case error::no_such_rule:
    case error::rule_changed: {
      const trouble t{
          409,
          "The rules have changed since the page was shown: rule " + std::to_string(n) +
              (r.error == error::no_such_rule ? " is not there any more"
                                              : " is now " + r.found + ", not " + text) +
              ". Nothing was removed; the rules as they are now are "
              "below."};
      return show(rq, nullptr, &t);
    }
    case error::file_refused: {
      const trouble t{409, "The controller refuses the file as it is (line " + r.reason +
                               "), so it was left alone."};
      return show(rq, nullptr, &t);
    }
    case error::unreadable:
    case error::unwritable:
      break;
  }
  const trouble t{500, std::string("The file cannot be ") +
                           (r.error == error::unreadable ? "read" : "changed") + " (" +
                           r.reason + "); nothing was changed."};
  return show(rq, nullptr, &t);
}

}  // namespace

int main() { return serve({kFile, show_page, change}); }
