#include "support/server_process.hpp"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>

#include "net/ether_com.hpp"
#include "net/tcp1_main.hpp"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define IFCSIM_TEST_LSAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) && !defined(IFCSIM_TEST_LSAN)
#define IFCSIM_TEST_LSAN 1
#endif
#ifdef IFCSIM_TEST_LSAN
#include <sanitizer/lsan_interface.h>
#endif

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

// How long a reaped child's pipes may stay open (held by a grandchild) before
// the test goes on without the rest of its output.
constexpr Millis kPipeCloseWait{5000};

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

std::string PutHeader(size_t len) { return RequestHeader("PUT", std::to_string(len)); }

int CountOccurrences(std::string_view text, std::string_view needle) {
  if (needle.empty()) return 0;
  int n = 0;
  for (size_t pos = text.find(needle); pos != std::string_view::npos;
       pos = text.find(needle, pos + needle.size())) {
    ++n;
  }
  return n;
}

// ---- ChildProcess::Stream ----

// One pipe from the child, drained by a thread of its own. The text is kept
// up to kKeep bytes (the oldest part goes first); the marker is counted as it
// streams by, so that its count stays right when text is dropped.
class ChildProcess::Stream {
 public:
  Stream(int fd, std::string_view marker) : fd_(fd), marker_(marker) {
    if (pipe2(wake_, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    thread_ = std::thread([this] { Run(); });
  }
  ~Stream() {
    const char stop = 's';
    if (write(wake_[1], &stop, 1) != 1) {
      // The thread also ends at the end of the stream.
    }
    thread_.join();
    close(wake_[0]);
    close(wake_[1]);
    close(fd_);
  }
  Stream(const Stream &) = delete;
  Stream &operator=(const Stream &) = delete;

  std::string Text() {
    std::lock_guard<std::mutex> lock(mu_);
    return text_;
  }

  std::string WaitFor(std::string_view needle, int times, Millis timeout) {
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait_for(lock, timeout, [&] {
      return ended_ || needle.empty() || CountOccurrences(text_, needle) >= times;
    });
    return text_;
  }

  bool WaitForMarkers(int n, Millis timeout) {
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait_for(lock, timeout, [&] { return ended_ || markers_ >= n; });
    return markers_ >= n;
  }

  // Waits until the writing side has closed; false on time-out.
  bool WaitForEnd(Millis timeout) {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, timeout, [&] { return ended_; });
  }

  int Markers() {
    std::lock_guard<std::mutex> lock(mu_);
    return markers_;
  }

  int Dropped() {
    std::lock_guard<std::mutex> lock(mu_);
    return dropped_;
  }

 private:
  static constexpr size_t kKeep = 4u << 20;

  void Run() {
    char buf[65536];
    for (;;) {
      pollfd p[2] = {{fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
      if (poll(p, 2, -1) < 0) {
        if (errno == EINTR) continue;
        break;
      }
      if (p[1].revents != 0) break;
      const ssize_t n = read(fd_, buf, sizeof buf);
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (n <= 0) break;
      Append(std::string_view(buf, static_cast<size_t>(n)));
    }
    std::lock_guard<std::mutex> lock(mu_);
    ended_ = true;
    cv_.notify_all();
  }

  void Append(std::string_view chunk) {
    std::lock_guard<std::mutex> lock(mu_);
    if (!marker_.empty()) {
      // The tail is one byte shorter than the marker: a marker that straddles
      // two reads is counted once, in the read that completes it.
      const std::string joined = tail_ + std::string(chunk);
      markers_ += CountOccurrences(joined, marker_);
      const size_t keep = marker_.size() - 1;
      tail_ = joined.size() > keep ? joined.substr(joined.size() - keep) : joined;
    }
    text_.append(chunk);
    if (text_.size() > kKeep) {
      size_t cut = text_.size() - kKeep / 2;
      if (!marker_.empty()) {
        // Cut in front of a marker, so that none is split.
        const size_t at = text_.find(marker_, cut);
        if (at != std::string::npos) cut = at;
        dropped_ += CountOccurrences(std::string_view(text_).substr(0, cut), marker_);
      }
      text_.erase(0, cut);
    }
    cv_.notify_all();
  }

  const int fd_;
  int wake_[2] = {-1, -1};
  const std::string marker_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::string text_;
  std::string tail_;
  int markers_ = 0;
  int dropped_ = 0;
  bool ended_ = false;
  std::thread thread_;
};

// ---- ChildProcess ----

ChildProcess::ChildProcess(std::function<int()> body)
    : ChildProcess(std::move(body), -1, "", "") {}

ChildProcess::ChildProcess(std::function<int()> body, int keep_fd,
                           const std::string &work_dir, std::string_view marker) {
  if (work_dir.empty()) {
    own_dir_.emplace();
    dir_ = own_dir_->path();
  } else {
    dir_ = work_dir;
  }
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
    if (chdir(dir_.c_str()) != 0) _exit(126);
    const int rc = body();
    fflush(nullptr);
    _exit(rc);
  }
  close(out[1]);
  close(err[1]);
  out_ = std::make_unique<Stream>(out[0], marker);
  err_ = std::make_unique<Stream>(err[0], "");
}

ChildProcess::~ChildProcess() { Stop(); }

std::string ChildProcess::Output() { return out_->Text(); }

std::string ChildProcess::Stderr() { return err_->Text(); }

std::string ChildProcess::WaitForOutput(std::string_view needle, Millis timeout,
                                        int times) {
  return out_->WaitFor(needle, times, timeout);
}

std::string ChildProcess::WaitForStderr(std::string_view needle, Millis timeout,
                                        int times) {
  return err_->WaitFor(needle, times, timeout);
}

int ChildProcess::MarkerCount() { return out_->Markers(); }

int ChildProcess::DroppedMarkers() { return out_->Dropped(); }

bool ChildProcess::WaitForMarkers(int n, Millis timeout) {
  return out_->WaitForMarkers(n, timeout);
}

bool ChildProcess::Alive() {
  if (pid_ <= 0 || reaped_) return false;
  int status = 0;
  const pid_t r = waitpid(pid_, &status, WNOHANG);
  if (r == pid_) {
    reaped_ = true;
    status_ = status;
  }
  return r == 0;
}

std::optional<int> ChildProcess::WaitForExit(Millis timeout) {
  const auto deadline = Clock::now() + timeout;
  while (Alive()) {
    if (Clock::now() >= deadline) return std::nullopt;
    // Polls the child's state; no timing is guessed here.
    std::this_thread::sleep_for(Millis(2));
  }
  if (!reaped_) return std::nullopt;
  // What the child wrote before it ended is read once its pipes close.
  out_->WaitForEnd(kPipeCloseWait);
  err_->WaitForEnd(kPipeCloseWait);
  return status_;
}

void ChildProcess::Stop() {
  if (pid_ <= 0 || reaped_) return;
  kill(pid_, SIGKILL);
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  reaped_ = true;
  status_ = status;
  out_->WaitForEnd(kPipeCloseWait);
  err_->WaitForEnd(kPipeCloseWait);
}

int ChildProcess::DescriptorCount() const {
  const std::string path = "/proc/" + std::to_string(pid_) + "/fd";
  DIR *d = opendir(path.c_str());
  if (d == nullptr) return -1;
  int n = 0;
  while (const dirent *e = readdir(d))
    if (e->d_name[0] != '.') ++n;
  closedir(d);
  return n;
}

long ChildProcess::ResidentKiB() const {
  std::ifstream in("/proc/" + std::to_string(pid_) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

bool ChildProcess::SetDescriptorLimit(rlim_t soft) {
  rlimit lim{};
  if (prlimit(pid_, RLIMIT_NOFILE, nullptr, &lim) != 0) return false;
  lim.rlim_cur = soft;
  return prlimit(pid_, RLIMIT_NOFILE, &lim, nullptr) == 0;
}

// ---- ServerProcess ----

ServerProcess::ServerProcess(std::function<void()> setup)
    : ServerProcess(make_listener(), "", std::move(setup)) {}

ServerProcess::ServerProcess(const std::string &dir, std::function<void()> setup)
    : ServerProcess(make_listener(), dir, std::move(setup)) {}

ServerProcess::ServerProcess(std::pair<int, std::uint16_t> listener,
                             const std::string &dir, std::function<void()> setup)
    : ChildProcess(
          [setup = std::move(setup)]() -> int {
            if (setup) setup();
            tcp1_serve(3);
          },
          listener.first, dir, kWaiting),
      port_(listener.second) {
  // Only the child serves: with the parent's copy closed, connections are
  // refused once the child is gone.
  close(listener.first);
}

ServerProcess::~ServerProcess() = default;

ifc::endpoint ServerProcess::endpoint() const {
  ifc::endpoint ep;
  ep.port = port_;
  return ep;
}

bool ServerProcess::WaitForRequests(int n, Millis timeout) {
  return WaitForMarkers(n + 1, timeout);
}

std::string ServerProcess::RequestOutput(int n) {
  const std::string text = Output();
  const int kept = n - DroppedMarkers();
  if (kept < 1) return "";
  const size_t begin = nth_occurrence(text, kWaiting, kept);
  if (begin == std::string::npos) return "";
  const size_t end = nth_occurrence(text, kWaiting, kept + 1);
  if (end == std::string::npos) return "";
  return text.substr(begin + kWaiting.size(), end - begin - kWaiting.size());
}

std::string ServerProcess::Get(std::string_view name) const {
  const ifc::get_result r = ifc::get(endpoint(), name);
  if (r.error != ifc::client_error::none) {
    return "<error: " + std::string(ifc::client_error_name(r.error)) + ": " + r.message +
           ">";
  }
  if (r.length < 0) return "<len " + std::to_string(r.length) + ">";
  return r.reply;
}

bool ServerProcess::Put(std::string_view name, std::string_view text) const {
  return ifc::put(endpoint(), name, text).error == ifc::client_error::none;
}

bool ServerProcess::PutPayload(std::string_view payload) const {
  return ifc::put_payload(endpoint(), payload).error == ifc::client_error::none;
}

int ServerProcess::LeakCheck(Millis timeout) {
  if (!Alive()) return -1;
  kill(pid(), SIGUSR1);
  const std::optional<int> status = WaitForExit(timeout);
  if (!status) return -1;
  return WIFEXITED(*status) ? WEXITSTATUS(*status) : 128 + WTERMSIG(*status);
}

void LeakCheckOnSigusr1() {
  struct sigaction sa {};
  sa.sa_handler = [](int) {
    int status = 0;
#ifdef IFCSIM_TEST_LSAN
    status = __lsan_do_recoverable_leak_check() ? 23 : 0;
#endif
    _exit(status);
  };
  sigaction(SIGUSR1, &sa, nullptr);
}

void LimitOwnDescriptors(rlim_t soft) {
  rlimit lim{};
  getrlimit(RLIMIT_NOFILE, &lim);
  lim.rlim_cur = soft;
  setrlimit(RLIMIT_NOFILE, &lim);
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
