#include "port_file.hpp"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <string>

int write_port_file(int listen_fd, const char *path) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (getsockname(listen_fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
    std::perror("getsockname");
    return -1;
  }
  const int port = ntohs(addr.sin_port);
  const std::string tmp = std::string(path) + ".tmp";
  char text[16];
  const int n = std::snprintf(text, sizeof text, "%d\n", port);
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || write(fd, text, static_cast<size_t>(n)) != n || close(fd) != 0 ||
      rename(tmp.c_str(), path) != 0) {
    std::perror(path);
    return -1;
  }
  return port;
}
