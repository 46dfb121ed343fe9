#include "client/ifc_client.hpp"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <utility>

namespace ifc {
namespace {

constexpr int kFieldSize = 20;
constexpr int kBlock = 1024;
constexpr int kLargest = 256000;  // the server takes and sends no more

struct failure {
  client_error error = client_error::none;
  std::string message;
};

failure fail(client_error e, std::string message) { return {e, std::move(message)}; }

failure sys_fail(const char *what) {
  return fail(client_error::io, std::string(what) + ": " + std::strerror(errno));
}

// Closes the descriptor when the exchange ends, whatever way it ends.
class socket_guard {
 public:
  socket_guard() = default;
  ~socket_guard() {
    if (fd_ >= 0) close(fd_);
  }
  socket_guard(const socket_guard &) = delete;
  socket_guard &operator=(const socket_guard &) = delete;
  int get() const { return fd_; }
  void reset(int fd) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// Waits for events on fd; false when timeout_ms passed first.
bool wait_for(int fd, short events, int timeout_ms, failure *f) {
  for (;;) {
    pollfd p{};
    p.fd = fd;
    p.events = events;
    const int r = poll(&p, 1, timeout_ms);
    if (r > 0) return true;
    if (r < 0 && errno == EINTR) continue;
    *f = r == 0 ? fail(client_error::timeout,
                       "no answer within " + std::to_string(timeout_ms) + " ms")
                : sys_fail("poll");
    return false;
  }
}

// Connects to the first address of the host that accepts, each attempt bounded.
failure connect_to(const endpoint &ep, socket_guard *sock) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo *list = nullptr;
  const std::string port = std::to_string(ep.port);
  const int rc = getaddrinfo(ep.host.c_str(), port.c_str(), &hints, &list);
  if (rc != 0) {
    return fail(client_error::connect,
                "cannot resolve " + ep.host + ": " + gai_strerror(rc));
  }
  failure last = fail(client_error::connect, "no address for " + ep.host);
  for (const addrinfo *ai = list; ai != nullptr; ai = ai->ai_next) {
    const int fd = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                          ai->ai_protocol);
    if (fd < 0) {
      last = sys_fail("socket");
      continue;
    }
    sock->reset(fd);
    const std::string where = ep.host + ":" + port;
    if (connect(fd, ai->ai_addr, ai->ai_addrlen) == 0) {
      last = {};
      break;
    }
    if (errno != EINPROGRESS) {
      last = fail(client_error::connect,
                  "cannot connect to " + where + ": " + std::strerror(errno));
      continue;
    }
    failure f;
    if (!wait_for(fd, POLLOUT, ep.timeout_ms, &f)) {
      // A connection that never completes is a server that cannot be reached.
      last = f.error == client_error::timeout
                 ? fail(client_error::connect, "no connection to " + where + " within " +
                                                   std::to_string(ep.timeout_ms) + " ms")
                 : f;
      continue;
    }
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0) err = errno;
    if (err == 0) {
      last = {};
      break;
    }
    last = fail(client_error::connect,
                "cannot connect to " + where + ": " + std::strerror(err));
  }
  freeaddrinfo(list);
  if (last.error != client_error::none) sock->reset(-1);
  return last;
}

failure send_all(int fd, const char *data, size_t size, int timeout_ms) {
  size_t done = 0;
  while (done < size) {
    failure f;
    if (!wait_for(fd, POLLOUT, timeout_ms, &f)) return f;
    const ssize_t n = send(fd, data + done, size - done, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
      if (errno == EPIPE || errno == ECONNRESET) {
        return fail(client_error::closed, "the server closed the connection");
      }
      return sys_fail("send");
    }
    done += static_cast<size_t>(n);
  }
  return {};
}

// Reads exactly size bytes; a close before that is client_error::closed.
failure recv_exact(int fd, char *data, size_t size, int timeout_ms, const char *what) {
  size_t done = 0;
  while (done < size) {
    failure f;
    if (!wait_for(fd, POLLIN, timeout_ms, &f)) {
      if (f.error == client_error::timeout)
        f.message = std::string("waiting for ") + what + ": " + f.message;
      return f;
    }
    const ssize_t n = recv(fd, data + done, size - done, 0);
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
      if (errno == ECONNRESET) break;
      return sys_fail("recv");
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  if (done < size) {
    return fail(client_error::closed,
                std::string("the server closed the connection before ") + what);
  }
  return {};
}

// The server closes the connection once the command behind "FIN" has run:
// waits for that close, at most timeout_ms in all. Stray bytes are dropped.
void wait_for_close(int fd, int timeout_ms) {
  using clock = std::chrono::steady_clock;
  const auto end = clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(end - clock::now()).count();
    if (left <= 0) return;
    pollfd p{};
    p.fd = fd;
    p.events = POLLIN;
    const int r = poll(&p, 1, static_cast<int>(left));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return;
    char buf[256];
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) continue;
    if (n <= 0) return;
  }
}

template <typename Result>
Result to_result(failure f) {
  Result r;
  r.error = f.error;
  r.message = std::move(f.message);
  return r;
}

