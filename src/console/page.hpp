// Output of the console's CGI programs: the response, the HTML writer every
// page is built with, the frame shared by all pages and the error pages.
//
// The writer has one way in for text that is not the program's own: text()
// and attr(), both escaped. Markup goes in through `markup`, which only a
// constant expression (a string literal) can make, so a value from the
// server or the request cannot end up in a page unescaped.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace console {

struct markup {
  consteval markup(const char *t) : text(t) {}
  const char *text;
};

class html {
 public:
  html &operator<<(markup m) {
    out_.append(m.text);
    return *this;
  }
  // Any text, escaped; a NUL and bytes that are not UTF-8 show as U+FFFD.
  html &text(std::string_view v);
  html &num(long long v);
  // v with `decimals` digits behind the point.
  html &fixed(double v, int decimals);
  // ` name="value"`, the value escaped.
  html &attr(markup name, std::string_view value);
  html &attr(markup name, long long value);

  const std::string &str() const { return out_; }

 private:
  std::string out_;
};

// What a program writes: status line, header lines, body.
struct response {
  int status = 200;
  std::string headers;  // extra header lines, each ended by \r\n
  std::string body;
};

// Writes r to standard output as a CGI response.
void write_response(const response &r);

// The length of the UTF-8 sequence v starts with; 0 when it starts with none
// (a stray byte, an overlong form, a surrogate, a sequence cut short).
size_t utf8_length(std::string_view v);

// Every page, in navigation order. `file` is the program's name under
// cgi-bin and the relative URL the pages link each other by.
struct page_info {
  const char *file;
  const char *title;
};
extern const page_info pages[];
extern const int page_count;

// What a page says after a change: the text for the word of ?done= that
// the change's redirect carried.
struct done_note {
  std::string_view done, text;
};
inline constexpr done_note kSavedNote{
    "saved", "Saved. The values below are read back from the controller."};
inline constexpr done_note kUnchangedNote{"unchanged",
                                          "Nothing had changed; nothing was sent."};

// A page of the console: head, style and navigation are written by the
// constructor, the closing markup by finish(). refresh_seconds > 0 makes the
// browser reload the page that often.
class page {
 public:
  explicit page(std::string_view file, int refresh_seconds = 0);
  page(std::string_view file, std::string_view heading);
  html &out() { return out_; }
  // The note of notes whose word is done, under the heading; nothing for
  // any other word.
  void notice(std::string_view done, std::initializer_list<done_note> notes);
  response finish(int status = 200);

 private:
  void begin(std::string_view file, std::string_view heading, int refresh_seconds);
  html out_;
};

// Opens a form that posts to file, with the hidden field action=action
// when action is given.
void form_start(html &h, std::string_view id, std::string_view file,
                std::string_view action = {});

// 303 to a URL relative to the program (e.g. "targets.cgi?done=saved"), so
// that the page is reloaded with a GET; the body links to it as well.
response see_other(std::string_view location);

// 403: the POST does not come from the console's own pages.
response forbidden(std::string_view file, std::string_view why);

// status with a short explanation (405, 413, 415).
response refused(std::string_view file, int status, std::string_view why,
                 std::string_view extra_headers = {});

}  // namespace console
