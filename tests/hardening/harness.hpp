// Test harness of the hardening tests: the real server loop in a forked child
// (its own working directory, an ephemeral port, stdout and stderr captured
// by a reader thread), /proc probes of the child, and raw client sockets that
// can misbehave in every way a peer can.
//
// Waits are bounded and event driven: the server prints "waiting... " before
// every accept, so a test knows that a connection has been dealt with when
// that text has appeared one more time.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace hardening {

inline constexpr char kWaiting[] = "waiting... ";

struct server_options {
  // When nonzero, the soft RLIMIT_NOFILE of the child. The child holds
  // descriptors 0 to 3 (3: the listening socket), so 4 makes every accept
  // fail and 5 leaves one descriptor for the connection and none for a file.
  rlim_t nofile = 0;
  // SIGUSR1 makes the child run LeakSanitizer (where built in) and exit:
  // status 0 clean, 23 leaks found.
  bool leak_check_on_usr1 = false;
};

// Captures one pipe in a thread: keeps the text (the oldest part is dropped
// past a few MiB) and counts "waiting... " as it streams by.
class capture {
 public:
  explicit capture(int fd);
  ~capture();
  capture(const capture &) = delete;
  capture &operator=(const capture &) = delete;

  std::string text();
  std::size_t waiting_count();
  // Number of occurrences of s in the kept text.
  std::size_t count(std::string_view s);
  // Waits until the kept text holds s at least n times.
  bool wait_for(std::string_view s, std::size_t n, int timeout_ms);
  // Waits until "waiting... " has appeared at least n times.
  bool wait_waiting(std::size_t n, int timeout_ms);

 private:
  void run();
  int fd_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::string text_;
  std::string tail_;  // last bytes seen, for a count across chunk borders
  std::size_t waiting_ = 0;
  bool eof_ = false;
  std::thread thread_;
};

class server {
 public:
  // Starts the loop in a child whose working directory is dir.
  explicit server(const std::string &dir, server_options opt = {});
  ~server();
  server(const server &) = delete;
  server &operator=(const server &) = delete;

  std::uint16_t port() const { return port_; }
  pid_t pid() const { return pid_; }
  capture &out() { return *out_; }
  capture &err() { return *err_; }

  // Waits until the server has printed "waiting... " n times in all, that is
  // until it has finished with n - 1 connections and sits in accept.
  bool wait_idle(std::size_t n, int timeout_ms = 15000) {
    return out_->wait_waiting(n, timeout_ms);
  }
  std::size_t waiting_count() { return out_->waiting_count(); }

  // Open descriptors and resident memory (KiB) of the child; -1 when gone.
  int fd_count() const;
  long rss_kib() const;
  bool alive();

  // Waits for the child to end by itself; its wait status, or -1 on time-out.
  int wait_exit(int timeout_ms);
  // SIGUSR1 (see server_options) and the exit status; -1 on time-out.
  int leak_check(int timeout_ms = 60000);
  // Ends the child (SIGKILL) and reaps it.
  void stop();
  // Changes the child's soft RLIMIT_NOFILE from outside; false on failure.
  bool set_nofile(rlim_t soft);

 private:
  pid_t pid_ = -1;
  int status_ = -1;
  std::uint16_t port_ = 0;
  capture *out_ = nullptr;
  capture *err_ = nullptr;
};

// ---- raw client side (IPv4 loopback) ----

// A connected socket, or -1. The connect waits at most timeout_ms.
int connect_to(std::uint16_t port, int timeout_ms = 5000);
bool send_all(int fd, std::string_view bytes);
// Reads until n bytes, end of stream or timeout_ms without data.
std::string recv_some(int fd, std::size_t n, int timeout_ms = 5000);
// Reads until the peer closes; false when timeout_ms passed first.
bool recv_until_close(int fd, std::string &got, int timeout_ms = 5000);
// Closes with SO_LINGER 0: the peer gets a reset, not an orderly close.
void reset_close(int fd);

// "GET" and the name filled with blanks to 20 bytes.
std::string get_header(std::string_view name);
// "PUT" and the decimal length, left-aligned in 20 bytes.
std::string put_header(std::size_t len);

// A whole well-behaved GET: reply text, or "<error: ...>" on any deviation
// from the protocol. An unknown name gives "<len -1>".
std::string get(std::uint16_t port, std::string_view name);
// A whole well-behaved PUT of name, NUL, text; true when "FIN" came.
bool put(std::uint16_t port, std::string_view name, std::string_view text);
// A PUT of exactly these payload bytes; true when "FIN" came.
bool put_payload(std::uint16_t port, std::string_view payload);

}  // namespace hardening
