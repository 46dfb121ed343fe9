// "valve_fp.set" for the tests: its checked-in default image, and the on/off
// replies that an image gives, built from the documented item list (not from
// the module's own table).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/set_images.hpp"

namespace valve_expect {

inline constexpr char kSetFile[] = "valve_fp.set";

// The checked-in default image: 111 records, then the terminator.
inline const std::string &default_image() {
  return testing_support::DefaultImage(kSetFile);
}

// Position (1..111) of a record in the default image, 0 when there is none.
inline int position_of(const std::string &record) {
  return testing_support::RecordPosition(default_image(), record);
}

// Byte offset of value slot index of the record at position p (from 1).
inline size_t slot_offset(int p, int index) {
  return testing_support::SlotOffset(p, index);
}

// The 45 on/off items in reply order with their records.
struct item {
  std::string name;
  std::string record;
};

inline std::vector<item> on_off_items() {
  std::vector<item> items = {{"pin_on", "VAL_pin_open"}};
  for (const char *s : {"abs_on", "abs_off", "main_on", "main_off", "tandem_on",
                        "tandem_off", "stretch_on", "stretch_off"}) {
    items.push_back({s, std::string("VAL_") + s});
  }
  for (int i = 1; i <= 18; ++i) {
    for (const char *suffix : {"_on", "_off"}) {
      std::string name = "sub" + std::to_string(i) + suffix;
      items.push_back({name, "VAL_" + name});
    }
  }
  return items;
}

// The on/off reply that a table image gives for one colour number.
inline std::string on_off_reply(const std::string &image, int colour) {
  std::string text = "ATC_TO_DELAY:0 ";
  for (const item &it : on_off_items()) {
    int p = position_of(it.record);
    text += it.name + ":" +
            std::to_string(testing_support::GetLe32(image, slot_offset(p, colour))) + " ";
  }
  return text;
}

}  // namespace valve_expect
