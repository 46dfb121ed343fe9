// The C client against the real server loop and against scripted servers
// that misbehave.
#include "ifcsim/lib_client.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/time.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "ifcsim/lib_reply.h"
#include "support/scripted_server.hpp"
#include "support/server_process.hpp"

namespace {

using namespace std::string_literals;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using testing_support::read_file;
using testing_support::RequestHeader;
using testing_support::ScriptedServer;
using testing_support::ServerProcess;

ifc_endpoint at(std::uint16_t port, int timeout_ms = 300,
                const char *host = "127.0.0.1") {
  ifc_endpoint ep{};
  std::strcpy(ep.host, host);
  ep.port = port;
  ep.timeout_ms = timeout_ms;
  return ep;
}

struct got {
  int rc;
  std::string reply;  // up to the terminator
};

got get(const ifc_endpoint &ep, const char *name, int capacity = 4096) {
  std::vector<char> buf(static_cast<size_t>(capacity), 'x');
  const int rc = ifc_get(&ep, name, buf.data(), capacity);
  return {rc, std::string(buf.data())};
}

int length(const std::string &s) { return static_cast<int>(s.size()); }

// One GET per reply format, read with its reader; a PUT whose effect the
// next GET shows.
TEST(LibClient, RoundTripOfEveryReplyFormat) {
  ServerProcess server;
  const ifc_endpoint ep = at(server.port(), 5000);
  ifc_pair p[64];
  int32_t v = -1;
  const got stat = get(ep, "IFC_get_stat");
  ASSERT_EQ(stat.rc, 25);
  EXPECT_EQ(ifc_parse_pairs(stat.reply.data(), stat.rc, p, 64), 3);
  const got on_off = get(ep, "IFC_get_on_off_1");
  ASSERT_EQ(on_off.rc, 554);
  ASSERT_EQ(ifc_parse_pairs(on_off.reply.data(), on_off.rc, p, 64), 46);
  EXPECT_EQ(ifc_pair_value(p, 46, "main_on", &v), 0);
  EXPECT_EQ(v, 90);
  const got hist = get(ep, "IFC_get_hist_cntdatR");
  ifc_histogram h;
  ASSERT_EQ(ifc_parse_histogram(hist.reply.data(), hist.rc, &h), 0);
  EXPECT_DOUBLE_EQ(h.decimal, 4.52);
  const got select = get(ep, "IFC_get_hst_select");
  ifc_hist_select s;
  ASSERT_EQ(ifc_parse_hist_select(select.reply.data(), select.rc, &s), 0);
  EXPECT_STREQ(s.right_item, "tw");

  ASSERT_EQ(ifc_put(&ep, "IFC_set_on_off_2", "main_on:95", 10), 0);
  EXPECT_NE(get(ep, "IFC_get_on_off_2").reply.find(" main_on:95 "), std::string::npos);
  EXPECT_EQ(get(ep, "no_such_command").rc, IFC_EUNKNOWN);
}

// Every byte of the largest payload arrives; an empty text may be null.
TEST(LibClient, PutDeliversTheLargestPayload) {
  ServerProcess server;
  const ifc_endpoint ep = at(server.port(), 5000);
  const std::string big(256000 - 11, 'q');
  ASSERT_EQ(ifc_put(&ep, "append_log", big.data(), length(big)), 0);
  ASSERT_EQ(ifc_put(&ep, "append_log", nullptr, 0), 0);
  EXPECT_TRUE(read_file(server.file("cgi.log")) == big);
}

// Too long for the buffer: the start of the reply, and the server finished
// the exchange without an error.
TEST(LibClient, ReplyLargerThanTheBufferIsReadToItsEnd) {
  ServerProcess server;
  const ifc_endpoint ep = at(server.port(), 5000);
  const got whole = get(ep, "IFC_get_on_off_1");
  ASSERT_EQ(whole.rc, 554);
  static const struct {
    const char *name;
    int capacity;
    int rc;
  } cases[] = {{"a byte short", 554, IFC_ETOOBIG}, {"fits", 555, 554}};
  for (int i = 0; i < 2; ++i) {
    const auto &c = cases[i];
    const got g = get(ep, "IFC_get_on_off_1", c.capacity);
    EXPECT_EQ(g.rc, c.rc) << c.name;
    EXPECT_EQ(g.reply, whole.reply.substr(0, c.capacity - 1)) << c.name;
    ASSERT_TRUE(server.WaitForRequests(i + 2)) << c.name;
    EXPECT_EQ(server.RequestOutput(i + 2),
              "connected... " + RequestHeader("GET", "IFC_get_on_off_1") + "\n")
        << c.name;
  }
}

TEST(LibClient, GetAgainstScriptedServers) {
  const std::string r2000(2000, 'r');
  const std::string h = RequestHeader("GET", "IFC_get_stat");
  const struct {
    const char *name;
    std::vector<std::string> steps;
    int rc;
    std::string reply;
    std::string client_sent;
  } cases[] = {
      {"one block", {"<23", ">LEN0000000005", "<4", ">hello"}, 5, "hello", h + "NEXT"},
      {"two blocks",
       {"<23", ">LEN0000002000", "<4", ">" + r2000.substr(0, 1024), "<4",
        ">" + r2000.substr(1024)},
       2000,
       r2000,
       h + "NEXTNEXT"},
      {"empty reply", {"<23", ">LEN0000000000"}, 0, "", h},
      {"unknown name", {"<23", ">LEN-000000001"}, IFC_EUNKNOWN, "", h},
      {"not a length header", {"<23", ">HELLO, WORLD!"}, IFC_EPROTO, "", h},
      {"length above 256000", {"<23", ">LEN0000256001"}, IFC_EPROTO, "", h},
      {"length below -1", {"<23", ">LEN-000000002"}, IFC_EPROTO, "", h},
      {"close inside the reply",
       {"<23", ">LEN0000000005", "<4", ">hel"},
       IFC_ECLOSED,
       "",
       h + "NEXT"},
      {"silent server", {"<23", "."}, IFC_ETIMEOUT, "", h},
  };
  for (const auto &c : cases) {
    ScriptedServer server(c.steps);
    const got g = get(at(server.port()), "IFC_get_stat");
    server.Join();
    EXPECT_EQ(server.received, c.client_sent) << c.name;
    EXPECT_EQ(g.rc, c.rc) << c.name << ": " << ifc_strerror(g.rc);
    EXPECT_TRUE(g.reply == c.reply) << c.name;
  }
}

// A payload of two blocks; each goes out only after its "NEXT".
TEST(LibClient, PutAgainstScriptedServers) {
  const std::string text(1500, 't');
  const std::string h = RequestHeader("PUT", "1504");
  const std::string one = h + ("cmd\0"s + text).substr(0, 1024),
                    all = h + "cmd\0"s + text;
  const struct {
    const char *name;
    std::vector<std::string> steps;
    int rc;
    std::string client_sent;  // "?": a reset may come before or after the block
  } cases[] = {
      {"taken", {"<23", ">NEXT", "<1024", ">NEXT", "<480", ">FIN"}, 0, all},
      {"length refused", {"<23", ">ERR!"}, IFC_EREFUSED, h},
      {"no NEXT in time", {"<23", "."}, IFC_ETIMEOUT, h},
      {"no second NEXT", {"<23", ">NEXT", "<1024", "."}, IFC_ETIMEOUT, one},
      {"FIN before the payload", {"<23", ">NEXT", "<1024", ">FIN"}, IFC_EPROTO, one},
      {"something else than NEXT", {"<23", ">next"}, IFC_EPROTO, h},
      {"closed without FIN",
       {"<23", ">NEXT", "<1024", ">NEXT", "<480"},
       IFC_ECLOSED,
       all},
      {"something else than FIN",
       {"<23", ">NEXT", "<1024", ">NEXT", "<480", ">BYE"},
       IFC_EPROTO,
       all},
      {"FIN, then no close",
       {"<23", ">NEXT", "<1024", ">NEXT", "<480", ">FIN", "."},
       IFC_ETIMEOUT,
       all},
      {"FIN, then more",
       {"<23", ">NEXT", "<1024", ">NEXT", "<480", ">FIN!"},
       IFC_EPROTO,
       all},
      {"reset after NEXT", {"<23", ">NEXT", "!"}, IFC_ECLOSED, "?"},
  };
  for (const auto &c : cases) {
    ScriptedServer server(c.steps);
    const ifc_endpoint ep = at(server.port());
    const int rc = ifc_put(&ep, "cmd", text.data(), length(text));
    server.Join();
    if (c.client_sent != "?") {
      EXPECT_TRUE(server.received == c.client_sent) << c.name;
    }
    EXPECT_EQ(rc, c.rc) << c.name << ": " << ifc_strerror(rc);
  }
}

TEST(LibClient, ConnectFailuresTellTheirCause) {
  const testing_support::FullListener full;
  const std::uint16_t nothing = testing_support::FreePort();
  static const struct {
    const char *name;
    const char *host;
    bool full_queue;
    int err;  // errno after the call
  } cases[] = {
      {"nothing listening", "127.0.0.1", false, ECONNREFUSED},
      {"no connection in time", "127.0.0.1", true, ETIMEDOUT},
      {"unresolvable name", "no-such-host.invalid", false, ENXIO},
  };
  for (const auto &c : cases) {
    const ifc_endpoint ep = at(c.full_queue ? full.port() : nothing, 300, c.host);
    const auto start = Clock::now();
    errno = 0;
    EXPECT_EQ(get(ep, "IFC_get_stat").rc, IFC_ECONNECT) << c.name;
    const int get_errno = errno;
    EXPECT_EQ(ifc_put(&ep, "append_log", "x", 1), IFC_ECONNECT) << c.name;
    EXPECT_EQ(get_errno, c.err) << c.name << ": " << std::strerror(get_errno);
    EXPECT_EQ(errno, c.err) << c.name << ": " << std::strerror(errno);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3)) << c.name;
  }
}

