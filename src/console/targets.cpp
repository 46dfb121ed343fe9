// targets.cgi: the targets TO and TW of colour numbers 1 to 6, editable.
// A POST sends one IFC_set_to_tw_c per colour number whose values changed,
// and reads each back.
#include <string>
#include <utility>

#include "controller.hpp"
#include "request.hpp"

namespace {

using namespace console;

constexpr char kFile[] = "targets.cgi";

std::string field_name(const char *key, int colour) {
  return key + std::to_string(colour);
}

bool known_field(std::string_view name) {
  for (int c = 1; c <= 6; ++c)
    for (const char *key : {"to", "tw", "old_to", "old_tw"})
      if (name == field_name(key, c)) return true;
  return false;
}

std::string label(std::string_view field) {
  const bool old = field.starts_with("old_");
  std::string_view f = old ? field.substr(4) : field;
  if (f.size() != 3 || f[0] != 't' || (f[1] != 'o' && f[1] != 'w') || f[2] < '1' ||
      f[2] > '6')
    return std::string(field);
  return std::string(f[1] == 'o' ? "TO" : "TW") + " of colour " + f[2] +
         (old ? " as shown before" : "");
}

response show(const request &rq, const outcome *again) {
  controller ctl;
  ifc_to_tw targets[IFC_COLOURS];
  for (int c = 1; c <= IFC_COLOURS; ++c) ctl.targets(c, &targets[c - 1]);
  if (ctl.failed())
    return again ? problems_page(kFile, *again, label) : ctl.failure(kFile, kFile);

  page p(kFile);
  html &h = p.out();
  if (again)
    problems_box(h, *again, label);
  else
    p.notice(done_of(rq), {kSavedNote, kUnchangedNote});
  form_start(h, "targets-form", kFile);
  h << "<table id=\"targets\"><tr><th class=\"name\">colour</th><th>TO</th><th>TW</th>"
       "</tr>\n";
  for (int c = 1; c <= 6; ++c) {
    h << "<tr><td class=\"name\">";
    h.num(c) << "</td>";
    const std::pair<const char *, int32_t> cells[] = {{"to", targets[c - 1].to},
                                                      {"tw", targets[c - 1].tw}};
    for (const auto &[key, v] : cells) {
      std::string name = field_name(key, c);
      h << "<td><input type=\"text\" inputmode=\"numeric\"";
      h.attr("name", name).attr("id", name);
      h.attr("value", field_value(again, name.c_str(), std::to_string(v)));
      h << "><input type=\"hidden\"";
      h.attr("name", "old_" + name).attr("value", v) << ">";
      problem_note(h, again, name);
      h << "</td>";
    }
    h << "</tr>\n";
  }
  h << "</table><p class=\"hint\">Declared ranges: TO 50 to 150, TW 190 to 290. Values "
       "outside them are sent and stored as they are.</p>"
       "<p><button id=\"targets-save\" type=\"submit\">Save</button></p></form>\n";
  return p.finish(again ? again->status : 200);
}

response show_page(const request &rq) { return show(rq, nullptr); }

response change(const request &rq) {
  fields form(rq.body, known_field);
  struct target {
    int colour;
    int32_t to, tw;
  } changed[6];
  int count = 0;
  for (int c = 1; c <= 6; ++c) {
    std::string to_name = field_name("to", c), tw_name = field_name("tw", c);
    if (!form.has(to_name.c_str()) && !form.has(tw_name.c_str())) continue;
    target t{c, form.number(to_name.c_str()), form.number(tw_name.c_str())};
    int32_t old_to = 0, old_tw = 0;
    bool same = form.number_if_present(("old_" + to_name).c_str(), &old_to) &&
                form.number_if_present(("old_" + tw_name).c_str(), &old_tw) &&
                old_to == t.to && old_tw == t.tw;
    if (!same) changed[count++] = t;
  }
  if (!form.ok()) {
    const outcome o = refusal(form);
    return show(rq, &o);
  }

  controller ctl;
  outcome refused{409, {}, nullptr, {}};
  for (int i = 0; i < count; ++i) {
    const target &t = changed[i];
    bool taken = true;
    ifc_to_tw held{};
    if (!ctl.set_targets(t.colour, t.to, t.tw, &taken, &held))
      return ctl.failure(kFile, kFile);
    if (taken) continue;
    if (held.to != t.to)
      refused.problems.push_back(not_taken(field_name("to", t.colour), t.to, held.to));
    if (held.tw != t.tw || held.to == t.to)
      refused.problems.push_back(not_taken(field_name("tw", t.colour), t.tw, held.tw));
  }
  if (!refused.problems.empty()) return show(rq, &refused);
  return see_other(count > 0 ? "targets.cgi?done=saved" : "targets.cgi?done=unchanged");
}

}  // namespace

int main() { return serve({kFile, show_page, change}); }
