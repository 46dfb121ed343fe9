// Misbehaving clients, one after the other against one server process: after
// each one the server must be back at accept and answer a normal request
// correctly. Clients that wait out the time-outs are in
// tests/net/tcp1_main_slow_test.cpp.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <chrono>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "support/server_process.hpp"
#include "support/temp_dir.hpp"

namespace {

using testing_support::PutHeader;
using testing_support::RawConnection;
using testing_support::RequestHeader;
using testing_support::ServerProcess;

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

seen read_to_close(RawConnection &conn) {
  seen s;
  const auto got = conn.ReadToClose();
  s.closed = got.has_value();
  s.bytes = got.value_or("");
  return s;
}

seen send_and_drain(std::uint16_t port, std::string_view bytes) {
  RawConnection conn(port);
  conn.Send(bytes);
  return read_to_close(conn);
}

// A PUT whose client answers each "NEXT" with the next block, then reads to
// the close; returns what came after the last block (e.g. "FIN").
seen put_stepwise(std::uint16_t port, std::string_view header, std::string_view body) {
  RawConnection conn(port);
  conn.Send(header);
  for (std::size_t off = 0; off < body.size(); off += 1024) {
    std::string next = conn.Read(4);
    if (next != "NEXT") {
      seen s = read_to_close(conn);
      s.bytes = next + s.bytes;
      return s;
    }
    conn.Send(body.substr(off, 1024));
  }
  return read_to_close(conn);
}

struct scenario {
  const char *name;
  // Connections the scenario opens, each of which ends in one more
  // "waiting... ".
  int connections;
  // A line the server must print for it (nullptr: none checked).
  const char *printed;
  void (*run)(const ServerProcess &srv, const char *name);
  // Checks made once the server is back at accept (nullptr: none).
  void (*after)(const ServerProcess &srv, const char *name) = nullptr;
};

// Size of "cgi.log" before a payload that must not run.
std::size_t log_before = 0;

std::size_t log_size(const ServerProcess &srv) {
  return testing_support::read_file(srv.file("cgi.log")).size();
}

void log_unchanged(const ServerProcess &srv, const char *name) {
  EXPECT_EQ(log_size(srv), log_before) << name << ": a cut payload ran";
}

std::string get_header(std::string_view name) { return RequestHeader("GET", name); }

const scenario kScenarios[] = {
    {"connect and close at once", 1, "error: command len",
     [](const ServerProcess &srv, const char *name) {
       RawConnection conn(srv.port());
       EXPECT_TRUE(conn.connected()) << name;
     }},
    {"connect and reset at once", 1, nullptr,
     [](const ServerProcess &srv, const char *) { RawConnection(srv.port()).Reset(); }},
    {"lower-case verb", 1, "error: UNKNOWN COMMAND",
     [](const ServerProcess &srv, const char *name) {
       seen s = send_and_drain(srv.port(), "get" + get_header(kNormalName).substr(3));
       EXPECT_TRUE(s.closed) << name;
       EXPECT_EQ(s.bytes, "") << name;
     }},
    {"unknown verb", 1, "error: UNKNOWN COMMAND",
     [](const ServerProcess &srv, const char *name) {
       seen s = send_and_drain(srv.port(), "DEL" + get_header(kNormalName).substr(3));
       EXPECT_EQ(s.bytes, "") << name;
     }},
    {"NUL inside the name", 1, nullptr,
     [](const ServerProcess &srv, const char *name) {
       std::string h = get_header(kNormalName);
       h[3 + 7] = '\0';
       seen s = send_and_drain(srv.port(), h);
       EXPECT_EQ(s.bytes, "LEN-000000001") << name;
     }},
    {"name filled with NULs", 1, nullptr,
     [](const ServerProcess &srv, const char *name) {
       std::string h = "GET" + std::string(kNormalName);
       h.append(23 - h.size(), '\0');
       seen s = send_and_drain(srv.port(), h);
       EXPECT_EQ(s.bytes, "LEN-000000001") << name;
     }},
    {"binary header", 1, "error: UNKNOWN COMMAND",
     [](const ServerProcess &srv, const char *name) {
       std::string h;
       for (int i = 0; i < 23; ++i) h.push_back(static_cast<char>(0xff - i * 7));
       seen s = send_and_drain(srv.port(), h);
       EXPECT_EQ(s.bytes, "") << name;
     }},
    {"PUT length 256000", 1, nullptr,
     [](const ServerProcess &srv, const char *name) {
       std::string body = payload("append_log", std::string(256000 - 11, 'x'));
       seen s = put_stepwise(srv.port(), PutHeader(body.size()), body);
       EXPECT_EQ(s.bytes, "FIN") << name;
       EXPECT_EQ(log_size(srv), 256000u - 11) << name;
     }},
    {"PUT length 256001", 1, "error: TOO BIG DATA",
     [](const ServerProcess &srv, const char *name) {
       seen s = send_and_drain(srv.port(), PutHeader(256001));
       EXPECT_EQ(s.bytes, "ERR!") << name;
     }},
    {"PUT length -1", 1, "error: TOO BIG DATA",
     [](const ServerProcess &srv, const char *name) {
       seen s = send_and_drain(srv.port(), "PUT-1                  ");
       EXPECT_EQ(s.bytes, "ERR!") << name;
     }},
    {"PUT length of blanks", 1, nullptr,
     [](const ServerProcess &srv, const char *name) {
       seen s = send_and_drain(srv.port(), "PUT" + std::string(20, ' '));
       EXPECT_EQ(s.bytes, "FIN") << name;
     }},
    {"PUT length without digits", 1, nullptr,
     [](const ServerProcess &srv, const char *name) {
       seen s = send_and_drain(srv.port(), "PUTabc                 ");
       EXPECT_EQ(s.bytes, "FIN") << name;
     }},
    {"PUT length of twenty digits", 1, "error: TOO BIG DATA",
     [](const ServerProcess &srv, const char *name) {
       seen s = send_and_drain(srv.port(), "PUT" + std::string(20, '9'));
       EXPECT_EQ(s.bytes, "ERR!") << name;
     }},
    {"PUT length 2^32 + 5 (wraps to 5 in 32 bits)", 1, "error: TOO BIG DATA",
     [](const ServerProcess &srv, const char *name) {
       seen s = send_and_drain(srv.port(), "PUT4294967301          ");
       EXPECT_EQ(s.bytes, "ERR!") << name;
     }},
    {"PUT length after blanks and a plus sign", 1, nullptr,
     [](const ServerProcess &srv, const char *name) {
       std::string body = payload("append_log", "");
       std::string h = "PUT   +" + std::to_string(body.size());
       h.append(23 - h.size(), ' ');
       seen s = put_stepwise(srv.port(), h, body);
       EXPECT_EQ(s.bytes, "FIN") << name;
     }},
    {"header and payload sent all at once", 1, nullptr,
     [](const ServerProcess &srv, const char *name) {
       std::string body = payload("append_log", std::string(3000, 'y'));
       std::size_t before = log_size(srv);
       seen s = send_and_drain(srv.port(), PutHeader(body.size()) + body);
       EXPECT_EQ(s.bytes, "NEXTNEXTNEXTFIN") << name;
       EXPECT_EQ(log_size(srv), before + 3000) << name;
     }},
    {"bytes beyond the payload", 1, nullptr,
     [](const ServerProcess &srv, const char *name) {
       std::string body = payload("append_log", "z");
       std::size_t before = log_size(srv);
       seen s =
           send_and_drain(srv.port(), PutHeader(body.size()) + body + "trailing junk");
       EXPECT_NE(s.bytes.find("FIN"), std::string::npos) << name;
       EXPECT_EQ(log_size(srv), before + 1) << name;
     }},
    {"close in the middle of a payload", 1, nullptr,
     [](const ServerProcess &srv, const char *name) {
       log_before = log_size(srv);
       RawConnection conn(srv.port());
       conn.Send(PutHeader(2000));
       EXPECT_EQ(conn.Read(4), "NEXT") << name;
       conn.Send(payload("append_log", std::string(500, 'q')));
     },
     log_unchanged},
    {"reset in the middle of a payload", 1, nullptr,
     [](const ServerProcess &srv, const char *name) {
       log_before = log_size(srv);
       RawConnection conn(srv.port());
       conn.Send(PutHeader(2000));
       EXPECT_EQ(conn.Read(4), "NEXT") << name;
       conn.Send(payload("append_log", std::string(1100, 'r')));
       conn.Reset();
     },
     log_unchanged},
    {"payload without a NUL", 1, "COMMAND END not found",
     [](const ServerProcess &srv, const char *name) {
       EXPECT_TRUE(srv.PutPayload("IFC_set_to_tw_1")) << name;
     }},
    {"payload with a NUL at byte 0", 1, "not found",
     [](const ServerProcess &srv, const char *name) {
       EXPECT_TRUE(srv.PutPayload(std::string("\0append_log", 11))) << name;
     }},
    {"payload with its only NUL at the last byte", 1, nullptr,
     [](const ServerProcess &srv, const char *name) {
       std::size_t before = log_size(srv);
       EXPECT_TRUE(srv.PutPayload(std::string("append_log\0", 11))) << name;
       EXPECT_EQ(log_size(srv), before) << name;
     }},
    {"\"next\" in place of \"NEXT\"", 1, "can't found \"NEXT\"",
     [](const ServerProcess &srv, const char *name) {
       seen s = send_and_drain(srv.port(), get_header(kNormalName) + "next");
       EXPECT_EQ(s.bytes, "LEN0000000013") << name;
     }},
    {"\"NEXT\" and a NUL, five bytes", 1, nullptr,
     [](const ServerProcess &srv, const char *name) {
       seen s =
           send_and_drain(srv.port(), get_header(kNormalName) + std::string("NEXT\0", 5));
       // One block is all this reply has; the stray NUL is never read.
       EXPECT_EQ(s.bytes, std::string("LEN0000000013") + kNormalReply) << name;
     }},
    {"\"NEXX\" in place of \"NEXT\"", 1, "can't found \"NEXT\"",
     [](const ServerProcess &srv, const char *name) {
       seen s = send_and_drain(srv.port(), get_header(kNormalName) + "NEXX");
       EXPECT_EQ(s.bytes, "LEN0000000013") << name;
     }},
    {"write side shut after a GET header", 1, nullptr,
     [](const ServerProcess &srv, const char *name) {
       RawConnection conn(srv.port());
       conn.Send(get_header(kNormalName));
       conn.ShutdownWrite();
       EXPECT_EQ(conn.ReadToClose(), "LEN0000000013") << name;
     }},
    {"close before reading the length header", 1, nullptr,
     [](const ServerProcess &srv, const char *) {
       RawConnection conn(srv.port());
       conn.Send(get_header(kNormalName));
     }},
    {"reset after the length header", 1, nullptr,
     [](const ServerProcess &srv, const char *name) {
       RawConnection conn(srv.port());
       conn.Send(get_header(kNormalName));
       EXPECT_EQ(conn.Read(13), "LEN0000000013") << name;
       conn.Reset();
     }},
    {"\"NEXT\" then a reset before the block is read", 1, nullptr,
     [](const ServerProcess &srv, const char *) {
       RawConnection conn(srv.port());
       conn.Send(get_header(kNormalName) + "NEXT");
       conn.Reset();
     }},
    {"header one byte per send", 1, nullptr,
     [](const ServerProcess &srv, const char *name) {
       RawConnection conn(srv.port());
       int one = 1;
       setsockopt(conn.fd(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
       for (char c : get_header(kNormalName) + "NEXT") conn.Send(std::string(1, c));
       EXPECT_EQ(conn.ReadToClose(), std::string("LEN0000000013") + kNormalReply) << name;
     }},
    {"100 KB of garbage", 1, nullptr,
     [](const ServerProcess &srv, const char *) {
       std::string junk;
       for (int i = 0; i < 100000; ++i) junk.push_back(static_cast<char>(i * 31 + 7));
       send_and_drain(srv.port(), "GET" + junk);
     }},
    {"unknown GET name", 1, nullptr,
     [](const ServerProcess &srv, const char *name) {
       EXPECT_EQ(srv.Get("IFC_get_nothing"), "<len -1>") << name;
     }},
    {"name one character too long for the field", 1, nullptr,
     [](const ServerProcess &srv, const char *name) {
       std::string h = "GET" + std::string(kNormalName) + "xxx";
       seen s = send_and_drain(srv.port(), h.substr(0, 23));
       EXPECT_EQ(s.bytes, "LEN-000000001") << name;
     }},
};

TEST(Misbehave, EachScenarioLeavesTheServerServing) {
  ServerProcess srv;
  ASSERT_EQ(srv.Get(kNormalName), kNormalReply);
  int requests = 1;
  ASSERT_TRUE(srv.WaitForRequests(requests));
  const int fds = srv.DescriptorCount();

  for (const scenario &c : kScenarios) {
    const int printed_before =
        c.printed ? testing_support::CountOccurrences(srv.Output(), c.printed) : 0;
    c.run(srv, c.name);
    requests += c.connections;
    ASSERT_TRUE(srv.WaitForRequests(requests)) << c.name << "\n" << srv.Output();
    if (c.printed) {
      EXPECT_EQ(testing_support::CountOccurrences(srv.Output(), c.printed),
                printed_before + 1)
          << c.name;
    }
    if (c.after) c.after(srv, c.name);

    EXPECT_EQ(srv.Get(kNormalName), kNormalReply) << c.name;
    ASSERT_TRUE(srv.WaitForRequests(++requests)) << c.name;
    EXPECT_EQ(srv.DescriptorCount(), fds) << c.name;
  }
  EXPECT_TRUE(srv.Alive());
}

// A reset in the middle of a reply or of a payload, a thousand times each:
// the process stays up and holds no descriptor more than before.
TEST(Misbehave, ThousandResetsLeakNoDescriptor) {
  ServerProcess srv;
  ASSERT_EQ(srv.Get(kNormalName), kNormalReply);
  int requests = 1;
  ASSERT_TRUE(srv.WaitForRequests(requests));
  const int fds = srv.DescriptorCount();

  static const struct {
    const char *name;
    bool put;
  } cases[] = {{"reset in a GET reply", false}, {"reset in a PUT payload", true}};
  for (const auto &c : cases) {
    for (int i = 0; i < 1000; ++i) {
      RawConnection conn(srv.port());
      ASSERT_TRUE(conn.connected()) << c.name << " #" << i;
      if (c.put) {
        conn.Send(PutHeader(3000));
        ASSERT_EQ(conn.Read(4), "NEXT") << c.name << " #" << i;
        conn.Send(payload("append_log", std::string(1500, 'p')));
      } else {
        conn.Send(get_header(kNormalName));
        ASSERT_EQ(conn.Read(13), "LEN0000000013") << c.name << " #" << i;
      }
      conn.Reset();
      ASSERT_TRUE(srv.WaitForRequests(++requests)) << c.name << " #" << i;
    }
    EXPECT_TRUE(srv.Alive()) << c.name;
    EXPECT_EQ(srv.DescriptorCount(), fds) << c.name;
    EXPECT_EQ(srv.Get(kNormalName), kNormalReply) << c.name;
    ASSERT_TRUE(srv.WaitForRequests(++requests)) << c.name;
  }
  EXPECT_FALSE(testing_support::file_exists(srv.file("cgi.log")))
      << "a payload cut by a reset ran";
}

// More clients at once than the backlog of 5 holds: each one is served
// correctly or refused by the kernel (never answered wrongly), and the
// server is still serving afterwards.
TEST(Misbehave, MoreParallelClientsThanTheBacklog) {
  ServerProcess srv;
  ASSERT_EQ(srv.Get(kNormalName), kNormalReply);

  constexpr int kClients = 40;
  std::vector<ifc::get_result> replies(kClients);
  std::vector<std::thread> threads;
  for (int i = 0; i < kClients; ++i)
    threads.emplace_back([&, i] { replies[i] = ifc::get(srv.endpoint(), kNormalName); });
  for (std::thread &t : threads) t.join();

  int served = 0;
  for (int i = 0; i < kClients; ++i) {
    if (replies[i].error == ifc::client_error::none) {
      EXPECT_EQ(replies[i].reply, kNormalReply) << "client " << i;
      ++served;
    } else {
      // A refused or timed-out connect is the kernel's doing; a wrong or cut
      // reply would be the server's.
      EXPECT_EQ(replies[i].error, ifc::client_error::connect)
          << "client " << i << ": " << replies[i].message;
    }
  }
  EXPECT_GT(served, 0);
  EXPECT_EQ(srv.Get(kNormalName), kNormalReply);
  EXPECT_TRUE(srv.Alive());
}

// accept fails while the descriptor table is full (EMFILE); once a
// descriptor is free again, the client that waited in the backlog is served.
TEST(Misbehave, DescriptorExhaustionThenRecovery) {
  ServerProcess srv([] { testing_support::LimitOwnDescriptors(4); });
  ASSERT_TRUE(srv.WaitForRequests(0));

  RawConnection conn(srv.port());
  ASSERT_TRUE(conn.connected());
  conn.Send(get_header(kNormalName) + "NEXT");
  const std::string err = srv.WaitForStderr("server: accept");
  ASSERT_NE(err.find("server: accept"), std::string::npos) << err;
  EXPECT_NE(err.find("Too many open files"), std::string::npos);
  // The loop goes back to accept at once, so while the table is full it
  // retries without pause, one line on stderr per attempt.
  auto spin_start = std::chrono::steady_clock::now();
  EXPECT_GE(testing_support::CountOccurrences(
                srv.WaitForStderr("server: accept", testing_support::kDefaultWait, 1000),
                "server: accept"),
            1000);
  std::cout << "accept spin: 1000 failed accepts in "
            << std::chrono::duration<double>(std::chrono::steady_clock::now() -
                                             spin_start)
                   .count()
            << " s" << std::endl;
  EXPECT_EQ(srv.DescriptorCount(), 4);
  EXPECT_TRUE(srv.Alive());

  ASSERT_TRUE(srv.SetDescriptorLimit(1024));
  EXPECT_EQ(conn.ReadToClose(), std::string("LEN0000000013") + kNormalReply);
  EXPECT_EQ(srv.Get(kNormalName), kNormalReply);
  EXPECT_EQ(srv.DescriptorCount(), 4);
}

// A connection gets the last free descriptor, so the set file cannot be
// opened: whatever that request is answered, the stored settings must
// survive it and be served again once descriptors are free.
TEST(Misbehave, NoDescriptorForTheSetFileKeepsTheSettings) {
  ServerProcess srv;
  ASSERT_TRUE(srv.Put("IFC_set_to_tw_1", "to:95 tw:250"));
  ASSERT_EQ(srv.Get(kNormalName), "to:95 tw:250 ");
  ASSERT_TRUE(srv.WaitForRequests(2));
  const std::string image = testing_support::read_file(srv.file("ifc_set.set"));
  ASSERT_EQ(image.size(), 800u);

  ASSERT_TRUE(srv.SetDescriptorLimit(5));
  std::string during = srv.Get(kNormalName);
  EXPECT_TRUE(srv.Put("IFC_set_to_tw_1", "to:96 tw:251"));
  ASSERT_TRUE(srv.WaitForRequests(4));
  ASSERT_TRUE(srv.SetDescriptorLimit(1024));

  EXPECT_EQ(testing_support::read_file(srv.file("ifc_set.set")), image)
      << "reply during the shortage: " << during << "\n"
      << srv.Output();
  EXPECT_EQ(srv.Get(kNormalName), "to:95 tw:250 ");
  EXPECT_TRUE(srv.Alive());
}

}  // namespace
