// A small tmpfs over a fresh temporary directory, in a mount namespace the
// test process takes for itself: a disk that fills up or turns read-only
// under a server it forks. Needs root, as CI has.
#pragma once

#include <cstddef>
#include <string>

#include "support/temp_dir.hpp"

namespace testing_support {

class SmallDisk : public TempDir {
 public:
  explicit SmallDisk(std::size_t bytes);
  ~SmallDisk();
  // "" once mounted, else why not.
  const std::string &why() const { return why_; }
  bool SetReadOnly(bool read_only);
  // Takes every free byte with the file "filler"; Free removes it.
  void Fill();
  void Free();

 private:
  std::string why_;
};

}  // namespace testing_support
