// Stand-in for libFuzzer's driver in ordinary builds: runs every file named
// on the command line, or found in a directory named there, through the
// target once. A corpus thus doubles as a regression test under any compiler.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int *argc, char ***argv);

namespace {

void collect(const std::string &path, std::vector<std::string> &out) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    std::fprintf(stderr, "replay: cannot stat %s\n", path.c_str());
    std::exit(2);
  }
  if (!S_ISDIR(st.st_mode)) {
    out.push_back(path);
    return;
  }
  DIR *d = opendir(path.c_str());
  if (d == nullptr) return;
  std::vector<std::string> names;
  while (dirent *e = readdir(d)) {
    if (e->d_name[0] != '.') names.emplace_back(e->d_name);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  for (const std::string &n : names) collect(path + "/" + n, out);
}

}  // namespace

int main(int argc, char **argv) {
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) collect(argv[i], files);
  if (files.empty()) {
    std::fprintf(stderr, "replay: no inputs\n");
    return 2;
  }
  for (const std::string &f : files) {
    std::ifstream in(f, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                            std::istreambuf_iterator<char>());
    // A distinct allocation of exactly the input's size, as libFuzzer
    // hands it over, so that a read past the input is caught under ASan.
    std::vector<std::uint8_t> input(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(input.data(), input.size());
  }
  std::fprintf(stderr, "replay: %zu inputs ran\n", files.size());
  return 0;
}
