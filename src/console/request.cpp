#include "request.hpp"

#include <arpa/inet.h>
#include <ifcsim/lib_client.h>
#include <ifcsim/lib_form.h>
#include <strings.h>

#include <cstdlib>
#include <cstring>

namespace console {

namespace {

const char *env(const char *name) { return std::getenv(name); }

// Host names, IPv4 and bracketed IPv6 addresses, and a port.
bool plain_host(const char *host) {
  if (host == nullptr || *host == '\0') return false;
  for (const char *p = host; *p != '\0'; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
              (c >= '0' && c <= '9') || c == '.' || c == '-' || c == ':' || c == '[' ||
              c == ']' || c == '_';
    if (!ok) return false;
  }
  return true;
}

bool media_type_is_form(const char *type) {
  if (type == nullptr || *type == '\0') return true;
  static const char kForm[] = "application/x-www-form-urlencoded";
  size_t n = sizeof kForm - 1;
  if (strncasecmp(type, kForm, n) != 0) return false;
  return type[n] == '\0' || type[n] == ';' || type[n] == ' ';
}

method method_of(const char *name) {
  if (name == nullptr) return method::other;
  if (std::strcmp(name, "GET") == 0) return method::get;
  if (std::strcmp(name, "HEAD") == 0) return method::head;
  if (std::strcmp(name, "POST") == 0) return method::post;
  return method::other;
}

}  // namespace

bool same_origin(const char *origin, const char *referer, const char *host, bool https) {
  if (!plain_host(host)) return false;
  std::string expected = https ? "https://" : "http://";
  expected += host;
  if (origin != nullptr) return strcasecmp(origin, expected.c_str()) == 0;
  if (referer == nullptr) return false;
  if (strncasecmp(referer, expected.c_str(), expected.size()) != 0) return false;
  char next = referer[expected.size()];
  return next == '\0' || next == '/' || next == '?' || next == '#';
}

bool known_host(const char *host, const char *allowed) {
  if (!plain_host(host)) return false;
  std::string name = host;
  if (name[0] == '[') {
    size_t close = name.find(']');
    if (close == std::string::npos) return false;
    name = name.substr(1, close - 1);
    in6_addr a6;
    return inet_pton(AF_INET6, name.c_str(), &a6) == 1;
  }
  name = name.substr(0, name.find(':'));
  in_addr a4;
  if (inet_pton(AF_INET, name.c_str(), &a4) == 1) return true;
  if (strcasecmp(name.c_str(), "localhost") == 0) return true;
  for (const char *p = allowed; p != nullptr && *p != '\0';) {
    size_t n = std::strcspn(p, ", ");
    if (n == name.size() && strncasecmp(p, name.c_str(), n) == 0) return true;
    p += n;
    p += std::strspn(p, ", ");
  }
  return false;
}

bool fields::has(const char *name) const {
  char probe[1];
  int r = cgi_form_value(form_.data(), static_cast<int>(form_.size()), name, probe,
                         sizeof probe);
  return r != IFC_EMISSING && r != IFC_EUSAGE;
}

std::string fields::text(const char *name, int max_length) {
  std::string value(static_cast<size_t>(max_length) + 1, '\0');
  int r = cgi_form_value(form_.data(), static_cast<int>(form_.size()), name, value.data(),
                         max_length + 1);
  if (r >= 0) {
    value.resize(static_cast<size_t>(r));
    return value;
  }
  if (r == IFC_EMISSING)
    fail(name, "missing");
  else if (r == IFC_ETOOBIG)
    fail(name, "longer than " + std::to_string(max_length) + " bytes");
  else
    fail(name, "badly encoded");
  return {};
}

int32_t fields::number(const char *name) {
  int32_t v = 0;
  switch (cgi_form_int(form_.data(), static_cast<int>(form_.size()), name, INT32_MIN,
                       INT32_MAX, &v)) {
    case IFC_OK:
      return v;
    case IFC_EMISSING:
      fail(name, "missing");
      break;
    case IFC_ENOTNUMBER:
      fail(name, "not a whole number");
      break;
    case IFC_ERANGE:
      fail(name, "beyond the 32-bit range");
      break;
    default:
      fail(name, "badly encoded");
      break;
  }
  return 0;
}

bool fields::number_if_present(const char *name, int32_t *out) {
  if (!has(name)) return false;
  const size_t before = problems_.size();
  int32_t v = number(name);
  if (problems_.size() != before) return false;
  *out = v;
  return true;
}

int fields::choice(const char *name, const char *const *choices, int count) {
  const size_t before = problems_.size();
  std::string t = text(name, 64);
  if (problems_.size() != before) return -1;
  for (int i = 0; i < count; ++i)
    if (t == choices[i]) return i;
  fail(name, "unknown value \"" + t + "\"");
  return -1;
}

void fields::only(bool (*known)(std::string_view name)) {
  char name[128];
  char value[8];
  int pos = 0;
  int length = static_cast<int>(form_.size());
  for (;;) {
    int r =
        cgi_form_next(form_.data(), length, &pos, name, sizeof name, value, sizeof value);
    if (r == IFC_EMISSING || r == IFC_EUSAGE) return;
    // A value that does not fit is fine here; a name that does not fit is
    // no field of ours.
    if (r == IFC_ETOOBIG && name[0] != '\0') r = 0;
    if (r == IFC_EFORM)
      fail(name[0] != '\0' ? std::string_view(name) : "(a field name)", "badly encoded");
    else if (r < 0)
      fail("(a field name)", "too long to be a field of this page");
    else if (!known(name))
      fail(name[0] == '\0' ? std::string_view("(a field name)") : name, "unknown field");
  }
}

void fields::plain_text(std::string_view field, std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const size_t n = utf8_length(text.substr(i));
    if (n == 0) return fail(field, "holds bytes that are not UTF-8 text");
    // C1 controls are two bytes in UTF-8: U+0080 to U+009F.
    const bool c1 = c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
    if (c < 0x20 || c == 0x7F || c1) {
      std::string what = c == '\n' || c == '\r' ? "a line end"
                         : c == '\t'            ? "a tab"
                         : c == 0x1B            ? "ESC"
                                                : "control character ";
      if (what.back() == ' ') {
        const unsigned char b = c1 ? static_cast<unsigned char>(text[i + 1]) : c;
        what += "U+00";
        what += kHex[b >> 4];
        what += kHex[b & 15];
      }
      return fail(field, "holds " + what + "; it would forge a line where it is printed");
    }
    i += n;
  }
}

