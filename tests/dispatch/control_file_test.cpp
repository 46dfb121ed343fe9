// Control files: a change is told by device, inode, size and mtime, never by
// reading; a read is bounded and never blocks on what is not a plain file.
#include "dispatch/control_file.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "support/temp_dir.hpp"

namespace {

using testing_support::write_file;

// Writes text to path with the modification time t (seconds).
void write_dated(const char *path, const char *text, time_t t) {
  write_file(path, text);
  const timespec times[2] = {{t, 0}, {t, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path, times, 0), 0) << path;
}

TEST(ControlFile, CheckTellsChangesByIdentity) {
  testing_support::ScopedWorkDir work;
  control_file f;
  f.path = "ctl";
  // text: written in place, or (renamed) beside it and renamed over it;
  // "-" removes the file, null leaves it.
  static const struct {
    const char *name;
    const char *text;
    bool renamed;
    time_t mtime;
    int result;
  } cases[] = {
      {"missing at the first check", nullptr, false, 0, kControlGone},
      {"still missing", nullptr, false, 0, kControlUnchanged},
      {"created", "a", false, 1000, kControlChanged},
      {"untouched", nullptr, false, 0, kControlUnchanged},
      {"same size, other mtime", "b", false, 1001, kControlChanged},
      {"same size and mtime, other inode", "c", true, 1001, kControlChanged},
      {"same mtime, other size", "dd", false, 1001, kControlChanged},
      {"removed", "-", false, 0, kControlGone},
      {"still removed", nullptr, false, 0, kControlUnchanged},
  };
  for (const auto &c : cases) {
    if (c.text != nullptr && std::strcmp(c.text, "-") == 0) {
      std::remove("ctl");
    } else if (c.text != nullptr) {
      write_dated(c.renamed ? "new" : "ctl", c.text, c.mtime);
      if (c.renamed) std::rename("new", "ctl");
    }
    EXPECT_EQ(control_file_check(&f), c.result) << c.name;
  }
}

TEST(ControlFile, ReadIsBoundedAndTakesPlainFilesOnly) {
  testing_support::ScopedWorkDir work;
  // text: the file's content, or null for a FIFO in its place.
  static const struct {
    const char *name;
    const char *text;
    long result;
    const char *reason;
  } cases[] = {
      {"one byte below the bound", "1234567", 7, ""},
      {"at the bound", "12345678", -1, "larger than 7 bytes"},
      {"a FIFO", nullptr, -1, "not a regular file"},
  };
  for (const auto &c : cases) {
    std::remove("ctl");
    if (c.text != nullptr) write_file("ctl", c.text);
    if (c.text == nullptr) mkfifo("ctl", 0644);
    control_file f;
    f.path = "ctl";
    char buf[8];
    const char *reason = "";
    EXPECT_EQ(control_file_read(&f, buf, sizeof buf, &reason), c.result) << c.name;
    EXPECT_STREQ(reason, c.reason) << c.name;
    if (c.result >= 0) {
      EXPECT_EQ(std::string(buf, c.result + 1), c.text + std::string(1, '\0')) << c.name;
    }
  }
}

}  // namespace
