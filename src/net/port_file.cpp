#include "net/port_file.hpp"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

namespace {

int discard(const std::string &tmp, int err) {
  unlink(tmp.c_str());
  errno = err;
  return -1;
}

}  // namespace

int write_port_file(int listen_fd, const char *path) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (getsockname(listen_fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0) return -1;
  const int port = ntohs(addr.sin_port);
  char text[16];
  const int n = std::snprintf(text, sizeof text, "%d\n", port);
  const std::string tmp = std::string(path) + ".tmp";
  // No fsync: after a crash the port means nothing.
  const int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return -1;
  if (write(fd, text, static_cast<size_t>(n)) != n) {
    const int err = errno;
    close(fd);
    return discard(tmp, err);
  }
  if (close(fd) != 0 || rename(tmp.c_str(), path) != 0) return discard(tmp, errno);
  return port;
}
