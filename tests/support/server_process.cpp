#include "support/server_process.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <utility>

#include "net/ether_com.hpp"
#include "net/tcp1_main.hpp"

namespace testing_support {
namespace {

using Clock = std::chrono::steady_clock;

int millis_left(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<Millis>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Moves a descriptor above the standard ones (a test run with stdin closed
// would otherwise hand out 0), keeping close-on-exec.
int above_stdio(int fd) {
  if (fd < 0 || fd > 2) return fd;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  close(fd);
  return moved;
}

constexpr std::string_view kWaiting = "waiting... ";

// Position of the n-th (1-based) occurrence of needle, or npos.
size_t nth_occurrence(std::string_view text, std::string_view needle, int n) {
  size_t pos = 0;
  for (int i = 0; i < n; ++i) {
    pos = text.find(needle, i == 0 ? 0 : pos + needle.size());
    if (pos == std::string_view::npos) return pos;
  }
  return pos;
}

std::pair<int, std::uint16_t> make_listener() {
  int fd = -1;
  if (ether_init(&fd, 0) != 1) {
    if (fd >= 0) close(fd);
    throw std::runtime_error("ether_init on an ephemeral port failed");
  }
  fd = above_stdio(fd);
  return {fd, LocalPort(fd)};
}

}  // namespace

std::uint16_t LocalPort(int fd) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0) return 0;
  return ntohs(addr.sin_port);
}

std::string RequestHeader(std::string_view verb, std::string_view field) {
  std::string h(verb);
  h += field;
  h.resize(23, ' ');
  return h;
}

int CountOccurrences(std::string_view text, std::string_view needle) {
  int n = 0;
  for (size_t pos = text.find(needle); pos != std::string_view::npos;
       pos = text.find(needle, pos + needle.size())) {
    ++n;
  }
  return n;
}

// ---- ChildProcess ----

ChildProcess::ChildProcess(std::function<int()> body)
    : ChildProcess(std::move(body), -1) {}

ChildProcess::ChildProcess(std::function<int()> body, int keep_fd) {
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
  if (pipe2(err, O_CLOEXEC) != 0) {
    close(out[0]);
    close(out[1]);
    throw std::runtime_error("pipe2 failed");
  }
  for (int *fd : {&out[0], &out[1], &err[0], &err[1]}) *fd = above_stdio(*fd);
  // Whatever the test process has buffered must not be written twice.
  fflush(nullptr);
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    // A known set of descriptors: 0 reads /dev/null, 1 and 2 are the pipes,
    // keep_fd becomes 3, nothing else is open.
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    const int null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (null_fd > 0) {
      dup2(null_fd, STDIN_FILENO);
      close(null_fd);
    }
    if (keep_fd >= 0 && keep_fd != 3) dup2(keep_fd, 3);
    close_range(keep_fd >= 0 ? 4 : 3, ~0U, 0);
    if (chdir(dir_.path().c_str()) != 0) _exit(126);
    const int rc = body();
    fflush(nullptr);
    _exit(rc);
  }
  close(out[1]);
  close(err[1]);
  out_.fd = out[0];
  err_.fd = err[0];
  fcntl(out_.fd, F_SETFL, O_NONBLOCK);
  fcntl(err_.fd, F_SETFL, O_NONBLOCK);
}

ChildProcess::~ChildProcess() {
  Stop();
  if (out_.fd >= 0) close(out_.fd);
  if (err_.fd >= 0) close(err_.fd);
}

