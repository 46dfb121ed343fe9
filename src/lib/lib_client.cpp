#include "lib/lib_client.hpp"

#include <arpa/inet.h>
#include <errno.h>
#include <limits.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include "ifcsim/ifcsim_protocol.h"

// Only the C library is used here: CGI programs written in C link this module
// without the C++ runtime. Nothing is allocated and nothing is kept between
// calls; every descriptor is closed before the call returns.

namespace {

using ifcsim_lib::piece;

constexpr int kDefaultTimeoutMs = IFC_WAIT_SECONDS * 1000;
constexpr int kLargestTimeoutMs = 3600000;
// A call without a deadline of its own may take this many single waits.
constexpr int kWaitsPerCall = 3;

// Deadlines are kept in microseconds, and a wait rounds what is left up to
// whole milliseconds, so that no wait ends before its time.
long long now_us() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000000LL + ts.tv_nsec / 1000;
}

// What bounds the waits of one call: each single wait, and all of them.
struct bounds {
  int timeout_ms;
  long long end;  // the call's deadline
};

// The deadline of a single wait that starts now.
long long wait_until(const bounds &b) {
  const long long d = now_us() + b.timeout_ms * 1000LL;
  return d < b.end ? d : b.end;
}

// Waits until fd is ready for events or the deadline passes; once it has
// passed, also when bytes are there already: a server that trickles a long
// reply must not hold a call past its end. A signal only interrupts the
// wait: it is resumed with the time that is left.
int wait_ready(int fd, short events, long long deadline) {
  for (;;) {
    const long long now = now_us();
    if (now >= deadline) return IFC_ETIMEOUT;
    const long long left = (deadline - now + 999) / 1000;
    pollfd p;
    p.fd = fd;
    p.events = events;
    p.revents = 0;
    const int r = poll(&p, 1, static_cast<int>(left));
    if (r > 0) return 0;  // an error or hang-up shows in the call that follows
    if (r == 0) return IFC_ETIMEOUT;
    if (errno != EINTR) return IFC_ESYSTEM;
  }
}

// Sends all n bytes within one wait. MSG_NOSIGNAL: a vanished server is
// EPIPE here, never a signal that ends the CGI program.
int send_all(int fd, const char *data, int n, const bounds &b) {
  const long long deadline = wait_until(b);
  int done = 0;
  while (done < n) {
    const ssize_t r = send(fd, data + done, static_cast<size_t>(n - done), MSG_NOSIGNAL);
    if (r > 0) {
      done += static_cast<int>(r);
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      const int w = wait_ready(fd, POLLOUT, deadline);
      if (w != 0) return w;
      continue;
    }
    if (r < 0 && (errno == EPIPE || errno == ECONNRESET)) return IFC_ECLOSED;
    return IFC_ESYSTEM;
  }
  return 0;
}

// Reads exactly n bytes within one wait; the server closing first is
// IFC_ECLOSED. The wait comes first: the bytes are an answer, so they are
// seldom there already.
int recv_exact(int fd, char *data, int n, const bounds &b) {
  const long long deadline = wait_until(b);
  int done = 0;
  while (done < n) {
    const int w = wait_ready(fd, POLLIN, deadline);
    if (w != 0) return w;
    const ssize_t r = recv(fd, data + done, static_cast<size_t>(n - done), 0);
    if (r > 0) {
      done += static_cast<int>(r);
      continue;
    }
    if (r == 0) return IFC_ECLOSED;
    if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
    if (errno == ECONNRESET) return IFC_ECLOSED;
    return IFC_ESYSTEM;
  }
  return 0;
}

// Closes fd without letting close() change the errno of a failure.
void close_keep_errno(int fd) {
  const int saved = errno;
  close(fd);
  errno = saved;
}

