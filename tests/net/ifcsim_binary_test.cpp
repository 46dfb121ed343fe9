// The built server program: it starts and answers on port 9000. It runs in a
// private network namespace, so that a port 9000 taken on the machine does
// not matter.
#include <gtest/gtest.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "client/ifc_client.hpp"
#include "support/server_process.hpp"

#ifndef IFCSIM_BINARY
#error "IFCSIM_BINARY must name the built server program"
#endif

namespace {

using testing_support::ChildProcess;
using testing_support::CountOccurrences;
using testing_support::kDefaultWait;
using testing_support::read_file;

constexpr int kSkip = 77;
constexpr char kWaiting[] = "waiting... ";

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

// In the child: a network namespace of its own, the server program in it,
// and one GET and one PUT from the client on port 9000. What happened is
// printed for the test.
int run_in_namespace() {
  if (unshare(CLONE_NEWNET) != 0) {
    std::printf("unshare(CLONE_NEWNET): %s", std::strerror(errno));
    return kSkip;
  }
  if (!loopback_up()) {
    std::printf("cannot bring up lo in the new namespace: %s", std::strerror(errno));
    return kSkip;
  }
  char here[4096];
  if (getcwd(here, sizeof here) == nullptr) return 1;
  // The program serves in this child's directory, where the test looks.
  ChildProcess server([&here] {
    if (chdir(here) != 0) return 126;
    execl(IFCSIM_BINARY, "ifcsim", static_cast<char *>(nullptr));
    return 127;
  });
  bool ok = CountOccurrences(server.WaitForOutput(kWaiting), kWaiting) >= 1;

  ifc::endpoint ep;  // 127.0.0.1:9000
  const ifc::get_result got = ifc::get(ep, "no_such_command");
  const ifc::put_result put = ifc::put(ep, "append_log", "hello\n");
  ok = ok &&
       CountOccurrences(server.WaitForOutput(kWaiting, kDefaultWait, 3), kWaiting) >= 3;
  server.Stop();

  std::printf("get: %s %d\nput: %s\n---\n%s", ifc::client_error_name(got.error),
              got.length, ifc::client_error_name(put.error), server.Output().c_str());
  return ok ? 0 : 1;
}

TEST(IfcsimBinary, StartsAndAnswersOnPort9000) {
  ChildProcess child(run_in_namespace);
  const auto status = child.WaitForExit(std::chrono::seconds(30));
  ASSERT_TRUE(status.has_value()) << child.Output();
  ASSERT_TRUE(WIFEXITED(*status)) << child.Output();
  if (WEXITSTATUS(*status) == kSkip) {
    GTEST_SKIP() << "no private network namespace for the server: " << child.Output();
  }
  EXPECT_EQ(WEXITSTATUS(*status), 0) << child.Output() << child.Stderr();
  EXPECT_EQ(child.Output(),
            "get: none -1\n"
            "put: none\n"
            "---\n"
            "waiting... connected... GETno_such_command     \n"
            "waiting... connected... PUT17                  \n"
            "waiting... ");
  EXPECT_EQ(read_file(child.file("cgi.log")), "hello\n");
}

}  // namespace
