#include "hardening/harness.hpp"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "net/ether_com.hpp"
#include "net/tcp1_main.hpp"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HARDENING_LSAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define HARDENING_LSAN 1
#endif
#ifdef HARDENING_LSAN
#include <sanitizer/lsan_interface.h>
#endif

namespace hardening {
namespace {

constexpr std::size_t kKeepText = 4u << 20;

using clock_type = std::chrono::steady_clock;

int remaining_ms(clock_type::time_point deadline) {
  auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

std::size_t count_in(std::string_view hay, std::string_view needle) {
  std::size_t n = 0;
  for (std::size_t pos = hay.find(needle); pos != std::string_view::npos;
       pos = hay.find(needle, pos + needle.size()))
    ++n;
  return n;
}

void on_usr1(int) {
  int status = 0;
#ifdef HARDENING_LSAN
  status = __lsan_do_recoverable_leak_check() ? 23 : 0;
#endif
  _exit(status);
}

}  // namespace

// ---------------------------------------------------------------- capture

capture::capture(int fd) : fd_(fd), thread_([this] { run(); }) {}

capture::~capture() {
  thread_.join();
  close(fd_);
}

void capture::run() {
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd_, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    std::lock_guard<std::mutex> lock(mu_);
    if (n <= 0) {
      eof_ = true;
      cv_.notify_all();
      return;
    }
    std::string joined = tail_ + std::string(buf, static_cast<std::size_t>(n));
    // Occurrences that start in the new bytes, or that straddle the border.
    std::size_t before = count_in(tail_, kWaiting);
    waiting_ += count_in(joined, kWaiting) - before;
    std::size_t keep = sizeof kWaiting - 2;
    tail_ = joined.size() > keep ? joined.substr(joined.size() - keep) : joined;
    text_.append(buf, static_cast<std::size_t>(n));
    if (text_.size() > kKeepText) text_.erase(0, text_.size() - kKeepText / 2);
    cv_.notify_all();
  }
}

std::string capture::text() {
  std::lock_guard<std::mutex> lock(mu_);
  return text_;
}

std::size_t capture::waiting_count() {
  std::lock_guard<std::mutex> lock(mu_);
  return waiting_;
}

std::size_t capture::count(std::string_view s) {
  std::lock_guard<std::mutex> lock(mu_);
  return count_in(text_, s);
}

bool capture::wait_for(std::string_view s, std::size_t n, int timeout_ms) {
  std::unique_lock<std::mutex> lock(mu_);
  return cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
    return count_in(text_, s) >= n || eof_;
  }) && count_in(text_, s) >= n;
}

bool capture::wait_waiting(std::size_t n, int timeout_ms) {
  std::unique_lock<std::mutex> lock(mu_);
  return cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
    return waiting_ >= n || eof_;
  }) && waiting_ >= n;
}

// ----------------------------------------------------------------- server

server::server(const std::string &dir, server_options opt) {
  int listen_fd = -1;
  if (ether_init(&listen_fd, 0) != 1) throw std::runtime_error("ether_init failed");
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  getsockname(listen_fd, reinterpret_cast<sockaddr *>(&addr), &len);
  port_ = ntohs(addr.sin_port);

  int out_pipe[2], err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  std::fflush(stdout);
  std::fflush(stderr);
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (chdir(dir.c_str()) != 0) _exit(120);
    dup2(out_pipe[1], STDOUT_FILENO);
    dup2(err_pipe[1], STDERR_FILENO);
    close(out_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[0]);
    close(err_pipe[1]);
    // Whatever else the test process holds stays out of the server's table,
    // so that its descriptor count is the server's own: 0, 1, 2 and the
    // listening socket as 3, so that the first connection gets 4.
    if (listen_fd != 3) {
      dup2(listen_fd, 3);
      listen_fd = 3;
    }
    for (int fd = 4; fd < 1024; ++fd) close(fd);
    if (opt.leak_check_on_usr1) {
      struct sigaction sa {};
      sa.sa_handler = on_usr1;
      sigaction(SIGUSR1, &sa, nullptr);
    }
    if (opt.nofile != 0) {
      rlimit rl{};
      getrlimit(RLIMIT_NOFILE, &rl);
      rl.rlim_cur = opt.nofile;
      setrlimit(RLIMIT_NOFILE, &rl);
    }
    tcp1_serve(listen_fd);
  }
  close(listen_fd);
  close(out_pipe[1]);
  close(err_pipe[1]);
  out_ = new capture(out_pipe[0]);
  err_ = new capture(err_pipe[0]);
}

server::~server() {
  stop();
  delete out_;
  delete err_;
}

int server::fd_count() const {
  std::string path = "/proc/" + std::to_string(pid_) + "/fd";
  DIR *d = opendir(path.c_str());
  if (d == nullptr) return -1;
  int n = 0;
  while (dirent *e = readdir(d))
    if (e->d_name[0] != '.') ++n;
  closedir(d);
  return n;
}