// Refused before connecting: the server sees only the request that ends it.
TEST(LibClient, WrongUsageIsRefusedBeforeConnecting) {
  ScriptedServer server({"<1"});
  const ifc_endpoint ep = at(server.port());
  ifc_endpoint unterminated = ep, no_port = ep, no_time = ep, no_deadline = ep;
  std::memset(unterminated.host, 'h', sizeof unterminated.host);
  no_port.port = 0;
  no_time.timeout_ms = 0;
  no_deadline.deadline_ms = -1;
  const std::string n21(21, 'n');
  const std::string big(256001, 'p');
  char r[16];
  const struct {
    const char *name;
    int rc;
  } cases[] = {
      {"GET name of 21 characters", ifc_get(&ep, n21.c_str(), r, 16)},
      {"GET into no room", ifc_get(&ep, "IFC_get_stat", r, 0)},
      {"no endpoint", ifc_get(nullptr, "IFC_get_stat", r, 16)},
      {"unterminated host", ifc_get(&unterminated, "IFC_get_stat", r, 16)},
      {"port 0", ifc_put(&no_port, "append_log", "x", 1)},
      {"no time to wait", ifc_put(&no_time, "append_log", "x", 1)},
      {"negative deadline", ifc_get(&no_deadline, "IFC_get_stat", r, 16)},
      {"PUT name of 21 characters", ifc_put(&ep, n21.c_str(), "x", 1)},
      {"PUT without a text", ifc_put(&ep, "append_log", nullptr, 1)},
      {"PUT one byte over 256000", ifc_put(&ep, "append_log", big.data(), 256000 - 10)},
      {"payload of 256001 bytes", ifc_put_payload(&ep, big.data(), 256001)},
  };
  for (const auto &c : cases) EXPECT_EQ(c.rc, IFC_EUSAGE) << c.name;
  EXPECT_EQ(ifc_put_payload(&ep, "", 0), IFC_ECLOSED);
  server.Join();
  EXPECT_EQ(server.received, "P");
}

