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

namespace {

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

// Bytes still to go, cut to one block.
int block_size(int remaining) {
  return remaining > kBlockSize - 1 ? kBlockSize : remaining;
}

}  // namespace

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
  if (count <= 0) return 0;
  while (received < count) {
    if (!wait_readable(sock, timeout_sec)) {
      if (deb_ether_com) printf("\nether_recv_unit_data(): select() timeout\n");
      return -1;
    }
    ssize_t n = recv(sock, buf + received, static_cast<size_t>(count - received), 0);
    if (n < 0) return -1;
    if (n == 0) return received;
    received += static_cast<int>(n);
  }
  return received;
}

int ether_recv_all_data(int sock, char *buf, int count, int limit_sec) {
  int received = 0;
  const time_t deadline = time(nullptr) + limit_sec;
  while (received < count) {
    if (time(nullptr) > deadline) {
      if (deb_ether_com) printf("ether_recv_all_data(): time_out\n");
      return -1;
    }
    if (send(sock, "NEXT", 4, kSendFlags) != 4) {
      if (deb_ether_com) printf("send() error\n");
      return -1;
    }
    const int block = block_size(count - received);
    if (ether_recv_unit_data(sock, buf + received, block, kWaitSeconds) != block)
      return -1;
    received += block;
  }
  (void)send(sock, "FIN", 3, kSendFlags);
  return received;
}

int ether_send_all_data(int sock, const char *buf, int count, int limit_sec) {
  int sent = 0;
  const time_t deadline = time(nullptr) + limit_sec;

  char header[32];
  const int header_len = snprintf(header, sizeof header, "LEN%010d", count);
  if (send(sock, header, static_cast<size_t>(header_len), kSendFlags) != header_len) {
    if (deb_ether_com) printf("ether_send_all_data(): send() error\n");
    return -1;
  }
  while (sent < count) {
    if (time(nullptr) > deadline) {
      if (deb_ether_com) printf("ether_send_all_data(): time_out\n");
      return -1;
    }
    char token[5];
    const int got = ether_recv_unit_data(sock, token, 4, kWaitSeconds);
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
      return -1;
    }
    const int block = block_size(count - sent);
    if (send(sock, buf + sent, static_cast<size_t>(block), kSendFlags) != block) {
      if (deb_ether_com) printf("ether_send_all_data(): data send error\n");
      return -1;
    }
    sent += block;
  }
  return sent;
}
