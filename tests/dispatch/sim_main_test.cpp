#include "dispatch/sim_main.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

#include "dispatch/exchange.hpp"
#include "support/temp_dir.hpp"

namespace {

using testing_support::file_exists;
using testing_support::read_file;
using testing_support::ScopedWorkDir;
using testing_support::TempDir;
using testing_support::write_file;

constexpr int kSize = 800;
const char kPath[] = "ifc_set.set";

std::string pattern(size_t n, int seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + seed) % 251);
  return s;
}

bool is_dir(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool is_symlink(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool is_fifo(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
}

// Everything fn writes to standard output, at the descriptor level.
std::string capture_stdout(const std::function<void()> &fn) {
  std::fflush(stdout);
  FILE *tmp = std::tmpfile();
  int saved = dup(STDOUT_FILENO);
  dup2(fileno(tmp), STDOUT_FILENO);
  fn();
  std::fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
  std::string out;
  std::rewind(tmp);
  char buf[512];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, tmp)) > 0) out.append(buf, n);
  std::fclose(tmp);
  return out;
}

class SimMainFiles : public ::testing::Test {
 protected:
  ScopedWorkDir work_;
};

TEST_F(SimMainFiles, LoadReadsOnceUpToSize) {
  static const struct {
    const char *name;
    int file_len;  // -1: no file
    int result;
  } cases[] = {
      {"missing file", -1, 0},
      {"empty file", 0, 0},
      {"short file", 500, 500},
      {"exact file", 800, 800},
      {"long file: first size bytes", 1000, 800},
  };
  for (const auto &c : cases) {
    unlink(kPath);
    const std::string content = c.file_len < 0 ? "" : pattern(c.file_len, 3);
    if (c.file_len >= 0) write_file(kPath, content);
    std::string buf(kSize + 16, '\xAA');
    EXPECT_EQ(hfp_load_data2(kPath, buf.data(), kSize), c.result) << c.name;
    const size_t got = c.result > 0 ? c.result : 0;
    EXPECT_EQ(buf.substr(0, got), content.substr(0, got)) << c.name;
    EXPECT_EQ(buf.substr(got), std::string(buf.size() - got, '\xAA'))
        << c.name << ": bytes behind the read untouched";
  }
}

TEST_F(SimMainFiles, LoadOfDirectoryFailsInRead) {
  ASSERT_EQ(mkdir(kPath, 0755), 0);
  std::string buf(kSize, '\xAA');
  EXPECT_EQ(hfp_load_data2(kPath, buf.data(), kSize), -1);
  EXPECT_EQ(buf, std::string(kSize, '\xAA'));
}

TEST_F(SimMainFiles, SaveReplacesWithExactlySizeBytes) {
  static const struct {
    const char *name;
    int old_len;  // -1: no file
    mode_t umask_value;
    mode_t old_mode;       // of an existing file
    mode_t expected_mode;  // of the saved file
  } cases[] = {
      {"new file, umask 022", -1, 022, 0, 0644},
      {"new file, umask 077", -1, 077, 0, 0600},
      {"new file, umask 0", -1, 0, 0, 0644},
      {"longer file cut to size", 1000, 022, 0644, 0644},
      {"shorter file grown to size", 10, 022, 0644, 0644},
      {"narrowed permissions kept", 800, 022, 0600, 0600},
  };
  const std::string image = pattern(kSize, 11);
  for (const auto &c : cases) {
    unlink(kPath);
    if (c.old_len >= 0) {
      write_file(kPath, pattern(c.old_len, 5));
      ASSERT_EQ(chmod(kPath, c.old_mode), 0) << c.name;
    }
    const mode_t old_umask = umask(c.umask_value);
    const int result = hfp_save_data2(kPath, image.data(), kSize);
    umask(old_umask);
    EXPECT_EQ(result, 0) << c.name;
    EXPECT_EQ(read_file(kPath), image) << c.name;
    struct stat st;
    ASSERT_EQ(stat(kPath, &st), 0) << c.name;
    EXPECT_EQ(st.st_mode & 07777, c.expected_mode) << c.name;
    EXPECT_FALSE(file_exists(std::string(kPath) + ".tmp")) << c.name;
  }
}

