// Time of one set-file load and one save on this machine, for both table
// sizes, in the working directory (run it where the server's files live:
// the filesystem is most of the answer).
//
// usage: ifcsim_setfile_bench [LOADS [SAVES]]
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "dispatch/sim_main.hpp"

namespace {

using clock_type = std::chrono::steady_clock;

double micros_per_call(clock_type::time_point start, int calls) {
  return std::chrono::duration<double, std::micro>(clock_type::now() - start).count() /
         calls;
}

enum class save_steps { write_only, file_fsync, file_and_dir_fsync };

// The steps of a save one by one, to show where its time goes: a plain
// rewrite in place, then a temporary file with fsync and rename, then the
// directory's fsync on top.
bool raw_save(const char *path, const std::vector<char> &image, save_steps steps) {
  const std::string tmp = std::string(path) + ".tmp";
  const char *target = steps == save_steps::write_only ? path : tmp.c_str();
  int fd = open(target, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = write(fd, image.data(), image.size()) == static_cast<ssize_t>(image.size());
  if (steps != save_steps::write_only) ok = ok && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  if (steps == save_steps::write_only) return ok;
  ok = ok && rename(tmp.c_str(), path) == 0;
  if (steps == save_steps::file_and_dir_fsync) {
    int dir = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ok = ok && dir >= 0 && fsync(dir) == 0;
    if (dir >= 0) close(dir);
  }
  return ok;
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
    // The save first, then its steps one block each, every one on a file of
    // its own. They do not take turns: an in-place rewrite (truncate and
    // write) makes ext4 flush at close, and the fsyncs right after it would
    // wait for that flush too; so it comes last.
    const std::string step_files[3] = {std::string(t.file) + ".0",
                                       std::string(t.file) + ".1",
                                       std::string(t.file) + ".2"};
    double step_us[4] = {};
    for (int k : {3, 1, 2, 0}) {
      start = clock_type::now();
      for (int i = 0; i < saves; ++i) {
        const bool ok =
            k == 3 ? hfp_save_data2(t.file, image.data(), t.size) == 0
                   : raw_save(step_files[k].c_str(), image, static_cast<save_steps>(k));
        if (!ok) return 1;
      }
      step_us[k] = micros_per_call(start, saves);
    }
    const double save_us = step_us[3];
    std::remove(t.file);
    for (const auto &f : step_files) std::remove(f.c_str());
    std::printf("setfile %5d B: load %.1f us, save %.1f us (%d loads, %d saves)\n",
                t.size, load_us, save_us, loads, saves);
    std::printf(
        "  save's steps: in place %.1f us; temp file + fsync + rename %.1f us;"
        " + directory fsync %.1f us\n",
        step_us[0], step_us[1], step_us[2]);
    std::printf("CSV,setfile,%d,%.1f,%.1f,%.1f,%.1f,%.1f\n", t.size, load_us, save_us,
                step_us[0], step_us[1], step_us[2]);
  }
  return 0;
}
