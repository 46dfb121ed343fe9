#include "net/tcp1_main.hpp"

#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dispatch/ether_parse.hpp"
#include "ifcsim_config.hpp"
#include "net/ether_com.hpp"
#include "net/port_file.hpp"

std::int16_t deb_tcp1_main = 1;

namespace {

// The one connection buffer: header, then GET reply or PUT payload. The byte
// behind a full payload is reserved because a PUT handler writes a NUL right
// behind its data part.
char ether_tcp1_data[kMaxPayload + 1];

// A send to a client that has gone away must fail with EPIPE rather than end
// the server.
void ignore_sigpipe() { signal(SIGPIPE, SIG_IGN); }

// Reads the PUT length from the NUL-terminated command field. Returns false
// when the number lies outside the 32-bit signed range; no digits give 0.
bool read_put_length(const char *field, std::int32_t *length) {
  errno = 0;
  const long long v = strtoll(field, nullptr, 10);
  if (errno == ERANGE || v < INT32_MIN || v > INT32_MAX) return false;
  *length = static_cast<std::int32_t>(v);
  return true;
}

void finish_with_error(int conn, const char *message) {
  puts(message);
  fflush(stdout);
  close(conn);
}

}  // namespace

void tcp1_handle_connection(int conn) {
  if (deb_tcp1_main) printf("connected... ");
  fflush(stdout);

  int on = 1;
  (void)ioctl(conn, FIONBIO, &on);

  const int got = ether_recv_unit_data(conn, ether_tcp1_data, kHeaderSize, kWaitSeconds);
  if (got < 0) {
    finish_with_error(conn, "main(): ether_recv_unit_data");
    return;
  }
  // A short header is terminated where it ends, so that no byte of an earlier
  // request is printed as part of it.
  ether_tcp1_data[got < kHeaderSize ? got : kHeaderSize] = '\0';
  if (deb_tcp1_main) puts(ether_tcp1_data);
  if (got < kHeaderSize) {
    finish_with_error(conn, "error: command len");
    return;
  }

  const char *field = ether_tcp1_data + kVerbSize;
  if (memcmp(ether_tcp1_data, "GET", kVerbSize) == 0) {
    char name[kCommandFieldSize + 1];
    int i = 0;
    for (; i < kCommandFieldSize && field[i] != '\0'; ++i) name[i] = field[i];
    name[i] = '\0';
    const int length = ether_get_data(name, ether_tcp1_data);
    (void)ether_send_all_data(conn, ether_tcp1_data, length, kTransferLimitSeconds);
    close(conn);
    return;
  }
  if (memcmp(ether_tcp1_data, "PUT", kVerbSize) == 0) {
    std::int32_t length = 0;
    const bool in_range = read_put_length(field, &length);
    if (!in_range || static_cast<std::uint32_t>(length) > kMaxPayload) {
      (void)send(conn, "ERR!", 4, MSG_NOSIGNAL);
      finish_with_error(conn, "error: TOO BIG DATA");
      return;
    }
    const int received =
        ether_recv_all_data(conn, ether_tcp1_data, length, kTransferLimitSeconds);
    if (received > 0) ether_put_data(ether_tcp1_data, received);
    close(conn);
    return;
  }
  finish_with_error(conn, "error: UNKNOWN COMMAND");
}

void tcp1_serve(int listen_fd) {
  ignore_sigpipe();
  for (;;) {
    sockaddr_in peer;
    socklen_t peer_len = sizeof peer;  // 16
    if (deb_tcp1_main) printf("waiting... ");
    fflush(stdout);
    const int conn =
        accept4(listen_fd, reinterpret_cast<sockaddr *>(&peer), &peer_len, SOCK_CLOEXEC);
    if (conn < 0) {
      perror("server: accept");
      continue;
    }
    tcp1_handle_connection(conn);
  }
}

int tcp1_main(std::uint16_t port, std::uint32_t address, const char *port_file) {
  ignore_sigpipe();
  int listen_fd = -1;
  if (ether_init_at(&listen_fd, address, port) == -1) {
    puts("Can't initialize sever socket.");
    fflush(stdout);
    if (listen_fd >= 0) close(listen_fd);
    return EXIT_FAILURE;
  }
  if (port_file != nullptr && write_port_file(listen_fd, port_file) < 0) {
    fprintf(stderr, "ifcsim: port file %s: %s\n", port_file, strerror(errno));
    close(listen_fd);
    return EXIT_FAILURE;
  }
  tcp1_serve(listen_fd);
}
