// The readings file: numbers that a tester puts behind the measurement
// commands (IFC_get_To_Tw_N, IFC_get_histo_ave_N, IFC_get_hist_cntdatL/R) in
// place of the simulated ones, in frames shown in turn. The format is in
// docs/readings.md; the parser is shared with ifcctl, so that a file is
// checked by the code that applies it.
#pragma once

#include <cstddef>
#include <cstdint>

// A larger file is refused unread.
inline constexpr std::size_t kReadingsMaxBytes = 1 << 20;
inline constexpr int kReadingsMaxFrames = 1000;
// The file's bounds for "every": from a millisecond to a day.
inline constexpr std::int64_t kReadingsMaxEveryMs = 86400000;

// The replies a file sets numbers of: 0-5 IFC_get_To_Tw_1..6 ("measured C"
// in the file), 6-11 IFC_get_histo_ave_1..6 ("average C"), 12 and 13
// IFC_get_hist_cntdatL and R ("left", "right"). Their numbers, in reply
// order, are numbered together as slots: reply r has the slots from
// readings_first_slot(r) to readings_first_slot(r + 1) - 1.
inline constexpr int kReadingsReplies = 14;
inline constexpr int kReadingsSlots = 6 * 2 + 6 * 11 + 2 * 51;
int readings_first_slot(int reply);

// In a histogram's slots: n1 n2 decimal n3 n4, then the 46 bins.
inline constexpr int kReadingsDecimalIndex = 2;
inline constexpr int kReadingsFirstBin = 5;
// The decimal is kept in hundredths; the file takes at most this many
// digits before its point, as the support library's reply reader does.
inline constexpr int kReadingsDecimalDigits = 13;

// The key of a reply's index-th number ("to", "tbw", "n1", "decimal"), or
// nullptr for a bin.
const char *readings_key(int reply, int index);

struct readings_frame {
  std::int64_t value[kReadingsSlots];  // the decimal in hundredths
  std::uint64_t set[(kReadingsSlots + 63) / 64];
  int line;  // where its "frame" line is; 0 for the lines before any
};

bool readings_is_set(const readings_frame &f, int slot);

struct readings_table {
  std::int64_t every_ms;  // 0: each command shows the next frame at each request
  int frames;             // "frame" lines; 0: the file is one frame
  // frame[0]: what the lines before the first "frame" set, which every frame
  // starts from; frame[1..frames]: the frames.
  readings_frame frame[kReadingsMaxFrames + 1];
};

// The frames shown in turn: at least one.
int readings_frame_count(const readings_table &t);
const readings_frame &readings_frame_at(const readings_table &t, int k);

struct readings_error {
  int line;  // from 1
  char reason[160];
};

// Parses length bytes of text into *out. Returns 0, or -1 with *err filled
// (*out is then unspecified). Allocates nothing, writes only the frames used.
int readings_parse(const char *text, std::size_t length, readings_table *out,
                   readings_error *err);

// The server's side. Takes path (copied; nullptr for none) as the readings
// file: from now on a measurement reply first checks it (one stat) and reads
// it again when it has changed. A file that does not parse is refused whole
// with one line on standard error; no file, or a refused one, leaves every
// number simulated.
void readings_configure(const char *path);

// For tests of "every": the clock in milliseconds (default: CLOCK_MONOTONIC).
void readings_use_clock(std::int64_t (*now_ms)());

// The measurement handlers, after building the simulated numbers: each call
// is one request of that reply, which moves its frame on, and writes over the
// numbers that the frame sets. Pointers in reply order; nothing happens
// without a readings file.
void readings_to_tw(int colour, std::int32_t *to, std::int32_t *tw);
void readings_averages(int colour, std::int32_t *const items[11]);
void readings_histogram(int side, std::int32_t *const n1_to_n4[4], double *decimal,
                        std::int32_t bins[46]);
