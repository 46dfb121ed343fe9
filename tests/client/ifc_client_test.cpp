// The protocol client against the real server loop and against scripted
// servers that misbehave.
#include "client/ifc_client.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "net/ether_com.hpp"
#include "support/server_process.hpp"

namespace {

using namespace std::string_literals;
using ifc::client_error;
using testing_support::read_file;
using testing_support::RequestHeader;
using testing_support::ServerProcess;

TEST(IfcClient, TalksToTheServer) {
  ServerProcess server;
  ifc::endpoint ep;
  ep.host = "localhost";
  ep.port = server.port();

  const ifc::get_result unknown = ifc::get(ep, "no_such_command");
  EXPECT_EQ(unknown.error, client_error::none) << unknown.message;
  EXPECT_EQ(unknown.length, -1);
  EXPECT_EQ(unknown.reply, "");

  const ifc::get_result twenty = ifc::get(ep, "IFC_get_hist_cntdatX");
  EXPECT_EQ(twenty.error, client_error::none) << twenty.message;

  const std::string big(256000 - 11, 'q');
  const struct {
    const char *name;
    std::string payload;
  } puts[] = {
      {"append_log", "append_log\0one "s},
      {"empty payload", ""},
      {"full payload", "append_log\0"s + big},
  };
  for (const auto &p : puts) {
    const ifc::put_result r = ifc::put_payload(ep, p.payload);
    EXPECT_EQ(r.error, client_error::none) << p.name << ": " << r.message;
  }
  EXPECT_EQ(ifc::put(ep, "append_log", "two").error, client_error::none);

  ASSERT_TRUE(server.WaitForRequests(6));
  EXPECT_EQ(server.RequestOutput(1),
            "connected... " + RequestHeader("GET", "no_such_command") + "\n");
  EXPECT_EQ(server.RequestOutput(2), "connected... GETIFC_get_hist_cntdatX\n");
  EXPECT_EQ(server.RequestOutput(4), "connected... " + RequestHeader("PUT", "0") + "\n");
  EXPECT_TRUE(read_file(server.file("cgi.log")) == "one " + big + "two");
}

TEST(IfcClient, RequestsThatCannotBeSentAreUsageErrors) {
  ifc::endpoint ep;
  ep.port = 1;  // never reached
  const struct {
    const char *name;
    std::function<client_error()> call;
  } cases[] = {
      {"GET name of 21 characters",
       [&] { return ifc::get(ep, std::string(21, 'n')).error; }},
      {"payload of 256001 bytes",
       [&] { return ifc::put_payload(ep, std::string(256001, 'p')).error; }},
      {"PUT name with a NUL", [&] { return ifc::put(ep, "app\0end"s, "x").error; }},
  };
  for (const auto &c : cases) EXPECT_EQ(c.call(), client_error::usage) << c.name;
}

TEST(IfcClient, NothingListeningIsAConnectError) {
  int fd = -1;
  ASSERT_EQ(ether_init(&fd, 0), 1);
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
  close(fd);  // the port is free again, and nothing listens on it
  ifc::endpoint ep;
  ep.port = ntohs(addr.sin_port);
  const ifc::get_result r = ifc::get(ep, "x");
  EXPECT_EQ(r.error, client_error::connect);
  EXPECT_NE(r.message, "");
  EXPECT_STREQ(ifc::client_error_name(r.error), "connect");
}

// A listener whose queue is full: the kernel drops further connection
// requests, so a connect neither succeeds nor fails within its wait.
TEST(IfcClient, ConnectThatTimesOutIsAConnectError) {
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&addr), len), 0);
  ASSERT_EQ(listen(listener, 0), 0);
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr *>(&addr), &len), 0);
  const int queued = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_EQ(connect(queued, reinterpret_cast<sockaddr *>(&addr), len), 0);

  ifc::endpoint ep;
  ep.port = ntohs(addr.sin_port);
  ep.timeout_ms = 300;
  const struct {
    const char *name;
    std::function<std::pair<client_error, std::string>()> call;
  } cases[] = {
      {"get",
       [&] {
         const auto r = ifc::get(ep, "IFC_get_stat");
         return std::make_pair(r.error, r.message);
       }},
      {"put",
       [&] {
         const auto r = ifc::put(ep, "append_log", "x");
         return std::make_pair(r.error, r.message);
       }},
  };
  for (const auto &c : cases) {
    const auto [error, message] = c.call();
    EXPECT_EQ(error, client_error::connect) << c.name << ": " << message;
    EXPECT_NE(message.find("within 300 ms"), std::string::npos)
        << c.name << ": " << message;
  }
  close(queued);
  close(listener);
}

