// targets.cgi: the targets TO and TW of colour numbers 1 to 6, editable.
// A POST sends one IFC_set_to_tw_c per colour number whose values changed.
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

response show(const request &rq) {
  controller ctl;
  ifc_to_tw targets[IFC_COLOURS];
  for (int c = 1; c <= IFC_COLOURS; ++c) ctl.targets(c, &targets[c - 1]);
  if (ctl.failed()) return ctl.failure(kFile, kFile);

  page p(kFile);
  p.notice(done_of(rq), {kSavedNote, kUnchangedNote});
  html &h = p.out();
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
      h.attr("name", name).attr("id", name).attr("value", v);
      h << "><input type=\"hidden\"";
      h.attr("name", "old_" + name).attr("value", v) << "></td>";
    }
    h << "</tr>\n";
  }
  h << "</table><p class=\"hint\">Declared ranges: TO 50 to 150, TW 190 to 290. Values "
       "outside them are sent and stored as they are.</p>"
       "<p><button id=\"targets-save\" type=\"submit\">Save</button></p></form>\n";
  return p.finish();
}

response change(const request &rq) {
  fields form(rq.body, known_field);
  struct target {
    int colour;
    int32_t to, tw;
  } changed[6];
  int count = 0;
  for (int c = 1; c <= 6 && form.ok(); ++c) {
    std::string to_name = field_name("to", c), tw_name = field_name("tw", c);
    if (!form.has(to_name.c_str()) && !form.has(tw_name.c_str())) continue;
    target t{c, form.number(to_name.c_str()), form.number(tw_name.c_str())};
    int32_t old_to = 0, old_tw = 0;
    bool same = form.number_if_present(("old_" + to_name).c_str(), &old_to) &&
                form.number_if_present(("old_" + tw_name).c_str(), &old_tw) &&
                old_to == t.to && old_tw == t.tw;
    if (!same) changed[count++] = t;
  }
  if (!form.ok()) return form.error(kFile);

  controller ctl;
  for (int i = 0; i < count; ++i)
    if (!ctl.set_targets(changed[i].colour, changed[i].to, changed[i].tw))
      return ctl.failure(kFile, kFile);
  return see_other(count > 0 ? "targets.cgi?done=saved" : "targets.cgi?done=unchanged");
}

}  // namespace

int main() { return serve({kFile, show, change}); }
