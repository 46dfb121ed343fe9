// The built server program: bare on port 9000, and with its options --port,
// --bind and --dir. Tests that need port 9000 or a second local address run
// in a private network namespace.
#include <arpa/inet.h>
#include <dirent.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "client/ifc_client.hpp"
#include "net/ether_com.hpp"
#include "support/server_process.hpp"

#ifndef IFCSIM_BINARY
#error "IFCSIM_BINARY must name the built server program"
#endif
#ifndef IFCSIM_VERSION
#error "IFCSIM_VERSION must give the project's version"
#endif

namespace {

using testing::StartsWith;
using testing_support::ChildProcess;
using testing_support::LocalPort;
using testing_support::read_file;
using testing_support::TempDir;
using namespace std::string_literals;

constexpr int kSkip = 77;
constexpr char kWaiting[] = "waiting... ";
constexpr char kSecondAddress[] = "10.200.0.1";

// A ChildProcess body that runs the server with args; prepare, if given,
// runs first in the child and may refuse (exit status kSkip).
std::function<int()> run_server(std::vector<std::string> args,
                                std::function<bool()> prepare = {}) {
  return [args = std::move(args), prepare] {
    if (prepare && !prepare()) return kSkip;
    std::vector<char *> argv{const_cast<char *>("ifcsim")};
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(IFCSIM_BINARY, argv.data());
    return 127;
  };
}

bool listening(ChildProcess &server) {
  return server.WaitForOutput(kWaiting).find(kWaiting) != std::string::npos;
}

std::vector<std::string> entries(const std::string &dir) {
  std::vector<std::string> names;
  if (DIR *d = opendir(dir.c_str())) {
    while (const dirent *e = readdir(d)) {
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
        names.push_back(e->d_name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The server with --port on a port that was free a moment ago, then args.
// Another program may take the port in between: then the server ends with
// "Can't initialize sever socket." and another port is tried.
std::unique_ptr<ChildProcess> start_on_free_port(const std::vector<std::string> &args,
                                                 std::uint16_t *port,
                                                 std::function<bool()> prepare = {}) {
  std::unique_ptr<ChildProcess> server;
  for (int attempt = 0; attempt < 5; ++attempt) {
    int fd = -1;
    if (ether_init(&fd, 0) != 1) return nullptr;
    *port = LocalPort(fd);
    close(fd);
    std::vector<std::string> all{"--port", std::to_string(*port)};
    all.insert(all.end(), args.begin(), args.end());
    server = std::make_unique<ChildProcess>(run_server(all, prepare));
    if (listening(*server) || server->Output() != "Can't initialize sever socket.\n")
      break;
  }
  return server;
}

ifc::endpoint at(const char *host, std::uint16_t port) {
  ifc::endpoint ep;
  ep.host = host;
  ep.port = port;
  return ep;
}

bool loopback_up() {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ifreq ifr{};
  std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
  bool ok = ioctl(fd, SIOCGIFFLAGS, &ifr) == 0;
  ifr.ifr_flags |= IFF_UP;
  ok = ok && ioctl(fd, SIOCSIFFLAGS, &ifr) == 0;
  close(fd);
  return ok;
}

// A second local address beside 127.0.0.1, as an alias of lo.
bool add_second_address() {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ifreq ifr{};
  std::strncpy(ifr.ifr_name, "lo:1", IFNAMSIZ - 1);
  auto *sin = reinterpret_cast<sockaddr_in *>(&ifr.ifr_addr);
  sin->sin_family = AF_INET;
  inet_pton(AF_INET, kSecondAddress, &sin->sin_addr);
  bool ok = ioctl(fd, SIOCSIFADDR, &ifr) == 0;
  inet_pton(AF_INET, "255.255.255.255", &sin->sin_addr);
  ok = ok && ioctl(fd, SIOCSIFNETMASK, &ifr) == 0;
  close(fd);
  return ok;
}

// In a ChildProcess: a network namespace of its own with lo up and the
// second address on it. On failure prints why and returns false.
bool enter_private_network() {
  if (unshare(CLONE_NEWNET) != 0) {
    std::printf("unshare(CLONE_NEWNET): %s", std::strerror(errno));
    return false;
  }
  if (!loopback_up() || !add_second_address()) {
    std::printf("cannot set up lo in the new namespace: %s", std::strerror(errno));
    return false;
  }
  return true;
}

struct namespace_run {
  bool skipped;
  std::string output;  // what body printed, or why there is no namespace
};

// Runs body in a ChildProcess in a private network namespace.
namespace_run run_in_private_network(int (*body)()) {
  ChildProcess child([body] { return enter_private_network() ? body() : kSkip; });
  const auto status = child.WaitForExit(std::chrono::seconds(30));
  const bool exited = status.has_value() && WIFEXITED(*status);
  EXPECT_TRUE(exited) << child.Output() << child.Stderr();
  if (exited && WEXITSTATUS(*status) == kSkip) return {true, child.Output()};
  EXPECT_TRUE(exited && WEXITSTATUS(*status) == 0) << child.Stderr();
  return {false, child.Output()};
}

// The bare server: one GET and one PUT on 127.0.0.1:9000.
int answer_on_port_9000() {
  ChildProcess server(run_server({}));
  const bool up = listening(server);
  ifc::endpoint ep;  // 127.0.0.1:9000
  const ifc::get_result got = ifc::get(ep, "no_such_command");
  const ifc::put_result put = ifc::put(ep, "append_log", "hello\n");
  server.WaitForOutput("PUT17                  \nwaiting... ");
  std::printf("up: %d\nget: %s %d\nput: %s\ncgi.log: %s---\n%s", up,
              ifc::client_error_name(got.error), got.length,
              ifc::client_error_name(put.error),
              read_file(server.file("cgi.log")).c_str(), server.Output().c_str());
  return 0;
}

// Servers on 9001 bound to 127.0.0.1, on 9002 bound to nothing in
// particular, and one asked for an address the host does not have.
int bind_where_asked() {
  ChildProcess local(run_server({"--port", "9001", "--bind", "127.0.0.1"}));
  ChildProcess everywhere(run_server({"--port", "9002"}));
  ChildProcess foreign(run_server({"--port", "9003", "--bind", "10.9.9.9"}));
  std::printf("up: %d %d\n", listening(local), listening(everywhere));
  for (const char *host : {"127.0.0.1", kSecondAddress}) {
    for (std::uint16_t port : {9001, 9002}) {
      const ifc::get_result got = ifc::get(at(host, port), "no_such_command");
      std::printf("%s:%u %s\n", host, port, ifc::client_error_name(got.error));
    }
  }
  const auto status = foreign.WaitForExit();
  std::printf("10.9.9.9: %d\n%s%s",
              status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1,
              foreign.Stderr().c_str(), foreign.Output().c_str());
  return 0;
}

// Each case runs in a network namespace of its own, so port 9000 is free
// and a second local address can be made.
TEST(IfcsimBinary, InAPrivateNetwork) {
  static const struct {
    const char *name;
    int (*body)();
    std::string printed;
  } cases[] = {
      {"bare server answers on port 9000", answer_on_port_9000,
       "up: 1\n"
       "get: none -1\n"
       "put: none\n"
       "cgi.log: hello\n"
       "---\n"
       "waiting... connected... GETno_such_command     \n"
       "waiting... connected... PUT17                  \n"
       "waiting... "},
      {"--bind listens on the given address only", bind_where_asked,
       "up: 1 1\n"
       "127.0.0.1:9001 none\n"
       "127.0.0.1:9002 none\n"
       "10.200.0.1:9001 connect\n"
       "10.200.0.1:9002 none\n"
       "10.9.9.9: 1\n"
       "server: bind: "s +
           std::strerror(EADDRNOTAVAIL) +
           "\n"
           "Can't initialize sever socket.\n"},
  };
  for (const auto &c : cases) {
    const namespace_run run = run_in_private_network(c.body);
    if (run.skipped) GTEST_SKIP() << "no private network namespace: " << run.output;
    EXPECT_EQ(run.output, c.printed) << c.name;
  }
}

TEST(IfcsimBinary, PortDirectoryAndJournal) {
  std::uint16_t port = 0;
  // A relative --dir, made in the server's working directory, and a relative
  // --journal, which stays in that directory.
  const auto server = start_on_free_port({"--dir", "state", "--journal", "j.jsonl"},
                                         &port, [] { return mkdir("state", 0755) == 0; });
  ASSERT_NE(server, nullptr);
  ASSERT_TRUE(listening(*server)) << server->Output() << server->Stderr();
  const std::vector<std::string> both{"j.jsonl", "state"};
  ASSERT_EQ(entries(server->dir()), both);

  EXPECT_EQ(ifc::put(at("127.0.0.1", port), "append_log", "hello\n").error,
            ifc::client_error::none);
  const ifc::get_result got = ifc::get(at("127.0.0.1", port), "IFC_get_Tot_Twt_1");
  EXPECT_EQ(got.error, ifc::client_error::none) << got.message;
  EXPECT_EQ(got.reply, "to:90 tw:240 ");
  EXPECT_EQ(read_file(server->file("state/cgi.log")), "hello\n");
  EXPECT_EQ(read_file(server->file("state/ifc_set.set")).size(), 800u);
  EXPECT_EQ(entries(server->dir()), both);
  server->WaitForOutput(kWaiting, testing_support::kDefaultWait, 3);
  const std::string journal = read_file(server->file("j.jsonl"));
  EXPECT_EQ(std::count(journal.begin(), journal.end(), '\n'), 2) << journal;
}

// --readings is taken from where the server starts, not from its --dir.
TEST(IfcsimBinary, ReadingsFromTheStartDirectory) {
  std::uint16_t port = 0;
  const auto server =
      start_on_free_port({"--dir", "state", "--readings", "r.txt"}, &port, [] {
        std::FILE *f = std::fopen("r.txt", "w");
        return mkdir("state", 0755) == 0 && f != nullptr &&
               std::fputs("measured 1 to:5\n", f) >= 0 && std::fclose(f) == 0;
      });
  ASSERT_NE(server, nullptr);
  ASSERT_TRUE(listening(*server)) << server->Output() << server->Stderr();
  EXPECT_EQ(ifc::get(at("127.0.0.1", port), "IFC_get_To_Tw_1").reply, "to:5 tw:242 ");
  EXPECT_EQ(server->Stderr(), "");
}

TEST(IfcsimBinary, ThreeInstancesKeepTheirOwnSettings) {
  TempDir dirs[3];
  std::unique_ptr<ChildProcess> servers[3];
  std::uint16_t ports[3];
  for (int i = 0; i < 3; ++i) {
    servers[i] = start_on_free_port({"--dir", dirs[i].path()}, &ports[i]);
    ASSERT_NE(servers[i], nullptr);
    ASSERT_TRUE(listening(*servers[i])) << servers[i]->Output() << servers[i]->Stderr();
  }
  ASSERT_EQ(ifc::put(at("127.0.0.1", ports[1]), "IFC_set_to_tw_1", "to:95 tw:250").error,
            ifc::client_error::none);

  static const char *const expected[] = {"to:90 tw:240 ", "to:95 tw:250 ",
                                         "to:90 tw:240 "};
  for (int i = 0; i < 3; ++i) {
    const ifc::get_result got = ifc::get(at("127.0.0.1", ports[i]), "IFC_get_Tot_Twt_1");
    EXPECT_EQ(got.error, ifc::client_error::none) << i << ": " << got.message;
    EXPECT_EQ(got.reply, expected[i]) << "instance " << i;
    EXPECT_TRUE(entries(servers[i]->dir()).empty()) << "instance " << i;
  }
  const std::string image[] = {read_file(dirs[0].file("ifc_set.set")),
                               read_file(dirs[1].file("ifc_set.set")),
                               read_file(dirs[2].file("ifc_set.set"))};
  EXPECT_EQ(image[0].size(), 800u);
  EXPECT_EQ(image[0], image[2]);
  EXPECT_NE(image[0], image[1]);
}

// --port 0 with --port-file: the file names the port the kernel picked, is
// whole before the first "waiting... ", and a relative name is taken from
// where the server was started, not from --dir.
TEST(IfcsimBinary, PortFileNamesThePortTheKernelPicked) {
  TempDir elsewhere;
  const struct {
    std::string port_file;  // relative to the start directory, or absolute
    std::vector<std::string> created;
  } cases[] = {{"p", {"p", "state"}}, {elsewhere.file("p"), {"state"}}};
  for (const auto &c : cases) {
    ChildProcess server(run_server({"--port", "0", "--bind", "127.0.0.1", "--dir",
                                    "state", "--port-file", c.port_file},
                                   [] { return mkdir("state", 0755) == 0; }));
    ASSERT_TRUE(listening(server)) << c.port_file << ": " << server.Stderr();
    EXPECT_EQ(server.Output(), kWaiting) << c.port_file;
    const std::string path =
        c.port_file[0] == '/' ? c.port_file : server.file(c.port_file);
    const std::string text = read_file(path);
    const int port = std::atoi(text.c_str());
    EXPECT_EQ(text, std::to_string(port) + "\n") << c.port_file;
    EXPECT_EQ(entries(server.dir()), c.created) << c.port_file;
    const ifc::get_result got =
        ifc::get(at("127.0.0.1", static_cast<std::uint16_t>(port)), "IFC_get_Tot_Twt_1");
    EXPECT_EQ(got.reply, "to:90 tw:240 ") << c.port_file << ": " << got.message;
  }

  // One that cannot be written stops the server before it serves.
  ChildProcess server(run_server({"--port", "0", "--port-file", "missing/p"}));
  const auto status = server.WaitForExit();
  ASSERT_TRUE(status.has_value() && WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 1);
  EXPECT_EQ(server.Output(), "");
  EXPECT_EQ(server.Stderr(),
            "ifcsim: port file missing/p: "s + std::strerror(ENOENT) + "\n");
  EXPECT_TRUE(entries(server.dir()).empty());
}

// Makes socket() fail for the process and what it executes, so that a
// server that opens one before it has read its options says so.
bool forbid_sockets() {
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_socket, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EACCES),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog prog{sizeof filter / sizeof filter[0], filter};
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
      prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &prog) == 0)
    return true;
  std::printf("cannot forbid sockets: %s", std::strerror(errno));
  return false;
}

struct ended {
  int status;  // exit status; kSkip when sockets cannot be forbidden
  std::string out, err;
  std::vector<std::string> created;  // in the working directory
};

// Runs the server with args and socket() forbidden, until it ends.
ended run_without_sockets(const std::vector<std::string> &args) {
  ChildProcess child(run_server(args, forbid_sockets));
  const auto status = child.WaitForExit();
  EXPECT_TRUE(status.has_value() && WIFEXITED(*status)) << child.Output();
  return {status.has_value() && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1,
          child.Output(), child.Stderr(), entries(child.dir())};
}

TEST(IfcsimBinary, WrongUsageEndsWithOneLineAndCreatesNothing) {
  // what: the line on stderr between "ifcsim: " and "; see ifcsim --help",
  // without the hint that follows a bad port or address.
  static const struct {
    const char *name;
    std::vector<std::string> args;
    std::string what;
  } cases[] = {
      {"unknown option", {"--verbose"}, "unknown option '--verbose'"},
      {"short option", {"-p", "9001"}, "unknown option '-p'"},
      {"port without value", {"--port"}, "--port needs a value"},
      {"bind without value", {"--port", "9001", "--bind"}, "--bind needs a value"},
      {"dir without value", {"--dir"}, "--dir needs a value"},
      {"port file without value", {"--port-file"}, "--port-file needs a value"},
      {"empty port file", {"--port-file="}, "--port-file needs a file name"},
      {"readings without value", {"--readings"}, "--readings needs a value"},
      {"readings empty", {"--readings="}, "--readings: '' is no usable file name"},
      {"help with a value", {"--help=yes"}, "--help takes no value"},
      {"port not a number", {"--port", "abc"}, "--port: 'abc' is not a port number"},
      {"port empty", {"--port="}, "--port: '' is not a port number"},
      {"port 65536", {"--port=65536"}, "--port: '65536' is not a port number"},
      {"port negative", {"--port", "-1"}, "--port: '-1' is not a port number"},
      {"port with sign", {"--port", "+9001"}, "--port: '+9001' is not a port number"},
      {"port with blank", {"--port", " 9001"}, "--port: ' 9001' is not a port number"},
      {"port with trailing text",
       {"--port", "9001x"},
       "--port: '9001x' is not a port number"},
      {"port that wraps",
       {"--port", "18446744073709551617"},
       "--port: '18446744073709551617' is not a port number"},
      {"port with a line end",
       {"--port", "90\n01"},
       "--port: '90\\x0a01' is not a port number"},
      {"host name",
       {"--bind", "localhost"},
       "--bind: 'localhost' is not an IPv4 address"},
      {"short address", {"--bind", "127.1"}, "--bind: '127.1' is not an IPv4 address"},
      {"number above 255",
       {"--bind", "1.2.3.256"},
       "--bind: '1.2.3.256' is not an IPv4 address"},
      {"IPv6 address", {"--bind", "::1"}, "--bind: '::1' is not an IPv4 address"},
      {"missing directory", {"--dir", "missing"}, "--dir: 'missing' does not exist"},
      {"file as directory",
       {"--dir", "/dev/null"},
       "--dir: '/dev/null' is not a directory"},
      {"bad directory behind good options",
       {"--port", "9001", "--bind", "127.0.0.1", "--dir", "missing"},
       "--dir: 'missing' does not exist"},
      {"journal that cannot be opened",
       {"--journal", "missing/journal.jsonl"},
       "--journal: 'missing/journal.jsonl' cannot be opened (No such file or directory)"},
      {"positional argument", {"9001"}, "unexpected argument '9001'"},
      {"argument after --",
       {"--port", "9001", "--", "--bind"},
       "unexpected argument '--bind'"},
  };
  for (const auto &c : cases) {
    const ended e = run_without_sockets(c.args);
    if (e.status == kSkip) GTEST_SKIP() << e.out;
    std::string what = c.what;
    if (what.ends_with("port number")) what += " (0 to 65535)";
    if (what.ends_with("IPv4 address")) what += " (such as 127.0.0.1)";
    EXPECT_EQ(e.status, 2) << c.name;
    EXPECT_EQ(e.out, "") << c.name;
    EXPECT_EQ(e.err, "ifcsim: " + what + "; see ifcsim --help\n") << c.name;
    EXPECT_TRUE(e.created.empty()) << c.name;
  }
}

// Help, version, and the control case that shows a socket opened too early
// would be seen above.
TEST(IfcsimBinary, OtherEndsBeforeServing) {
  static const std::string usage =
      "Usage: ifcsim [--port N] [--bind ADDRESS] [--dir DIRECTORY] [--port-file FILE]\n";
  static const std::string version = "ifcsim " IFCSIM_VERSION "\n";
  static const struct {
    const char *name;
    std::vector<std::string> args;
    int status;
    const std::string &out;
    bool whole;  // else out is where stdout starts
    std::string err;
  } cases[] = {
      {"help", {"--help"}, 0, usage, false, ""},
      {"help before a wrong option", {"--help", "--port", "abc"}, 0, usage, false, ""},
      {"version", {"--version"}, 0, version, true, ""},
      {"abbreviated", {"--vers"}, 0, version, true, ""},
      {"good options reach the socket",
       {"--port", "9001", "--dir", "."},
       1,
       "Can't initialize sever socket.\n",
       true,
       "server: socket()\n"},
  };
  for (const auto &c : cases) {
    const ended e = run_without_sockets(c.args);
    if (e.status == kSkip) GTEST_SKIP() << e.out;
    EXPECT_EQ(e.status, c.status) << c.name;
    if (c.whole) {
      EXPECT_EQ(e.out, c.out) << c.name;
    } else {
      EXPECT_THAT(e.out, StartsWith(c.out)) << c.name;
      EXPECT_GT(e.out.size(), c.out.size()) << c.name;
    }
    EXPECT_EQ(e.err, c.err) << c.name;
    EXPECT_TRUE(e.created.empty()) << c.name;
  }
}

}  // namespace