// "LEN" and ten characters of a signed decimal number.
bool parse_length_header(const char *h, std::int32_t *length) {
  if (std::memcmp(h, "LEN", 3) != 0) return false;
  long long v = 0;
  int i = 3;
  const bool negative = h[i] == '-';
  if (negative) ++i;
  if (i == 13) return false;
  for (; i < 13; ++i) {
    if (h[i] < '0' || h[i] > '9') return false;
    v = v * 10 + (h[i] - '0');
  }
  *length = static_cast<std::int32_t>(negative ? -v : v);
  return true;
}

}  // namespace

const char *client_error_name(client_error e) {
  switch (e) {
    case client_error::none:
      return "none";
    case client_error::connect:
      return "connect";
    case client_error::timeout:
      return "timeout";
    case client_error::refused:
      return "refused";
    case client_error::closed:
      return "closed";
    case client_error::protocol:
      return "protocol";
    case client_error::usage:
      return "usage";
    case client_error::io:
      return "io";
  }
  return "unknown";
}

get_result get(const endpoint &ep, std::string_view name) {
  if (name.size() > kFieldSize) {
    return to_result<get_result>(
        fail(client_error::usage,
             "command name longer than 20 characters: " + std::string(name)));
  }
  socket_guard sock;
  failure f = connect_to(ep, &sock);
  if (f.error != client_error::none) return to_result<get_result>(std::move(f));
  const int fd = sock.get();

  std::string header = "GET" + std::string(name);
  header.resize(3 + kFieldSize, ' ');
  f = send_all(fd, header.data(), header.size(), ep.timeout_ms);
  if (f.error != client_error::none) return to_result<get_result>(std::move(f));

  char len_header[13];
  f = recv_exact(fd, len_header, sizeof len_header, ep.timeout_ms, "the length header");
  if (f.error != client_error::none) return to_result<get_result>(std::move(f));
  get_result r;
  if (!parse_length_header(len_header, &r.length) || r.length > kLargest ||
      r.length < -1) {
    return to_result<get_result>(fail(
        client_error::protocol,
        "bad length header: \"" + std::string(len_header, sizeof len_header) + "\""));
  }
  if (r.length < 0) {
    r.message = "no command of that name: " + std::string(name);
    return r;
  }
  r.reply.resize(static_cast<size_t>(r.length));
  for (int got = 0; got < r.length;) {
    f = send_all(fd, "NEXT", 4, ep.timeout_ms);
    if (f.error != client_error::none) return to_result<get_result>(std::move(f));
    const int block = r.length - got > kBlock ? kBlock : r.length - got;
    f = recv_exact(fd, r.reply.data() + got, static_cast<size_t>(block), ep.timeout_ms,
                   "the whole reply");
    if (f.error != client_error::none) return to_result<get_result>(std::move(f));
    got += block;
  }
  return r;
}

put_result put_payload(const endpoint &ep, std::string_view payload) {
  if (payload.size() > static_cast<size_t>(kLargest)) {
    return to_result<put_result>(
        fail(client_error::usage, "payload of " + std::to_string(payload.size()) +
                                      " bytes is longer than 256000 bytes"));
  }
  socket_guard sock;
  failure f = connect_to(ep, &sock);
  if (f.error != client_error::none) return to_result<put_result>(std::move(f));
  const int fd = sock.get();

  char header[3 + kFieldSize + 1];
  std::snprintf(header, sizeof header, "PUT%-20zu", payload.size());
  f = send_all(fd, header, 3 + kFieldSize, ep.timeout_ms);
  if (f.error != client_error::none) return to_result<put_result>(std::move(f));

  const int total = static_cast<int>(payload.size());
  for (int sent = 0; sent < total;) {
    char token[4];
    f = recv_exact(fd, token, sizeof token, ep.timeout_ms, "\"NEXT\"");
    if (f.error != client_error::none) return to_result<put_result>(std::move(f));
    if (std::memcmp(token, "ERR!", 4) == 0) {
      return to_result<put_result>(
          fail(client_error::refused, "the server refused the length"));
    }
    if (std::memcmp(token, "NEXT", 4) != 0) {
      return to_result<put_result>(
          fail(client_error::protocol,
               "expected \"NEXT\", got \"" + std::string(token, 4) + "\""));
    }
    const int block = total - sent > kBlock ? kBlock : total - sent;
    f = send_all(fd, payload.data() + sent, static_cast<size_t>(block), ep.timeout_ms);
    if (f.error != client_error::none) return to_result<put_result>(std::move(f));
    sent += block;
  }
  char fin[3];
  f = recv_exact(fd, fin, sizeof fin, ep.timeout_ms,
                 "\"FIN\" (the payload was not taken)");
  if (f.error != client_error::none) return to_result<put_result>(std::move(f));
  if (std::memcmp(fin, "FIN", 3) != 0) {
    return to_result<put_result>(fail(
        client_error::protocol, "expected \"FIN\", got \"" + std::string(fin, 3) + "\""));
  }
  // "FIN" means the payload was taken; the close tells that the command ran.
  // A server that stays open is no failure: the payload is already in.
  wait_for_close(fd, ep.timeout_ms);
  return {};
}

put_result put(const endpoint &ep, std::string_view name, std::string_view text) {
  if (name.find('\0') != std::string_view::npos) {
    return to_result<put_result>(
        fail(client_error::usage, "command name contains a NUL"));
  }
  std::string payload;
  payload.reserve(name.size() + 1 + text.size());
  payload.append(name);
  payload.push_back('\0');
  payload.append(text);
  return put_payload(ep, payload);
}

}  // namespace ifc
