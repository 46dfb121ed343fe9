// Misbehaving clients, one after the other against one server process: after
// each one the server must be back at accept and answer a normal request
// correctly. Time-out cases are in misbehave_slow_test.cpp.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "hardening/harness.hpp"
#include "support/temp_dir.hpp"

namespace hardening {
namespace {

using testing_support::TempDir;

constexpr char kNormalName[] = "IFC_get_Tot_Twt_1";
constexpr char kNormalReply[] = "to:90 tw:240 ";

std::string payload(std::string_view name, std::string_view text) {
  std::string p(name);
  p.push_back('\0');
  p.append(text);
  return p;
}

// What a client saw of one exchange: every byte until the server closed.
struct seen {
  std::string bytes;
  bool closed = false;
};

seen send_and_drain(std::uint16_t port, std::string_view bytes) {
  seen s;
  int fd = connect_to(port);
  if (fd < 0) return s;
  send_all(fd, bytes);
  s.closed = recv_until_close(fd, s.bytes);
  close(fd);
  return s;
}

// A PUT whose client answers each "NEXT" with the next block, then reads to
// the close; returns what came after the last block (e.g. "FIN").
seen put_stepwise(std::uint16_t port, std::string_view header, std::string_view body) {
  seen s;
  int fd = connect_to(port);
  if (fd < 0) return s;
  send_all(fd, header);
  for (std::size_t off = 0; off < body.size(); off += 1024) {
    std::string next = recv_some(fd, 4);
    if (next != "NEXT") {
      s.bytes = next;
      s.closed = recv_until_close(fd, s.bytes);
      close(fd);
      return s;
    }
    send_all(fd, body.substr(off, 1024));
  }
  s.closed = recv_until_close(fd, s.bytes);
  close(fd);
  return s;
}

struct scenario {
  const char *name;
  // Connections the scenario opens, each of which ends in one more
  // "waiting... ".
  int connections;
  // A line the server must print for it (nullptr: none checked).
  const char *printed;
  void (*run)(std::uint16_t port, const char *name, const std::string &dir);
  // Checks made once the server is back at accept (nullptr: none).
  void (*after)(const char *name, const std::string &dir) = nullptr;
};

// Size of "cgi.log" before a payload that must not run.
std::size_t log_before = 0;

std::size_t log_size(const std::string &dir) {
  return testing_support::read_file(dir + "/cgi.log").size();
}

void log_unchanged(const char *name, const std::string &dir) {
  EXPECT_EQ(log_size(dir), log_before) << name << ": a cut payload ran";
}

const scenario kScenarios[] = {
    {"connect and close at once", 1, "error: command len",
     [](std::uint16_t port, const char *name, const std::string &) {
       int fd = connect_to(port);
       EXPECT_GE(fd, 0) << name;
       close(fd);
     }},
    {"connect and reset at once", 1, nullptr,
     [](std::uint16_t port, const char *, const std::string &) {
       reset_close(connect_to(port));
     }},
    {"lower-case verb", 1, "error: UNKNOWN COMMAND",
     [](std::uint16_t port, const char *name, const std::string &) {
       seen s = send_and_drain(port, "get" + get_header(kNormalName).substr(3));
       EXPECT_TRUE(s.closed) << name;
       EXPECT_EQ(s.bytes, "") << name;
     }},
    {"unknown verb", 1, "error: UNKNOWN COMMAND",
     [](std::uint16_t port, const char *name, const std::string &) {
       seen s = send_and_drain(port, "DEL" + get_header(kNormalName).substr(3));
       EXPECT_EQ(s.bytes, "") << name;
     }},
    {"NUL inside the name", 1, nullptr,
     [](std::uint16_t port, const char *name, const std::string &) {
       std::string h = get_header(kNormalName);
       h[3 + 7] = '\0';
       seen s = send_and_drain(port, h);
       EXPECT_EQ(s.bytes, "LEN-000000001") << name;
     }},
    {"name filled with NULs", 1, nullptr,
     [](std::uint16_t port, const char *name, const std::string &) {
       std::string h = "GET" + std::string(kNormalName);
       h.append(23 - h.size(), '\0');
       seen s = send_and_drain(port, h);
       EXPECT_EQ(s.bytes, "LEN-000000001") << name;
     }},
    {"binary header", 1, "error: UNKNOWN COMMAND",
     [](std::uint16_t port, const char *name, const std::string &) {
       std::string h;
       for (int i = 0; i < 23; ++i) h.push_back(static_cast<char>(0xff - i * 7));
       seen s = send_and_drain(port, h);
       EXPECT_EQ(s.bytes, "") << name;
     }},
    {"PUT length 256000", 1, nullptr,
     [](std::uint16_t port, const char *name, const std::string &dir) {
       std::string body = payload("append_log", std::string(256000 - 11, 'x'));
       seen s = put_stepwise(port, put_header(body.size()), body);
       EXPECT_EQ(s.bytes, "FIN") << name;
       EXPECT_EQ(log_size(dir), 256000u - 11) << name;
     }},
    {"PUT length 256001", 1, "error: TOO BIG DATA",
     [](std::uint16_t port, const char *name, const std::string &) {
       seen s = send_and_drain(port, put_header(256001));
       EXPECT_EQ(s.bytes, "ERR!") << name;
     }},
    {"PUT length -1", 1, "error: TOO BIG DATA",
     [](std::uint16_t port, const char *name, const std::string &) {
       seen s = send_and_drain(port, "PUT-1                  ");
       EXPECT_EQ(s.bytes, "ERR!") << name;
     }},
    {"PUT length of blanks", 1, nullptr,
     [](std::uint16_t port, const char *name, const std::string &) {
       seen s = send_and_drain(port, "PUT" + std::string(20, ' '));
       EXPECT_EQ(s.bytes, "FIN") << name;
     }},
    {"PUT length without digits", 1, nullptr,
     [](std::uint16_t port, const char *name, const std::string &) {
       seen s = send_and_drain(port, "PUTabc                 ");
       EXPECT_EQ(s.bytes, "FIN") << name;
     }},
    {"PUT length of twenty digits", 1, "error: TOO BIG DATA",
     [](std::uint16_t port, const char *name, const std::string &) {
       seen s = send_and_drain(port, "PUT" + std::string(20, '9'));
       EXPECT_EQ(s.bytes, "ERR!") << name;
     }},
    {"PUT length 2^32 + 5 (wraps to 5 in 32 bits)", 1, "error: TOO BIG DATA",
     [](std::uint16_t port, const char *name, const std::string &) {
       seen s = send_and_drain(port, "PUT4294967301          ");
       EXPECT_EQ(s.bytes, "ERR!") << name;
     }},
    {"PUT length after blanks and a plus sign", 1, nullptr,
     [](std::uint16_t port, const char *name, const std::string &) {
       std::string body = payload("append_log", "");
       std::string h = "PUT   +" + std::to_string(body.size());
       h.append(23 - h.size(), ' ');
       seen s = put_stepwise(port, h, body);
       EXPECT_EQ(s.bytes, "FIN") << name;
     }},
    {"header and payload sent all at once", 1, nullptr,
     [](std::uint16_t port, const char *name, const std::string &dir) {
       std::string body = payload("append_log", std::string(3000, 'y'));
       std::size_t before = log_size(dir);
       seen s = send_and_drain(port, put_header(body.size()) + body);
       EXPECT_EQ(s.bytes, "NEXTNEXTNEXTFIN") << name;
       EXPECT_EQ(log_size(dir), before + 3000) << name;
     }},
    {"bytes beyond the payload", 1, nullptr,
     [](std::uint16_t port, const char *name, const std::string &dir) {
       std::string body = payload("append_log", "z");
       std::size_t before = log_size(dir);
       seen s = send_and_drain(port, put_header(body.size()) + body + "trailing junk");
       EXPECT_NE(s.bytes.find("FIN"), std::string::npos) << name;
       EXPECT_EQ(log_size(dir), before + 1) << name;
     }},
    {"close in the middle of a payload", 1, nullptr,
     [](std::uint16_t port, const char *name, const std::string &dir) {
       log_before = log_size(dir);
       int fd = connect_to(port);
       send_all(fd, put_header(2000));
       EXPECT_EQ(recv_some(fd, 4), "NEXT") << name;
       send_all(fd, payload("append_log", std::string(500, 'q')));
       close(fd);
     },
     log_unchanged},
    {"reset in the middle of a payload", 1, nullptr,
     [](std::uint16_t port, const char *name, const std::string &dir) {
       log_before = log_size(dir);
       int fd = connect_to(port);
       send_all(fd, put_header(2000));
       EXPECT_EQ(recv_some(fd, 4), "NEXT") << name;
       send_all(fd, payload("append_log", std::string(1100, 'r')));
       reset_close(fd);
     },
     log_unchanged},
    {"payload without a NUL", 1, "COMMAND END not found",
     [](std::uint16_t port, const char *name, const std::string &) {
       EXPECT_TRUE(put_payload(port, "IFC_set_to_tw_1")) << name;
     }},
    {"payload with a NUL at byte 0", 1, "not found",
     [](std::uint16_t port, const char *name, const std::string &) {
       EXPECT_TRUE(put_payload(port, std::string("\0append_log", 11))) << name;
     }},
    {"payload with its only NUL at the last byte", 1, nullptr,
     [](std::uint16_t port, const char *name, const std::string &dir) {
       std::size_t before = log_size(dir);
       EXPECT_TRUE(put_payload(port, std::string("append_log\0", 11))) << name;
       EXPECT_EQ(log_size(dir), before) << name;
     }},
    {"\"next\" in place of \"NEXT\"", 1, "can't found \"NEXT\"",
     [](std::uint16_t port, const char *name, const std::string &) {
       seen s = send_and_drain(port, get_header(kNormalName) + "next");
       EXPECT_EQ(s.bytes, "LEN0000000013") << name;
     }},
    {"\"NEXT\" and a NUL, five bytes", 1, nullptr,
     [](std::uint16_t port, const char *name, const std::string &) {
       seen s = send_and_drain(port, get_header(kNormalName) + std::string("NEXT\0", 5));
       // One block is all this reply has; the stray NUL is never read.
       EXPECT_EQ(s.bytes, std::string("LEN0000000013") + kNormalReply) << name;
     }},
    {"\"NEXX\" in place of \"NEXT\"", 1, "can't found \"NEXT\"",
     [](std::uint16_t port, const char *name, const std::string &) {
       seen s = send_and_drain(port, get_header(kNormalName) + "NEXX");
       EXPECT_EQ(s.bytes, "LEN0000000013") << name;
     }},
    {"write side shut after a GET header", 1, nullptr,
     [](std::uint16_t port, const char *name, const std::string &) {
       int fd = connect_to(port);
       send_all(fd, get_header(kNormalName));
       shutdown(fd, SHUT_WR);
       std::string got;
       EXPECT_TRUE(recv_until_close(fd, got)) << name;
       EXPECT_EQ(got, "LEN0000000013") << name;
       close(fd);
     }},
    {"close before reading the length header", 1, nullptr,
     [](std::uint16_t port, const char *, const std::string &) {
       int fd = connect_to(port);
       send_all(fd, get_header(kNormalName));
       close(fd);
     }},
    {"reset after the length header", 1, nullptr,
     [](std::uint16_t port, const char *name, const std::string &) {
       int fd = connect_to(port);
       send_all(fd, get_header(kNormalName));
       EXPECT_EQ(recv_some(fd, 13), "LEN0000000013") << name;
       reset_close(fd);
     }},
    {"\"NEXT\" then a reset before the block is read", 1, nullptr,
     [](std::uint16_t port, const char *, const std::string &) {
       int fd = connect_to(port);
       send_all(fd, get_header(kNormalName) + "NEXT");
       reset_close(fd);
     }},
    {"header one byte per send", 1, nullptr,
     [](std::uint16_t port, const char *name, const std::string &) {
       int fd = connect_to(port);
       int one = 1;
       setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
       for (char c : get_header(kNormalName) + "NEXT") send_all(fd, std::string(1, c));
       std::string got;
       EXPECT_TRUE(recv_until_close(fd, got)) << name;
       EXPECT_EQ(got, std::string("LEN0000000013") + kNormalReply) << name;
       close(fd);
     }},
    {"100 KB of garbage", 1, nullptr,
     [](std::uint16_t port, const char *, const std::string &) {
       std::string junk;
       for (int i = 0; i < 100000; ++i) junk.push_back(static_cast<char>(i * 31 + 7));
       send_and_drain(port, "GET" + junk);
     }},
    {"unknown GET name", 1, nullptr,
     [](std::uint16_t port, const char *name, const std::string &) {
       EXPECT_EQ(get(port, "IFC_get_nothing"), "<len -1>") << name;
     }},
    {"name one character too long for the field", 1, nullptr,
     [](std::uint16_t port, const char *name, const std::string &) {
       std::string h = "GET" + std::string(kNormalName) + "xxx";
       seen s = send_and_drain(port, h.substr(0, 23));
       EXPECT_EQ(s.bytes, "LEN-000000001") << name;
     }},
};

TEST(Misbehave, EachScenarioLeavesTheServerServing) {
  TempDir dir;
  server srv(dir.path());
  ASSERT_TRUE(srv.wait_idle(1));
  ASSERT_EQ(get(srv.port(), kNormalName), kNormalReply);
  std::size_t waits = 2;
  ASSERT_TRUE(srv.wait_idle(waits));
  const int fds = srv.fd_count();

  for (const scenario &c : kScenarios) {
    std::size_t printed_before = c.printed ? srv.out().count(c.printed) : 0;
    c.run(srv.port(), c.name, dir.path());
    waits += static_cast<std::size_t>(c.connections);
    ASSERT_TRUE(srv.wait_idle(waits)) << c.name << "\n" << srv.out().text();
    if (c.printed) {
      EXPECT_EQ(srv.out().count(c.printed), printed_before + 1) << c.name;
    }
    if (c.after) c.after(c.name, dir.path());

    EXPECT_EQ(get(srv.port(), kNormalName), kNormalReply) << c.name;
    ASSERT_TRUE(srv.wait_idle(++waits)) << c.name;
    EXPECT_EQ(srv.fd_count(), fds) << c.name;
  }
  EXPECT_TRUE(srv.alive());
  EXPECT_GE(sizeof kScenarios / sizeof kScenarios[0], 25u);
}

// A reset in the middle of a reply or of a payload, a thousand times each:
// the process stays up and holds no descriptor more than before.
TEST(Misbehave, ThousandResetsLeakNoDescriptor) {
  TempDir dir;
  server srv(dir.path());
  ASSERT_EQ(get(srv.port(), kNormalName), kNormalReply);
  std::size_t waits = 2;
  ASSERT_TRUE(srv.wait_idle(waits));
  const int fds = srv.fd_count();

  static const struct {
    const char *name;
    bool put;
  } cases[] = {{"reset in a GET reply", false}, {"reset in a PUT payload", true}};
  for (const auto &c : cases) {
    for (int i = 0; i < 1000; ++i) {
      int fd = connect_to(srv.port());
      ASSERT_GE(fd, 0) << c.name << " #" << i;
      if (c.put) {
        send_all(fd, put_header(3000));
        ASSERT_EQ(recv_some(fd, 4), "NEXT") << c.name << " #" << i;
        send_all(fd, payload("append_log", std::string(1500, 'p')));
      } else {
        send_all(fd, get_header(kNormalName));
        ASSERT_EQ(recv_some(fd, 13), "LEN0000000013") << c.name << " #" << i;
      }
      reset_close(fd);
      ASSERT_TRUE(srv.wait_idle(++waits)) << c.name << " #" << i;
    }
    EXPECT_TRUE(srv.alive()) << c.name;
    EXPECT_EQ(srv.fd_count(), fds) << c.name;
    EXPECT_EQ(get(srv.port(), kNormalName), kNormalReply) << c.name;
    ASSERT_TRUE(srv.wait_idle(++waits)) << c.name;
  }
  EXPECT_FALSE(testing_support::file_exists(dir.file("cgi.log")))
      << "a payload cut by a reset ran";
}

// More clients at once than the backlog of 5 holds: each one is served
// correctly or refused by the kernel (never answered wrongly), and the
// server is still serving afterwards.
TEST(Misbehave, MoreParallelClientsThanTheBacklog) {
  TempDir dir;
  server srv(dir.path());
  ASSERT_EQ(get(srv.port(), kNormalName), kNormalReply);

  constexpr int kClients = 40;
  std::vector<std::string> replies(kClients);
  std::vector<std::thread> threads;
  for (int i = 0; i < kClients; ++i)
    threads.emplace_back([&, i] { replies[i] = get(srv.port(), kNormalName); });
  for (std::thread &t : threads) t.join();

  int served = 0;
  for (int i = 0; i < kClients; ++i) {
    if (replies[i] == kNormalReply) {
      ++served;
    } else {
      // A refused or timed-out connect is the kernel's doing; a wrong or cut
      // reply would be the server's.
      EXPECT_EQ(replies[i], "<error: connect>") << "client " << i;
    }
  }
  EXPECT_GT(served, 0);
  EXPECT_EQ(get(srv.port(), kNormalName), kNormalReply);
  EXPECT_TRUE(srv.alive());
}

// accept fails while the descriptor table is full (EMFILE); once a
// descriptor is free again, the client that waited in the backlog is served.
TEST(Misbehave, DescriptorExhaustionThenRecovery) {
  TempDir dir;
  server_options opt;
  opt.nofile = 4;
  server srv(dir.path(), opt);
  ASSERT_TRUE(srv.wait_idle(1));

  int fd = connect_to(srv.port());
  ASSERT_GE(fd, 0);
  send_all(fd, get_header(kNormalName) + "NEXT");
  ASSERT_TRUE(srv.err().wait_for("server: accept", 1, 10000)) << srv.err().text();
  EXPECT_NE(srv.err().text().find("Too many open files"), std::string::npos);
  // The loop goes back to accept at once, so while the table is full it
  // retries without pause, one line on stderr per attempt.
  auto spin_start = std::chrono::steady_clock::now();
  EXPECT_TRUE(srv.err().wait_for("server: accept", 1000, 10000));
  std::cout << "accept spin: 1000 failed accepts in "
            << std::chrono::duration<double>(std::chrono::steady_clock::now() -
                                             spin_start)
                   .count()
            << " s" << std::endl;
  EXPECT_EQ(srv.fd_count(), 4);
  EXPECT_TRUE(srv.alive());

  ASSERT_TRUE(srv.set_nofile(1024));
  std::string got;
  EXPECT_TRUE(recv_until_close(fd, got, 10000));
  close(fd);
  EXPECT_EQ(got, std::string("LEN0000000013") + kNormalReply);
  EXPECT_EQ(get(srv.port(), kNormalName), kNormalReply);
  EXPECT_EQ(srv.fd_count(), 4);
}

// A connection gets the last free descriptor, so the set file cannot be
// opened: whatever that request is answered, the stored settings must
// survive it and be served again once descriptors are free.
TEST(Misbehave, NoDescriptorForTheSetFileKeepsTheSettings) {
  TempDir dir;
  server srv(dir.path());
  ASSERT_TRUE(put(srv.port(), "IFC_set_to_tw_1", "to:95 tw:250"));
  ASSERT_EQ(get(srv.port(), kNormalName), "to:95 tw:250 ");
  ASSERT_TRUE(srv.wait_idle(3));
  const std::string image = testing_support::read_file(dir.file("ifc_set.set"));
  ASSERT_EQ(image.size(), 800u);

  ASSERT_TRUE(srv.set_nofile(5));
  std::string during = get(srv.port(), kNormalName);
  EXPECT_TRUE(put(srv.port(), "IFC_set_to_tw_1", "to:96 tw:251"));
  ASSERT_TRUE(srv.wait_idle(5));
  ASSERT_TRUE(srv.set_nofile(1024));

  EXPECT_EQ(testing_support::read_file(dir.file("ifc_set.set")), image)
      << "reply during the shortage: " << during << "\n"
      << srv.out().text();
  EXPECT_EQ(get(srv.port(), kNormalName), "to:95 tw:250 ");
  EXPECT_TRUE(srv.alive());
}

}  // namespace
}  // namespace hardening
