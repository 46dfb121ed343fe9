// Protocol client for C++: one request per connection, as the CGI programs
// do it. A layer over the support library's C client (ifcsim/lib_client.h),
// which does the framing; used by the tests and the command-line tool.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ifc {

struct endpoint {
  std::string host = "127.0.0.1";  // IPv4 or IPv6 address or host name
  std::uint16_t port = 9000;
  int timeout_ms = 5000;  // bound of every single wait (connect, read, write)
};

enum class client_error {
  none,
  connect,   // the server cannot be reached (refused, or no connection in time)
  timeout,   // a wait ran out on an established connection
  refused,   // the server answered "ERR!" (PUT length refused)
  closed,    // the server closed before the exchange was complete
  protocol,  // the server sent something the protocol does not allow
  usage,     // the request itself cannot be sent (name too long, ...)
  io,        // any other system error
};

// Short fixed name of an error ("connect", "timeout", ...).
const char *client_error_name(client_error e);

struct get_result {
  client_error error = client_error::none;
  std::int32_t length = 0;  // the number in the length header; -1: unknown name
  std::string reply;        // the reply bytes (empty when length <= 0)
  std::string message;      // what went wrong, for people
};

// Sends "GET" and the name filled with blanks to 20 characters, reads the
// length header and every block. Names longer than 20 characters are a usage error.
get_result get(const endpoint &ep, std::string_view name);

struct put_result {
  client_error error = client_error::none;
  std::string message;
};

// Sends a PUT whose payload is name, a NUL and text; succeeds once "FIN"
// came and the server closed, which it does once the command has run. A
// server that stays open past timeout_ms after "FIN" is a timeout.
put_result put(const endpoint &ep, std::string_view name, std::string_view text);

// The same with exactly these payload bytes.
put_result put_payload(const endpoint &ep, std::string_view payload);

}  // namespace ifc
