// Edits of the rules file as the tools make them, at the same time.
#include "net/faults_file.hpp"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.hpp"

namespace {

// Each edit reads the file and renames a new one over it: unserialised,
// adds made at the same time lose each other's rule.
TEST(FaultsFile, AddsAtTheSameTimeAllLand) {
  constexpr int kWriters = 4, kEach = 25;
  testing_support::TempDir dir;
  const std::string path = dir.file("faults");
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w)
    writers.emplace_back([&path, w] {
      for (int i = 0; i < kEach; ++i) {
        const std::string rule =
            "* delay " + std::to_string(w * kEach + i) + " before len";
        EXPECT_EQ(faults_file_add(path, rule).error, faults_file_error::none) << rule;
      }
    });
  for (std::thread &t : writers) t.join();
  std::vector<faults_file_rule> rules;
  ASSERT_EQ(faults_file_list(path, &rules).error, faults_file_error::none);
  EXPECT_EQ(rules.size(), static_cast<std::size_t>(kWriters * kEach));
}

}  // namespace
