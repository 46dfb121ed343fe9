#include "ifcsim/lib_commands.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "lib/lib_client.hpp"

// Only the C library is used here, and nothing is allocated: a CGI program
// written in C links this module without the C++ runtime. Each public call
// takes its deadline once and passes it to every request it makes.

namespace {

using ifcsim_lib::piece;

// Room for the longest reply read here, the on/off reply (45 items with
// 11-character values), and for the longest text sent, 45 on/off pieces.
constexpr int kReplyCapacity = 2048;
constexpr int kTextCapacity = 2048;
// No reply read here has more pieces than the on/off reply.
constexpr int kMostPieces = IFC_VALVES + 1;

bool colour_ok(int colour) { return colour >= 1 && colour <= IFC_COLOURS; }
bool side_ok(int side) { return side == IFC_LEFT || side == IFC_RIGHT; }

const char *flag_key(int i) { return ifc_flag_item(i)->name; }
const char *valve_key(int i) { return ifc_valve_item(i)->name; }
const char *to_tw_key(int i) { return i == 0 ? "to" : "tw"; }
const char *status_key(int i) {
  static const char *const keys[] = {"color", "mode", "totw_sw"};
  return keys[i];
}
// The averages reply carries the histogram items but the last, in order.
const char *average_key(int i) { return ifc_hist_item_name(i); }
constexpr int kAverages = IFC_HIST_TW_TBW;
static_assert(kAverages == sizeof(ifc_averages) / sizeof(int32_t));

int get_reply(const ifc_endpoint *ep, int command, int colour, long long end,
              char *reply) {
  return ifcsim_lib::get_until(ep, ifc_command_name(command, colour), reply,
                               kReplyCapacity, end);
}

// Reads a reply of "key:number " pieces; the values of key(0..count) go into
// out, and only when every one of them is there.
int get_values(const ifc_endpoint *ep, int command, int colour, long long end,
               const char *(*key)(int), int count, int32_t *out) {
  char reply[kReplyCapacity];
  const int n = get_reply(ep, command, colour, end, reply);
  if (n < 0) return n;
  ifc_pair pairs[kMostPieces];
  const int found = ifc_parse_pairs(reply, n, pairs, kMostPieces);
  if (found < 0) return IFC_EFORM;
  int32_t values[kMostPieces];
  for (int i = 0; i < count; ++i)
    if (ifc_pair_value(pairs, found, key(i), &values[i]) != 0) return IFC_EFORM;
  memcpy(out, values, static_cast<size_t>(count) * sizeof *out);
  return 0;
}

int put_text(const ifc_endpoint *ep, int command, int colour, long long end,
             const char *text, int length) {
  const piece p = {text, length};
  return ifcsim_lib::put_until(ep, ifc_command_name(command, colour), &p, 1, end);
}

// Sends a formatted text; IFC_ERANGE when it is longer than max bytes.
__attribute__((format(printf, 6, 7))) int put_format(const ifc_endpoint *ep, int command,
                                                     int colour, long long end, int max,
                                                     const char *format, ...) {
  char text[kTextCapacity];
  va_list args;
  va_start(args, format);
  const int n = vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (n < 0 || n > max || n >= kTextCapacity) return IFC_ERANGE;
  return put_text(ep, command, colour, end, text, n);
}

// The largest text a command takes.
int text_max(int command) {
  return ifc_command_find(ifc_command_name(command, 0))->text_max;
}

// ---- One function per request, under a deadline given ----

int get_to_tw(const ifc_endpoint *ep, int command, int colour, long long end,
              ifc_to_tw *out) {
  if (!colour_ok(colour) || out == nullptr) return IFC_EUSAGE;
  int32_t v[2];
  const int rc = get_values(ep, command, colour, end, to_tw_key, 2, v);
  if (rc == 0) *out = {v[0], v[1]};
  return rc;
}

int get_status(const ifc_endpoint *ep, long long end, ifc_status *out) {
  if (out == nullptr) return IFC_EUSAGE;
  int32_t v[3];
  const int rc = get_values(ep, IFC_CMD_GET_STAT, 0, end, status_key, 3, v);
  if (rc == 0) *out = {v[0], v[1], v[2]};
  return rc;
}

int get_flags(const ifc_endpoint *ep, long long end, ifc_flags *out) {
  if (out == nullptr) return IFC_EUSAGE;
  return get_values(ep, IFC_CMD_GET_SELECT_ITEM, 0, end, flag_key, IFC_FLAGS, out->value);
}

int get_valves(const ifc_endpoint *ep, int colour, long long end, ifc_valve_points *out) {
  if (!colour_ok(colour) || out == nullptr) return IFC_EUSAGE;
  return get_values(ep, IFC_CMD_GET_ON_OFF, colour, end, valve_key, IFC_VALVES,
                    out->value);
}

int get_hist_select(const ifc_endpoint *ep, long long end, ifc_hist_select *out) {
  if (out == nullptr) return IFC_EUSAGE;
  char reply[kReplyCapacity];
  const int n = get_reply(ep, IFC_CMD_GET_HST_SELECT, 0, end, reply);
  if (n < 0) return n;
  ifc_hist_select s;
  if (ifc_parse_hist_select(reply, n, &s) != 0) return IFC_EFORM;
  *out = s;
  return 0;
}

int set_targets(const ifc_endpoint *ep, int colour, int32_t to, int32_t tw,
                long long end) {
  if (!colour_ok(colour)) return IFC_EUSAGE;
  return put_format(ep, IFC_CMD_SET_TO_TW, colour, end, kTextCapacity, "to:%d tw:%d",
                    static_cast<int>(to), static_cast<int>(tw));
}

int set_status(const ifc_endpoint *ep, int32_t color, int32_t mode, int32_t totw_sw,
               long long end) {
  return put_format(ep, IFC_CMD_SET_STAT, 0, end, kTextCapacity,
                    "color:%d mode:%d totw_sw:%d", static_cast<int>(color),
                    static_cast<int>(mode), static_cast<int>(totw_sw));
}

int set_flag(const ifc_endpoint *ep, int flag, int32_t value, long long end) {
  const ifc_item *item = ifc_flag_item(flag);
  if (item == nullptr) return IFC_EUSAGE;
  return put_format(ep, IFC_CMD_SET_SELECT_ITEM, 0, end, kTextCapacity, "%s:%d",
                    item->name, static_cast<int>(value));
}

int clear_flags(const ifc_endpoint *ep, long long end) {
  return put_format(ep, IFC_CMD_SET_SELECT_ITEM, 0, end, kTextCapacity, "%s:0",
                    IFC_FLAG_ALL);
}

int set_valves(const ifc_endpoint *ep, int colour, const int *items,
               const int32_t *values, int count, long long end) {
  if (!colour_ok(colour) || items == nullptr || values == nullptr || count < 1 ||
      count > IFC_VALVES)
    return IFC_EUSAGE;
  char text[kTextCapacity];
  int n = 0;
  for (int i = 0; i < count; ++i) {
    const ifc_item *item = ifc_valve_item(items[i]);
    if (item == nullptr) return IFC_EUSAGE;
    // 45 pieces of at most 23 bytes fit kTextCapacity.
    n += snprintf(text + n, sizeof text - static_cast<size_t>(n), "%s%s:%d",
                  i > 0 ? " " : "", item->name, static_cast<int>(values[i]));
  }
  return put_text(ep, IFC_CMD_SET_ON_OFF, colour, end, text, n);
}

int select_histogram(const ifc_endpoint *ep, int side, int colour, int item,
                     long long end) {
  const char *name = ifc_hist_item_name(item);
  if (!side_ok(side) || !colour_ok(colour) || name == nullptr) return IFC_EUSAGE;
  return put_format(ep, IFC_CMD_HST_SELECT_ITEM, 0, end,
                    text_max(IFC_CMD_HST_SELECT_ITEM), "%s %d %s",
                    side == IFC_LEFT ? "LEFT" : "RIGHT", colour, name);
}

// The value the last of items[0..count) that is item was given; false when
// none is.
bool last_value(const int *items, const int32_t *values, int count, int item,
                int32_t *out) {
  bool given = false;
  for (int i = 0; i < count; ++i) {
    if (items[i] != item) continue;
    *out = values[i];
    given = true;
  }
  return given;
}

}  // namespace

