// The whole-call deadline against a fake controller that sends a long reply
// slowly, each block well within the single wait (80 of 400 ms, so a loaded
// machine does not end the call early): without the deadline the call would
// last the 3.2 s of the reply.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <string>
#include <vector>

#include "ifcsim/lib_client.h"
#include "support/scripted_server.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

TEST(LibClientDeadline, ATrickledReplyEndsTheCallAtItsDeadline) {
  std::vector<std::string> steps = {"<23", ">LEN0000040960"};
  for (int i = 0; i < 40; ++i) {
    steps.push_back("<4");
    steps.push_back("=80");
    steps.push_back(">" + std::string(IFC_BLOCK_SIZE, 'x'));
  }
  testing_support::ScriptedServer server(steps);
  setenv("IFCSIM_PORT", std::to_string(server.port()).c_str(), 1);
  setenv("IFCSIM_TIMEOUT_MS", "400", 1);
  setenv("IFCSIM_DEADLINE_MS", "1000", 1);
  ifc_endpoint ep;
  ASSERT_EQ(ifc_endpoint_init(&ep), IFC_OK);

  const auto start = Clock::now();
  std::vector<char> reply(64 * 1024);
  EXPECT_EQ(ifc_get(&ep, "IFC_get_on_off_1", reply.data(), 64 * 1024), IFC_ETIMEOUT);
  const auto took = Clock::now() - start;
  server.Join();
  EXPECT_GE(took, milliseconds(1000));
  EXPECT_LE(took, milliseconds(1100));
  EXPECT_GT(server.received.size(), 23u + 4 * 10) << "blocks came within each wait";
}

}  // namespace
