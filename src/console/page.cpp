#include "page.hpp"

#include <ifcsim/lib_cgi.h>
#include <ifcsim/lib_form.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace console {

const page_info pages[] = {
    {"overview.cgi", "Overview"},     {"targets.cgi", "Targets"},
    {"valves.cgi", "Valve points"},   {"selection.cgi", "Selection and status"},
    {"histograms.cgi", "Histograms"}, {"measurements.cgi", "Measurements"},
    {"letoff.cgi", "Let-off"},        {"traffic.cgi", "Traffic"},
    {"faults.cgi", "Faults"},
};
const int page_count = sizeof pages / sizeof pages[0];

namespace {

// Escapes in pieces: cgi_html_escape needs a terminated text and a buffer that
// holds the worst case (6 bytes for one). The page is UTF-8: a NUL or a byte
// that is no part of a UTF-8 sequence is written as U+FFFD.
constexpr size_t kPiece = 512;

void escape_into(std::string &out, std::string_view v) {
  char in[kPiece + 4];
  char escaped[(kPiece + 4) * 6 + 1];
  while (!v.empty()) {
    size_t n = 0;
    while (n < v.size() && n < kPiece && v[n] != '\0') {
      size_t k = utf8_length(v.substr(n));
      if (k == 0) break;
      n += k;
    }
    if (n == 0) {
      out.append("\xEF\xBF\xBD");
      v.remove_prefix(1);
      continue;
    }
    std::memcpy(in, v.data(), n);
    in[n] = '\0';
    int len = cgi_html_escape(in, escaped, sizeof escaped);
    if (len > 0) out.append(escaped, static_cast<size_t>(len));
    v.remove_prefix(n);
  }
}

const page_info *find_page(std::string_view file) {
  for (int i = 0; i < page_count; ++i)
    if (file == pages[i].file) return &pages[i];
  return nullptr;
}

constexpr markup kStyle =
    "<style>"
    "body{font-family:system-ui,sans-serif;margin:0;color:#1d2733;background:#f4f6f8}"
    "nav{background:#23364d;padding:.4em 1em}"
    "nav a{color:#dce6f0;text-decoration:none;margin-right:1.2em}"
    "nav a[aria-current]{color:#fff;font-weight:bold;border-bottom:2px solid #f0b429}"
    "main{padding:.5em 1.5em 2em}"
    "h1{font-size:1.4em}h2{font-size:1.1em;margin-top:1.5em}"
    "table{border-collapse:collapse;background:#fff}"
    "th,td{border:1px solid #c5ced8;padding:.15em .5em;text-align:right}"
    "th{background:#e4e9ef}td.name,th.name{text-align:left}"
    "td.edit{background:#fff7dd}"
    "input[type=text]{width:4.5em;text-align:right}input.wide{width:24em;text-align:left}"
    "form{margin:.5em 0}fieldset{background:#fff;border:1px solid #c5ced8;margin:.6em 0}"
    ".hint{color:#5b6b7c;font-size:.9em}.notice{background:#e3f4e1;padding:.4em .8em}"
    ".error{background:#fbe3e1;padding:.6em 1em}.why{color:#a8231b;font-size:.9em}"
    ".row{display:flex;flex-wrap:wrap;gap:1.5em;align-items:flex-start}"
    "svg{background:#fff;border:1px solid #c5ced8}"
    ".flags td{text-align:center}.flags td.on{background:#cfe8c9}"
    ".byte{background:#e4e9ef;color:#6b2d8f;border-radius:2px}"
    "pre{white-space:pre-wrap;word-break:break-all;margin:0}"
    "tr.mark td{background:#eef3e0}tr.unreadable td{background:#fbe3e1}"
    "td.nowrap{white-space:nowrap}td.bytes{max-width:28em}input.mid{width:12em;text-"
    "align:left}"
    "fieldset.preset{max-width:22em}"
    "</style>";

}  // namespace

size_t utf8_length(std::string_view v) {
  const auto b = [&](size_t i) { return static_cast<unsigned char>(v[i]); };
  const unsigned char c = b(0);
  size_t n = c < 0x80                 ? 1
             : c >= 0xC2 && c <= 0xDF ? 2
             : c >= 0xE0 && c <= 0xEF ? 3
             : c >= 0xF0 && c <= 0xF4 ? 4
                                      : 0;
  if (n == 0 || n > v.size()) return 0;
  for (size_t i = 1; i < n; ++i)
    if ((b(i) & 0xC0) != 0x80) return 0;
  if ((c == 0xE0 && b(1) < 0xA0) || (c == 0xED && b(1) > 0x9F) ||
      (c == 0xF0 && b(1) < 0x90) || (c == 0xF4 && b(1) > 0x8F))
    return 0;
  return n;
}

html &html::text(std::string_view v) {
  escape_into(out_, v);
  return *this;
}

