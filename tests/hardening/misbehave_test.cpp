// Misbehaving clients, one after the other against one server process: after
// each one the server must be back at accept and answer a normal request
// correctly. Clients that wait out the time-outs are in
// tests/net/tcp1_main_slow_test.cpp.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

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

// Sends bytes on a connection of its own; every byte that came back until
// the server closed ("<open>" when it did not close).
std::string send_and_drain(std::uint16_t port, std::string_view bytes) {
  RawConnection conn(port);
  conn.Send(bytes);
  return conn.ReadToClose().value_or("<open>");
}

struct scenario {
  const char *name;
  // A line the server must print for it (nullptr: none checked).
  const char *printed;
  void (*run)(const ServerProcess &srv, const char *name);
};

std::size_t log_size(const ServerProcess &srv) {
  return testing_support::read_file(srv.file("cgi.log")).size();
}

std::string get_header(std::string_view name) { return RequestHeader("GET", name); }

const scenario kScenarios[] = {
    {"connect and reset at once", nullptr,
     [](const ServerProcess &srv, const char *) { RawConnection(srv.port()).Reset(); }},
    {"NUL inside the name", nullptr,
     [](const ServerProcess &srv, const char *name) {
       std::string h = get_header(kNormalName);
       h[3 + 7] = '\0';
       EXPECT_EQ(send_and_drain(srv.port(), h), "LEN-000000001") << name;
     }},
    {"binary header", "error: UNKNOWN COMMAND",
     [](const ServerProcess &srv, const char *name) {
       std::string h;
       for (int i = 0; i < 23; ++i) h.push_back(static_cast<char>(0xff - i * 7));
       EXPECT_EQ(send_and_drain(srv.port(), h), "") << name;
     }},
    {"bytes beyond the payload", nullptr,
     [](const ServerProcess &srv, const char *name) {
       std::string body = payload("append_log", "z");
       std::size_t before = log_size(srv);
       const std::string got =
           send_and_drain(srv.port(), PutHeader(body.size()) + body + "trailing junk");
       EXPECT_NE(got.find("FIN"), std::string::npos) << name;
       EXPECT_EQ(log_size(srv), before + 1) << name;
     }},
    {"\"next\" in place of \"NEXT\"", "can't found \"NEXT\"",
     [](const ServerProcess &srv, const char *name) {
       EXPECT_EQ(send_and_drain(srv.port(), get_header(kNormalName) + "next"),
                 "LEN0000000013")
           << name;
     }},
    {"\"NEXT\" and a NUL, five bytes", nullptr,
     [](const ServerProcess &srv, const char *name) {
       // One block is all this reply has; the stray NUL is never read.
       EXPECT_EQ(
           send_and_drain(srv.port(), get_header(kNormalName) + std::string("NEXT\0", 5)),
           std::string("LEN0000000013") + kNormalReply)
           << name;
     }},
    {"\"NEXX\" in place of \"NEXT\"", "can't found \"NEXT\"",
     [](const ServerProcess &srv, const char *name) {
       EXPECT_EQ(send_and_drain(srv.port(), get_header(kNormalName) + "NEXX"),
                 "LEN0000000013")
           << name;
     }},
    {"write side shut after a GET header", nullptr,
     [](const ServerProcess &srv, const char *name) {
       RawConnection conn(srv.port());
       conn.Send(get_header(kNormalName));
       conn.ShutdownWrite();
       EXPECT_EQ(conn.ReadToClose(), "LEN0000000013") << name;
     }},
    {"close before reading the length header", nullptr,
     [](const ServerProcess &srv, const char *) {
       RawConnection conn(srv.port());
       conn.Send(get_header(kNormalName));
     }},
    {"reset after the length header", nullptr,
     [](const ServerProcess &srv, const char *name) {
       RawConnection conn(srv.port());
       conn.Send(get_header(kNormalName));
       EXPECT_EQ(conn.Read(13), "LEN0000000013") << name;
       conn.Reset();
     }},
    {"\"NEXT\" then a reset before the block is read", nullptr,
     [](const ServerProcess &srv, const char *) {
       RawConnection conn(srv.port());
       conn.Send(get_header(kNormalName) + "NEXT");
       conn.Reset();
     }},
    {"header one byte per send", nullptr,
     [](const ServerProcess &srv, const char *name) {
       RawConnection conn(srv.port());
       int one = 1;
       setsockopt(conn.fd(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
       for (char c : get_header(kNormalName) + "NEXT") conn.Send(std::string(1, c));
       EXPECT_EQ(conn.ReadToClose(), std::string("LEN0000000013") + kNormalReply) << name;
     }},
    {"100 KB of garbage", nullptr,
     [](const ServerProcess &srv, const char *) {
       std::string junk;
       for (int i = 0; i < 100000; ++i) junk.push_back(static_cast<char>(i * 31 + 7));
       send_and_drain(srv.port(), "GET" + junk);
     }},
    {"name one character too long for the field", nullptr,
     [](const ServerProcess &srv, const char *name) {
       std::string h = "GET" + std::string(kNormalName) + "xxx";
       EXPECT_EQ(send_and_drain(srv.port(), h.substr(0, 23)), "LEN-000000001") << name;
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
    ASSERT_TRUE(srv.WaitForRequests(++requests)) << c.name << "\n" << srv.Output();
    if (c.printed) {
      EXPECT_EQ(testing_support::CountOccurrences(srv.Output(), c.printed),
                printed_before + 1)
          << c.name;
    }

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
      // A refused or timed-out connect is the kernel's doing, and so is a
      // wait that runs out while the connection sits in the listen queue of a
      // loaded machine; a wrong or cut reply would be the server's.
      EXPECT_TRUE(replies[i].error == ifc::client_error::connect ||
                  replies[i].error == ifc::client_error::timeout)
          << "client " << i << ": " << replies[i].message;
    }
  }
  EXPECT_GT(served, 0);
  EXPECT_EQ(srv.Get(kNormalName), kNormalReply);
  EXPECT_TRUE(srv.Alive());
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
