// ether_recv_unit_data when recv fails although the socket was reported
// readable. This executable supplies its own recv, which fails once on a
// chosen descriptor and otherwise receives as usual.
#undef _FORTIFY_SOURCE
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <cerrno>
#include <string>

#include "net/ether_com.hpp"
#include "support/server_process.hpp"

namespace {

int fail_fd = -1;
int fail_errno = 0;

}  // namespace

extern "C" ssize_t recv(int fd, void *buf, size_t n, int flags) {
  if (fd >= 0 && fd == fail_fd) {
    fail_fd = -1;
    errno = fail_errno;
    return -1;
  }
  return recvfrom(fd, buf, n, flags, nullptr, nullptr);
}

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// Any failed receive ends the call with -1 and no message; it is not tried
// again, whatever the error.
TEST(EtherComRecvFault, FailedReceiveAfterReadinessReturnsMinusOne) {
  static const struct {
    const char *name;
    int error;
  } cases[] = {
      {"EAGAIN", EAGAIN},
      {"EINTR", EINTR},
      {"ECONNRESET", ECONNRESET},
  };
  for (const auto &c : cases) {
    testing_support::ConnectedPair conn;
    ASSERT_TRUE(conn.peer().Send("abcd")) << c.name;
    char buf[4];
    fail_errno = c.error;
    fail_fd = conn.server();
    CaptureStdout();
    const int result = ether_recv_unit_data(conn.server(), buf, 4, 5);
    EXPECT_EQ(GetCapturedStdout(), "") << c.name;
    EXPECT_EQ(result, -1) << c.name;
    EXPECT_EQ(fail_fd, -1) << c.name << ": recv was called";
    fail_fd = -1;
  }
}

}  // namespace