// Sets the four variables (nullptr: unset) for the life of the object.
class Environment {
 public:
  Environment(const char *host, const char *port, const char *timeout,
              const char *deadline) {
    const char *values[] = {host, port, timeout, deadline};
    for (int i = 0; i < 4; ++i) {
      if (values[i])
        setenv(kNames[i], values[i], 1);
      else
        unsetenv(kNames[i]);
    }
  }
  ~Environment() {
    for (const char *n : kNames) unsetenv(n);
  }

 private:
  static constexpr const char *kNames[] = {"IFCSIM_HOST", "IFCSIM_PORT",
                                           "IFCSIM_TIMEOUT_MS", "IFCSIM_DEADLINE_MS"};
};

// A bad value is reported and leaves its field at the default; the others
// are still taken.
TEST(LibClient, EndpointFromTheEnvironment) {
  const std::string h255(255, 'h'), h256(256, 'h');
  const char *lo = "127.0.0.1";
  const struct {
    const char *name;
    const char *host, *port, *timeout, *deadline;
    int rc;
    std::string want_host;
    int want_port, want_timeout, want_deadline;
  } cases[] = {
      {"nothing set", nullptr, nullptr, nullptr, nullptr, 0, lo, 9000, 5000, 0},
      {"largest", h255.c_str(), "65535", "3600000", "3600000", 0, h255, 65535, 3600000,
       3600000},
      {"host of 256 characters", h256.c_str(), "9001", "250", "900", IFC_ESETTING, lo,
       9001, 250, 900},
      {"empty host", "", nullptr, nullptr, nullptr, IFC_ESETTING, lo, 9000, 5000, 0},
      {"port 0", "h", "0", nullptr, nullptr, IFC_ESETTING, "h", 9000, 5000, 0},
      {"port of 20 digits", nullptr, "99999999999999999999", nullptr, nullptr,
       IFC_ESETTING, lo, 9000, 5000, 0},
      {"port with a sign", nullptr, "+9001", nullptr, nullptr, IFC_ESETTING, lo, 9000,
       5000, 0},
      {"time-out 0", nullptr, nullptr, "0", nullptr, IFC_ESETTING, lo, 9000, 5000, 0},
      {"time-out above an hour", nullptr, nullptr, "3600001", nullptr, IFC_ESETTING, lo,
       9000, 5000, 0},
      {"deadline 0", nullptr, nullptr, nullptr, "0", IFC_ESETTING, lo, 9000, 5000, 0},
  };
  for (const auto &c : cases) {
    Environment env(c.host, c.port, c.timeout, c.deadline);
    ifc_endpoint ep;
    std::memset(&ep, 0x55, sizeof ep);
    EXPECT_EQ(ifc_endpoint_init(&ep), c.rc) << c.name;
    EXPECT_EQ(ep.host, c.want_host) << c.name;
    EXPECT_EQ(ep.port, c.want_port) << c.name;
    EXPECT_EQ(ep.timeout_ms, c.want_timeout) << c.name;
    EXPECT_EQ(ep.deadline_ms, c.want_deadline) << c.name;
  }
  EXPECT_EQ(ifc_endpoint_init(nullptr), IFC_EUSAGE);
}