// ---- Reading ----

int ifc_get_flags(const ifc_endpoint *ep, ifc_flags *out) {
  return get_flags(ep, ifcsim_lib::call_deadline(ep), out);
}

int ifc_get_status(const ifc_endpoint *ep, ifc_status *out) {
  return get_status(ep, ifcsim_lib::call_deadline(ep), out);
}

int ifc_get_targets(const ifc_endpoint *ep, int colour, ifc_to_tw *out) {
  return get_to_tw(ep, IFC_CMD_GET_TOT_TWT, colour, ifcsim_lib::call_deadline(ep), out);
}

int ifc_get_measured(const ifc_endpoint *ep, int colour, ifc_to_tw *out) {
  return get_to_tw(ep, IFC_CMD_GET_TO_TW, colour, ifcsim_lib::call_deadline(ep), out);
}

int ifc_get_averages(const ifc_endpoint *ep, int colour, ifc_averages *out) {
  if (!colour_ok(colour) || out == nullptr) return IFC_EUSAGE;
  int32_t v[kAverages];
  const int rc = get_values(ep, IFC_CMD_GET_HISTO_AVE, colour,
                            ifcsim_lib::call_deadline(ep), average_key, kAverages, v);
  if (rc != 0) return rc;
  out->to = v[IFC_HIST_TO];
  for (int i = 0; i < 8; ++i) out->tb[i] = v[IFC_HIST_TB1 + i];
  out->tbw = v[IFC_HIST_TBW];
  out->tw = v[IFC_HIST_TW];
  return 0;
}

