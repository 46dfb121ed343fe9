// Readings files: any bytes go through the parser, which takes them whole or
// refuses them with a line that exists and a reason. Then the same bytes are
// the server's readings file, and every measurement reply, twice (the frames
// move on), must still read with the support library's reply readers.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "dispatch/ether_parse.hpp"
#include "fuzz_support.hpp"
#include "ifc/readings.hpp"
#include "ifcsim_config.hpp"
#include "ifcsim/lib_reply.h"

namespace {

void check_parse(const char *text, std::size_t size) {
  static readings_table *const table = new readings_table;
  readings_error err{};
  const int r = readings_parse(text, size, table, &err);
  const long lines = std::count(text, text + size, '\n') + 1;
  if (r == -1) {
    if (err.line < 1 || err.line > lines || err.reason[0] == '\0' ||
        std::memchr(err.reason, '\0', sizeof err.reason) == nullptr)
      __builtin_trap();
    return;
  }
  const int frames = readings_frame_count(*table);
  if (r != 0 || frames < 1 || frames > kReadingsMaxFrames || table->every_ms < 0 ||
      table->every_ms > kReadingsMaxEveryMs)
    __builtin_trap();
}

void check_replies(char *reply) {
  static const char *const names[] = {"IFC_get_To_Tw_1",     "IFC_get_To_Tw_6",
                                      "IFC_get_histo_ave_1", "IFC_get_histo_ave_3",
                                      "IFC_get_histo_ave_6", "IFC_get_hist_cntdatL",
                                      "IFC_get_hist_cntdatR"};
  for (const char *name : names) {
    char field[kCommandFieldSize + 1];
    std::snprintf(field, sizeof field, "%-20s", name);
    const int n = ether_get_data(field, reply);
    if (n < 0 || n >= kMaxPayload || reply[n] != '\0') __builtin_trap();
    ifc_pair pairs[16];
    ifc_histogram h;
    const bool histogram = std::strstr(name, "hist_cntdat") != nullptr;
    const int read = histogram ? ifc_parse_histogram(reply, n, &h)
                               : ifc_parse_pairs(reply, n, pairs, 16);
    if (read < 0) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_support::init_process();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static char *const reply = new char[kMaxPayload];
  const char *text = reinterpret_cast<const char *>(data);
  check_parse(text, size);

  fuzz_support::scratch_dir in_scratch;
  const int fd = open("readings", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return 0;
  const bool written = write(fd, data, size) == static_cast<ssize_t>(size);
  close(fd);
  if (!written) return 0;
  readings_configure("readings");
  check_replies(reply);
  check_replies(reply);
  readings_configure(nullptr);
  return 0;
}
