#include "support/set_images.hpp"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>

#include "support/temp_dir.hpp"

#ifndef IFCSIM_TEST_DATA_DIR
#error "IFCSIM_TEST_DATA_DIR must name tests/data"
#endif

namespace testing_support {
namespace {

constexpr std::size_t kRecordSize = 80;
constexpr std::size_t kNameSize = 28;

std::string checked_in_path(const std::string &file_name) {
  return std::string(IFCSIM_TEST_DATA_DIR) + "/" + file_name;
}

}  // namespace

const std::string &DefaultImage(const std::string &file_name) {
  static std::map<std::string, std::string> images;
  auto it = images.find(file_name);
  if (it == images.end()) {
    const std::string path = checked_in_path(file_name);
    std::string image = read_file(path);
    if (image.empty()) ADD_FAILURE() << "cannot read " << path;
    it = images.emplace(file_name, std::move(image)).first;
  }
  return it->second;
}

testing::AssertionResult MatchesCheckedIn(const std::string &file_name,
                                          const std::string &image) {
  const char *update = std::getenv("IFCSIM_UPDATE_GOLDEN");
  if (update != nullptr && std::strcmp(update, "1") == 0) {
    const std::string path = checked_in_path(file_name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(image.data(), static_cast<std::streamsize>(image.size()));
    if (!out.flush()) return testing::AssertionFailure() << "cannot write " << path;
    return testing::AssertionSuccess() << "wrote " << path;
  }
  const std::string &want = DefaultImage(file_name);
  if (image == want) return testing::AssertionSuccess();
  std::size_t at = 0;
  while (at < image.size() && at < want.size() && image[at] == want[at]) ++at;
  return testing::AssertionFailure()
         << file_name << " (" << image.size() << " bytes) differs from tests/data/"
         << file_name << " (" << want.size() << " bytes) at byte " << at << ", record "
         << at / kRecordSize + 1
         << ". If the default changed on purpose, run this test once with "
            "IFCSIM_UPDATE_GOLDEN=1 and commit the file (and rerun fuzz/make_seeds.py).";
}

std::int32_t GetLe32(const std::string &image, std::size_t at) {
  std::uint32_t u = 0;
  for (int i = 0; i < 4; ++i)
    u |= static_cast<std::uint32_t>(static_cast<unsigned char>(image[at + i])) << (8 * i);
  return static_cast<std::int32_t>(u);
}

void PutLe32(std::string &image, std::size_t at, std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  for (int i = 0; i < 4; ++i) image[at + i] = static_cast<char>((u >> (8 * i)) & 0xff);
}

int RecordPosition(const std::string &image, std::string_view name) {
  for (std::size_t at = 0; at + kRecordSize <= image.size(); at += kRecordSize) {
    const char *field = image.data() + at + 4;
    if (name.size() < kNameSize && std::memcmp(field, name.data(), name.size()) == 0 &&
        field[name.size()] == '\0')
      return static_cast<int>(at / kRecordSize) + 1;
  }
  return 0;
}

}  // namespace testing_support
