#include "support/scripted_server.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>

#include "net/ether_com.hpp"
#include "support/server_process.hpp"

namespace testing_support {

ScriptedServer::ScriptedServer(std::vector<std::string> steps) {
  if (ether_init(&listen_fd_, 0) != 1) {
    if (listen_fd_ >= 0) close(listen_fd_);
    throw std::runtime_error("ether_init on an ephemeral port failed");
  }
  port_ = LocalPort(listen_fd_);
  thread_ = std::thread([this, steps = std::move(steps)] {
    fd_ = accept(listen_fd_, nullptr, nullptr);
    for (const std::string &step : steps) Step(step);
    if (fd_ >= 0) close(fd_);
  });
}

ScriptedServer::~ScriptedServer() {
  Join();
  close(listen_fd_);
}

void ScriptedServer::Join() {
  if (thread_.joinable()) thread_.join();
}

void ScriptedServer::Step(const std::string &step) {
  if (fd_ < 0) return;
  if (step[0] == '<') {
    Read(std::stoul(step.substr(1)));
  } else if (step[0] == '>') {
    // A client that has gone ends the script: a long one need not play on.
    if (send(fd_, step.data() + 1, step.size() - 1, MSG_NOSIGNAL) < 0) {
      close(fd_);
      fd_ = -1;
    }
  } else if (step[0] == '=') {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(step.substr(1))));
  } else if (step == ".") {
    Read(1 << 20);
  } else if (step == "!") {
    linger l{};
    l.l_onoff = 1;
    l.l_linger = 0;
    setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    close(fd_);
    fd_ = -1;
  }
}

void ScriptedServer::Read(size_t n) {
  for (size_t got = 0; got < n;) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 5000) != 1) return;
    char buf[4096];
    const ssize_t r = recv(fd_, buf, std::min(sizeof buf, n - got), 0);
    if (r <= 0) return;
    received.append(buf, static_cast<size_t>(r));
    got += static_cast<size_t>(r);
  }
}

FullListener::FullListener() {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr *>(&addr), len) != 0 ||
      listen(listener_, 0) != 0)
    throw std::runtime_error("no loopback listener");
  port_ = LocalPort(listener_);
  addr.sin_port = htons(port_);
  queued_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (queued_ < 0 || connect(queued_, reinterpret_cast<sockaddr *>(&addr), len) != 0)
    throw std::runtime_error("cannot fill the listen queue");
}

FullListener::~FullListener() {
  if (queued_ >= 0) close(queued_);
  if (listener_ >= 0) close(listener_);
}

std::uint16_t FreePort() {
  int fd = -1;
  if (ether_init(&fd, 0) != 1) throw std::runtime_error("ether_init failed");
  const std::uint16_t port = LocalPort(fd);
  close(fd);
  return port;
}

}  // namespace testing_support
