// A small tmpfs over a fresh temporary directory, in a mount namespace that
// the test process takes for itself: for saves and journal writes that meet
// a full or a read-only disk. Needs root (CI runs as root).
#pragma once

#include <cstddef>
#include <string>

#include "support/temp_dir.hpp"

namespace testing_support {

class SmallDisk {
 public:
  explicit SmallDisk(std::size_t bytes);
  ~SmallDisk();
  SmallDisk(const SmallDisk &) = delete;
  SmallDisk &operator=(const SmallDisk &) = delete;

  // Whether the tmpfs is mounted; why not, when it is not.
  bool mounted() const { return mounted_; }
  const std::string &why() const { return why_; }
  const std::string &path() const { return dir_.path(); }
  std::string file(const std::string &name) const { return dir_.file(name); }

  // Remounts it read-only or writable again; false on failure.
  bool SetReadOnly(bool read_only);
  // Takes every free byte with the file "filler"; Free removes it.
  void Fill();
  void Free();

 private:
  TempDir dir_;
  bool mounted_ = false;
  std::string why_;
};

}  // namespace testing_support
