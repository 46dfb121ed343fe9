// A fresh temporary directory for a test, removed with everything in it.
#pragma once

#include <string>

namespace testing_support {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;

  const std::string &path() const { return path_; }
  // path() + "/" + name
  std::string file(const std::string &name) const;

 private:
  std::string path_;
};

// Makes a TempDir the process's working directory for the lifetime of the
// object and restores the old one afterwards.
class ScopedWorkDir {
 public:
  ScopedWorkDir();
  ~ScopedWorkDir();
  ScopedWorkDir(const ScopedWorkDir &) = delete;
  ScopedWorkDir &operator=(const ScopedWorkDir &) = delete;

  const TempDir &dir() const { return dir_; }

 private:
  TempDir dir_;
  int old_cwd_fd_;
};

// Whole content of a file ("" when it cannot be read); exists() tells apart.
std::string read_file(const std::string &path);
bool file_exists(const std::string &path);
void write_file(const std::string &path, const std::string &bytes);

}  // namespace testing_support
