#include "ifc/ifc_net.hpp"

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "dispatch/exchange.hpp"
#include "dispatch/sim_main.hpp"
#include "ifc/readings.hpp"
#include "ifcsim/ifcsim_protocol.h"
#include "ifcsim/lib_data2.h"
#include "ifcsim_config.hpp"

namespace {

// ---------------------------------------------------------------------------
// The settings table

constexpr int kIfcRecords = 10;  // terminator included
constexpr int kIfcTableBytes = kIfcRecords * static_cast<int>(sizeof(i4_record));
static_assert(kIfcTableBytes == IFC_SET_FILE_SIZE);

const i4_record i4_init[kIfcRecords] = {
    {1, "Tot", {0, 90, 90, 90, 90, 90, 90}, 50, 150, ""},
    {1, "Twt", {0, 240, 240, 240, 240, 240, 240}, 190, 290, ""},
    {1, "STAT_1", {0, 1, 0, 0, 0, 0, 0}, 0, 6, ""},
    {1, "STAT_2", {0, 10, 1, 10, 2, 0, 0}, 0, 6, ""},
    {1, "V", {0, 0, 0, 0, 0, 0, 0}, 0, 1, ""},
    {1, "S1", {0, 0, 0, 0, 0, 0, 0}, 0, 1, ""},
    {1, "S2", {0, 0, 0, 0, 0, 0, 0}, 0, 1, ""},
    {1, "S3", {0, 0, 0, 0, 0, 0, 0}, 0, 1, ""},
    {1, "S4", {0, 0, 0, 0, 0, 0, 0}, 0, 1, ""},
    {},
};

// The record behind the last one is never loaded or saved and stays zero: a
// file image without a terminator still ends every lookup inside the array.
i4_record i4[kIfcRecords + 1];

// ---------------------------------------------------------------------------
// Small helpers

// Appends a formatted piece at buf[at] and returns the new length. The
// connection buffer holds kMaxPayload bytes; replies here are far shorter.
__attribute__((format(printf, 3, 4))) int append(char *buf, int at, const char *fmt,
                                                 ...) {
  va_list ap;
  va_start(ap, fmt);
  int n = std::vsnprintf(buf + at, static_cast<size_t>(kMaxPayload - at), fmt, ap);
  va_end(ap);
  if (n < 0) return at;
  return at + n < kMaxPayload ? at + n : kMaxPayload - 1;
}

// Numbers in PUT texts are scanned as long so that one beyond the 32-bit
// range is recognised (glibc saturates) instead of silently wrapping.
bool fits_i32(long v) { return v >= INT_MIN && v <= INT_MAX; }

// Turns the first count colons of the text into blanks; false when it has fewer.
bool colons_to_blanks(char *text, int count) {
  for (int i = 0; i < count; ++i) {
    char *colon = std::strchr(text, ':');
    if (colon == nullptr) return false;
    *colon = ' ';
  }
  return true;
}

// What a PUT text holds besides what the command read, for the journal's
// notes (dispatch/exchange.hpp); only worked out while the journal is on.

bool blank(const char *s) { return s[std::strspn(s, " \t\n\r\f\v")] == '\0'; }

// Whether the word at s (up to white space) is w.
bool word_is(const char *s, const char *w) {
  const std::size_t n = std::strcspn(s, " \t\n\r\f\v");
  return n == std::strlen(w) && std::strncmp(s, w, n) == 0;
}

// A text read by a pattern of keys, each followed by a number, the colons
// turned into blanks ("to %ld tw %ld"): got numbers were read, number i
// ending at text[ends[i]]. Tells where and why the reading stopped short.
void note_keyed(const char *text, int got, const int *ends, const char *const *keys,
                int want) {
  const char *stop = text;
  if (got > 0) stop += ends[got - 1] + std::strspn(text + ends[got - 1], " \t\n\r\f\v");
  if (got >= want) {
    if (*stop != '\0') exchange_note(kNoteRestIgnored);
    return;
  }
  if (word_is(stop, keys[got < 0 ? 0 : got])) {
    exchange_note(kNoteNoNumber);
    return;
  }
  for (int k = 0; k < want; ++k) {
    if (word_is(stop, keys[k])) {
      exchange_note(kNoteKeyOrder);
      return;
    }
  }
  exchange_note(kNoteRestIgnored);
}

// A value the table cannot give (the file holds no such record) shows as 0.
std::int32_t read_or_zero(const char *name, int index) {
  std::int32_t v = 0;
  Ifc_SetRead(name, &v, index);
  return v;
}

// ---------------------------------------------------------------------------
// Selection and status

// The item word is scanned one character wider than the longest name, so a
// word that fills the buffer is too long to be any name. "%8s" below.
constexpr int kSelectWordWidth = 8;
static_assert(kSelectWordWidth == IFC_FLAG_NAME_MAX + 1);

// IFC_set_select_item's text "%8s %ld", the first colon a blank: got fields
// read, field i ending at text[ends[i]].
void note_select_item(const char *text, int got, const char *word, long value,
                      const int *ends) {
  const bool all = std::strcmp(word, "all") == 0;
  if (got < 1) {
    exchange_note(kNoteKeyMissing);
  } else if (!all && ifc_flag_item(ifc_flag_find(word)) == nullptr) {
    exchange_note(kNoteUnknownItem);
  } else if (!all && got < 2) {
    exchange_note(kNoteNoNumber);
  } else {
    if (got == 2 && !fits_i32(value)) exchange_note(kNoteBeyond32Bits);
    if (all && got == 2 && value != 0) exchange_note(kNoteAllIsZero);
    if (!blank(text + ends[got - 1])) exchange_note(kNoteRestIgnored);
  }
}

// ---------------------------------------------------------------------------
// Simulated machine information

struct info_record {
  std::int32_t to[7];
  std::int32_t tb[9][7];
  std::int32_t tbw[7];
  std::int32_t tw[7];
};

void INFO_get(info_record *info) {
  // Reseeded on every call, so two requests within one second agree.
  std::srand(static_cast<unsigned>(std::time(nullptr)));
  for (int c = 0; c < 6; ++c) info->to[c] = 92;
  for (auto &row : info->tb)
    for (int c = 0; c < 6; ++c) row[c] = 0;
  info->tb[0][0] = 128;
  info->tb[0][1] = 130;
  info->tb[1][0] = 164;
  info->tb[1][1] = 166;
  info->tb[2][0] = 190;
  info->tb[2][1] = 194;
  for (int c = 2; c < 6; ++c) info->tbw[c] = std::rand() % 360;
  info->tbw[0] = 224;
  info->tbw[1] = 228;
  for (int c = 0; c < 6; ++c) info->tw[c] = 242;
  info->tw[1] = 252;
}

int get_to_tw(char *buf, std::int16_t color) {
  info_record info{};
  INFO_get(&info);
  readings_to_tw(color, &info.to[color - 1], &info.tw[color - 1]);
  int n = append(buf, 0, "to:%d ", info.to[color - 1]);
  return append(buf, n, "tw:%d ", info.tw[color - 1]);
}

int get_hist_ave(char *buf, std::int16_t color) {
  info_record info{};
  INFO_get(&info);
  const int c = color - 1;
  std::int32_t *items[11] = {&info.to[c]};
  for (int k = 0; k < 8; ++k) items[1 + k] = &info.tb[k][c];
  items[9] = &info.tbw[c];
  items[10] = &info.tw[c];
  readings_averages(color, items);
  int n = append(buf, 0, "to:%d ", info.to[color - 1]);
  for (int k = 1; k <= 8; ++k)
    n = append(buf, n, "tb%d:%d ", k, info.tb[k - 1][color - 1]);
  n = append(buf, n, "tbw:%d ", info.tbw[color - 1]);
  return append(buf, n, "tw:%d ", info.tw[color - 1]);
}

// ---------------------------------------------------------------------------
// Target timings

int get_target(char *buf, std::int16_t color) {
  int n = append(buf, 0, "to:%d ", read_or_zero("Tot", color));
  return append(buf, n, "tw:%d ", read_or_zero("Twt", color));
}

int set_to_tw(char *data, int len, std::int32_t color) {
  data[len] = '\0';
  if (!colons_to_blanks(data, 2)) {
    exchange_note(kNoteKeyMissing);
    return -1;
  }
  long to = 0, tw = 0;
  int ends[2] = {0, 0};
  int got = std::sscanf(data, "to %ld%n tw %ld%n", &to, &ends[0], &tw, &ends[1]);
  if (exchange_watching()) {
    static const char *const keys[] = {"to", "tw"};
    note_keyed(data, got, ends, keys, 2);
    if ((got >= 1 && !fits_i32(to)) || (got >= 2 && !fits_i32(tw)))
      exchange_note(kNoteBeyond32Bits);
  }
  if (got >= 1 && fits_i32(to)) Ifc_SetWrite("Tot", static_cast<std::int32_t>(to), color);
  if (got >= 2 && fits_i32(tw)) Ifc_SetWrite("Twt", static_cast<std::int32_t>(tw), color);
  return got >= 1 ? 0 : -1;
}

// ---------------------------------------------------------------------------
// Histograms

// Item number of name, or -1.
int key_index(const char *name) {
  const int item = ifc_hist_item_find(name);
  return item >= 0 ? item : -1;
}

// A stored item number outside the table (a set file written by other means)
// shows as "?".
const char *key_name(std::int32_t item) {
  const char *name = ifc_hist_item_name(item);
  return name != nullptr ? name : "?";
}

struct histo_record {
  std::int32_t bins[46];
  double ave;
  std::int32_t first;
  std::int32_t second;
  std::int32_t third;
  std::int32_t fourth;
};

histo_record histo;

// The simulated source ignores color and item.
int get_histo(int side, int /*color*/, int /*item*/, histo_record *h) {
  static const std::int32_t curve[] = {10,  30,  50,  120, 160, 210, 250, 280, 290, 300,
                                       290, 280, 250, 210, 160, 120, 50,  30,  10};
  for (std::int32_t &bin : h->bins) bin = 0;
  for (int i = 0; i < 19; ++i) h->bins[14 + i] = curve[i];
  h->ave = side == 0 ? 4.65 : 4.52;
  h->first = 500;
  h->second = 234;
  h->third = 500;
  h->fourth = 190;
  return 500;
}

// The hooks flush: standard output is a pipe or a journal, not a terminal.
void clear_histo(int color, int item) {
  std::printf("clear_histo: color=%d, item_no=%d\n", color, item);
  std::fflush(stdout);
}

void set_histo(int l_color, int l_item, int l_t, int r_color, int r_item, int r_t,
               int samp) {
  std::printf("set_histo(L c=%d, i=%d, t=%d, R c=%d, i=%d, t=%d, samp=%d)\n", l_color,
              l_item, l_t, r_color, r_item, r_t, samp);
  std::fflush(stdout);
}

int IFC_get_hist_cntdat(char *buf, int side) {
  std::int32_t color = read_or_zero("STAT_2", side == 0 ? 2 : 4);
  std::int32_t item = read_or_zero("STAT_2", side == 0 ? 1 : 3);
  get_histo(side, color, item, &histo);
  std::int32_t *summary[4] = {&histo.second, &histo.first, &histo.fourth, &histo.third};
  readings_histogram(side, summary, &histo.ave, histo.bins);
  int n = append(buf, 0, "%d", histo.second);
  n = append(buf, n, " %d", histo.first);
  n = append(buf, n, " %.2f", histo.ave);
  n = append(buf, n, " %d", histo.fourth);
  n = append(buf, n, " %d", histo.third);
  for (std::int32_t bin : histo.bins) n = append(buf, n, " %d", bin);
  return n;
}

// Limits on the data parts of the histogram commands.
constexpr int kHstSelectMax = IFC_HST_SELECT_TEXT_MAX;
constexpr int kHstClearMax = IFC_HST_CLEAR_TEXT_MAX;
constexpr int kHstSetMax = IFC_HST_SET_TEXT_MAX;

}  // namespace