// One connection attempt, bounded by one wait. Any failure to reach the
// server is IFC_ECONNECT, with errno telling why.
int connect_to(const sockaddr *addr, socklen_t len, const bounds &b, int *fd_out) {
  const int fd = socket(addr->sa_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return errno == EAFNOSUPPORT ? IFC_ECONNECT : IFC_ESYSTEM;
  const long long deadline = wait_until(b);
  // A non-blocking connect that a signal interrupts goes on in the
  // background, like one in progress.
  if (connect(fd, addr, len) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) {
      close_keep_errno(fd);
      return IFC_ECONNECT;
    }
    const int w = wait_ready(fd, POLLOUT, deadline);
    if (w != 0) {
      if (w == IFC_ETIMEOUT) errno = ETIMEDOUT;
      close_keep_errno(fd);
      return w == IFC_ETIMEOUT ? IFC_ECONNECT : w;
    }
    int err = 0;
    socklen_t err_len = sizeof err;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &err_len) != 0) {
      close_keep_errno(fd);
      return IFC_ESYSTEM;
    }
    if (err != 0) {
      close(fd);
      errno = err;
      return IFC_ECONNECT;
    }
  }
  *fd_out = fd;
  return 0;
}

bool endpoint_usable(const ifc_endpoint *ep) {
  return ep != nullptr && ep->host[0] != '\0' &&
         memchr(ep->host, '\0', sizeof ep->host) != nullptr && ep->port != 0 &&
         ep->timeout_ms > 0 && ep->deadline_ms >= 0;
}

// Connects to the server. Address literals are converted on the spot; only
// a host name goes through the resolver (getaddrinfo, which allocates), and
// its addresses are tried in turn, each attempt bounded by one wait.
int open_connection(const ifc_endpoint *ep, const bounds &b, int *fd_out) {
  union {
    sockaddr any;
    sockaddr_in v4;
    sockaddr_in6 v6;
  } addr;
  memset(&addr, 0, sizeof addr);
  socklen_t len = 0;
  if (inet_pton(AF_INET, ep->host, &addr.v4.sin_addr) == 1) {
    addr.v4.sin_family = AF_INET;
    addr.v4.sin_port = htons(ep->port);
    len = sizeof addr.v4;
  } else if (inet_pton(AF_INET6, ep->host, &addr.v6.sin6_addr) == 1) {
    addr.v6.sin6_family = AF_INET6;
    addr.v6.sin6_port = htons(ep->port);
    len = sizeof addr.v6;
  }
  if (len != 0) return connect_to(&addr.any, len, b, fd_out);
  addrinfo hints;
  memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  char service[8];
  snprintf(service, sizeof service, "%u", static_cast<unsigned>(ep->port));
  addrinfo *list = nullptr;
  const int rc = getaddrinfo(ep->host, service, &hints, &list);
  if (rc != 0) {
    if (rc != EAI_SYSTEM) errno = ENXIO;
    return IFC_ECONNECT;
  }
  int result = IFC_ECONNECT;
  errno = ENXIO;
  for (const addrinfo *ai = list; ai != nullptr; ai = ai->ai_next) {
    result = connect_to(ai->ai_addr, ai->ai_addrlen, b, fd_out);
    if (result == 0) break;
  }
  const int saved = errno;
  freeaddrinfo(list);
  errno = saved;
  return result;
}

// "LEN" and ten characters of a signed decimal number ("%010d").
bool parse_length_header(const char *h, int *length) {
  if (memcmp(h, "LEN", 3) != 0) return false;
  int i = 3;
  const bool negative = h[i] == '-';
  if (negative) ++i;
  long long v = 0;
  for (; i < IFC_LENGTH_HEADER_SIZE; ++i) {
    if (h[i] < '0' || h[i] > '9') return false;
    v = v * 10 + (h[i] - '0');
  }
  if (v > INT_MAX) return false;
  *length = static_cast<int>(negative ? -v : v);
  return true;
}

