// letoff.cgi: sends the let-off button text (MLETOFF_set_btnstat) and notes
// for the controller's log (append_log). The controller answers neither with
// anything to show, so the page reads nothing from it.
#include <string>

#include "controller.hpp"
#include "request.hpp"

namespace {

using namespace console;

constexpr char kFile[] = "letoff.cgi";
constexpr int kMaxText = 4096;
constexpr const char *kActions[] = {"btnstat", "log"};

bool known_field(std::string_view name) {
  return name == "action" || name == "text" || name == "note";
}

std::string label(std::string_view field) {
  if (field == "text") return "button text";
  if (field == "note") return "log note";
  if (field == "action") return "the form's action";
  return std::string(field);
}

// One line of a form, filled in again with what was typed into it.
void text_field(html &h, const outcome *again, const char *form, markup name,
                markup button, markup words) {
  const outcome *mine = again && again->form == form ? again : nullptr;
  h << "<input type=\"text\" class=\"wide\"";
  h.attr("name", name.text).attr("id", name.text);
  h.attr("value", field_value(mine, name.text, "")) << "></label> " << button;
  problem_note(h, mine, name.text);
  h << "</form>" << words;
}

response show(const request &rq, const outcome *again) {
  page p(kFile);
  html &h = p.out();
  if (again)
    problems_box(h, *again, label);
  else
    p.notice(done_of(rq),
             {{"btnstat", "The button text was delivered to the controller."},
              {"log", "The note was added to the controller's log."}});
  h << "<h2>Let-off button</h2>";
  form_start(h, "btnstat-form", kFile, "btnstat");
  h << "<label>button text ";
  text_field(h, again, "btnstat", "text",
             "<button id=\"btnstat-send\" type=\"submit\">Send</button>",
             "<p class=\"hint\">The controller prints the text on its standard output."
             "</p>\n<h2>Log note</h2>");
  form_start(h, "log-form", kFile, "log");
  h << "<label>note ";
  text_field(h, again, "log", "note",
             "<button id=\"log-send\" type=\"submit\">Add to log</button>",
             "<p class=\"hint\">The note goes to the controller's cgi.log as one line."
             "</p>\n");
  return p.finish(again ? again->status : 200);
}

response show_page(const request &rq) { return show(rq, nullptr); }

response change(const request &rq) {
  fields form(rq.body, known_field);
  int action = form.choice("action", kActions, 2);
  const char *field = action == 0 ? "text" : "note";
  std::string text;
  if (action >= 0) {
    const size_t before = form.problems().size();
    text = form.text(field, kMaxText);
    // A note is one line of the log, whose line end the library adds: one
    // typed at its end is not a second line.
    if (action == 1 && !text.empty() && text.back() == '\n') text.pop_back();
    if (action == 1 && text.empty() && form.problems().size() == before)
      form.fail(field, "empty");
    // Printed by the controller and written to cgi.log: a line end or an
    // escape sequence would forge lines there.
    form.plain_text(field, text);
  }
  if (!form.ok()) {
    const outcome o = refusal(form, action >= 0 ? kActions[action] : "");
    return show(rq, &o);
  }

  controller ctl;
  if (!(action == 0 ? ctl.letoff_button(text) : ctl.log_line(text)))
    return ctl.failure(kFile, kFile);
  return see_other(std::string("letoff.cgi?done=") + kActions[action]);
}

}  // namespace

int main() { return serve({kFile, show_page, change}); }