// ---------------------------------------------------------------------------
// Table access

void I_ifc() { std::memcpy(i4, i4_init, kIfcTableBytes); }

int i_ifc() { return hfp_load_table(kIfcSetFile, i4, i4_init, kIfcTableBytes); }

int Ifc_SetRead(const char *name, std::int32_t *out, int index) {
  i_ifc();
  return fp_main_read(name, out, index, i4);
}

int Ifc_SetWrite(const char *name, std::int32_t value, int index) {
  // A rejected file that could not be set aside may be the only copy of the
  // settings: the change then lives in memory only, as with an unwritable file.
  const bool keep_file = i_ifc() < 0;
  int result = fp_main_write(name, value, index, i4);
  if (!keep_file) hfp_save_data2(kIfcSetFile, i4, kIfcTableBytes);
  return result;
}

// ---------------------------------------------------------------------------
// Selection and status commands

int IFC_get_select_item(char *buf) {
  int n = 0;
  for (int i = 0; i < IFC_FLAGS; ++i) {
    const ifc_item *item = ifc_flag_item(i);
    n = append(buf, n, "%s:%d ", item->name, read_or_zero(item->record, item->slot));
  }
  return n;
}

int IFC_set_select_item(char *data, int len) {
  data[len] = '\0';
  if (!colons_to_blanks(data, 1)) {
    exchange_note(kNoteKeyMissing);
    return -1;
  }
  char word[kSelectWordWidth + 1] = "";
  long value = 0;
  int ends[2] = {0, 0};
  int got = std::sscanf(data, "%8s%n %ld%n", word, &ends[0], &value, &ends[1]);
  if (exchange_watching()) note_select_item(data, got, word, value, ends);
  if (got < 1) return -1;
  if (std::strcmp(word, IFC_FLAG_ALL) == 0) {
    for (int i = 0; i < IFC_FLAGS; ++i)
      Ifc_SetWrite(ifc_flag_item(i)->record, 0, ifc_flag_item(i)->slot);
    return 0;
  }
  if (got < 2 || !fits_i32(value)) return -1;
  const ifc_item *item = ifc_flag_item(ifc_flag_find(word));
  if (item == nullptr) return -1;
  Ifc_SetWrite(item->record, static_cast<std::int32_t>(value), item->slot);
  return 0;
}