// The GET exchange on an open connection; see ifc_get.
int get_on(int fd, const bounds &b, const char *name, int name_len, char *reply,
           int capacity) {
  char header[IFC_HEADER_SIZE];
  memset(header, ' ', sizeof header);
  memcpy(header, "GET", IFC_VERB_SIZE);
  memcpy(header + IFC_VERB_SIZE, name, static_cast<size_t>(name_len));
  int rc = send_all(fd, header, IFC_HEADER_SIZE, b);
  if (rc != 0) return rc;

  char len_header[IFC_LENGTH_HEADER_SIZE];
  rc = recv_exact(fd, len_header, IFC_LENGTH_HEADER_SIZE, b);
  if (rc != 0) return rc;
  int length = 0;
  if (!parse_length_header(len_header, &length)) return IFC_EPROTO;
  if (length == -1) return IFC_EUNKNOWN;
  if (length < 0 || length > IFC_MAX_PAYLOAD) return IFC_EPROTO;

  // A reply too long for the caller is still read to its end, block by
  // block through a scratch buffer, so the server finishes normally.
  const int room = capacity - 1;
  char scratch[IFC_BLOCK_SIZE];
  for (int got = 0; got < length;) {
    rc = send_all(fd, "NEXT", IFC_TOKEN_SIZE, b);
    if (rc != 0) return rc;
    const int block = length - got < IFC_BLOCK_SIZE ? length - got : IFC_BLOCK_SIZE;
    if (got + block <= room) {
      rc = recv_exact(fd, reply + got, block, b);
    } else {
      rc = recv_exact(fd, scratch, block, b);
      if (rc == 0 && got < room)
        memcpy(reply + got, scratch, static_cast<size_t>(room - got));
    }
    if (rc != 0) return rc;
    got += block;
  }
  if (length > room) {
    reply[room] = '\0';
    return IFC_ETOOBIG;
  }
  reply[length] = '\0';
  return length;
}

// Copies n bytes from offset on of the pieces' concatenation into out.
void gather(const piece *pieces, int count, int offset, char *out, int n) {
  for (int i = 0; i < count && n > 0; ++i) {
    if (offset >= pieces[i].size) {
      offset -= pieces[i].size;
      continue;
    }
    int take = pieces[i].size - offset;
    if (take > n) take = n;
    memcpy(out, pieces[i].data + offset, static_cast<size_t>(take));
    out += take;
    n -= take;
    offset = 0;
  }
}

enum token { kNext, kErr, kFin };

// Reads one server token: "FIN" is one byte shorter than "NEXT" and "ERR!",
// so the first three bytes tell whether a fourth follows.
int read_token(int fd, const bounds &b, token *t) {
  char t_bytes[IFC_TOKEN_SIZE];
  int rc = recv_exact(fd, t_bytes, IFC_FIN_SIZE, b);
  if (rc != 0) return rc;
  if (memcmp(t_bytes, "FIN", IFC_FIN_SIZE) == 0) {
    *t = kFin;
    return 0;
  }
  if (memcmp(t_bytes, "NEX", 3) != 0 && memcmp(t_bytes, "ERR", 3) != 0) return IFC_EPROTO;
  rc = recv_exact(fd, t_bytes + IFC_FIN_SIZE, 1, b);
  if (rc != 0) return rc;
  if (memcmp(t_bytes, "NEXT", IFC_TOKEN_SIZE) == 0) {
    *t = kNext;
  } else if (memcmp(t_bytes, "ERR!", IFC_TOKEN_SIZE) == 0) {
    *t = kErr;
  } else {
    return IFC_EPROTO;
  }
  return 0;
}

// The server closes once the command behind "FIN" has run: waits for that,
// within one wait. A reset counts as the close; any byte is a fault.
int wait_for_close(int fd, const bounds &b) {
  const long long deadline = wait_until(b);
  for (;;) {
    const int w = wait_ready(fd, POLLIN, deadline);
    if (w != 0) return w;
    char extra;
    const ssize_t r = recv(fd, &extra, 1, 0);
    if (r == 0) return 0;
    if (r > 0) return IFC_EPROTO;
    if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
    return errno == ECONNRESET ? 0 : IFC_ESYSTEM;
  }
}

