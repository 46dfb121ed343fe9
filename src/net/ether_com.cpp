#include "net/ether_com.hpp"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "ifcsim_config.hpp"

std::int16_t deb_ether_com = 1;
bool ether_watch_early = false;
bool (*ether_step_hook)(int, ether_step, const char *, int) = nullptr;

namespace {

ether_report report;

// A send to a vanished peer must come back as EPIPE, not as a signal, even
// where the caller has not ignored SIGPIPE.
constexpr int kSendFlags = MSG_NOSIGNAL;

long long now_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Waits until sock is readable (or closed), at most timeout_sec seconds.
// poll, unlike select, has no limit on the descriptor's value. A signal does
// not shorten the wait. A descriptor that is not open fails the wait, as it
// does with select.
bool wait_readable(int sock, int timeout_sec) {
  const long long end = now_ms() + static_cast<long long>(timeout_sec) * 1000;
  for (;;) {
    pollfd p{};
    p.fd = sock;
    p.events = POLLIN;
    const long long left = end - now_ms();
    const int r = poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
    if (r > 0) return (p.revents & POLLNVAL) == 0;
    if (r == 0 || errno != EINTR) return false;
  }
}

// Why a send or receive failed: a peer that has gone away, or anything else.
ether_end failure(int err) {
  return err == EPIPE || err == ECONNRESET ? ether_end::closed : ether_end::io_error;
}

// A send that moved fewer bytes than asked is a failure as well.
ether_end send_failure(ssize_t sent) {
  return sent < 0 ? failure(errno) : ether_end::io_error;
}

// Whether the transfer goes on past step; a hook that ends it is reported.
bool step_passes(int sock, ether_step step, const char *buf, int n) {
  if (ether_step_hook == nullptr || ether_step_hook(sock, step, buf, n)) return true;
  report.end = ether_end::dropped;
  return false;
}

// Bytes still to go, cut to one block.
int block_size(int remaining) {
  return remaining > kBlockSize - 1 ? kBlockSize : remaining;
}

}  // namespace

const ether_report &ether_last_report() { return report; }

bool ether_peer_ahead(int sock) {
  char c;
  return ether_watch_early && recv(sock, &c, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
}

int ether_init(int *sock, std::uint16_t port) {
  return ether_init_at(sock, INADDR_ANY, port);
}

int ether_init_at(int *sock, std::uint32_t address, std::uint16_t port) {
  *sock = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (*sock < 0) {
    fputs("server: socket()\n", stderr);
    return -1;
  }
  int one = 1;
  if (setsockopt(*sock, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) < 0) return -1;

  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(address);
  addr.sin_port = htons(port);
  if (bind(*sock, reinterpret_cast<sockaddr *>(&addr), sizeof addr) < 0) {
    perror("server: bind");
    return -1;
  }
  if (listen(*sock, kListenBacklog) < 0) {
    perror("server: listen");
    return -1;
  }
  return 1;
}

int ether_recv_unit_data(int sock, char *buf, int count, int timeout_sec) {
  int received = 0;
  report.end = ether_end::done;
  report.bytes = 0;
  if (count <= 0) return 0;
  while (received < count) {
    if (!wait_readable(sock, timeout_sec)) {
      if (deb_ether_com) printf("\nether_recv_unit_data(): select() timeout\n");
      report.end = ether_end::timeout;
      return -1;
    }
    ssize_t n = recv(sock, buf + received, static_cast<size_t>(count - received), 0);
    if (n < 0) {
      report.end = failure(errno);
      return -1;
    }
    if (n == 0) {
      report.end = ether_end::closed;
      return received;
    }
    received += static_cast<int>(n);
    report.bytes = received;
  }
  return received;
}

int ether_recv_all_data(int sock, char *buf, int count, int limit_sec) {
  int received = 0;
  report = ether_report{};
  const time_t deadline = time(nullptr) + limit_sec;
  while (received < count) {
    if (time(nullptr) > deadline) {
      if (deb_ether_com) printf("ether_recv_all_data(): time_out\n");
      report.end = ether_end::cut;
      return -1;
    }
    if (ether_peer_ahead(sock)) report.early = true;
    if (received == 0 && !step_passes(sock, ether_step::next, buf, 0)) return -1;
    const ssize_t sent = send(sock, "NEXT", 4, kSendFlags);
    if (sent != 4) {
      report.end = send_failure(sent);
      if (deb_ether_com) printf("send() error\n");
      return -1;
    }
    const int block = block_size(count - received);
    const int got = ether_recv_unit_data(sock, buf + received, block, kWaitSeconds);
    report.bytes += received;  // the block's own bytes so far, and those before it
    if (got != block) return -1;
    received += block;
  }
  if (!step_passes(sock, ether_step::fin, buf, received)) return -1;
  (void)send(sock, "FIN", 3, kSendFlags);
  return received;
}

int ether_send_all_data(int sock, const char *buf, int count, int limit_sec) {
  int sent = 0;
  report = ether_report{};
  const time_t deadline = time(nullptr) + limit_sec;

  char header[32];
  const int header_len = snprintf(header, sizeof header, "LEN%010d", count);
  if (ether_peer_ahead(sock)) report.early = true;
  if (!step_passes(sock, ether_step::len, buf, count)) return -1;
  const ssize_t header_sent =
      send(sock, header, static_cast<size_t>(header_len), kSendFlags);
  if (header_sent != header_len) {
    report.end = send_failure(header_sent);
    if (deb_ether_com) printf("ether_send_all_data(): send() error\n");
    return -1;
  }
  while (sent < count) {
    if (time(nullptr) > deadline) {
      if (deb_ether_com) printf("ether_send_all_data(): time_out\n");
      report.end = ether_end::cut;
      return -1;
    }
    char token[5];
    const int got = ether_recv_unit_data(sock, token, 4, kWaitSeconds);
    report.bytes = sent;
    if (got < 0) {
      if (deb_ether_com) printf("ether_send_all_data(): ether_recv_unit_data() error\n");
      fflush(stdout);
      return -1;
    }
    if (got < 4) {
      fflush(stdout);
      return -1;
    }
    token[4] = '\0';
    if (memcmp(token, "NEXT", 5) != 0) {
      if (deb_ether_com) printf("ether_send_all_data(): can't found \"NEXT\"\n");
      fflush(stdout);
      report.end = ether_end::not_next;
      return -1;
    }
    const int block = block_size(count - sent);
    // A "NEXT" already waiting for a block that has not gone out yet.
    if (sent + block < count && ether_peer_ahead(sock)) report.early = true;
    if (!step_passes(sock, ether_step::block, buf, count)) return -1;
    const ssize_t n = send(sock, buf + sent, static_cast<size_t>(block), kSendFlags);
    if (n != block) {
      report.end = send_failure(n);
      if (deb_ether_com) printf("ether_send_all_data(): data send error\n");
      return -1;
    }
    sent += block;
    report.bytes = sent;
  }
  return sent;
}