html &html::num(long long v) {
  char buf[32];
  int n = std::snprintf(buf, sizeof buf, "%lld", v);
  out_.append(buf, static_cast<size_t>(n));
  return *this;
}

html &html::fixed(double v, int decimals) {
  char buf[64];
  int n = std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  if (n > 0 && n < static_cast<int>(sizeof buf)) out_.append(buf, static_cast<size_t>(n));
  return *this;
}

html &html::attr(markup name, std::string_view value) {
  out_.push_back(' ');
  out_.append(name.text);
  out_.append("=\"");
  escape_into(out_, value);
  out_.push_back('"');
  return *this;
}

html &html::attr(markup name, long long value) {
  out_.push_back(' ');
  out_.append(name.text);
  out_.append("=\"");
  num(value);
  out_.push_back('"');
  return *this;
}

void write_response(const response &r) {
  cgi_status(r.status);
  if (r.status != 303) {
    cgi_header("Content-Type", "text/html; charset=utf-8");
    // Framed by another page, the forms would pass the origin check.
    cgi_header("Content-Security-Policy",
               "default-src 'none'; style-src 'unsafe-inline'; form-action 'self'; "
               "frame-ancestors 'none'");
    cgi_header("X-Frame-Options", "DENY");
    cgi_header("X-Content-Type-Options", "nosniff");
  }
  cgi_header("Cache-Control", "no-store");
  std::fwrite(r.headers.data(), 1, r.headers.size(), stdout);
  cgi_end_headers();
  std::fwrite(r.body.data(), 1, r.body.size(), stdout);
  std::fflush(stdout);
}

page::page(std::string_view file, int refresh_seconds) {
  const page_info *info = find_page(file);
  begin(file, info ? info->title : "ifcsim", refresh_seconds);
}

page::page(std::string_view file, std::string_view heading) { begin(file, heading, 0); }

void page::begin(std::string_view file, std::string_view heading, int refresh_seconds) {
  out_ << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
          "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">";
  if (refresh_seconds > 0) {
    out_ << "<meta id=\"refresh\" http-equiv=\"refresh\"";
    out_.attr("content", refresh_seconds) << ">";
  }
  out_ << "<title>ifcsim console: ";
  out_.text(heading) << "</title>" << kStyle << "</head>\n<body><nav id=\"nav\">";
  for (int i = 0; i < page_count; ++i) {
    out_ << "<a";
    out_.attr("href", pages[i].file);
    if (file == pages[i].file) out_ << " aria-current=\"page\"";
    out_ << ">";
    out_.text(pages[i].title) << "</a>";
  }
  out_ << "</nav>\n<main><h1 id=\"title\">";
  out_.text(heading) << "</h1>\n";
}

void page::notice(std::string_view done, std::initializer_list<done_note> notes) {
  for (const done_note &n : notes) {
    if (done.empty() || n.done != done) continue;
    out_ << "<p id=\"notice\" class=\"notice\">";
    out_.text(n.text) << "</p>\n";
    return;
  }
}

void form_start(html &h, std::string_view id, std::string_view file,
                std::string_view action) {
  h << "<form method=\"post\"";
  h.attr("id", id).attr("action", file) << ">";
  if (action.empty()) return;
  h << "<input type=\"hidden\" name=\"action\"";
  h.attr("value", action) << ">";
}

response page::finish(int status) {
  out_ << "</main></body></html>\n";
  return {status, {}, out_.str()};
}

response see_other(std::string_view location) {
  response r;
  r.status = 303;
  // A relative location is passed to the browser by every web server; one
  // starting with "/" may be followed inside the server instead.
  for (char c : location)
    if (c == '\r' || c == '\n') return r;  // never split the header
  r.headers = "Location: " + std::string(location) + "\r\n";
  r.headers += "Content-Type: text/html; charset=utf-8\r\n";
  html body;
  body << "<!DOCTYPE html>\n<p><a";
  body.attr("href", location) << ">Continue</a></p>\n";
  r.body = body.str();
  return r;
}

response forbidden(std::string_view file, std::string_view why) {
  page p(file, "Refused");
  html &h = p.out();
  h << "<div id=\"error\" class=\"error\" data-status=\"403\"><p>";
  h.text(why)
      << ".</p><p>Changes are taken only from the console's own pages; nothing was "
         "sent to the controller.</p></div>\n<p><a";
  h.attr("href", file) << ">Open the page</a></p>\n";
  return p.finish(403);
}

response refused(std::string_view file, int status, std::string_view why,
                 std::string_view extra_headers) {
  page p(file, cgi_reason(status));
  html &h = p.out();
  h << "<div id=\"error\" class=\"error\"";
  h.attr("data-status", status) << "><p>";
  h.text(why) << ".</p></div>\n<p><a";
  h.attr("href", file) << ">Open the page</a></p>\n";
  response r = p.finish(status);
  r.headers = std::string(extra_headers);
  return r;
}

}  // namespace console
