#include "valve/mletoff_net.hpp"

#include <cstdio>

int MLETOFF_set_btnstat(char *data, int len) {
  if (len < 0) len = 0;
  data[len] = '\0';
  std::printf("%s\n", data);
  // Standard output may be a pipe or the journal: let the line out now.
  std::fflush(stdout);
  return 0;
}