int ifc_get_valves(const ifc_endpoint *ep, int colour, ifc_valve_points *out) {
  return get_valves(ep, colour, ifcsim_lib::call_deadline(ep), out);
}

int ifc_get_valve(const ifc_endpoint *ep, int colour, int item, int32_t *out) {
  if (ifc_valve_item(item) == nullptr || out == nullptr) return IFC_EUSAGE;
  ifc_valve_points points;
  const int rc = get_valves(ep, colour, ifcsim_lib::call_deadline(ep), &points);
  if (rc == 0) *out = points.value[item];
  return rc;
}

int ifc_get_hist_select(const ifc_endpoint *ep, ifc_hist_select *out) {
  return get_hist_select(ep, ifcsim_lib::call_deadline(ep), out);
}

int ifc_get_histogram(const ifc_endpoint *ep, int side, ifc_histogram *out) {
  if (!side_ok(side) || out == nullptr) return IFC_EUSAGE;
  char reply[kReplyCapacity];
  const int n = get_reply(
      ep, side == IFC_LEFT ? IFC_CMD_GET_HIST_CNTDATL : IFC_CMD_GET_HIST_CNTDATR, 0,
      ifcsim_lib::call_deadline(ep), reply);
  if (n < 0) return n;
  ifc_histogram h;
  if (ifc_parse_histogram(reply, n, &h) != 0) return IFC_EFORM;
  *out = h;
  return 0;
}

// ---- Changing ----

int ifc_set_targets(const ifc_endpoint *ep, int colour, int32_t to, int32_t tw) {
  return set_targets(ep, colour, to, tw, ifcsim_lib::call_deadline(ep));
}

int ifc_set_targets_checked(const ifc_endpoint *ep, int colour, int32_t to, int32_t tw,
                            ifc_to_tw *held) {
  const long long end = ifcsim_lib::call_deadline(ep);
  int rc = set_targets(ep, colour, to, tw, end);
  ifc_to_tw now;
  if (rc == 0) rc = get_to_tw(ep, IFC_CMD_GET_TOT_TWT, colour, end, &now);
  if (rc != 0) return rc;
  if (held != nullptr) *held = now;
  return now.to == to && now.tw == tw ? 0 : IFC_ENOTTAKEN;
}

int ifc_set_status(const ifc_endpoint *ep, int32_t color, int32_t mode, int32_t totw_sw) {
  return set_status(ep, color, mode, totw_sw, ifcsim_lib::call_deadline(ep));
}

int ifc_set_status_checked(const ifc_endpoint *ep, int32_t color, int32_t mode,
                           int32_t totw_sw, ifc_status *held) {
  const long long end = ifcsim_lib::call_deadline(ep);
  int rc = set_status(ep, color, mode, totw_sw, end);
  ifc_status now;
  if (rc == 0) rc = get_status(ep, end, &now);
  if (rc != 0) return rc;
  if (held != nullptr) *held = now;
  return now.color == color && now.mode == mode && now.totw_sw == totw_sw ? 0
                                                                          : IFC_ENOTTAKEN;
}

int ifc_set_flag(const ifc_endpoint *ep, int flag, int32_t value) {
  return set_flag(ep, flag, value, ifcsim_lib::call_deadline(ep));
}

int ifc_set_flag_checked(const ifc_endpoint *ep, int flag, int32_t value, int32_t *held) {
  const long long end = ifcsim_lib::call_deadline(ep);
  int rc = set_flag(ep, flag, value, end);
  ifc_flags now;
  if (rc == 0) rc = get_flags(ep, end, &now);
  if (rc != 0) return rc;
  if (held != nullptr) *held = now.value[flag];
  return now.value[flag] == value ? 0 : IFC_ENOTTAKEN;
}

int ifc_clear_flags(const ifc_endpoint *ep) {
  return clear_flags(ep, ifcsim_lib::call_deadline(ep));
}

int ifc_clear_flags_checked(const ifc_endpoint *ep, ifc_flags *held) {
  const long long end = ifcsim_lib::call_deadline(ep);
  int rc = clear_flags(ep, end);
  ifc_flags now;
  if (rc == 0) rc = get_flags(ep, end, &now);
  if (rc != 0) return rc;
  if (held != nullptr) *held = now;
  for (int32_t v : now.value)
    if (v != 0) return IFC_ENOTTAKEN;
  return 0;
}

