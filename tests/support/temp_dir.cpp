#include "support/temp_dir.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testing_support {

TempDir::TempDir() {
  const char *base = std::getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/ifcsim-test-XXXXXX";
  if (mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = templ;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::file(const std::string &name) const { return path_ + "/" + name; }

ScopedWorkDir::ScopedWorkDir() : old_cwd_fd_(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
  if (chdir(dir_.path().c_str()) != 0) throw std::runtime_error("chdir failed");
}

ScopedWorkDir::~ScopedWorkDir() {
  if (old_cwd_fd_ >= 0) {
    if (fchdir(old_cwd_fd_) != 0) {
      // Nothing sensible to do in a destructor; the directory is removed anyway.
    }
    close(old_cwd_fd_);
  }
}

std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

bool file_exists(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

void write_file(const std::string &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace testing_support
