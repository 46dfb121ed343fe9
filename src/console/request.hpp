// Input of the console's CGI programs: the request from the CGI environment,
// the form fields with their checks, the origin check of changes, and the
// main routine every page program runs.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "page.hpp"

namespace console {

// Largest request body taken; a form of the console is a few kilobytes.
inline constexpr int kMaxBody = 65536;

enum class method { get, head, post, other };

struct request {
  method verb = method::other;
  std::string verb_name;
  std::string query;  // QUERY_STRING
  std::string body;   // a POST's body
};

// True when a change may be made: origin (HTTP_ORIGIN), or when there is
// none referer (HTTP_REFERER), names scheme://host, host being HTTP_HOST as
// the browser addressed the console. Null means the header was not sent.
bool same_origin(const char *origin, const char *referer, const char *host, bool https);

// True when host (HTTP_HOST, with or without a port) names the console by an
// IP address, as "localhost", or by one of the names in allowed (comma- or
// blank-separated, may be null). Any other name may be a foreign site's that
// has been pointed at this machine (DNS rebinding): its pages are then of
// the same origin as the console and would pass same_origin.
bool known_host(const char *host, const char *allowed);

// A field of a form and what is wrong with it, or what became of it.
struct field_problem {
  std::string field, why;
};

// The fields of a query string or form body. The getters record each
// failure (a missing field, a bad escape, a value that is no number or does
// not fit), one per field; ok() is false from the first on. A page checks
// every field before it sends anything.
class fields {
 public:
  explicit fields(std::string_view form) : form_(form) {}
  // The fields of a change: any field that known() refuses is a failure.
  fields(std::string_view form, bool (*known)(std::string_view name)) : form_(form) {
    only(known);
  }

  bool has(const char *name) const;
  // The decoded value, at most max_length bytes.
  std::string text(const char *name, int max_length = 256);
  int32_t number(const char *name);
  // The number when the field is there; false (and nothing recorded) when
  // it is not.
  bool number_if_present(const char *name, int32_t *out);
  // One of choices[0..count), its index; -1 (recorded) for anything else.
  int choice(const char *name, const char *const *choices, int count);
  // Records each field whose name known() refuses.
  void only(bool (*known)(std::string_view name));
  // Records that text, the value of field, holds a control character or
  // bytes that are not UTF-8: they would forge lines where it is printed.
  void plain_text(std::string_view field, std::string_view text);

  // Records a failure of the caller's own checks; a field keeps its first.
  void fail(std::string_view field, std::string_view why);
  bool ok() const { return problems_.empty(); }
  const std::vector<field_problem> &problems() const { return problems_; }
  // The value of name as it was typed (decoded, any bytes); false when the
  // field is not there or not decodable.
  bool typed(const char *name, std::string *out) const;

 private:
  std::string_view form_;
  std::vector<field_problem> problems_;
};

// A page shown again after a POST it did not carry out as asked: 400 with
// the fields as typed and each one's problem, or 409 with the fields the
// controller did not take (the page then shows what it holds).
struct outcome {
  int status = 400;
  std::vector<field_problem> problems;
  const fields *typed = nullptr;
  std::string form;  // the id of the form it is about, on a page of several
};

// A field's name in a person's words ("TO of colour 1").
using field_label = std::function<std::string(std::string_view field)>;

// The value an input shows: what was typed when the page comes again after
// bad input (again non-null, the field sent), else value.
std::string field_value(const outcome *again, const char *name, std::string value);
// The problem of field name, beside its input; nothing when it has none.
void problem_note(html &h, const outcome *again, std::string_view name);
// The box above a page shown again: each problem with its field in words.
void problems_box(html &h, const outcome &o, const field_label &label);
// The box alone with a link back, when the page itself cannot be shown.
response problems_page(std::string_view file, const outcome &o, const field_label &label);
// The outcome of a form (of the given id) that did not pass its checks.
outcome refusal(const fields &form, std::string_view id = {});
// A value the controller did not take: what was sent, what it holds.
field_problem not_taken(std::string field, long long sent, long long held);

// The word of ?done= that a change's redirect carried, or "".
std::string done_of(const request &rq);

// A page program: show answers GET and HEAD; change, when given, answers a
// POST whose origin and body have passed the checks.
struct page_program {
  const char *file;
  response (*show)(const request &);
  response (*change)(const request &);
};

// Reads the request from the environment and standard input, runs the
// page and writes its response. Returns the process's exit status.
int serve(const page_program &program);

}  // namespace console
