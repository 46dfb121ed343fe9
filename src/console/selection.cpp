// selection.cgi: the 25 valve selection flags as checkboxes, "clear all",
// and the status (colour, mode, totw_sw). The selection command takes one
// item per request, so a POST sends one IFC_set_select_item per changed flag.
// Every change is read back.
#include <string>

#include "controller.hpp"
#include "request.hpp"

namespace {

using namespace console;

constexpr char kFile[] = "selection.cgi";

const char *flag_name(int i) { return ifc_flag_item(i)->name; }

constexpr const char *kStatus[] = {"color", "mode", "totw_sw"};
constexpr const char *kActions[] = {"flags", "clear", "status"};

bool known_field(std::string_view name) {
  if (name == "action") return true;
  if (name.starts_with("old_")) name.remove_prefix(4);
  if (ifc_flag_find(std::string(name).c_str()) >= 0) return true;
  for (const char *s : kStatus)
    if (name == s) return true;
  return false;
}

std::string label(std::string_view field) {
  const bool old = field.starts_with("old_");
  std::string f(old ? field.substr(4) : field);
  std::string tail = old ? " as shown before" : "";
  if (field == "action") return "the form's action";
  if (ifc_flag_find(f.c_str()) >= 0) return "flag " + f + tail;
  for (const char *s : kStatus)
    if (f == s) return f + " of the status" + tail;
  return std::string(field);
}

response show(const request &rq, const outcome *again) {
  controller ctl;
  ifc_flags flags;
  ifc_status status;
  ctl.flags(&flags);
  ctl.status(&status);
  if (ctl.failed())
    return again ? problems_page(kFile, *again, label) : ctl.failure(kFile, kFile);
  const int32_t status_values[] = {status.color, status.mode, status.totw_sw};
  // What was typed goes back into the form it came from.
  const bool flags_typed = again && again->typed && again->form == "flags";
  const outcome *flags_again =
      again && (again->form == "flags" || again->form == "clear") ? again : nullptr;
  const outcome *status_again = again && again->form == "status" ? again : nullptr;

  page p(kFile);
  html &h = p.out();
  if (again)
    problems_box(h, *again, label);
  else
    p.notice(
        done_of(rq),
        {{"flags", "Flags saved. The values below are read back from the controller."},
         {"clear",
          "All flags cleared. The values below are read back from the controller."},
         {"status", "Status saved. The values below are read back from the controller."},
         kUnchangedNote});

  h << "<h2>Valve selection</h2>\n";
  form_start(h, "flags-form", kFile, "flags");
  h << "<fieldset id=\"flags\" class=\"row\">";
  for (int i = 0; i < IFC_FLAGS; ++i) {
    const char *f = flag_name(i);
    const int32_t v = flags.value[i];
    std::string typed;
    const bool checked = flags_typed ? again->typed->typed(f, &typed) : v != 0;
    h << "<label><input type=\"checkbox\" value=\"1\"";
    h.attr("name", f).attr("id", f);
    if (checked) h << " checked";
    h << "> ";
    h.text(f);
    // Any number is stored as sent; show the ones a checkbox cannot.
    if (v != 0 && v != 1) {
      h << " (";
      h.num(v) << ")";
    }
    problem_note(h, flags_again, f);
    h << "</label><input type=\"hidden\"";
    h.attr("name", std::string("old_") + f).attr("value", v) << ">";
  }
  h << "</fieldset><p><button id=\"flags-save\" type=\"submit\">Save flags</button></p>"
       "</form>\n";
  form_start(h, "clear-form", kFile, "clear");
  h << "<button id=\"clear-all\" type=\"submit\">Clear all</button></form>\n";

  h << "<h2>Status</h2>\n";
  form_start(h, "status-form", kFile, "status");
  h << "<table id=\"status\">";
  for (int i = 0; i < 3; ++i) {
    const char *s = kStatus[i];
    std::string value = std::to_string(status_values[i]);
    h << "<tr><td class=\"name\"><label";
    h.attr("for", s) << ">";
    h.text(s) << "</label></td><td><input type=\"text\" inputmode=\"numeric\"";
    h.attr("name", s).attr("id", s).attr("value", field_value(status_again, s, value));
    h << "><input type=\"hidden\"";
    h.attr("name", std::string("old_") + s).attr("value", value) << ">";
    problem_note(h, status_again, s);
    h << "</td></tr>";
  }
  h << "</table><p class=\"hint\">Declared range 0 to 6. Values outside it are sent and "
       "stored as they are.</p><p><button id=\"status-save\" type=\"submit\">Save status"
       "</button></p></form>\n";
  return p.finish(again ? again->status : 200);
}

response show_page(const request &rq) { return show(rq, nullptr); }

response change(const request &rq) {
  fields form(rq.body, known_field);
  int action = form.choice("action", kActions, 3);
  const char *which = action >= 0 ? kActions[action] : "";
  if (action == 2) {
    int32_t v[3], old[3];
    bool same = true;
    for (int i = 0; i < 3; ++i) {
      v[i] = form.number(kStatus[i]);
      std::string old_name = std::string("old_") + kStatus[i];
      same = form.number_if_present(old_name.c_str(), &old[i]) && same && old[i] == v[i];
    }
    if (!form.ok()) {
      const outcome o = refusal(form, which);
      return show(rq, &o);
    }
    if (same) return see_other("selection.cgi?done=unchanged");
    controller ctl;
    bool taken = true;
    ifc_status held{};
    if (!ctl.set_status(v[0], v[1], v[2], &taken, &held))
      return ctl.failure(kFile, kFile);
    if (taken) return see_other("selection.cgi?done=status");
    outcome refused{409, {}, nullptr, which};
    const int32_t held_values[] = {held.color, held.mode, held.totw_sw};
    for (int i = 0; i < 3; ++i)
      if (held_values[i] != v[i])
        refused.problems.push_back(not_taken(kStatus[i], v[i], held_values[i]));
    return show(rq, &refused);
  }

  // A flag counts when the form says what it was (old_<flag>): checked is
  // on, missing is off. A flag given without it is sent as given.
  int changed[IFC_FLAGS];
  int32_t values[IFC_FLAGS];
  int count = 0;
  for (int i = 0; i < IFC_FLAGS && action == 0; ++i) {
    const char *f = flag_name(i);
    int32_t old = 0, v = 0;
    std::string old_name = std::string("old_") + f;
    bool checked = form.number_if_present(f, &v);
    if (form.number_if_present(old_name.c_str(), &old)) {
      if (checked == (old != 0)) continue;
      if (!checked) v = 0;
    } else if (!checked) {
      continue;
    }
    changed[count] = i;
    values[count++] = v;
  }
  if (!form.ok()) {
    const outcome o = refusal(form, which);
    return show(rq, &o);
  }

  controller ctl;
  outcome refused{409, {}, nullptr, which};
  if (action == 1) {
    bool taken = true;
    ifc_flags held{};
    if (!ctl.clear_flags(&taken, &held)) return ctl.failure(kFile, kFile);
    for (int i = 0; i < IFC_FLAGS && !taken; ++i)
      if (held.value[i] != 0)
        refused.problems.push_back(not_taken(flag_name(i), 0, held.value[i]));
    if (refused.problems.empty()) return see_other("selection.cgi?done=clear");
    return show(rq, &refused);
  }
  for (int i = 0; i < count; ++i) {
    bool taken = true;
    int32_t held = 0;
    if (!ctl.set_flag(changed[i], values[i], &taken, &held))
      return ctl.failure(kFile, kFile);
    if (!taken)
      refused.problems.push_back(not_taken(flag_name(changed[i]), values[i], held));
  }
  if (!refused.problems.empty()) return show(rq, &refused);
  return see_other(count > 0 ? "selection.cgi?done=flags"
                             : "selection.cgi?done=unchanged");
}

}  // namespace

int main() { return serve({kFile, show_page, change}); }
