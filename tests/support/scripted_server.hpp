// A server that accepts one connection and follows a script, for clients
// facing a server that misbehaves.
#pragma once

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

// Listens on an ephemeral port; a thread accepts one connection, runs the
// steps on it and closes it, recording every byte the client sent. Steps:
// "<N" reads N bytes (fewer on close or after 5 s of silence), ">TEXT" sends
// TEXT (a send that fails ends the script), "=N" pauses N ms, "." waits for
// the client to close, "!" resets.
class ScriptedServer {
 public:
  explicit ScriptedServer(std::vector<std::string> steps);
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer &) = delete;
  ScriptedServer &operator=(const ScriptedServer &) = delete;

  // Waits for the script to end; then received is complete.
  void Join();
  std::uint16_t port() const { return port_; }

  std::string received;  // read by the test after Join

 private:
  void Read(size_t n);
  void Step(const std::string &step);

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