bool ChildProcess::Pump(stream &s, Millis timeout) {
  if (s.fd < 0) return false;
  pollfd p{};
  p.fd = s.fd;
  p.events = POLLIN;
  const int r = poll(&p, 1, static_cast<int>(timeout.count()));
  if (r <= 0) return true;
  char buf[4096];
  for (;;) {
    const ssize_t n = read(s.fd, buf, sizeof buf);
    if (n > 0) {
      s.text.append(buf, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return true;
    close(s.fd);
    s.fd = -1;
    return false;
  }
}

std::string ChildProcess::WaitFor(stream &s, std::string_view needle, Millis timeout) {
  const auto deadline = Clock::now() + timeout;
  Pump(s, Millis(0));
  while (s.text.find(needle) == std::string::npos && s.fd >= 0) {
    const int left = millis_left(deadline);
    if (left == 0) break;
    Pump(s, Millis(left));
  }
  return s.text;
}

std::string ChildProcess::Output() {
  Pump(out_, Millis(0));
  return out_.text;
}

std::string ChildProcess::Stderr() {
  Pump(err_, Millis(0));
  return err_.text;
}

std::string ChildProcess::WaitForOutput(std::string_view needle, Millis timeout) {
  return WaitFor(out_, needle, timeout);
}

std::string ChildProcess::WaitForStderr(std::string_view needle, Millis timeout) {
  return WaitFor(err_, needle, timeout);
}

std::optional<int> ChildProcess::WaitForExit(Millis timeout) {
  if (reaped_) return status_;
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    // Keep the pipes drained, so that a chatty child is not stuck writing.
    Pump(out_, Millis(0));
    Pump(err_, Millis(0));
    int status = 0;
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      reaped_ = true;
      status_ = status;
      return status_;
    }
    if (r < 0 || Clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(Millis(5));
  }
}

void ChildProcess::Stop() {
  if (pid_ <= 0 || reaped_) return;
  kill(pid_, SIGKILL);
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  reaped_ = true;
  status_ = status;
  // The child is gone: collect what it wrote before it died.
  while (Pump(out_, Millis(0)) && out_.fd >= 0) {
  }
  while (Pump(err_, Millis(0)) && err_.fd >= 0) {
  }
}

// ---- ServerProcess ----

ServerProcess::ServerProcess(std::function<void()> setup)
    : ServerProcess(make_listener(), std::move(setup)) {}

ServerProcess::ServerProcess(std::pair<int, std::uint16_t> listener,
                             std::function<void()> setup)
    : ChildProcess(
          [setup = std::move(setup)]() -> int {
            if (setup) setup();
            tcp1_serve(3);
          },
          listener.first),
      port_(listener.second) {
  // Only the child serves: with the parent's copy closed, connections are
  // refused once the child is gone.
  close(listener.first);
}

ServerProcess::~ServerProcess() = default;

bool ServerProcess::WaitForRequests(int n, Millis timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    if (CountOccurrences(Output(), kWaiting) >= n + 1) return true;
    const int left = millis_left(deadline);
    if (left == 0) return false;
    if (!PumpOutput(Millis(left))) return CountOccurrences(Output(), kWaiting) >= n + 1;
  }
}

std::string ServerProcess::RequestOutput(int n) {
  const std::string text = Output();
  const size_t begin = nth_occurrence(text, kWaiting, n);
  if (begin == std::string::npos) return "";
  const size_t end = nth_occurrence(text, kWaiting, n + 1);
  if (end == std::string::npos) return "";
  return text.substr(begin + kWaiting.size(), end - begin - kWaiting.size());
}

// ---- RawConnection ----

RawConnection::RawConnection(std::uint16_t port, Millis timeout) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
    if (errno != EINPROGRESS) {
      close(fd);
      return;
    }
    pollfd p{};
    p.fd = fd;
    p.events = POLLOUT;
    int err = 0;
    socklen_t len = sizeof err;
    if (poll(&p, 1, static_cast<int>(timeout.count())) != 1 ||
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
      close(fd);
      return;
    }
  }
  fd_ = fd;
}

RawConnection::~RawConnection() { Close(); }

bool RawConnection::Send(std::string_view bytes) {
  if (fd_ < 0) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      pollfd p{};
      p.fd = fd_;
      p.events = POLLOUT;
      if (poll(&p, 1, static_cast<int>(kDefaultWait.count())) != 1) return false;
      continue;
    }
    return false;
  }
  return true;
}

std::string RawConnection::Read(size_t n, Millis timeout) {
  std::string data;
  if (fd_ < 0) return data;
  const auto deadline = Clock::now() + timeout;
  while (data.size() < n && !closed_) {
    pollfd p{};
    p.fd = fd_;
    p.events = POLLIN;
    if (poll(&p, 1, millis_left(deadline)) != 1) break;
    char buf[4096];
    const size_t want = std::min(sizeof buf, n - data.size());
    const ssize_t got = recv(fd_, buf, want, 0);
    if (got > 0) {
      data.append(buf, static_cast<size_t>(got));
    } else if (got == 0 || errno == ECONNRESET) {
      closed_ = true;
    } else if (errno != EAGAIN && errno != EINTR) {
      break;
    }
  }
  return data;
}

std::optional<std::string> RawConnection::ReadToClose(Millis timeout) {
  const auto deadline = Clock::now() + timeout;
  std::string data;
  while (!closed_) {
    const int left = millis_left(deadline);
    if (left == 0) return std::nullopt;
    data += Read(64 * 1024, Millis(left));
    if (!closed_ && millis_left(deadline) == 0) return std::nullopt;
  }
  return data;
}

void RawConnection::ShutdownWrite() {
  if (fd_ >= 0) shutdown(fd_, SHUT_WR);
}

void RawConnection::Reset() {
  if (fd_ < 0) return;
  linger l{};
  l.l_onoff = 1;
  l.l_linger = 0;
  setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  Close();
}

void RawConnection::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

// ---- ConnectedPair ----

ConnectedPair::ConnectedPair() {
  int listener = -1;
  if (ether_init(&listener, 0) != 1) throw std::runtime_error("ether_init failed");
  peer_ = std::make_unique<RawConnection>(LocalPort(listener));
  server_ = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  close(listener);
  if (!peer_->connected() || server_ < 0)
    throw std::runtime_error("no loopback connection");
  int on = 1;
  ioctl(server_, FIONBIO, &on);
}

ConnectedPair::~ConnectedPair() {
  if (server_ >= 0) close(server_);
}

}  // namespace testing_support
