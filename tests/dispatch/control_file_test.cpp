// Control files: a change is told by device, inode, size and mtime, never by
// reading; a read is bounded and never blocks on what is not a plain file.
#include "dispatch/control_file.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "support/temp_dir.hpp"

namespace {

using testing_support::write_file;

// Sets the file's modification time to t seconds, nanoseconds 0.
void set_mtime(const char *path, time_t t) {
  const timespec times[2] = {{t, 0}, {t, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path, times, 0), 0) << path;
}

TEST(ControlFile, CheckTellsChangesByIdentity) {
  testing_support::ScopedWorkDir work;
  control_file f;
  f.path = "ctl";
  static const struct {
    const char *name;
    std::function<void()> step;
    int result;
  } cases[] = {
      {"missing at the first check", [] {}, kControlGone},
      {"still missing", [] {}, kControlUnchanged},
      {"created",
       [] {
         write_file("ctl", "a");
         set_mtime("ctl", 1000);
       },
       kControlChanged},
      {"untouched", [] {}, kControlUnchanged},
      {"same size, other mtime",
       [] {
         write_file("ctl", "b");
         set_mtime("ctl", 1001);
       },
       kControlChanged},
      {"renamed over: same size and mtime, other inode",
       [] {
         write_file("new", "c");
         set_mtime("new", 1001);
         std::rename("new", "ctl");
       },
       kControlChanged},
      {"same mtime, other size",
       [] {
         write_file("ctl", "dd");
         set_mtime("ctl", 1001);
       },
       kControlChanged},
      {"removed", [] { std::remove("ctl"); }, kControlGone},
      {"still removed", [] {}, kControlUnchanged},
  };
  for (const auto &c : cases) {
    c.step();
    EXPECT_EQ(control_file_check(&f), c.result) << c.name;
  }
}

TEST(ControlFile, ReadIsBoundedAndTakesPlainFilesOnly) {
  testing_support::ScopedWorkDir work;
  constexpr std::size_t kCapacity = 8;
  static const struct {
    const char *name;
    std::function<void()> make;
    const char *text;  // what is read, or null when refused
    std::string reason;
  } cases[] = {
      {"one byte below the bound", [] { write_file("ctl", "1234567"); }, "1234567", ""},
      {"at the bound", [] { write_file("ctl", "12345678"); }, nullptr,
       "larger than 7 bytes"},
      {"a FIFO", [] { mkfifo("ctl", 0644); }, nullptr, "not a regular file"},
  };
  for (const auto &c : cases) {
    std::remove("ctl");
    c.make();
    control_file f;
    f.path = "ctl";
    char buf[kCapacity];
    const char *reason = "";
    const long n = control_file_read(&f, buf, sizeof buf, &reason);
    if (c.text != nullptr) {
      EXPECT_EQ(std::string(buf, n > 0 ? n + 1 : 0), std::string(c.text) + '\0')
          << c.name;
    } else {
      EXPECT_EQ(n, -1) << c.name;
      EXPECT_EQ(reason, c.reason) << c.name;
    }
  }
}

}  // namespace