int ifc_set_valve(const ifc_endpoint *ep, int colour, int item, int32_t value) {
  return set_valves(ep, colour, &item, &value, 1, ifcsim_lib::call_deadline(ep));
}

int ifc_set_valve_checked(const ifc_endpoint *ep, int colour, int item, int32_t value,
                          int32_t *held) {
  ifc_valve_points now;
  const int rc = ifc_set_valves_checked(ep, colour, &item, &value, 1, &now);
  if (held != nullptr && (rc == 0 || rc == IFC_ENOTTAKEN)) *held = now.value[item];
  return rc;
}

int ifc_set_valves(const ifc_endpoint *ep, int colour, const int *items,
                   const int32_t *values, int count) {
  return set_valves(ep, colour, items, values, count, ifcsim_lib::call_deadline(ep));
}

int ifc_set_valves_checked(const ifc_endpoint *ep, int colour, const int *items,
                           const int32_t *values, int count, ifc_valve_points *held) {
  const long long end = ifcsim_lib::call_deadline(ep);
  int rc = set_valves(ep, colour, items, values, count, end);
  ifc_valve_points now;
  if (rc == 0) rc = get_valves(ep, colour, end, &now);
  if (rc != 0) return rc;
  if (held != nullptr) *held = now;
  for (int item = 0; item < IFC_VALVES; ++item) {
    int32_t sent = 0;
    if (last_value(items, values, count, item, &sent) && now.value[item] != sent)
      return IFC_ENOTTAKEN;
  }
  return 0;
}

int ifc_select_histogram(const ifc_endpoint *ep, int side, int colour, int item) {
  return select_histogram(ep, side, colour, item, ifcsim_lib::call_deadline(ep));
}

int ifc_select_histogram_checked(const ifc_endpoint *ep, int side, int colour, int item,
                                 ifc_hist_select *held) {
  const long long end = ifcsim_lib::call_deadline(ep);
  int rc = select_histogram(ep, side, colour, item, end);
  ifc_hist_select now;
  if (rc == 0) rc = get_hist_select(ep, end, &now);
  if (rc != 0) return rc;
  if (held != nullptr) *held = now;
  const bool left = side == IFC_LEFT;
  const bool taken =
      (left ? now.left_colour : now.right_colour) == colour &&
      strcmp(left ? now.left_item : now.right_item, ifc_hist_item_name(item)) == 0;
  return taken ? 0 : IFC_ENOTTAKEN;
}

// ---- Requests the controller only prints or logs ----

int ifc_clear_histogram(const ifc_endpoint *ep, int32_t colour, int item) {
  const char *name = ifc_hist_item_name(item);
  if (name == nullptr) return IFC_EUSAGE;
  return put_format(ep, IFC_CMD_HST_CLEAR, 0, ifcsim_lib::call_deadline(ep),
                    text_max(IFC_CMD_HST_CLEAR), "%d %s", static_cast<int>(colour), name);
}

int ifc_set_histograms(const ifc_endpoint *ep, const ifc_hist_setup *s) {
  if (s == nullptr) return IFC_EUSAGE;
  const char *left = ifc_hist_item_name(s->left_item);
  const char *right = ifc_hist_item_name(s->right_item);
  if (left == nullptr || right == nullptr) return IFC_EUSAGE;
  return put_format(ep, IFC_CMD_HST_SET, 0, ifcsim_lib::call_deadline(ep),
                    text_max(IFC_CMD_HST_SET), "%d %s %d %d %s %d %d",
                    static_cast<int>(s->left_colour), left, static_cast<int>(s->left_t),
                    static_cast<int>(s->right_colour), right,
                    static_cast<int>(s->right_t), static_cast<int>(s->samp));
}

int ifc_set_letoff_button(const ifc_endpoint *ep, const char *text) {
  if (text == nullptr) return IFC_EUSAGE;
  return put_text(ep, IFC_CMD_SET_BTNSTAT, 0, ifcsim_lib::call_deadline(ep), text,
                  static_cast<int>(strnlen(text, IFC_MAX_PAYLOAD + 1)));
}

int ifc_log_line(const ifc_endpoint *ep, const char *line) {
  if (line == nullptr) return IFC_EUSAGE;
  const size_t n = strnlen(line, IFC_MAX_PAYLOAD + 1);
  if (memchr(line, '\r', n) != nullptr || memchr(line, '\n', n) != nullptr)
    return IFC_EFORM;
  const piece text[] = {{line, static_cast<int>(n)}, {"\n", 1}};
  return ifcsim_lib::put_until(ep, ifc_command_name(IFC_CMD_APPEND_LOG, 0), text, 2,
                               ifcsim_lib::call_deadline(ep));
}
