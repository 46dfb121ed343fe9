// Time of one set-file load and one save on this machine, for both table
// sizes, in the working directory (run it where the server's files live:
// the filesystem is most of the answer).
//
// usage: ifcsim_setfile_bench [LOADS [SAVES]]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "dispatch/sim_main.hpp"

namespace {

using clock_type = std::chrono::steady_clock;

double micros_per_call(clock_type::time_point start, int calls) {
  return std::chrono::duration<double, std::micro>(clock_type::now() - start).count() /
         calls;
}

}  // namespace

int main(int argc, char **argv) {
  const int loads = argc > 1 ? std::atoi(argv[1]) : 20000;
  const int saves = argc > 2 ? std::atoi(argv[2]) : 300;
  if (loads < 1 || saves < 1) {
    std::fprintf(stderr, "usage: ifcsim_setfile_bench [LOADS [SAVES]]\n");
    return 2;
  }
  static const struct {
    const char *file;
    int size;
  } tables[] = {{"bench_ifc.set", 800}, {"bench_valve.set", 8960}};
  for (const auto &t : tables) {
    std::vector<char> image(static_cast<size_t>(t.size), '\1');
    if (hfp_save_data2(t.file, image.data(), t.size) != 0) {
      std::perror(t.file);
      return 1;
    }
    auto start = clock_type::now();
    for (int i = 0; i < loads; ++i) {
      if (hfp_load_data2(t.file, image.data(), t.size) != t.size) return 1;
    }
    const double load_us = micros_per_call(start, loads);
    start = clock_type::now();
    for (int i = 0; i < saves; ++i) {
      if (hfp_save_data2(t.file, image.data(), t.size) != 0) return 1;
    }
    const double save_us = micros_per_call(start, saves);
    std::remove(t.file);
    std::printf("setfile %5d B: load %.1f us (%d runs), save %.1f us (%d runs)\n", t.size,
                load_us, loads, save_us, saves);
    std::printf("CSV,setfile,%d,%.1f,%.1f\n", t.size, load_us, save_us);
  }
  return 0;
}