long server::rss_kib() const {
  std::ifstream in("/proc/" + std::to_string(pid_) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

bool server::alive() {
  if (status_ != -1) return false;
  int st = 0;
  pid_t r = waitpid(pid_, &st, WNOHANG);
  if (r == pid_) status_ = st;
  return r == 0;
}

int server::wait_exit(int timeout_ms) {
  auto deadline = clock_type::now() + std::chrono::milliseconds(timeout_ms);
  while (alive()) {
    if (remaining_ms(deadline) == 0) return -1;
    usleep(2000);  // polling a child's exit; no timing is guessed here
  }
  return status_;
}

int server::leak_check(int timeout_ms) {
  if (!alive()) return -1;
  kill(pid_, SIGUSR1);
  int st = wait_exit(timeout_ms);
  if (st == -1) return -1;
  return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

void server::stop() {
  if (pid_ > 0 && alive()) {
    kill(pid_, SIGKILL);
    int st = 0;
    if (waitpid(pid_, &st, 0) == pid_) status_ = st;
  }
}

bool server::set_nofile(rlim_t soft) {
  rlimit rl{};
  if (prlimit(pid_, RLIMIT_NOFILE, nullptr, &rl) != 0) return false;
  rl.rlim_cur = soft;
  return prlimit(pid_, RLIMIT_NOFILE, &rl, nullptr) == 0;
}

// ----------------------------------------------------------------- client

int connect_to(std::uint16_t port, int timeout_ms) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
    if (errno != EINPROGRESS) {
      close(fd);
      return -1;
    }
    pollfd p{fd, POLLOUT, 0};
    int err = 0;
    socklen_t len = sizeof err;
    if (poll(&p, 1, timeout_ms) != 1 ||
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
      close(fd);
      errno = err != 0 ? err : ETIMEDOUT;
      return -1;
    }
  }
  int flags = fcntl(fd, F_GETFL);
  fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

bool send_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    pollfd p{fd, POLLOUT, 0};
    if (poll(&p, 1, 10000) != 1) return false;
    ssize_t n = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

std::string recv_some(int fd, std::size_t n, int timeout_ms) {
  std::string got;
  char buf[4096];
  while (got.size() < n) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) != 1) break;
    ssize_t r = recv(fd, buf, std::min(sizeof buf, n - got.size()), MSG_DONTWAIT);
    if (r < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (r <= 0) break;
    got.append(buf, static_cast<std::size_t>(r));
  }
  return got;
}

bool recv_until_close(int fd, std::string &got, int timeout_ms) {
  auto deadline = clock_type::now() + std::chrono::milliseconds(timeout_ms);
  char buf[4096];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, remaining_ms(deadline)) != 1) return false;
    ssize_t r = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    if (r < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (r < 0) return errno == ECONNRESET;
    if (r == 0) return true;
    got.append(buf, static_cast<std::size_t>(r));
  }
}

void reset_close(int fd) {
  linger lg{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
  close(fd);
}

std::string get_header(std::string_view name) {
  std::string h = "GET";
  h.append(name);
  if (h.size() < 23) h.append(23 - h.size(), ' ');
  return h;
}

std::string put_header(std::size_t len) {
  char field[32];
  std::snprintf(field, sizeof field, "PUT%-20zu", len);
  return std::string(field, 23);
}

std::string get(std::uint16_t port, std::string_view name) {
  int fd = connect_to(port);
  if (fd < 0) return "<error: connect>";
  std::string result;
  if (!send_all(fd, get_header(name))) {
    close(fd);
    return "<error: send header>";
  }
  std::string len_hdr = recv_some(fd, 13);
  if (len_hdr.size() != 13 || len_hdr.compare(0, 3, "LEN") != 0) {
    close(fd);
    return "<error: length header '" + len_hdr + "'>";
  }
  long len = std::strtol(len_hdr.c_str() + 3, nullptr, 10);
  if (len <= 0) {
    close(fd);
    return "<len " + std::to_string(len) + ">";
  }
  while (result.size() < static_cast<std::size_t>(len)) {
    std::size_t block = std::min<std::size_t>(1024, len - result.size());
    if (!send_all(fd, "NEXT")) break;
    std::string b = recv_some(fd, block);
    result += b;
    if (b.size() != block) {
      close(fd);
      return "<error: short block>";
    }
  }
  std::string rest;
  bool closed = recv_until_close(fd, rest);
  close(fd);
  if (!closed || !rest.empty()) return "<error: not closed after reply>";
  return result;
}

bool put_payload(std::uint16_t port, std::string_view payload) {
  int fd = connect_to(port);
  if (fd < 0) return false;
  bool ok = send_all(fd, put_header(payload.size()));
  std::size_t sent = 0;
  while (ok && sent < payload.size()) {
    if (recv_some(fd, 4) != "NEXT") {
      ok = false;
      break;
    }
    std::size_t block = std::min<std::size_t>(1024, payload.size() - sent);
    ok = send_all(fd, payload.substr(sent, block));
    sent += block;
  }
  ok = ok && recv_some(fd, 3) == "FIN";
  std::string rest;
  ok = recv_until_close(fd, rest) && ok && rest.empty();
  close(fd);
  return ok;
}

bool put(std::uint16_t port, std::string_view name, std::string_view text) {
  std::string payload(name);
  payload.push_back('\0');
  payload.append(text);
  return put_payload(port, payload);
}

}  // namespace hardening
