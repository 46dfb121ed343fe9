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

response show(const request &rq) {
  page p(kFile);
  p.notice(done_of(rq), {{"btnstat", "The button text was delivered to the controller."},
                         {"log", "The note was added to the controller's log."}});
  html &h = p.out();
  h << "<h2>Let-off button</h2>";
  form_start(h, "btnstat-form", kFile, "btnstat");
  h << "<label>button text <input type=\"text\" class=\"wide\" name=\"text\" "
       "id=\"text\"></label> <button id=\"btnstat-send\" type=\"submit\">Send</button>"
       "</form><p class=\"hint\">The controller prints the text on its standard output."
       "</p>\n<h2>Log note</h2>";
  form_start(h, "log-form", kFile, "log");
  h << "<label>note <input type=\"text\" class=\"wide\" name=\"note\" id=\"note\">"
       "</label> <button id=\"log-send\" type=\"submit\">Add to log</button></form>"
       "<p class=\"hint\">The note goes to the controller's cgi.log as one line.</p>\n";
  return p.finish();
}

response change(const request &rq) {
  fields form(rq.body, known_field);
  int action = form.ok() ? form.choice("action", kActions, 2) : -1;
  const char *field = action == 0 ? "text" : "note";
  std::string text = form.ok() ? form.text(field, kMaxText) : std::string();
  if (form.ok() && action == 1 && text.empty()) form.fail(field, "empty");
  // One note, one line: a line end inside would forge an entry of its own.
  if (form.ok() && action == 1 &&
      text.find_first_of("\r\n") < text.size() - (text.back() == '\n' ? 1 : 0))
    form.fail(field, "more than one line");
  if (!form.ok()) return form.error(kFile);

  controller ctl;
  // A note is one line of the log; the library adds its line end.
  if (action == 1 && text.back() == '\n') text.pop_back();
  if (!(action == 0 ? ctl.letoff_button(text) : ctl.log_line(text)))
    return ctl.failure(kFile, kFile);
  return see_other(std::string("letoff.cgi?done=") + kActions[action]);
}

}  // namespace

int main() { return serve({kFile, show, change}); }
