#include "support/scripted_server.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

#include "net/ether_com.hpp"
#include "support/server_process.hpp"

namespace testing_support {

ScriptedServer::ScriptedServer(script s) {
  if (ether_init(&listen_fd_, 0) != 1) {
    if (listen_fd_ >= 0) close(listen_fd_);
    throw std::runtime_error("ether_init on an ephemeral port failed");
  }
  port_ = LocalPort(listen_fd_);
  thread_ = std::thread([this, s] {
    fd_ = accept(listen_fd_, nullptr, nullptr);
    s(*this);
    if (fd_ >= 0) close(fd_);
  });
}

ScriptedServer::ScriptedServer(std::vector<std::string> steps)
    : ScriptedServer([steps = std::move(steps)](ScriptedServer &s) { Run(s, steps); }) {}

void ScriptedServer::Run(ScriptedServer &s, const std::vector<std::string> &steps) {
  for (const std::string &step : steps) {
    if (step[0] == '<') s.Read(std::stoul(step.substr(1)));
    if (step[0] == '>') s.Send(step.substr(1));
    if (step == ".") s.WaitForClose();
    if (step == "!") s.Reset();
  }
}

ScriptedServer::~ScriptedServer() {
  Join();
  close(listen_fd_);
}

void ScriptedServer::Join() {
  if (thread_.joinable()) thread_.join();
}

std::string ScriptedServer::Read(size_t n, int timeout_ms) {
  std::string got;
  while (got.size() < n && fd_ >= 0) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) != 1) break;
    char buf[4096];
    const ssize_t r = recv(fd_, buf, std::min(sizeof buf, n - got.size()), 0);
    if (r <= 0) break;
    got.append(buf, static_cast<size_t>(r));
  }
  received += got;
  return got;
}

void ScriptedServer::Send(const std::string &s) {
  if (fd_ >= 0) send(fd_, s.data(), s.size(), MSG_NOSIGNAL);
}

void ScriptedServer::Reset() {
  if (fd_ < 0) return;
  linger l{};
  l.l_onoff = 1;
  l.l_linger = 0;
  setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  close(fd_);
  fd_ = -1;
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
