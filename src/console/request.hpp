// Input of the console's CGI programs: the request from the CGI environment,
// the form fields with their checks, the origin check of changes, and the
// main routine every page program runs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

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

// The fields of a query string or form body. The getters record the first
// failure (a missing field, a bad escape, a value that is no number or
// does not fit); ok() is false from then on and error() tells the field
// and the reason. A page checks every field before it sends anything.
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
  // Records the first field whose name known() refuses.
  void only(bool (*known)(std::string_view name));

  // Records a failure of the caller's own checks.
  void fail(std::string_view field, std::string_view why);
  bool ok() const { return !failed_; }
  // The 400 page of the first failure.
  response error(std::string_view file) const { return bad_input(file, field_, why_); }

 private:
  std::string_view form_;
  bool failed_ = false;
  std::string field_, why_;
};

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
