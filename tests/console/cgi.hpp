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

inline constexpr char kHost[] = "127.0.0.1:8080";
inline constexpr char kOrigin[] = "http://127.0.0.1:8080";

struct cgi_response {
  int exit_status = -1;
  int status = 0;
  std::map<std::string, std::string> headers;
  std::string body;
};

// The value of attribute attr of the element with id, or "(no id)".
inline std::string attr_of(const std::string &html, const std::string &id,
                           const std::string &attr) {
  size_t at = html.find(" id=\"" + id + "\"");
  if (at == std::string::npos) return "(no id)";
  size_t start = html.rfind('<', at), end = html.find('>', at);
  std::string tag = html.substr(start, end - start);
  size_t a = tag.find(" " + attr + "=\"");
  if (a == std::string::npos) return "(no " + attr + ")";
  a += attr.size() + 3;
  return tag.substr(a, tag.find('"', a) - a);
}

// The text right after the opening tag of the element with id, up to the
// next tag.
inline std::string text_of(const std::string &html, const std::string &id) {
  size_t at = html.find(" id=\"" + id + "\"");
  if (at == std::string::npos) return "(no id)";
  size_t start = html.find('>', at) + 1;
  return html.substr(start, html.find('<', start) - start);
}

inline int32_t int_at(const std::string &bytes, size_t offset) {
  int32_t v = 0;
  if (offset + 4 <= bytes.size()) std::memcpy(&v, bytes.data() + offset, 4);
  return v;
}

class ConsoleTest : public ::testing::Test {
 protected:
  // Runs page (e.g. "targets.cgi") with the CGI variables a web server sets
  // (a POST from the console's own origin), changed by env.
  cgi_response run(const std::string &page, const std::string &method,
                   const std::string &query, const std::string &body,
                   const std::vector<std::string> &env = {}) {
    std::vector<std::string> e = {"GATEWAY_INTERFACE=CGI/1.1",
                                  "REQUEST_METHOD=" + method,
                                  "QUERY_STRING=" + query,
                                  "SCRIPT_NAME=/cgi-bin/" + page,
                                  std::string("HTTP_HOST=") + kHost,
                                  "IFCSIM_HOST=127.0.0.1",
                                  "IFCSIM_PORT=" + std::to_string(server_.port())};
    if (method == "POST") {
      e.push_back("CONTENT_LENGTH=" + std::to_string(body.size()));
      e.push_back("CONTENT_TYPE=application/x-www-form-urlencoded");
      e.push_back(std::string("HTTP_ORIGIN=") + kOrigin);
    }
    // "NAME=value" replaces NAME, a bare "NAME" removes it.
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
    std::string head = p.out.substr(0, end);
    r.body = end == std::string::npos ? "" : p.out.substr(end + 4);
    for (size_t pos = 0; pos < head.size();) {
      size_t eol = head.find("\r\n", pos);
      if (eol == std::string::npos) eol = head.size();
      std::string line = head.substr(pos, eol - pos);
      size_t colon = line.find(": ");
      if (colon != std::string::npos)
        r.headers[line.substr(0, colon)] = line.substr(colon + 2);
      pos = eol + 2;
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

  // The requests the server has served since the last call, as "GET name"
  // or "PUT", and what it printed meanwhile. A marker request of our own
  // closes the list, so no wait has to guess when the page is done.
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
      if (header.starts_with("GET")) {
        std::string name = header.substr(3);
        name.erase(name.find_last_not_of(' ') + 1);
        names.push_back("GET " + name);
      } else {
        names.push_back("PUT");
      }
      if (printed) *printed += out;
    }
    ADD_FAILURE() << "the marker request was not served";
    return names;
  }

  std::string set_file(const char *name) {
    return testing_support::read_file(server_.file(name));
  }

  testing_support::ServerProcess server_;
  int seen_ = 0;
};

}  // namespace console_test