int IFC_get_stat(char *buf) {
  // Each read loads the file: take them in reply order, not in whatever order
  // the compiler evaluates arguments.
  std::int32_t color = read_or_zero("STAT_1", 1);
  std::int32_t mode = read_or_zero("STAT_1", 2);
  std::int32_t totw_sw = read_or_zero("STAT_1", 3);
  return append(buf, 0, "color:%d mode:%d totw_sw:%d ", color, mode, totw_sw);
}

int IFC_set_stat(char *data, int len) {
  data[len] = '\0';
  if (!colons_to_blanks(data, 3)) {
    exchange_note(kNoteKeyMissing);
    return -1;
  }
  long v[3] = {0, 0, 0};
  int ends[3] = {0, 0, 0};
  int got = std::sscanf(data, "color %ld%n mode %ld%n totw_sw %ld%n", &v[0], &ends[0],
                        &v[1], &ends[1], &v[2], &ends[2]);
  if (exchange_watching()) {
    static const char *const keys[] = {"color", "mode", "totw_sw"};
    note_keyed(data, got, ends, keys, 3);
    for (int i = 0; i < got; ++i)
      if (!fits_i32(v[i])) exchange_note(kNoteBeyond32Bits);
  }
  for (int i = 0; i < got; ++i)
    if (fits_i32(v[i])) Ifc_SetWrite("STAT_1", static_cast<std::int32_t>(v[i]), i + 1);
  return got >= 1 ? 0 : -1;
}

