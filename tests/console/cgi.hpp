// Runs the console's CGI programs (built into CONSOLE_CGI_DIR) as a web
// server does, against the server loop on an ephemeral port, and reads back
// what they answered and what they asked the server.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "support/program_run.hpp"
#include "support/server_process.hpp"

namespace console_test {

struct cgi_response {
  int exit_status = -1;
  int status = 0;
  std::map<std::string, std::string> headers;
  std::string body;
};

// What a page shows: for "id" the text after the element's opening tag,
// for "id@attr" the attribute's value ("" for a boolean one, "(none)" when
// it is not there).
inline std::string shown(const std::string &html, const std::string &what) {
  size_t sep = what.find('@');
  size_t at = html.find(" id=\"" + what.substr(0, sep) + "\"");
  if (at == std::string::npos) return "(no such id)";
  size_t start = html.rfind('<', at), end = html.find('>', at);
  if (sep == std::string::npos)
    return html.substr(end + 1, html.find('<', end) - end - 1);
  std::string tag = html.substr(start, end - start) + " ",
              attr = " " + what.substr(sep + 1);
  size_t a = tag.find(attr + "=\"");
  if (a != std::string::npos)
    return tag.substr(a + attr.size() + 2,
                      tag.find('"', a + attr.size() + 2) - a - attr.size() - 2);
  return tag.find(attr + " ") != std::string::npos ? "" : "(none)";
}

inline int32_t int_at(const std::string &bytes, size_t offset) {
  int32_t v = 0;
  if (offset + 4 <= bytes.size()) std::memcpy(&v, bytes.data() + offset, 4);
  return v;
}

class ConsoleTest : public ::testing::Test {
 protected:
  // Runs page with the variables a web server sets for a GET of "?query" or
  // a POST of body from the console's own page, http://127.0.0.1:8080.
  // Entries of env replace those of the same name; a bare "NAME" removes it.
  cgi_response run(const std::string &page, const std::string &method,
                   const std::string &query, const std::string &body,
                   const std::vector<std::string> &env = {}) {
    std::vector<std::string> e = {"REQUEST_METHOD=" + method, "QUERY_STRING=" + query,
                                  "HTTP_HOST=127.0.0.1:8080",
                                  "IFCSIM_PORT=" + std::to_string(server_.port())};
    if (method == "POST")
      e.insert(e.end(), {"CONTENT_LENGTH=" + std::to_string(body.size()),
                         "CONTENT_TYPE=application/x-www-form-urlencoded",
                         "HTTP_ORIGIN=http://127.0.0.1:8080"});
    for (const std::string &x : env) {
      std::string name = x.substr(0, x.find('=')) + "=";
      std::erase_if(e, [&](const std::string &y) { return y.starts_with(name); });
      if (x.find('=') != std::string::npos) e.push_back(x);
    }
    testing_support::program_result p = testing_support::run_program(
        std::string(CONSOLE_CGI_DIR) + "/" + page, {}, e, false, body);
    cgi_response r;
    r.exit_status = p.status;
    size_t end = p.out.find("\r\n\r\n");
    r.body = end == std::string::npos ? "" : p.out.substr(end + 4);
    for (size_t pos = 0, eol; pos < end; pos = eol + 2) {
      eol = p.out.find("\r\n", pos);
      std::string line = p.out.substr(pos, eol - pos);
      size_t colon = line.find(": ");
      if (colon != std::string::npos)
        r.headers[line.substr(0, colon)] = line.substr(colon + 2);
    }
    r.status = std::atoi(r.headers["Status"].c_str());
    return r;
  }
  cgi_response get(const std::string &page, const std::string &query = "") {
    return run(page, "GET", query, "");
  }
  cgi_response post(const std::string &page, const std::string &body,
                    const std::vector<std::string> &env = {}) {
    return run(page, "POST", "", body, env);
  }

  // The requests served since the last call, "GET name" or "PUT" each, and
  // what the server printed meanwhile. A marker request of our own closes
  // the list, so no wait has to guess when the page is done.
  std::vector<std::string> served(std::string *printed = nullptr) {
    static const char kMark[] = "console_test_mark";
    testing_support::RawConnection c(server_.port());
    c.Send(testing_support::RequestHeader("GET", kMark));
    c.ReadToClose();
    std::vector<std::string> names;
    for (int n = seen_ + 1; server_.WaitForRequests(n); ++n) {
      std::string out = server_.RequestOutput(n);
      seen_ = n;
      if (out.find(kMark) != std::string::npos) return names;
      size_t at = out.find("connected... ");
      std::string header = at == std::string::npos ? "" : out.substr(at + 13, 23);
      header.erase(header.find_last_not_of(' ') + 1);
      names.push_back(header.starts_with("GET") ? "GET " + header.substr(3) : "PUT");
      if (printed) *printed += out;
    }
    ADD_FAILURE() << "the marker request was not served";
    return names;
  }

  std::string file(const char *name) {
    return testing_support::read_file(server_.file(name));
  }

  testing_support::ServerProcess server_;
  int seen_ = 0;
};

}  // namespace console_test
