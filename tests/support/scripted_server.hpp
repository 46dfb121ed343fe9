// A server that accepts one connection and follows a script, for clients
// facing a server that misbehaves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

// Listens on an ephemeral loopback port; a thread accepts one connection and
// runs the script on it, recording every byte the client sent.
class ScriptedServer {
 public:
  using script = std::function<void(ScriptedServer &)>;
  explicit ScriptedServer(script s);
  // A script of steps: "<N" reads N bytes, ">TEXT" sends TEXT, "." waits
  // for the client to close, "!" resets the connection.
  explicit ScriptedServer(std::vector<std::string> steps);
  // Runs such steps on s, as part of a script.
  static void Run(ScriptedServer &s, const std::vector<std::string> &steps);
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer &) = delete;
  ScriptedServer &operator=(const ScriptedServer &) = delete;

  // Waits for the script to end; then received is complete.
  void Join();
  std::uint16_t port() const { return port_; }

  // Reads n bytes (fewer on close or when no byte came for timeout_ms) and
  // records them.
  std::string Read(size_t n, int timeout_ms = 5000);
  void Send(const std::string &s);
  // Waits until the client closes, so that its time-out can run out first.
  void WaitForClose() { Read(1 << 20); }
  // Closes the connection with a reset (SO_LINGER 0).
  void Reset();

  std::string received;  // read by the test after Join

 private:
  int listen_fd_ = -1;
  int fd_ = -1;
  std::uint16_t port_ = 0;
  std::thread thread_;
};

// A loopback listener whose queue is full: the kernel drops further
// connection requests, so a connect neither succeeds nor fails in time.
class FullListener {
 public:
  FullListener();
  ~FullListener();
  FullListener(const FullListener &) = delete;
  FullListener &operator=(const FullListener &) = delete;
  std::uint16_t port() const { return port_; }

 private:
  int listener_ = -1;
  int queued_ = -1;
  std::uint16_t port_ = 0;
};

// A port on which nothing listens: bound once, then closed again.
std::uint16_t FreePort();

}  // namespace testing_support
