// The server loop in a forked child, the project's client aimed at it, /proc
// probes of the child, and raw connections to script misbehaving clients.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "client/ifc_client.hpp"
#include "support/temp_dir.hpp"

namespace testing_support {

using Millis = std::chrono::milliseconds;
inline constexpr Millis kDefaultWait{10000};

// Runs body() in a forked child whose working directory is a fresh temporary
// directory (or the one given) and whose stdout and stderr go into pipes that
// reader threads drain at once, so that a chatty child never blocks on a full
// pipe; of each stream the newest 4 MiB are kept. stdin reads /dev/null and
// no other descriptor is open. The child dies with the parent
// (PR_SET_PDEATHSIG) and exits with body's result. The destructor kills it
// and removes the directory it made.
class ChildProcess {
 public:
  explicit ChildProcess(std::function<int()> body);
  virtual ~ChildProcess();
  ChildProcess(const ChildProcess &) = delete;
  ChildProcess &operator=(const ChildProcess &) = delete;

  pid_t pid() const { return pid_; }
  // The child's working directory, and a file in it.
  const std::string &dir() const { return dir_; }
  std::string file(const std::string &name) const { return dir_ + "/" + name; }

  // What the child has written to stdout so far (as far as it has been read).
  std::string Output();
  // Waits until stdout holds needle at least `times` times, the child's
  // stdout closes or the timeout passes; returns what was written in any case.
  std::string WaitForOutput(std::string_view needle, Millis timeout = kDefaultWait,
                            int times = 1);
  // The same for stderr.
  std::string Stderr();
  std::string WaitForStderr(std::string_view needle, Millis timeout = kDefaultWait,
                            int times = 1);

  // Whether the child is still running (false once it has been reaped).
  bool Alive();
  // Waits for the child to end; its wait status, or nullopt on time-out.
  // Once it has ended, everything it wrote has been read.
  std::optional<int> WaitForExit(Millis timeout = kDefaultWait);
  // Kills the child (SIGKILL) and reaps it. Safe to call twice.
  void Stop();

  // Open descriptors and resident memory (KiB) of the child; -1 when gone.
  int DescriptorCount() const;
  long ResidentKiB() const;
  // Sets the child's soft RLIMIT_NOFILE from outside; false on failure.
  bool SetDescriptorLimit(rlim_t soft);

 protected:
  // keep_fd (not 0, 1 or 2) is descriptor 3 in the child; every other
  // descriptor above 2 is closed. work_dir, unless empty, is the child's
  // working directory instead of a fresh one; it is left in place.
  // marker: text counted in stdout as it streams by (see MarkerCount).
  ChildProcess(std::function<int()> body, int keep_fd, const std::string &work_dir,
               std::string_view marker);

  class Stream;
  // Occurrences of the marker in everything the child wrote to stdout, also
  // in text no longer kept, and those in the dropped part alone.
  int MarkerCount();
  int DroppedMarkers();
  // Waits until MarkerCount() >= n; false on time-out or when stdout closed first.
  bool WaitForMarkers(int n, Millis timeout);

 private:
  std::optional<TempDir> own_dir_;
  std::string dir_;
  pid_t pid_ = -1;
  bool reaped_ = false;
  int status_ = 0;
  std::unique_ptr<Stream> out_;
  std::unique_ptr<Stream> err_;
};

// The server loop (tcp1_serve) in a ChildProcess, listening on an ephemeral
// port of all local IPv4 addresses. The listening socket is made in the
// parent, so the port accepts connections as soon as the constructor returns.
// setup, if given, runs in the child before the loop (e.g. to set a debug
// switch, a resource limit, or LeakCheckOnSigusr1).
class ServerProcess : public ChildProcess {
 public:
  explicit ServerProcess(std::function<void()> setup = {});
  // Serves in dir, which stays when the server ends: for a test that starts
  // the server again on the files another one left.
  explicit ServerProcess(const std::string &dir, std::function<void()> setup = {});
  ~ServerProcess() override;

  std::uint16_t port() const { return port_; }
  // Where the project's client reaches this server.
  ifc::endpoint endpoint() const;

  // The loop prints "waiting... " before every accept (while deb_tcp1_main is
  // set). Waits until n requests have been finished since the start, i.e. the
  // server is back at accept after the n-th one; false on time-out.
  bool WaitForRequests(int n, Millis timeout = kDefaultWait);
  // What the server printed while serving request n (1-based): the text
  // between the n-th and the (n+1)-th "waiting... ". Call after
  // WaitForRequests(n); "" when that request has not finished (or its text
  // is no longer kept).
  std::string RequestOutput(int n);

  // One GET through the project's client: the reply, "<len -1>" for a name
  // the server does not know, or "<error: ...>" when the exchange failed.
  std::string Get(std::string_view name) const;
  // One PUT through the project's client; true when the server took it.
  bool Put(std::string_view name, std::string_view text) const;
  bool PutPayload(std::string_view payload) const;

  // With LeakCheckOnSigusr1 in the setup: makes the child run LeakSanitizer
  // and exit. Its exit status (0 clean, 23 leaks found, 128 + signal when
  // killed), or -1 when it did not end in time.
  int LeakCheck(Millis timeout = Millis(60000));

 private:
  ServerProcess(std::pair<int, std::uint16_t> listener, const std::string &dir,
                std::function<void()> setup);
  std::uint16_t port_;
};

// For a server's setup: SIGUSR1 makes the process run LeakSanitizer (where it
// is built in) and exit, with status 23 when it found leaks, else 0.
void LeakCheckOnSigusr1();

// For a child's setup: lowers the soft RLIMIT_NOFILE of the calling process.
void LimitOwnDescriptors(rlim_t soft);

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
// The header of a PUT of len payload bytes.
std::string PutHeader(size_t len);

// The local port of a socket.
std::uint16_t LocalPort(int fd);

// Counts the non-overlapping occurrences of needle (not empty) in text.
int CountOccurrences(std::string_view text, std::string_view needle);

}  // namespace testing_support