// The PUT exchange on an open connection: a block goes out only after the
// server's "NEXT".
int put_on(int fd, const bounds &b, const piece *pieces, int count, int total) {
  char header[IFC_HEADER_SIZE + 1];
  snprintf(header, sizeof header, "PUT%-*d", IFC_NAME_MAX, total);
  int rc = send_all(fd, header, IFC_HEADER_SIZE, b);
  if (rc != 0) return rc;
  char block[IFC_BLOCK_SIZE];
  token t;
  for (int sent = 0; sent < total;) {
    rc = read_token(fd, b, &t);
    if (rc != 0) return rc;
    if (t == kErr) return IFC_EREFUSED;
    if (t != kNext) return IFC_EPROTO;
    const int n = total - sent < IFC_BLOCK_SIZE ? total - sent : IFC_BLOCK_SIZE;
    gather(pieces, count, sent, block, n);
    rc = send_all(fd, block, n, b);
    if (rc != 0) return rc;
    sent += n;
  }
  rc = read_token(fd, b, &t);
  if (rc != 0) return rc;
  if (t == kErr) return IFC_EREFUSED;
  if (t != kFin) return IFC_EPROTO;
  return wait_for_close(fd, b);
}

int put_pieces(const ifc_endpoint *ep, const piece *pieces, int count, long long end) {
  long long total = 0;
  for (int i = 0; i < count; ++i) total += pieces[i].size;
  if (total > IFC_MAX_PAYLOAD) return IFC_EUSAGE;
  const bounds b = {ep->timeout_ms, end};
  int fd = -1;
  int rc = open_connection(ep, b, &fd);
  if (rc != 0) return rc;
  rc = put_on(fd, b, pieces, count, static_cast<int>(total));
  close_keep_errno(fd);
  return rc;
}

// A whole decimal number from lo to hi: digits only, nothing around them.
bool parse_setting(const char *s, long lo, long hi, long *out) {
  if (*s == '\0') return false;
  long v = 0;
  for (; *s != '\0'; ++s) {
    if (*s < '0' || *s > '9') return false;
    v = v * 10 + (*s - '0');
    if (v > hi) return false;
  }
  if (v < lo) return false;
  *out = v;
  return true;
}

}  // namespace

int ifc_endpoint_init(ifc_endpoint *ep) {
  if (ep == nullptr) return IFC_EUSAGE;
  memset(ep, 0, sizeof *ep);
  memcpy(ep->host, "127.0.0.1", sizeof "127.0.0.1");
  ep->port = IFC_PORT;
  ep->timeout_ms = kDefaultTimeoutMs;
  int rc = IFC_OK;
  const char *host = getenv("IFCSIM_HOST");
  if (host != nullptr) {
    const size_t n = strlen(host);
    if (n == 0 || n >= sizeof ep->host) {
      rc = IFC_ESETTING;
    } else {
      memcpy(ep->host, host, n + 1);
    }
  }
  long v = 0;
  const char *port = getenv("IFCSIM_PORT");
  if (port != nullptr) {
    if (parse_setting(port, 1, 65535, &v)) {
      ep->port = static_cast<unsigned short>(v);
    } else {
      rc = IFC_ESETTING;
    }
  }
  const char *timeout = getenv("IFCSIM_TIMEOUT_MS");
  if (timeout != nullptr) {
    if (parse_setting(timeout, 1, kLargestTimeoutMs, &v)) {
      ep->timeout_ms = static_cast<int>(v);
    } else {
      rc = IFC_ESETTING;
    }
  }
  const char *deadline = getenv("IFCSIM_DEADLINE_MS");
  if (deadline != nullptr) {
    if (parse_setting(deadline, 1, kLargestTimeoutMs, &v)) {
      ep->deadline_ms = static_cast<int>(v);
    } else {
      rc = IFC_ESETTING;
    }
  }
  return rc;
}

