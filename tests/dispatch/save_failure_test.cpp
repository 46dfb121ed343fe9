// A save or a cgi.log append that fails, in a running server: the client got
// "FIN" all the same, so the server prints one line naming the file and the
// error, its journal says save-failed, the files stay as they were, and the
// next request tries again. Each cause once: a read-only directory, a full
// disk.
#include <gtest/gtest.h>

#include <string>

#include "support/journal_lines.hpp"
#include "support/server_process.hpp"
#include "support/small_disk.hpp"
#include "support/temp_dir.hpp"

namespace {

using testing_support::file_exists;
using testing_support::JournalEntries;
using testing_support::JournalServer;
using testing_support::PutHeader;
using testing_support::read_file;
using testing_support::SmallDisk;

TEST(SaveFailure, SaidInOneLineAndTriedAgain) {
  static const struct {
    const char *name;
    bool read_only;  // else full
    const char *error;
  } cases[] = {
      {"read-only directory", true, "Read-only file system"},
      {"full disk", false, "No space left on device"},
  };
  for (const auto &c : cases) {
    SmallDisk disk(256 * 1024);
    if (!disk.mounted()) GTEST_SKIP() << disk.why();
    testing_support::TempDir journal_dir;
    const std::string journal = journal_dir.file("journal.jsonl");
    const auto server = JournalServer(journal, disk.path());
    ASSERT_EQ(server->Get("IFC_get_Tot_Twt_1"), "to:90 tw:240 ") << c.name;
    const std::string image = read_file(disk.file("ifc_set.set"));
    if (c.read_only) {
      ASSERT_TRUE(disk.SetReadOnly(true)) << c.name;
    } else {
      disk.Fill();
    }

    // Both saves of the change fail; one line says so.
    EXPECT_TRUE(server->Put("IFC_set_to_tw_1", "to:95 tw:250")) << c.name;
    EXPECT_TRUE(server->Put("append_log", "lost\n")) << c.name;
    ASSERT_TRUE(server->WaitForRequests(3)) << c.name;
    EXPECT_EQ(
        server->RequestOutput(2),
        "connected... " + PutHeader(28) + "\nifc_set.set: not saved (" + c.error + ")\n")
        << c.name;
    EXPECT_EQ(server->RequestOutput(3), "connected... " + PutHeader(16) +
                                            "\ncgi.log: not appended to (" + c.error +
                                            ")\n")
        << c.name;
    EXPECT_TRUE(read_file(disk.file("ifc_set.set")) == image) << c.name;
    EXPECT_EQ(read_file(disk.file("cgi.log")), "") << c.name;
    EXPECT_FALSE(file_exists(disk.file("ifc_set.set.tmp"))) << c.name;

    if (c.read_only) {
      ASSERT_TRUE(disk.SetReadOnly(false)) << c.name;
    } else {
      disk.Free();
    }
    EXPECT_TRUE(server->Put("IFC_set_to_tw_1", "to:95 tw:250")) << c.name;
    ASSERT_TRUE(server->WaitForRequests(4)) << c.name;
    EXPECT_EQ(server->Get("IFC_get_Tot_Twt_1"), "to:95 tw:250 ") << c.name;
    ASSERT_TRUE(server->WaitForRequests(5)) << c.name;
    const auto entries = JournalEntries(journal);
    ASSERT_EQ(entries.size(), 5u) << c.name;
    EXPECT_EQ(entries[1]["result"], "save-failed") << c.name;
    EXPECT_EQ(entries[2]["result"], "save-failed") << c.name;
    EXPECT_EQ(entries[3]["result"], "ok") << c.name;
    EXPECT_EQ(entries[3]["saved"], nlohmann::ordered_json::array({"ifc_set.set"}))
        << c.name;
  }
}

}  // namespace
