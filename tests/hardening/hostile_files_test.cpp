// Hostile set files: truncated, overlong, random, without a terminator, with
// names that fill their 28 bytes, with out-of-range selections. Whatever the
// file holds, the server answers every command that reads the table, stays up
// (under ASan any read out of bounds ends it), and never loses a file
// silently: a short one is kept as ".bad" with a line saying so.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "gtest/gtest.h"
#include "support/server_process.hpp"
#include "support/temp_dir.hpp"

namespace {

using testing_support::CountOccurrences;
using testing_support::file_exists;
using testing_support::read_file;
using testing_support::ServerProcess;
using testing_support::write_file;

constexpr std::size_t kIfcSize = 800, kValveSize = 8960;

enum class content { defaults, random, no_terminator, filled_names, wild_values };

std::string make(const std::string &defaults, content kind, std::size_t size,
                 unsigned seed) {
  std::string img;
  std::mt19937 rng(seed);
  switch (kind) {
    case content::defaults:
      img = defaults;
      break;
    case content::random:
      for (std::size_t i = 0; i < size; ++i) img.push_back(static_cast<char>(rng()));
      return img;
    case content::no_terminator:
      // Every record usable, the terminator included.
      img = defaults;
      for (std::size_t off = 0; off < img.size(); off += 80)
        if (img[off] == 0) img.replace(off, 80, defaults.substr(0, 80));
      break;
    case content::filled_names:
      img = defaults;
      for (std::size_t off = 0; off < img.size(); off += 80)
        img.replace(off + 4, 28, 28, 'N');
      break;
    case content::wild_values:
      img = defaults;
      for (std::size_t off = 0; off < img.size(); off += 80)
        for (int slot = 0; slot < 7; ++slot) {
          std::int32_t v = static_cast<std::int32_t>(rng());
          if (slot % 3 == 0) v = slot == 0 ? INT32_MIN : -1;
          std::memcpy(img.data() + off + 32 + 4 * slot, &v, 4);
        }
      break;
  }
  while (img.size() < size) img += img;
  return img.substr(0, size);
}

// Commands that read each table, and a change that writes it.
const char *const kIfcGets[] = {"IFC_get_select_item", "IFC_get_stat",
                                "IFC_get_Tot_Twt_1",   "IFC_get_Tot_Twt_6",
                                "IFC_get_hst_select",  "IFC_get_hist_cntdatL"};
const char *const kValveGets[] = {"IFC_get_on_off_1", "IFC_get_on_off_6"};

bool well_formed(const std::string &reply) {
  return !reply.empty() && reply[0] != '<' && reply.find('\0') == std::string::npos;
}

TEST(HostileFiles, NeverCrashNeverLoseSilently) {
  static const std::size_t kSizes[] = {0, 1, 799, 800, 801, 8959, 8960, 10000};
  static const struct {
    const char *name;
    content kind;
  } kContents[] = {{"default image", content::defaults},
                   {"random bytes", content::random},
                   {"no terminator", content::no_terminator},
                   {"unterminated names", content::filled_names},
                   {"wild values", content::wild_values}};

  ServerProcess srv;
  // The server's own default images, as it writes them on first use.
  ASSERT_TRUE(well_formed(srv.Get("IFC_get_stat")));
  ASSERT_TRUE(well_formed(srv.Get("IFC_get_on_off_1")));
  const std::string ifc_defaults = read_file(srv.file("ifc_set.set"));
  const std::string valve_defaults = read_file(srv.file("valve_fp.set"));
  ASSERT_EQ(ifc_defaults.size(), kIfcSize);
  ASSERT_EQ(valve_defaults.size(), kValveSize);
  int requests = 2;
  unsigned seed = 1;
  int files = 0;

  for (bool valve : {false, true}) {
    const std::string file = srv.file(valve ? "valve_fp.set" : "ifc_set.set");
    const std::size_t full = valve ? kValveSize : kIfcSize;
    const std::string &defaults = valve ? valve_defaults : ifc_defaults;
    for (std::size_t size : kSizes) {
      for (const auto &k : kContents) {
        const std::string name = std::string(valve ? "valve_fp.set " : "ifc_set.set ") +
                                 std::to_string(size) + " bytes, " + k.name;
        const std::string hostile = make(defaults, k.kind, size, seed++);
        std::remove((file + ".bad").c_str());
        write_file(file, hostile);
        ++files;

        const int kept_lines = CountOccurrences(srv.Output(), "kept as");
        if (valve) {
          for (const char *g : kValveGets) {
            EXPECT_TRUE(well_formed(srv.Get(g))) << name << ": " << g;
            ++requests;
          }
          EXPECT_TRUE(srv.Put("IFC_set_on_off_2", "main_on:95 sub18_off:7")) << name;
        } else {
          for (const char *g : kIfcGets) {
            EXPECT_TRUE(well_formed(srv.Get(g))) << name << ": " << g;
            ++requests;
          }
          EXPECT_TRUE(srv.Put("IFC_set_to_tw_2", "to:95 tw:250")) << name;
        }
        ASSERT_TRUE(srv.WaitForRequests(++requests)) << name;
        ASSERT_TRUE(srv.Alive()) << name;

        const std::string now = read_file(file);
        EXPECT_EQ(now.size(), full) << name;
        if (size < full) {
          EXPECT_TRUE(read_file(file + ".bad") == hostile)
              << name << ": a short file must be kept whole as .bad";
          EXPECT_EQ(CountOccurrences(srv.Output(), "kept as"), kept_lines + 1) << name;
        } else {
          EXPECT_FALSE(file_exists(file + ".bad")) << name;
          // Taken as it was: at most the two slots of the change differ.
          int differing = 0;
          for (std::size_t i = 0; i < full && i < now.size(); ++i)
            differing += now[i] != hostile[i];
          EXPECT_LE(differing, 8) << name;
        }
      }
    }
    // Leave the table sound for the other one's round.
    write_file(file, defaults);
  }
  EXPECT_EQ(files, 80);
  EXPECT_TRUE(srv.Alive());
}

}  // namespace
