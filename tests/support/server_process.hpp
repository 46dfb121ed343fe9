// The server loop in a forked child, and raw connections to script clients.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "support/temp_dir.hpp"

namespace testing_support {

using Millis = std::chrono::milliseconds;
inline constexpr Millis kDefaultWait{10000};

// Runs body() in a forked child whose working directory is a fresh temporary
// directory and whose stdout and stderr go into pipes that the test reads;
// stdin reads /dev/null and no other descriptor is open. The child dies with
// the parent (PR_SET_PDEATHSIG) and exits with body's result. The destructor
// kills it and removes the directory.
class ChildProcess {
 public:
  explicit ChildProcess(std::function<int()> body);
  virtual ~ChildProcess();
  ChildProcess(const ChildProcess &) = delete;
  ChildProcess &operator=(const ChildProcess &) = delete;

  pid_t pid() const { return pid_; }
  // The child's working directory, and a file in it.
  const std::string &dir() const { return dir_.path(); }
  std::string file(const std::string &name) const { return dir_.file(name); }

  // Everything the child has written to stdout so far, without waiting.
  std::string Output();
  // Waits until stdout contains needle, the child's stdout closes or the
  // timeout passes; returns everything written so far in any case.
  std::string WaitForOutput(std::string_view needle, Millis timeout = kDefaultWait);
  // The same for stderr.
  std::string Stderr();
  std::string WaitForStderr(std::string_view needle, Millis timeout = kDefaultWait);

  // Waits for the child to end; its wait status, or nullopt on time-out.
  std::optional<int> WaitForExit(Millis timeout = kDefaultWait);
  // Kills the child (SIGKILL) and reaps it. Safe to call twice.
  void Stop();

 protected:
  // keep_fd (not 0, 1 or 2) is descriptor 3 in the child; every other
  // descriptor above 2 is closed.
  ChildProcess(std::function<int()> body, int keep_fd);
  // Waits up to timeout for more stdout; false once stdout has closed.
  bool PumpOutput(Millis timeout) { return Pump(out_, timeout); }

 private:
  struct stream {
    int fd = -1;
    std::string text;
  };
  // Reads what is there; waits up to timeout for more. False at EOF.
  bool Pump(stream &s, Millis timeout);
  std::string WaitFor(stream &s, std::string_view needle, Millis timeout);

  TempDir dir_;
  pid_t pid_ = -1;
  bool reaped_ = false;
  int status_ = 0;
  stream out_;
  stream err_;
};

// The server loop (tcp1_serve) in a ChildProcess, listening on an ephemeral
// port of all local IPv4 addresses. The listening socket is made in the
// parent, so the port accepts connections as soon as the constructor returns.
// setup, if given, runs in the child before the loop (e.g. to set a debug
// switch or a resource limit).
class ServerProcess : public ChildProcess {
 public:
  explicit ServerProcess(std::function<void()> setup = {});
  ~ServerProcess() override;

  std::uint16_t port() const { return port_; }

  // The loop prints "waiting... " before every accept (while deb_tcp1_main is
  // set). Waits until n requests have been finished since the start, i.e. the
  // server is back at accept after the n-th one; false on time-out.
  bool WaitForRequests(int n, Millis timeout = kDefaultWait);
  // What the server printed while serving request n (1-based): the text
  // between the n-th and the (n+1)-th "waiting... ". Call after
  // WaitForRequests(n); "" when that request has not finished.
  std::string RequestOutput(int n);

 private:
  ServerProcess(std::pair<int, std::uint16_t> listener, std::function<void()> setup);
  std::uint16_t port_;
};

// A client connection to 127.0.0.1:port for scripting the protocol byte by
// byte. Every wait is bounded.
class RawConnection {
 public:
  // Connects; connected() tells whether that worked.
  explicit RawConnection(std::uint16_t port, Millis timeout = kDefaultWait);
  ~RawConnection();
  RawConnection(const RawConnection &) = delete;
  RawConnection &operator=(const RawConnection &) = delete;

  bool connected() const { return fd_ >= 0; }
  int fd() const { return fd_; }

  // Sends all bytes; false when the connection fails.
  bool Send(std::string_view bytes);
  // Reads exactly n bytes, or fewer when the peer closes or timeout passes
  // (closed() then tells which).
  std::string Read(size_t n, Millis timeout = kDefaultWait);
  // Reads until the peer closes; the bytes that came before the close, or
  // nullopt when the connection is still open after timeout.
  std::optional<std::string> ReadToClose(Millis timeout = kDefaultWait);
  // True once a read saw the end of the stream (or a reset).
  bool closed() const { return closed_; }

  // Half-closes the sending side (the peer reads end of stream).
  void ShutdownWrite();
  // Closes with SO_LINGER 0, so the peer gets a reset.
  void Reset();
  void Close();

 private:
  int fd_ = -1;
  bool closed_ = false;
};

// One accepted TCP connection on 127.0.0.1 inside the test process: server()
// is the accepted side, switched to non-blocking mode as the loop does, for
// calling the transfer routines on; peer() is the client end.
class ConnectedPair {
 public:
  ConnectedPair();
  ~ConnectedPair();
  ConnectedPair(const ConnectedPair &) = delete;
  ConnectedPair &operator=(const ConnectedPair &) = delete;

  int server() const { return server_; }
  RawConnection &peer() { return *peer_; }

 private:
  std::unique_ptr<RawConnection> peer_;
  int server_ = -1;
};

// A 23-byte request header: the verb, then field filled with blanks.
std::string RequestHeader(std::string_view verb, std::string_view field);

// The local port of a socket.
std::uint16_t LocalPort(int fd);

// Counts the non-overlapping occurrences of needle in text.
int CountOccurrences(std::string_view text, std::string_view needle);

}  // namespace testing_support