// ---------------------------------------------------------------------------
// Target timing commands

int IFC_get_Tot_Twt_1(char *buf) { return get_target(buf, 1); }
int IFC_get_Tot_Twt_2(char *buf) { return get_target(buf, 2); }
int IFC_get_Tot_Twt_3(char *buf) { return get_target(buf, 3); }
int IFC_get_Tot_Twt_4(char *buf) { return get_target(buf, 4); }
int IFC_get_Tot_Twt_5(char *buf) { return get_target(buf, 5); }
int IFC_get_Tot_Twt_6(char *buf) { return get_target(buf, 6); }

int IFC_set_to_tw_1(char *data, int len) { return set_to_tw(data, len, 1); }
int IFC_set_to_tw_2(char *data, int len) { return set_to_tw(data, len, 2); }
int IFC_set_to_tw_3(char *data, int len) { return set_to_tw(data, len, 3); }
int IFC_set_to_tw_4(char *data, int len) { return set_to_tw(data, len, 4); }
int IFC_set_to_tw_5(char *data, int len) { return set_to_tw(data, len, 5); }
int IFC_set_to_tw_6(char *data, int len) { return set_to_tw(data, len, 6); }

// ---------------------------------------------------------------------------
// Simulated measurement commands

int IFC_get_To_Tw_1(char *buf) { return get_to_tw(buf, 1); }
int IFC_get_To_Tw_2(char *buf) { return get_to_tw(buf, 2); }
int IFC_get_To_Tw_3(char *buf) { return get_to_tw(buf, 3); }
int IFC_get_To_Tw_4(char *buf) { return get_to_tw(buf, 4); }
int IFC_get_To_Tw_5(char *buf) { return get_to_tw(buf, 5); }
int IFC_get_To_Tw_6(char *buf) { return get_to_tw(buf, 6); }

int IFC_get_histo_ave_1(char *buf) { return get_hist_ave(buf, 1); }
int IFC_get_histo_ave_2(char *buf) { return get_hist_ave(buf, 2); }
int IFC_get_histo_ave_3(char *buf) { return get_hist_ave(buf, 3); }
int IFC_get_histo_ave_4(char *buf) { return get_hist_ave(buf, 4); }
int IFC_get_histo_ave_5(char *buf) { return get_hist_ave(buf, 5); }
int IFC_get_histo_ave_6(char *buf) { return get_hist_ave(buf, 6); }

// ---------------------------------------------------------------------------
// Histogram commands

