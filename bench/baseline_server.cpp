// Protocol-only baseline: the server's loop with nothing but the wire in it.
// It links the server's own ether_com, so the framing (select waits, "NEXT"
// handshakes, 1024-byte blocks) is the same code; there are no command
// tables, no files and no printing. Whatever the real server costs beyond
// this is the price of its commands.
//
// A GET's command field holds the reply length in decimal (-1 gives the
// header of an unknown name); the reply is that many fixed bytes. A PUT's
// payload is received and dropped.
//
// usage: ifcsim_baseline PORTFILE   (listens on an ephemeral loopback-reachable
// port, writes it to PORTFILE, serves until killed)
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ifcsim_config.hpp"
#include "net/ether_com.hpp"
#include "net/port_file.hpp"

namespace {

// Same shape as the server's connection buffer: the largest payload plus one byte.
char conn_buffer[kMaxPayload + 1];
char reply[kMaxPayload + 1];

// The command field as a decimal number, as the server reads a PUT length.
int field_number() {
  char field[kCommandFieldSize + 1];
  std::memcpy(field, conn_buffer + kVerbSize, kCommandFieldSize);
  field[kCommandFieldSize] = '\0';
  return static_cast<int>(std::strtol(field, nullptr, 10));
}

void serve_one(int conn) {
  int one = 1;
  ioctl(conn, FIONBIO, &one);
  if (ether_recv_unit_data(conn, conn_buffer, kHeaderSize, kWaitSeconds) != kHeaderSize)
    return;
  conn_buffer[kHeaderSize] = '\0';
  if (std::memcmp(conn_buffer, "GET", kVerbSize) == 0) {
    int len = field_number();
    if (len > kMaxPayload) len = kMaxPayload;
    ether_send_all_data(conn, reply, len, kTransferLimitSeconds);
  } else if (std::memcmp(conn_buffer, "PUT", kVerbSize) == 0) {
    const int len = field_number();
    if (static_cast<unsigned>(len) > static_cast<unsigned>(kMaxPayload)) {
      (void)!send(conn, "ERR!", 4, 0);
      return;
    }
    ether_recv_all_data(conn, conn_buffer, len, kTransferLimitSeconds);
  }
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: ifcsim_baseline PORTFILE\n");
    return 2;
  }
  std::signal(SIGPIPE, SIG_IGN);
  deb_ether_com = 0;
  std::memset(reply, 'x', sizeof reply);
  int listen_fd = -1;
  if (ether_init(&listen_fd, 0) != 1) return 1;
  if (write_port_file(listen_fd, argv[1]) < 0) {
    std::perror(argv[1]);
    return 1;
  }
  for (;;) {
    int conn = accept(listen_fd, nullptr, nullptr);
    if (conn < 0) continue;
    serve_one(conn);
    close(conn);
  }
}