std::atomic<int> signals_caught{0};
void count_signal(int) { ++signals_caught; }

// A signal interrupts poll with EINTR; the wait goes on with the time left,
// neither failing early nor starting afresh.
TEST(LibClient, SignalsDoNotCutWaitsShort) {
  struct sigaction sa {};
  sa.sa_handler = count_signal;  // no SA_RESTART: every wait sees EINTR
  struct sigaction old {};
  ASSERT_EQ(sigaction(SIGALRM, &sa, &old), 0);
  // Only this thread may take the signal, not the scripted server's.
  sigset_t alarm;
  sigemptyset(&alarm);
  sigaddset(&alarm, SIGALRM);
  pthread_sigmask(SIG_BLOCK, &alarm, nullptr);
  ScriptedServer server({"<23", "."});
  pthread_sigmask(SIG_UNBLOCK, &alarm, nullptr);
  itimerval every5ms{{0, 5000}, {0, 5000}};
  ASSERT_EQ(setitimer(ITIMER_REAL, &every5ms, nullptr), 0);
  const auto start = Clock::now();
  const got g = get(at(server.port(), 300), "IFC_get_stat");
  const auto took = Clock::now() - start;
  itimerval off{};
  setitimer(ITIMER_REAL, &off, nullptr);
  sigaction(SIGALRM, &old, nullptr);
  server.Join();
  EXPECT_EQ(g.rc, IFC_ETIMEOUT) << ifc_strerror(g.rc);
  EXPECT_GT(signals_caught.load(), 0);
  EXPECT_GE(took, milliseconds(300));
  EXPECT_LT(took, milliseconds(900));
}

TEST(LibClient, EveryCodeHasATextOfItsOwn) {
  std::vector<std::string> seen = {ifc_strerror(-100)};
  for (int code = IFC_ERANGE; code <= IFC_EUNKNOWN; ++code) {
    for (const std::string &s : seen) EXPECT_NE(ifc_strerror(code), s) << code;
    seen.push_back(ifc_strerror(code));
  }
}

}  // namespace
