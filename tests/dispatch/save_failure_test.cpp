// A save or a cgi.log append that fails in a running server: the client got
// "FIN" all the same, so the server says so in one line naming the file and
// the error, the journal says save-failed, the files stay as they were, and
// the next request tries again. Each cause once.
#include <gtest/gtest.h>

#include <string>

#include "support/journal_lines.hpp"
#include "support/small_disk.hpp"

namespace {

using testing_support::PutHeader;
using testing_support::read_file;

TEST(SaveFailure, SaidInOneLineAndTriedAgain) {
  static const struct {
    const char *name;
    bool read_only;  // else full
    const char *error;
  } cases[] = {{"read-only directory", true, "Read-only file system"},
               {"full disk", false, "No space left on device"}};
  for (const auto &c : cases) {
    testing_support::SmallDisk disk(256 * 1024);
    if (!disk.why().empty()) GTEST_SKIP() << disk.why();
    testing_support::TempDir journal_dir;
    const std::string journal = journal_dir.file("journal.jsonl");
    const auto server = testing_support::JournalServer(journal, disk.path());
    ASSERT_EQ(server->Get("IFC_get_Tot_Twt_1"), "to:90 tw:240 ") << c.name;
    const std::string image = read_file(disk.file("ifc_set.set"));
    ASSERT_TRUE(c.read_only ? disk.SetReadOnly(true) : (disk.Fill(), true)) << c.name;

    // Both saves of the change fail; one line says so.
    EXPECT_TRUE(server->Put("IFC_set_to_tw_1", "to:95 tw:250")) << c.name;
    EXPECT_TRUE(server->Put("append_log", "lost\n")) << c.name;
    ASSERT_TRUE(server->WaitForRequests(3)) << c.name;
    EXPECT_EQ(
        server->RequestOutput(2),
        "connected... " + PutHeader(28) + "\nifc_set.set: not saved (" + c.error + ")\n");
    EXPECT_EQ(server->RequestOutput(3), "connected... " + PutHeader(16) +
                                            "\ncgi.log: not appended to (" + c.error +
                                            ")\n");
    EXPECT_TRUE(read_file(disk.file("ifc_set.set")) == image) << c.name;
    EXPECT_EQ(read_file(disk.file("cgi.log")), "") << c.name;

    ASSERT_TRUE(c.read_only ? disk.SetReadOnly(false) : (disk.Free(), true)) << c.name;
    EXPECT_TRUE(server->Put("IFC_set_to_tw_1", "to:95 tw:250")) << c.name;
    ASSERT_TRUE(server->WaitForRequests(4)) << c.name;
    EXPECT_EQ(server->Get("IFC_get_Tot_Twt_1"), "to:95 tw:250 ") << c.name;
    const auto entries = testing_support::JournalEntries(journal);
    ASSERT_GE(entries.size(), 4u) << c.name;
    for (int i : {1, 2}) EXPECT_EQ(entries[i]["result"], "save-failed") << c.name;
    EXPECT_EQ(entries[3]["saved"], nlohmann::ordered_json::array({"ifc_set.set"}))
        << c.name;
  }
}

}  // namespace