int IFC_get_hst_select(char *buf) {
  int n = append(buf, 0, "%d", read_or_zero("STAT_2", 2));
  std::int32_t left_item = -1;  // unreadable shows as "?", like an unknown number
  Ifc_SetRead("STAT_2", &left_item, 1);
  n = append(buf, n, " %s", key_name(left_item));
  n = append(buf, n, " %d", read_or_zero("STAT_2", 4));
  std::int32_t right_item = -1;
  Ifc_SetRead("STAT_2", &right_item, 3);
  return append(buf, n, " %s", key_name(right_item));
}

int IFC_get_hist_cntdatL(char *buf) { return IFC_get_hist_cntdat(buf, 0); }
int IFC_get_hist_cntdatR(char *buf) { return IFC_get_hist_cntdat(buf, 1); }

int IFC_hst_select_item(char *data, int len) {
  data[len] = '\0';
  if (len > kHstSelectMax) {
    exchange_note(kNoteTooLong);
    return -1;
  }
  // Within the length limit no word can outgrow these buffers.
  char side[kHstSelectMax + 1] = "";
  char item[kHstSelectMax + 1] = "";
  long color = 0;  // not supplied: out of range
  int end = 0;
  const int got = std::sscanf(data, "%15s %ld %15s%n", side, &color, item, &end);
  bool left = std::strcmp(side, "LEFT") == 0;
  bool color_ok = color >= 1 && color <= 6;
  if (exchange_watching()) {
    if (got >= 1 && !left && std::strcmp(side, "RIGHT") != 0)
      exchange_note(kNoteSideWord);
    if (got < 2) exchange_note(kNoteNoNumber);
    if (got >= 2 && !color_ok) exchange_note(kNoteBadColour);
    if (got >= 2 && key_index(item) < 0) exchange_note(kNoteUnknownItem);
    if (got == 3 && !blank(data + end)) exchange_note(kNoteRestIgnored);
  }
  if (color_ok) Ifc_SetWrite("STAT_2", static_cast<int>(color), left ? 2 : 4);
  int number = key_index(item);
  if (number >= 0) Ifc_SetWrite("STAT_2", number, left ? 1 : 3);
  return color_ok || number >= 0 ? 0 : -1;
}

int IFC_hst_clear(char *data, int len) {
  data[len] = '\0';
  if (len > kHstClearMax) {
    exchange_note(kNoteTooLong);
    return -1;
  }
  char item[kHstSelectMax + 1] = "";
  long color = 0;
  int end = 0;
  const int got = std::sscanf(data, "%ld %15s%n", &color, item, &end);
  if (exchange_watching()) {
    if (got < 1) exchange_note(kNoteNoNumber);
    if (got >= 1 && !fits_i32(color)) exchange_note(kNoteBeyond32Bits);
    if (got >= 1 && key_index(item) < 0) exchange_note(kNoteUnknownItem);
    if (got == 2 && !blank(data + end)) exchange_note(kNoteRestIgnored);
  }
  if (got != 2 || !fits_i32(color)) return -1;
  int number = key_index(item);
  if (number < 0) return -1;
  clear_histo(static_cast<int>(color), number);
  return 0;
}

int IFC_hst_set(char *data, int len) {
  data[len] = '\0';
  if (len > kHstSetMax) {
    exchange_note(kNoteTooLong);
    return -1;
  }
  // A number the data does not supply, or one beyond 32 bits, is passed as 0;
  // so is an unknown item name.
  long num[5] = {0, 0, 0, 0, 0};
  char l_item[kHstSetMax + 1] = "";
  char r_item[kHstSetMax + 1] = "";
  int end = 0;
  const int got = std::sscanf(data, "%ld %32s %ld %ld %32s %ld %ld%n", &num[0], l_item,
                              &num[1], &num[2], r_item, &num[3], &num[4], &end);
  int v[5];
  for (int i = 0; i < 5; ++i) v[i] = fits_i32(num[i]) ? static_cast<int>(num[i]) : 0;
  int l_number = key_index(l_item);
  int r_number = key_index(r_item);
  if (exchange_watching()) {
    if (got < 7) exchange_note(kNoteNoNumber);
    for (long n : num)
      if (!fits_i32(n)) exchange_note(kNoteBeyond32Bits);
    if ((l_item[0] != '\0' && l_number < 0) || (r_item[0] != '\0' && r_number < 0))
      exchange_note(kNoteUnknownItem);
    if (got == 7 && !blank(data + end)) exchange_note(kNoteRestIgnored);
  }
  set_histo(v[0], l_number < 0 ? 0 : l_number, v[1], v[2], r_number < 0 ? 0 : r_number,
            v[3], v[4]);
  return 0;
}