void fields::fail(std::string_view field, std::string_view why) {
  for (const field_problem &p : problems_)
    if (p.field == field) return;
  problems_.push_back({std::string(field), std::string(why)});
}

bool fields::typed(const char *name, std::string *out) const {
  std::string value(form_.size() + 1, '\0');
  int r = cgi_form_value(form_.data(), static_cast<int>(form_.size()), name, value.data(),
                         static_cast<int>(value.size()));
  if (r < 0) return false;
  value.resize(static_cast<size_t>(r));
  *out = std::move(value);
  return true;
}

std::string field_value(const outcome *again, const char *name, std::string value) {
  std::string t;
  if (again != nullptr && again->typed != nullptr && again->typed->typed(name, &t))
    return t;
  return value;
}

void problem_note(html &h, const outcome *again, std::string_view name) {
  if (again == nullptr) return;
  for (const field_problem &p : again->problems) {
    if (p.field != name) continue;
    h << " <span class=\"why\"";
    h.attr("id", "why-" + p.field) << ">";
    h.text(p.why) << "</span>";
    return;
  }
}

void problems_box(html &h, const outcome &o, const field_label &label) {
  h << "<div id=\"error\" class=\"error\"";
  h.attr("data-status", o.status) << "><p>";
  if (o.status == 409)
    h << "Not taken as sent: the controller holds other values than were sent. The "
         "page shows what it holds.";
  else
    h << "Nothing was sent to the controller. Please correct:";
  h << "</p><ul>";
  bool first = true;
  for (const field_problem &p : o.problems) {
    h << "<li><strong class=\"field\"";
    if (first) h << " id=\"field\"";
    first = false;
    h.attr("data-field", p.field) << ">";
    h.text(label ? label(p.field) : p.field) << "</strong>: ";
    h.text(p.why) << "</li>";
  }
  h << "</ul></div>\n";
}

response problems_page(std::string_view file, const outcome &o,
                       const field_label &label) {
  page p(file, o.status == 409 ? "Not taken" : "Bad input");
  html &h = p.out();
  problems_box(h, o, label);
  h << "<p><a";
  h.attr("href", file) << ">Back to the page</a></p>\n";
  return p.finish(o.status);
}

outcome refusal(const fields &form, std::string_view id) {
  return {400, form.problems(), &form, std::string(id)};
}

field_problem not_taken(std::string field, long long sent, long long held) {
  return {std::move(field), "sent " + std::to_string(sent) +
                                ", but the controller holds " + std::to_string(held)};
}

std::string done_of(const request &rq) {
  fields query(rq.query);
  return query.has("done") ? query.text("done", 32) : std::string();
}

int serve(const page_program &program) {
  request rq;
  const char *verb = env("REQUEST_METHOD");
  rq.verb = method_of(verb);
  rq.verb_name = verb ? verb : "";
  if (const char *q = env("QUERY_STRING")) rq.query = q;

  response r;
  switch (rq.verb) {
    case method::get:
    case method::head:
      r = program.show(rq);
      break;
    case method::post: {
      if (program.change == nullptr) {
        r = refused(program.file, 405, "This page takes no changes",
                    "Allow: GET, HEAD\r\n");
        break;
      }
      if (!known_host(env("HTTP_HOST"), env("IFCSIM_CONSOLE_HOSTS"))) {
        r = forbidden(program.file,
                      "The console is addressed by a name it does not know; changes "
                      "are taken under its IP address, localhost, or a name listed in "
                      "IFCSIM_CONSOLE_HOSTS");
        break;
      }
      if (!same_origin(env("HTTP_ORIGIN"), env("HTTP_REFERER"), env("HTTP_HOST"),
                       env("HTTPS") != nullptr && strcasecmp(env("HTTPS"), "on") == 0)) {
        r = forbidden(program.file,
                      "The request does not come from this console (its Origin or "
                      "Referer names another site, or neither was sent)");
        break;
      }
      if (!media_type_is_form(env("CONTENT_TYPE"))) {
        r = refused(program.file, 415,
                    "Forms are taken as application/x-www-form-urlencoded");
        break;
      }
      static char body[kMaxBody + 1];
      int n = cgi_read_body(body, sizeof body);
      if (n == IFC_ETOOBIG) {
        r = refused(
            program.file, 413,
            "The request body is longer than " + std::to_string(kMaxBody) + " bytes");
        break;
      }
      if (n < 0) {
        r = problems_page(
            program.file,
            {400,
             {{"request body", n == IFC_ECLOSED ? "shorter than its Content-Length"
                                                : "Content-Length is no length"}},
             nullptr,
             {}},
            nullptr);
        break;
      }
      rq.body.assign(body, static_cast<size_t>(n));
      r = program.change(rq);
      break;
    }
    case method::other:
      r = refused(program.file, 405, "Pages are read with GET and changed with POST",
                  program.change ? "Allow: GET, HEAD, POST\r\n" : "Allow: GET, HEAD\r\n");
      break;
  }
  write_response(r);
  return 0;
}

}  // namespace console