// A server that accepts one connection and follows a script; it records
// every byte the client sent.
class ScriptedServer {
 public:
  using script = std::function<void(ScriptedServer &)>;
  explicit ScriptedServer(script s) {
    EXPECT_EQ(ether_init(&listen_fd_, 0), 1);
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    getsockname(listen_fd_, reinterpret_cast<sockaddr *>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this, s] {
      fd_ = accept(listen_fd_, nullptr, nullptr);
      s(*this);
      close(fd_);
    });
  }
  ~ScriptedServer() {
    Join();
    close(listen_fd_);
  }
  // Waits for the script to end; then received is complete.
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  std::uint16_t port() const { return port_; }

  // Reads n bytes (fewer on close or after 5 s) and records them.
  std::string Read(size_t n) {
    std::string got;
    while (got.size() < n) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 5000) != 1) break;
      char buf[4096];
      const ssize_t r = recv(fd_, buf, std::min(sizeof buf, n - got.size()), 0);
      if (r <= 0) break;
      got.append(buf, static_cast<size_t>(r));
    }
    received += got;
    return got;
  }
  void Send(const std::string &s) { send(fd_, s.data(), s.size(), MSG_NOSIGNAL); }
  // Waits until the client closes, so that its time-out can run out first.
  void WaitForClose() { Read(1 << 20); }

  std::string received;  // read by the test after the exchange

 private:
  int listen_fd_ = -1;
  int fd_ = -1;
  std::uint16_t port_ = 0;
  std::thread thread_;
};

TEST(IfcClient, GetAgainstScriptedServers) {
  const std::string reply2000(2000, 'r');
  const struct {
    const char *name;
    ScriptedServer::script script;
    client_error error;
    int length;
    std::string reply;
    std::string client_sent;
  } cases[] = {
      {"reply in one block",
       [](ScriptedServer &s) {
         s.Read(23);
         s.Send("LEN0000000005");
         if (s.Read(4) == "NEXT") s.Send("hello");
       },
       client_error::none, 5, "hello", RequestHeader("GET", "IFC_get_stat") + "NEXT"},
      {"reply in two blocks",
       [&](ScriptedServer &s) {
         s.Read(23);
         s.Send("LEN0000002000");
         if (s.Read(4) == "NEXT") s.Send(reply2000.substr(0, 1024));
         if (s.Read(4) == "NEXT") s.Send(reply2000.substr(1024));
       },
       client_error::none, 2000, reply2000,
       RequestHeader("GET", "IFC_get_stat") + "NEXTNEXT"},
      {"empty reply",
       [](ScriptedServer &s) {
         s.Read(23);
         s.Send("LEN0000000000");
       },
       client_error::none, 0, "", RequestHeader("GET", "IFC_get_stat")},
      {"not a length header",
       [](ScriptedServer &s) {
         s.Read(23);
         s.Send("HELLO, WORLD!");
       },
       client_error::protocol, 0, "", RequestHeader("GET", "IFC_get_stat")},
      {"length beyond what the server can send",
       [](ScriptedServer &s) {
         s.Read(23);
         s.Send("LEN0000256001");
       },
       client_error::protocol, 0, "", RequestHeader("GET", "IFC_get_stat")},
      {"close inside the reply",
       [](ScriptedServer &s) {
         s.Read(23);
         s.Send("LEN0000000005");
         if (s.Read(4) == "NEXT") s.Send("hel");
       },
       client_error::closed, 0, "", RequestHeader("GET", "IFC_get_stat") + "NEXT"},
      {"silent server",
       [](ScriptedServer &s) {
         s.Read(23);
         s.WaitForClose();
       },
       client_error::timeout, 0, "", RequestHeader("GET", "IFC_get_stat")},
  };
  for (const auto &c : cases) {
    ScriptedServer server(c.script);
    ifc::endpoint ep;
    ep.port = server.port();
    ep.timeout_ms = 300;
    const ifc::get_result r = ifc::get(ep, "IFC_get_stat");
    server.Join();
    EXPECT_EQ(server.received, c.client_sent) << c.name;
    EXPECT_EQ(r.error, c.error) << c.name << ": " << r.message;
    if (c.error == client_error::none) {
      EXPECT_EQ(r.length, c.length) << c.name;
      EXPECT_TRUE(r.reply == c.reply) << c.name;
    } else {
      EXPECT_NE(r.message, "") << c.name;
    }
  }
}