namespace ifcsim_lib {

long long call_deadline(const ifc_endpoint *ep) {
  if (ep == nullptr) return 0;
  const long long ms = ep->deadline_ms > 0
                           ? ep->deadline_ms
                           : static_cast<long long>(ep->timeout_ms) * kWaitsPerCall;
  return now_us() + ms * 1000;
}

int get_until(const ifc_endpoint *ep, const char *name, char *reply, int capacity,
              long long deadline) {
  if (reply == nullptr || capacity < 1) return IFC_EUSAGE;
  reply[0] = '\0';
  if (name == nullptr || !endpoint_usable(ep)) return IFC_EUSAGE;
  const size_t name_len = strnlen(name, IFC_NAME_MAX + 1);
  if (name_len > static_cast<size_t>(IFC_NAME_MAX)) return IFC_EUSAGE;
  const bounds b = {ep->timeout_ms, deadline};
  int fd = -1;
  int rc = open_connection(ep, b, &fd);
  if (rc != 0) return rc;
  rc = get_on(fd, b, name, static_cast<int>(name_len), reply, capacity);
  close_keep_errno(fd);
  if (rc < 0 && rc != IFC_ETOOBIG) reply[0] = '\0';
  return rc;
}

int put_until(const ifc_endpoint *ep, const char *name, const piece *text, int count,
              long long deadline) {
  if (name == nullptr || count < 0 || count > kMaxTextPieces || !endpoint_usable(ep))
    return IFC_EUSAGE;
  const size_t name_len = strnlen(name, IFC_NAME_MAX + 1);
  if (name_len == 0 || name_len > static_cast<size_t>(IFC_NAME_MAX)) return IFC_EUSAGE;
  piece pieces[2 + kMaxTextPieces] = {{name, static_cast<int>(name_len)}, {"", 1}};
  for (int i = 0; i < count; ++i) {
    if (text[i].size < 0 || (text[i].data == nullptr && text[i].size > 0))
      return IFC_EUSAGE;
    pieces[2 + i] = text[i];
  }
  return put_pieces(ep, pieces, 2 + count, deadline);
}

}  // namespace ifcsim_lib

int ifc_get(const ifc_endpoint *ep, const char *name, char *reply, int capacity) {
  return ifcsim_lib::get_until(ep, name, reply, capacity, ifcsim_lib::call_deadline(ep));
}

int ifc_put(const ifc_endpoint *ep, const char *name, const char *text, int length) {
  if (ep == nullptr || length < 0) return IFC_EUSAGE;
  const piece t = {text, length};
  return ifcsim_lib::put_until(ep, name, &t, 1, ifcsim_lib::call_deadline(ep));
}

int ifc_put_payload(const ifc_endpoint *ep, const char *payload, int length) {
  if (length < 0 || (payload == nullptr && length > 0) || !endpoint_usable(ep))
    return IFC_EUSAGE;
  const piece pieces[] = {{payload, length}};
  return put_pieces(ep, pieces, 1, ifcsim_lib::call_deadline(ep));
}

const char *ifc_strerror(int code) {
  if (code >= 0) return "no error";
  switch (code) {
    case IFC_EUNKNOWN:
      return "unknown command";
    case IFC_ECONNECT:
      return "cannot connect";
    case IFC_ETIMEOUT:
      return "timed out";
    case IFC_ECLOSED:
      return "closed by the server";
    case IFC_EPROTO:
      return "protocol violation";
    case IFC_EREFUSED:
      return "refused by the server";
    case IFC_ETOOBIG:
      return "too big for the buffer";
    case IFC_EUSAGE:
      return "wrong usage";
    case IFC_ESETTING:
      return "bad setting in the environment";
    case IFC_ESYSTEM:
      return "system error";
    case IFC_EFORM:
      return "unexpected form";
    case IFC_EMISSING:
      return "not found";
    case IFC_ENOTTAKEN:
      return "not taken by the controller";
    case IFC_ENOTNUMBER:
      return "not a number";
    case IFC_ERANGE:
      return "out of range";
  }
  return "unknown error";
}
