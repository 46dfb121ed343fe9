// The histogram handler's own time, IFC_get_hist_cntdatL called directly in
// the working directory: simulated, with a readings file that is missing
// (one stat per call), and with the given readings file in place. Taken in
// interleaved blocks; the best block of each counts, since this machine is
// shared and only a quiet moment shows what the code costs.
//
// usage: ifcsim_readings_bench FILE [BLOCKS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ifc/ifc_net.hpp"
#include "ifc/readings.hpp"
#include "ifcsim_config.hpp"

namespace {

char reply[kMaxPayload + 1];

double micros_per_call(int calls) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < calls; ++i) IFC_get_hist_cntdatL(reply);
  return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() -
                                                   start)
             .count() /
         calls;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: ifcsim_readings_bench FILE [BLOCKS]\n");
    return 2;
  }
  const int blocks = argc == 3 ? std::atoi(argv[2]) : 40;
  const std::string missing = std::string(argv[1]) + ".missing";
  const char *const files[] = {nullptr, missing.c_str(), argv[1]};
  const char *const names[] = {"simulated", "missing", "readings"};
  double best[3] = {1e9, 1e9, 1e9};
  for (int b = 0; b < blocks; ++b) {
    for (int v = 0; v < 3; ++v) {
      readings_configure(files[v]);
      best[v] = std::min(best[v], micros_per_call(5000));
    }
  }
  for (int v = 0; v < 3; ++v) std::printf("HANDLER,%s,%.2f\n", names[v], best[v]);
  return 0;
}
