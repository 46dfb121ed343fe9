// The readings file: refused files and frames through the real server loop,
// frames by time on a test clock, and the ready-made files read back with
// the support library's reply readers.
#include "ifc/readings.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "dispatch/ether_parse.hpp"
#include "ifc/ifc_net.hpp"
#include "ifcsim_config.hpp"
#include "ifcsim/lib_reply.h"
#include "support/server_process.hpp"
#include "support/temp_dir.hpp"

namespace {

using testing_support::read_file;
using testing_support::ServerProcess;
using testing_support::write_file;

// A new file in the readings file's place, as a tool writes it.
void install(const std::string &path, const std::string &text) {
  if (!text.empty()) write_file(path + ".tmp", text);
  ASSERT_EQ(std::rename((path + ".tmp").c_str(), path.c_str()), 0) << path;
}

std::string repeat(const std::string &s, int n) {
  std::string out;
  while (n-- > 0) out += s;
  return out;
}

std::string get(const char *name) {
  char field[kCommandFieldSize + 1];
  std::snprintf(field, sizeof field, "%-20s", name);
  static char buf[kMaxPayload + 1];
  const int n = ether_get_data(field, buf);
  return n < 0 ? "<unknown>" : std::string(buf, static_cast<std::size_t>(n));
}

TEST(Readings, RefusedFileLeavesSimulatedValuesUntilItChanges) {
  ServerProcess server([] { readings_configure("readings"); });
  const std::string sim = server.Get("IFC_get_hist_cntdatL");
  static const struct {
    const char *name;
    std::string text;
    int line;  // 0: the file as a whole
    const char *reason;
    bool fifo = false;  // a FIFO in the file's place instead of text
  } cases[] = {
      {"unknown word", "measured 1 to:5\nsettings 3\n", 2,
       "unknown word 'settings' (every, frame, measured, average, left, right, both)"},
      {"number past 32 bits", "left n1:2147483648", 1,
       "2147483648 is outside 32 bits (-2147483648 to 2147483647)"},
      {"colour 7", "average 7 tbw:1", 1,
       "'7' is no colour number: 1 to 6, a range such as 3-6, or all"},
      {"unknown key", "average 1-2 tb9:1", 1,
       "'tb9:1' is no piece of average (to:N, tb1:N to tb8:N, tbw:N, tw:N)"},
      {"no number", "measured 2 to:x", 1, "'x' is no whole number"},
      {"decimal of 14 digits", "both decimal:12345678901234", 1,
       "12345678901234 has more than 13 digits before the point"},
      {"bins past 45", "both bins 44 1 2 3", 1, "3 counts from bin 44 run past bin 45"},
      {"every after a frame", "frame\nevery 2s", 2,
       "'every' comes at most once, before the first frame"},
      {"too many frames", repeat("frame\n", kReadingsMaxFrames + 1),
       kReadingsMaxFrames + 1, "more than 1000 frames"},
      {"binary", std::string("\177ELF\2\1\1\0\0\376", 10), 1,
       "a NUL byte: this is no text file"},
      {"huge file", std::string(kReadingsMaxBytes + 1, '#'), 0,
       "larger than 1048576 bytes"},
      {"a FIFO", "", 0, "not a regular file", true},
  };
  for (const auto &c : cases) {
    const std::string path = server.file("readings");
    if (c.fifo) mkfifo((path + ".tmp").c_str(), 0644);
    install(path, c.fifo ? "" : c.text);
    const std::string line =
        "ifcsim: readings" + (c.line > 0 ? ":" + std::to_string(c.line) : std::string()) +
        ": " + c.reason + " (readings refused, simulated values served)\n";
    EXPECT_EQ(server.Get("IFC_get_hist_cntdatL"), sim) << c.name;
    EXPECT_NE(server.WaitForStderr(line).find(line), std::string::npos) << c.name;
  }
  install(server.file("readings"), "left n1:7\n");
  EXPECT_EQ(server.Get("IFC_get_hist_cntdatL"), "7" + sim.substr(3)) << "fixed file";
}

TEST(Readings, FramesGoRoundPerCommandAndFollowTheFile) {
  ServerProcess server([] { readings_configure("readings"); });
  const std::string sim = server.Get("IFC_get_hist_cntdatL");
  const std::string tail = sim.substr(sim.find(" 190"));
  install(server.file("readings"),
          "every request\nmeasured 1 tw:500  # under every frame\n"
          "frame\nmeasured all to:1\nleft n1:-3 decimal:0.5\n"
          "frame\nmeasured all to:2\n"
          "frame\n");
  static const struct {
    const char *name;
    const char *get;
    // Installed before the GET unless null; "=..." is written in place, "" removes it.
    const char *file;
    std::string reply;
  } cases[] = {
      {"colour 1, frame 1", "IFC_get_To_Tw_1", nullptr, "to:1 tw:500 "},
      {"colour 1, frame 2", "IFC_get_To_Tw_1", nullptr, "to:2 tw:500 "},
      {"colour 2 counts its own", "IFC_get_To_Tw_2", nullptr, "to:1 tw:252 "},
      {"frame 3 sets nothing of its own", "IFC_get_To_Tw_1", nullptr, "to:92 tw:500 "},
      {"round to frame 1", "IFC_get_To_Tw_1", nullptr, "to:1 tw:500 "},
      {"histogram, frame 1", "IFC_get_hist_cntdatL", nullptr, "-3 500 0.50" + tail},
      {"histogram, frame 2", "IFC_get_hist_cntdatL", nullptr, sim},
      {"a changed file starts again", "IFC_get_To_Tw_1", "measured 1 to:9",
       "to:9 tw:242 "},
      {"changed in place", "IFC_get_To_Tw_1", "=measured 1 to:10", "to:10 tw:242 "},
      {"no file: simulated", "IFC_get_To_Tw_1", "", "to:92 tw:242 "},
  };
  for (const auto &c : cases) {
    const std::string path = server.file("readings");
    if (c.file != nullptr && *c.file == '=') {
      write_file(path, c.file + 1);
    } else if (c.file != nullptr && *c.file == '\0') {
      std::remove(path.c_str());
    } else if (c.file != nullptr) {
      install(path, c.file);
    }
    EXPECT_EQ(server.Get(c.get), c.reply) << c.name;
  }
  EXPECT_EQ(server.Stderr(), "");
}

std::int64_t test_now = 0;

TEST(Readings, EveryIntervalFollowsTheClockNotTheRequests) {
  testing_support::ScopedWorkDir work;
  readings_use_clock([] { return test_now; });
  test_now = 1000;
  install("readings", "every 2s\nframe\nmeasured 1 to:1\nframe\nmeasured 1 to:2\n");
  readings_configure("readings");
  static const struct {
    const char *name;
    std::int64_t now;
    const char *reply;
  } cases[] = {
      {"at the start", 1000, "to:1 tw:242 "},   {"asked again", 1000, "to:1 tw:242 "},
      {"just before 2s", 2999, "to:1 tw:242 "}, {"after 2s", 3000, "to:2 tw:242 "},
      {"round again", 5000, "to:1 tw:242 "},    {"a day on", 86401000, "to:1 tw:242 "},
  };
  for (const auto &c : cases) {
    test_now = c.now;
    EXPECT_EQ(get("IFC_get_To_Tw_1"), c.reply) << c.name;
  }
  readings_configure(nullptr);
  readings_use_clock(nullptr);
}

// In reply order, as readings_first_slot numbers them.
const char *const kCommands[kReadingsReplies] = {
    "IFC_get_To_Tw_1",      "IFC_get_To_Tw_2",     "IFC_get_To_Tw_3",
    "IFC_get_To_Tw_4",      "IFC_get_To_Tw_5",     "IFC_get_To_Tw_6",
    "IFC_get_histo_ave_1",  "IFC_get_histo_ave_2", "IFC_get_histo_ave_3",
    "IFC_get_histo_ave_4",  "IFC_get_histo_ave_5", "IFC_get_histo_ave_6",
    "IFC_get_hist_cntdatL", "IFC_get_hist_cntdatR"};

// Every number a frame sets comes back through the library's readers.
TEST(Readings, ReadyMadeFilesReadWithTheSupportLibrary) {
  testing_support::ScopedWorkDir work;
  auto table = std::make_unique<readings_table>();
  for (const char *name : {"empty", "full", "ramp", "extremes"}) {
    const std::string path = std::string(IFCSIM_READY_MADE_DIR "/") + name;
    const std::string text = read_file(path);
    readings_error err{};
    ASSERT_EQ(readings_parse(text.data(), text.size(), table.get(), &err), 0)
        << name << ":" << err.line << ": " << err.reason;
    readings_configure(path.c_str());
    for (int k = 0; k < readings_frame_count(*table); ++k) {
      const readings_frame &f = readings_frame_at(*table, k);
      for (int reply = 0; reply < kReadingsReplies; ++reply) {
        const char *command = kCommands[reply];
        const std::string r = get(command);
        const int first = readings_first_slot(reply);
        std::int64_t got[51];
        if (reply < 12) {
          ifc_pair pairs[11];
          const int n = ifc_parse_pairs(r.data(), static_cast<int>(r.size()), pairs, 11);
          ASSERT_EQ(n, readings_first_slot(reply + 1) - first) << name << " " << command;
          for (int i = 0; i < n; ++i) got[i] = pairs[i].value;
        } else {
          ifc_histogram h;
          ASSERT_EQ(ifc_parse_histogram(r.data(), static_cast<int>(r.size()), &h), 0)
              << name << " " << command << ": " << r;
          const std::int64_t head[5] = {h.n1, h.n2, std::llround(h.decimal * 100), h.n3,
                                        h.n4};
          for (int i = 0; i < 51; ++i) got[i] = i < 5 ? head[i] : h.bins[i - 5];
        }
        for (int slot = first; slot < readings_first_slot(reply + 1); ++slot) {
          if (readings_is_set(f, slot)) {
            EXPECT_EQ(got[slot - first], f.value[slot])
                << name << " frame " << k + 1 << " " << command << " #" << slot - first;
          }
        }
      }
    }
  }
  readings_configure(nullptr);
}

}  // namespace
