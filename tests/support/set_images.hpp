// The default images of the two set files, checked in once as tests/data/
// ifc_set.set and tests/data/valve_fp.set, and the record layout to read and
// change them (80-byte records: type, 28-byte name, seven value slots, min,
// max, 12-byte group; little-endian).
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace testing_support {

// The checked-in image of the set file of that name ("ifc_set.set" or
// "valve_fp.set"); "" (and a test failure) when it cannot be read.
const std::string &DefaultImage(const std::string &file_name);

// Whether image, as a server wrote it on first access, is the checked-in
// image; a failure names the first record that differs. With
// IFCSIM_UPDATE_GOLDEN=1 in the environment the image is written over the
// checked-in file instead: after a deliberate change of a default, run the
// first-access tests that way once and commit the new file.
testing::AssertionResult MatchesCheckedIn(const std::string &file_name,
                                          const std::string &image);

std::int32_t GetLe32(const std::string &image, std::size_t at);
void PutLe32(std::string &image, std::size_t at, std::int32_t v);

// Byte offset of value slot `slot` of the record at position pos (from 1).
inline std::size_t SlotOffset(int pos, int slot) {
  return static_cast<std::size_t>(pos - 1) * 80 + 32 + 4 * static_cast<std::size_t>(slot);
}

// Position (from 1) of the first record called name in image, 0 when none.
int RecordPosition(const std::string &image, std::string_view name);

}  // namespace testing_support