// A set file kept elsewhere behind a link: the link stays, the real file
// gets the image. A dangling link is replaced by the file itself.
TEST_F(SimMainFiles, SaveThroughLinkReplacesTheRealFile) {
  static const struct {
    const char *name;
    bool target_exists;
    const char *written;  // file that must hold the image afterwards
    bool link_stays;
  } cases[] = {
      {"link to an existing file", true, "real/ifc_set.set", true},
      {"dangling link", false, "ifc_set.set", false},
  };
  const std::string image = pattern(kSize, 2);
  for (const auto &c : cases) {
    ScopedWorkDir dir;
    ASSERT_EQ(mkdir("real", 0755), 0) << c.name;
    if (c.target_exists) {
      write_file("real/ifc_set.set", pattern(1000, 1));
      ASSERT_EQ(chmod("real/ifc_set.set", 0600), 0) << c.name;
    }
    ASSERT_EQ(symlink("real/ifc_set.set", kPath), 0) << c.name;
    EXPECT_EQ(hfp_save_data2(kPath, image.data(), kSize), 0) << c.name;
    EXPECT_EQ(is_symlink(kPath), c.link_stays) << c.name;
    EXPECT_EQ(read_file(c.written), image) << c.name;
    EXPECT_FALSE(file_exists("ifc_set.set.tmp")) << c.name;
    EXPECT_FALSE(file_exists("real/ifc_set.set.tmp")) << c.name;
    if (c.target_exists) {
      struct stat st;
      ASSERT_EQ(stat("real/ifc_set.set", &st), 0) << c.name;
      EXPECT_EQ(st.st_mode & 07777, 0600u) << c.name;
    }
  }
}

// What stands at the name is never lost or changed elsewhere: a file longer
// than the table is kept whole before the save cuts it; a link out of its
// directory is not followed, and the save fails.
TEST_F(SimMainFiles, SaveKeepsALongFileAndWritesNothingOutside) {
  TempDir outside;
  const std::string original = pattern(1000, 1), image = pattern(kSize, 2);
  const struct {
    const char *name;
    std::string target;  // the link's target, or "" for a plain file
    int result;
    std::string kept;  // the file that holds the original afterwards
    std::string printed;
  } cases[] = {
      {"longer file", "", 0, "ifc_set.set.long",
       "ifc_set.set: 1000 bytes, expected 800; kept as ifc_set.set.long before the save "
       "shortens it\n"},
      {"link out of the directory", outside.file("x.set"), -1, outside.file("x.set"),
       "ifc_set.set: not saved (a link to " + outside.file("x.set") +
           ", outside its directory)\n"},
  };
  for (const auto &c : cases) {
    ScopedWorkDir dir;
    if (c.target.empty()) {
      write_file(kPath, original);
    } else {
      write_file(c.target, original);
      ASSERT_EQ(symlink(c.target.c_str(), kPath), 0) << c.name;
    }
    exchange_begin();  // a request of its own: its lines are not held back
    int result = 1;
    EXPECT_EQ(
        capture_stdout([&] { result = hfp_save_data2(kPath, image.data(), kSize); }),
        c.printed)
        << c.name;
    EXPECT_EQ(result, c.result) << c.name;
    EXPECT_EQ(read_file(c.kept), original) << c.name;
    EXPECT_EQ(read_file(kPath), c.result == 0 ? image : original) << c.name;
  }
}

// Each way a save can fail must return -1 and leave the old set file whole.
// Permissions cannot provoke a failure: CI runs as root.
TEST_F(SimMainFiles, SaveBlockedAtTemporaryNameKeepsOldFile) {
  static const struct {
    const char *name;
    bool link;  // else a directory stands at the temporary name
  } cases[] = {
      {"directory at the temporary name", false},
      {"link at the temporary name is not followed", true},
  };
  const std::string old = pattern(kSize, 1);
  const std::string image = pattern(kSize, 2);
  for (const auto &c : cases) {
    ScopedWorkDir dir;
    write_file(kPath, old);
    if (c.link) {
      ASSERT_EQ(symlink("elsewhere", "ifc_set.set.tmp"), 0) << c.name;
    } else {
      ASSERT_EQ(mkdir("ifc_set.set.tmp", 0755), 0) << c.name;
    }
    EXPECT_EQ(hfp_save_data2(kPath, image.data(), kSize), -1) << c.name;
    EXPECT_EQ(read_file(kPath), old) << c.name;
    EXPECT_FALSE(file_exists("elsewhere")) << c.name;
    EXPECT_TRUE(c.link ? is_symlink("ifc_set.set.tmp") : is_dir("ifc_set.set.tmp"))
        << c.name;
  }
}