// put returns only once the server has closed after "FIN" (it closes when
// the command has run); a server that never closes is a time-out.
TEST(IfcClient, PutWaitsForTheCloseAfterFin) {
  using Clock = std::chrono::steady_clock;
  static const struct {
    const char *name;
    bool server_closes;  // else it waits for the client to go
    int timeout_ms;
    client_error error;
  } cases[] = {
      {"close after the command ran", true, 5000, client_error::none},
      {"server stays open", false, 300, client_error::timeout},
  };
  for (const auto &c : cases) {
    std::atomic<bool> command_ran{false};
    const bool closes = c.server_closes;
    ScriptedServer server([&command_ran, closes](ScriptedServer &s) {
      s.Read(23);
      s.Send("NEXT");
      s.Read(5);
      s.Send("FIN");
      if (closes) {
        // The command takes a while; the close comes after it.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        command_ran = true;
      } else {
        s.WaitForClose();
      }
    });
    ifc::endpoint ep;
    ep.port = server.port();
    ep.timeout_ms = c.timeout_ms;
    const auto start = Clock::now();
    const ifc::put_result r = ifc::put(ep, "cmd", "x");
    const auto took = Clock::now() - start;
    const bool ran_before_return = command_ran;
    server.Join();
    EXPECT_EQ(r.error, c.error) << c.name << ": " << r.message;
    if (c.server_closes) {
      EXPECT_TRUE(ran_before_return) << c.name;
    } else {
      EXPECT_GE(took, std::chrono::milliseconds(300)) << c.name;
      EXPECT_LT(took, std::chrono::seconds(3)) << c.name << ": bounded by the time-out";
    }
  }
}

// Against the real server: once put returns, the command's effect is there.
TEST(IfcClient, PutReturnsAfterTheServerRanTheCommand) {
  ServerProcess server;
  ifc::endpoint ep;
  ep.port = server.port();
  std::string log;
  for (const char *text : {"first ", "second ", "third"}) {
    ASSERT_EQ(ifc::put(ep, "append_log", text).error, client_error::none) << text;
    log += text;
    EXPECT_EQ(read_file(server.file("cgi.log")), log) << text;
  }
}

TEST(IfcClient, PutAgainstScriptedServers) {
  static const struct {
    const char *name;
    ScriptedServer::script script;
    client_error error;
    std::string client_sent;
  } cases[] = {
      {"taken",
       [](ScriptedServer &s) {
         s.Read(23);
         s.Send("NEXT");
         s.Read(5);
         s.Send("FIN");
       },
       client_error::none, RequestHeader("PUT", "5") + "cmd\0x"s},
      {"length refused",
       [](ScriptedServer &s) {
         s.Read(23);
         s.Send("ERR!");
       },
       client_error::refused, RequestHeader("PUT", "5")},
      {"closed without FIN",
       [](ScriptedServer &s) {
         s.Read(23);
         s.Send("NEXT");
         s.Read(5);
       },
       client_error::closed, RequestHeader("PUT", "5") + "cmd\0x"s},
      {"something else than FIN",
       [](ScriptedServer &s) {
         s.Read(23);
         s.Send("NEXT");
         s.Read(5);
         s.Send("BYE");
       },
       client_error::protocol, RequestHeader("PUT", "5") + "cmd\0x"s},
      {"something else than NEXT",
       [](ScriptedServer &s) {
         s.Read(23);
         s.Send("next");
       },
       client_error::protocol, RequestHeader("PUT", "5")},
      {"no NEXT in time",
       [](ScriptedServer &s) {
         s.Read(23);
         s.WaitForClose();
       },
       client_error::timeout, RequestHeader("PUT", "5")},
  };
  for (const auto &c : cases) {
    ScriptedServer server(c.script);
    ifc::endpoint ep;
    ep.port = server.port();
    ep.timeout_ms = 300;
    const ifc::put_result r = ifc::put(ep, "cmd", "x");
    server.Join();
    EXPECT_EQ(server.received, c.client_sent) << c.name;
    EXPECT_EQ(r.error, c.error) << c.name << ": " << r.message;
    if (c.error != client_error::none) {
      EXPECT_NE(r.message, "") << c.name;
    }
  }
}

}  // namespace