// A disk that fills up mid-write: the file size limit cuts the write short.
TEST_F(SimMainFiles, SaveCutShortLeavesOldFileAndNoTemporary) {
  const std::string old = pattern(kSize, 1);
  write_file(kPath, old);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit lim = {100, 100};
    if (setrlimit(RLIMIT_FSIZE, &lim) != 0) _exit(2);
    const std::string image = pattern(kSize, 2);
    _exit(hfp_save_data2(kPath, image.data(), kSize) == -1 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "save must report -1";
  EXPECT_EQ(read_file(kPath), old);
  EXPECT_FALSE(file_exists("ifc_set.set.tmp"));
}

TEST_F(SimMainFiles, SaveOverDirectoryFailsAndCleansUp) {
  ASSERT_EQ(mkdir(kPath, 0755), 0);
  write_file(std::string(kPath) + "/inside", "x");
  const std::string image = pattern(kSize, 2);
  EXPECT_EQ(hfp_save_data2(kPath, image.data(), kSize), -1);
  EXPECT_TRUE(is_dir(kPath));
  EXPECT_EQ(read_file(std::string(kPath) + "/inside"), "x");
  EXPECT_FALSE(file_exists("ifc_set.set.tmp"));
}

// "cgi.log" is the plain concatenation of the data parts, byte for byte.
TEST_F(SimMainFiles, AppendLogAddsTheDataPartAsItCame) {
  static const struct {
    const char *name;
    const char *before;  // nullptr: no log yet
    std::string data;
    std::string after;
  } cases[] = {
      {"new log", nullptr, "abc", "abc"},
      {"appended, no line end added", "line 1\n", "abc", "line 1\nabc"},
      {"line ends and NULs kept", "x", std::string("a\r\n\0b", 5),
       std::string("xa\r\n\0b", 6)},
      {"empty data part creates an empty log", nullptr, "", ""},
      {"empty data part leaves the log as it is", "keep", "", "keep"},
  };
  for (const auto &c : cases) {
    unlink("cgi.log");
    if (c.before != nullptr) write_file("cgi.log", c.before);
    // The byte behind the data part is not the handler's to change here.
    std::string buf = c.data + "Z";
    const mode_t old_umask = umask(022);
    append_log(buf.data(), static_cast<int>(c.data.size()));
    umask(old_umask);
    EXPECT_EQ(read_file("cgi.log"), c.after) << c.name;
    EXPECT_EQ(buf.back(), 'Z') << c.name;
    struct stat st;
    ASSERT_EQ(stat("cgi.log", &st), 0) << c.name;
    if (c.before == nullptr) {
      EXPECT_EQ(st.st_mode & 07777, 0644u) << c.name;
    }
  }
}

enum class Entry { kNone, kFile, kDirectory, kLinkLoop, kFifo };

// hfp_load_table in a fresh directory: what stands at the set file's name
// before, and what the table, the files and standard output hold after.
TEST(SimMainLoadTable, TakesWholeFilesAndSetsAsideOthers) {
  static const struct {
    const char *name;
    Entry setup;
    int file_len;           // for kFile
    const char *older_bad;  // written to "<path>.bad" first, or nullptr
    int result;
    int table_len;  // > 0: table holds the file's first bytes; 0: the defaults
    int kept_len;   // > 0: the set file is left with the original bytes
    Entry bad;      // what "<path>.bad" must be afterwards
    const char *printed;
  } cases[] = {
      {"missing file created silently", Entry::kNone, 0, nullptr, 0, 0, 0, Entry::kNone,
       ""},
      {"exact file taken", Entry::kFile, 800, nullptr, 800, 800, 800, Entry::kNone, ""},
      {"long file taken as is", Entry::kFile, 1000, nullptr, 800, 800, 1000, Entry::kNone,
       ""},
      {"short file set aside", Entry::kFile, 799, nullptr, 0, 0, 0, Entry::kFile,
       "ifc_set.set: 799 bytes, expected 800; kept as ifc_set.set.bad, defaults "
       "restored\n"},
      {"empty file set aside", Entry::kFile, 0, nullptr, 0, 0, 0, Entry::kFile,
       "ifc_set.set: 0 bytes, expected 800; kept as ifc_set.set.bad, defaults "
       "restored\n"},
      {"older .bad replaced", Entry::kFile, 1, "older", 0, 0, 0, Entry::kFile,
       "ifc_set.set: 1 bytes, expected 800; kept as ifc_set.set.bad, defaults "
       "restored\n"},
      {"directory: read fails", Entry::kDirectory, 0, nullptr, 0, 0, 0, Entry::kDirectory,
       "ifc_set.set: unreadable (Is a directory); kept as ifc_set.set.bad, defaults "
       "restored\n"},
      {"link loop: open fails", Entry::kLinkLoop, 0, "older", 0, 0, 0, Entry::kLinkLoop,
       "ifc_set.set: unreadable (Too many levels of symbolic links); kept as "
       "ifc_set.set.bad, defaults restored\n"},
      {"FIFO: not read, no wait for a writer", Entry::kFifo, 0, nullptr, 0, 0, 0,
       Entry::kFifo,
       "ifc_set.set: not a regular file; kept as ifc_set.set.bad, defaults restored\n"},
  };
  const std::string defaults = pattern(kSize, 9);
  for (const auto &c : cases) {
    ScopedWorkDir dir;
    const std::string original = pattern(c.file_len, 4);
    if (c.older_bad) write_file("ifc_set.set.bad", c.older_bad);
    switch (c.setup) {
      case Entry::kNone:
        break;
      case Entry::kFile:
        write_file(kPath, original);
        break;
      case Entry::kDirectory:
        ASSERT_EQ(mkdir(kPath, 0755), 0) << c.name;
        break;
      case Entry::kLinkLoop:
        ASSERT_EQ(symlink(kPath, kPath), 0) << c.name;
        break;
      case Entry::kFifo:
        ASSERT_EQ(mkfifo(kPath, 0644), 0) << c.name;
        break;
    }

    std::string table(kSize, '\xAA');
    int result = -2;
    const std::string printed = capture_stdout(
        [&] { result = hfp_load_table(kPath, table.data(), defaults.data(), kSize); });

    EXPECT_EQ(result, c.result) << c.name;
    EXPECT_EQ(printed, c.printed) << c.name;
    EXPECT_EQ(table, c.table_len > 0 ? original.substr(0, c.table_len) : defaults)
        << c.name;
    EXPECT_EQ(read_file(kPath), c.kept_len > 0 ? original : defaults) << c.name;
    switch (c.bad) {
      case Entry::kNone:
        EXPECT_FALSE(file_exists("ifc_set.set.bad")) << c.name;
        break;
      case Entry::kFile:
        EXPECT_EQ(read_file("ifc_set.set.bad"), original) << c.name;
        break;
      case Entry::kDirectory:
        EXPECT_TRUE(is_dir("ifc_set.set.bad")) << c.name;
        break;
      case Entry::kLinkLoop:
        EXPECT_TRUE(is_symlink("ifc_set.set.bad")) << c.name;
        break;
      case Entry::kFifo:
        EXPECT_TRUE(is_fifo("ifc_set.set.bad")) << c.name;
        break;
    }
    EXPECT_FALSE(file_exists("ifc_set.set.tmp")) << c.name;
  }
}

// When the rejected file cannot be kept aside, saving the defaults would
// destroy it: the table gets the defaults and the file stays as it was.
TEST(SimMainLoadTable, RejectedFileThatCannotBeKeptIsLeftAlone) {
  ScopedWorkDir dir;
  const std::string defaults = pattern(kSize, 9);
  const std::string original = pattern(799, 4);
  write_file(kPath, original);
  ASSERT_EQ(mkdir("ifc_set.set.bad", 0755), 0);
  write_file("ifc_set.set.bad/x", "x");

  std::string table(kSize, '\xAA');
  int result = -2;
  const std::string printed = capture_stdout(
      [&] { result = hfp_load_table(kPath, table.data(), defaults.data(), kSize); });

  EXPECT_EQ(result, -1);
  EXPECT_EQ(printed,
            "ifc_set.set: 799 bytes, expected 800; could not keep it as ifc_set.set.bad "
            "(Is a directory), defaults used, file left alone\n");
  EXPECT_EQ(table, defaults);
  EXPECT_EQ(read_file(kPath), original);
  EXPECT_EQ(read_file("ifc_set.set.bad/x"), "x");
}

}  // namespace
