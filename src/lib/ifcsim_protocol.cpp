#include "ifcsim/ifcsim_protocol.h"

#include <string.h>

// The tables behind the protocol's names. The server formats its replies and
// reads its texts from them, so a name written here is the name on the wire.
// Each row carries the constant of its header enum, and the checks below
// prove at build time that the constants number the rows in order.

namespace {

constexpr int text_max(const char *name) {
  int n = 0;
  while (name[n] != '\0') ++n;
  return IFC_MAX_PAYLOAD - n - 1;
}

constexpr ifc_command_info get(const char *name, int command, int colour = 0) {
  return {name, IFC_VERB_GET, command, colour, 0};
}

constexpr ifc_command_info put(const char *name, int command, int colour = 0,
                               int max = -1) {
  return {name, IFC_VERB_PUT, command, colour, max < 0 ? text_max(name) : max};
}

// GET rows, then PUT rows, each group in the order of the server's tables.
constexpr ifc_command_info kCommands[] = {
    get("IFC_get_select_item", IFC_CMD_GET_SELECT_ITEM),
    get("IFC_get_stat", IFC_CMD_GET_STAT),
    get("IFC_get_Tot_Twt_1", IFC_CMD_GET_TOT_TWT, 1),
    get("IFC_get_Tot_Twt_2", IFC_CMD_GET_TOT_TWT, 2),
    get("IFC_get_Tot_Twt_3", IFC_CMD_GET_TOT_TWT, 3),
    get("IFC_get_Tot_Twt_4", IFC_CMD_GET_TOT_TWT, 4),
    get("IFC_get_Tot_Twt_5", IFC_CMD_GET_TOT_TWT, 5),
    get("IFC_get_Tot_Twt_6", IFC_CMD_GET_TOT_TWT, 6),
    get("IFC_get_To_Tw_1", IFC_CMD_GET_TO_TW, 1),
    get("IFC_get_To_Tw_2", IFC_CMD_GET_TO_TW, 2),
    get("IFC_get_To_Tw_3", IFC_CMD_GET_TO_TW, 3),
    get("IFC_get_To_Tw_4", IFC_CMD_GET_TO_TW, 4),
    get("IFC_get_To_Tw_5", IFC_CMD_GET_TO_TW, 5),
    get("IFC_get_To_Tw_6", IFC_CMD_GET_TO_TW, 6),
    get("IFC_get_histo_ave_1", IFC_CMD_GET_HISTO_AVE, 1),
    get("IFC_get_histo_ave_2", IFC_CMD_GET_HISTO_AVE, 2),
    get("IFC_get_histo_ave_3", IFC_CMD_GET_HISTO_AVE, 3),
    get("IFC_get_histo_ave_4", IFC_CMD_GET_HISTO_AVE, 4),
    get("IFC_get_histo_ave_5", IFC_CMD_GET_HISTO_AVE, 5),
    get("IFC_get_histo_ave_6", IFC_CMD_GET_HISTO_AVE, 6),
    get("IFC_get_hst_select", IFC_CMD_GET_HST_SELECT),
    get("IFC_get_hist_cntdatL", IFC_CMD_GET_HIST_CNTDATL),
    get("IFC_get_hist_cntdatR", IFC_CMD_GET_HIST_CNTDATR),
    get("IFC_get_on_off_1", IFC_CMD_GET_ON_OFF, 1),
    get("IFC_get_on_off_2", IFC_CMD_GET_ON_OFF, 2),
    get("IFC_get_on_off_3", IFC_CMD_GET_ON_OFF, 3),
    get("IFC_get_on_off_4", IFC_CMD_GET_ON_OFF, 4),
    get("IFC_get_on_off_5", IFC_CMD_GET_ON_OFF, 5),
    get("IFC_get_on_off_6", IFC_CMD_GET_ON_OFF, 6),
    put("MLETOFF_set_btnstat", IFC_CMD_SET_BTNSTAT),
    put("IFC_set_select_item", IFC_CMD_SET_SELECT_ITEM),
    put("IFC_set_stat", IFC_CMD_SET_STAT),
    put("IFC_set_to_tw_1", IFC_CMD_SET_TO_TW, 1),
    put("IFC_set_to_tw_2", IFC_CMD_SET_TO_TW, 2),
    put("IFC_set_to_tw_3", IFC_CMD_SET_TO_TW, 3),
    put("IFC_set_to_tw_4", IFC_CMD_SET_TO_TW, 4),
    put("IFC_set_to_tw_5", IFC_CMD_SET_TO_TW, 5),
    put("IFC_set_to_tw_6", IFC_CMD_SET_TO_TW, 6),
    put("IFC_set_on_off_1", IFC_CMD_SET_ON_OFF, 1),
    put("IFC_set_on_off_2", IFC_CMD_SET_ON_OFF, 2),
    put("IFC_set_on_off_3", IFC_CMD_SET_ON_OFF, 3),
    put("IFC_set_on_off_4", IFC_CMD_SET_ON_OFF, 4),
    put("IFC_set_on_off_5", IFC_CMD_SET_ON_OFF, 5),
    put("IFC_set_on_off_6", IFC_CMD_SET_ON_OFF, 6),
    put("IFC_hst_select_item", IFC_CMD_HST_SELECT_ITEM, 0, IFC_HST_SELECT_TEXT_MAX),
    put("IFC_hst_clear", IFC_CMD_HST_CLEAR, 0, IFC_HST_CLEAR_TEXT_MAX),
    put("IFC_hst_set", IFC_CMD_HST_SET, 0, IFC_HST_SET_TEXT_MAX),
    put("append_log", IFC_CMD_APPEND_LOG),
};
constexpr int kCommandCount = sizeof kCommands / sizeof kCommands[0];

struct flag_row {
  int flag;
  ifc_item item;
};

constexpr flag_row kFlags[] = {
    {IFC_FLAG_PIN, {"pin", "V", 2}},         {IFC_FLAG_ABS, {"abs", "V", 3}},
    {IFC_FLAG_MAIN, {"main", "V", 4}},       {IFC_FLAG_TANDEM, {"tandem", "V", 5}},
    {IFC_FLAG_STRETCH, {"stretch", "V", 6}}, {IFC_FLAG_SUB1, {"sub1", "S1", 1}},
    {IFC_FLAG_SUB2, {"sub2", "S1", 2}},      {IFC_FLAG_SUB3, {"sub3", "S1", 3}},
    {IFC_FLAG_SUB4, {"sub4", "S1", 4}},      {IFC_FLAG_SUB5, {"sub5", "S1", 5}},
    {IFC_FLAG_SUB6, {"sub6", "S1", 6}},      {IFC_FLAG_SUB7, {"sub7", "S2", 1}},
    {IFC_FLAG_SUB8, {"sub8", "S2", 2}},      {IFC_FLAG_SUB9, {"sub9", "S2", 3}},
    {IFC_FLAG_SUB10, {"sub10", "S2", 4}},    {IFC_FLAG_SUB11, {"sub11", "S2", 5}},
    {IFC_FLAG_SUB12, {"sub12", "S2", 6}},    {IFC_FLAG_SUB13, {"sub13", "S3", 1}},
    {IFC_FLAG_SUB14, {"sub14", "S3", 2}},    {IFC_FLAG_SUB15, {"sub15", "S3", 3}},
    {IFC_FLAG_SUB16, {"sub16", "S3", 4}},    {IFC_FLAG_SUB17, {"sub17", "S3", 5}},
    {IFC_FLAG_SUB18, {"sub18", "S3", 6}},    {IFC_FLAG_SUB19, {"sub19", "S4", 1}},
    {IFC_FLAG_SUB20, {"sub20", "S4", 2}},
};

struct valve_row {
  int valve;
  ifc_item item;
};

// The record of item x is VAL_x, but for pin_on.
// clang-format off
constexpr valve_row kValves[] = {
    {IFC_VALVE_PIN_ON, {"pin_on", "VAL_pin_open", 0}},
    {IFC_VALVE_ABS_ON, {"abs_on", "VAL_abs_on", 0}},
    {IFC_VALVE_ABS_OFF, {"abs_off", "VAL_abs_off", 0}},
    {IFC_VALVE_MAIN_ON, {"main_on", "VAL_main_on", 0}},
    {IFC_VALVE_MAIN_OFF, {"main_off", "VAL_main_off", 0}},
    {IFC_VALVE_TANDEM_ON, {"tandem_on", "VAL_tandem_on", 0}},
    {IFC_VALVE_TANDEM_OFF, {"tandem_off", "VAL_tandem_off", 0}},
    {IFC_VALVE_STRETCH_ON, {"stretch_on", "VAL_stretch_on", 0}},
    {IFC_VALVE_STRETCH_OFF, {"stretch_off", "VAL_stretch_off", 0}},
    {IFC_VALVE_SUB1_ON, {"sub1_on", "VAL_sub1_on", 0}},
    {IFC_VALVE_SUB1_OFF, {"sub1_off", "VAL_sub1_off", 0}},
    {IFC_VALVE_SUB2_ON, {"sub2_on", "VAL_sub2_on", 0}},
    {IFC_VALVE_SUB2_OFF, {"sub2_off", "VAL_sub2_off", 0}},
    {IFC_VALVE_SUB3_ON, {"sub3_on", "VAL_sub3_on", 0}},
    {IFC_VALVE_SUB3_OFF, {"sub3_off", "VAL_sub3_off", 0}},
    {IFC_VALVE_SUB4_ON, {"sub4_on", "VAL_sub4_on", 0}},
    {IFC_VALVE_SUB4_OFF, {"sub4_off", "VAL_sub4_off", 0}},
    {IFC_VALVE_SUB5_ON, {"sub5_on", "VAL_sub5_on", 0}},
    {IFC_VALVE_SUB5_OFF, {"sub5_off", "VAL_sub5_off", 0}},
    {IFC_VALVE_SUB6_ON, {"sub6_on", "VAL_sub6_on", 0}},
    {IFC_VALVE_SUB6_OFF, {"sub6_off", "VAL_sub6_off", 0}},
    {IFC_VALVE_SUB7_ON, {"sub7_on", "VAL_sub7_on", 0}},
    {IFC_VALVE_SUB7_OFF, {"sub7_off", "VAL_sub7_off", 0}},
    {IFC_VALVE_SUB8_ON, {"sub8_on", "VAL_sub8_on", 0}},
    {IFC_VALVE_SUB8_OFF, {"sub8_off", "VAL_sub8_off", 0}},
    {IFC_VALVE_SUB9_ON, {"sub9_on", "VAL_sub9_on", 0}},
    {IFC_VALVE_SUB9_OFF, {"sub9_off", "VAL_sub9_off", 0}},
    {IFC_VALVE_SUB10_ON, {"sub10_on", "VAL_sub10_on", 0}},
    {IFC_VALVE_SUB10_OFF, {"sub10_off", "VAL_sub10_off", 0}},
    {IFC_VALVE_SUB11_ON, {"sub11_on", "VAL_sub11_on", 0}},
    {IFC_VALVE_SUB11_OFF, {"sub11_off", "VAL_sub11_off", 0}},
    {IFC_VALVE_SUB12_ON, {"sub12_on", "VAL_sub12_on", 0}},
    {IFC_VALVE_SUB12_OFF, {"sub12_off", "VAL_sub12_off", 0}},
    {IFC_VALVE_SUB13_ON, {"sub13_on", "VAL_sub13_on", 0}},
    {IFC_VALVE_SUB13_OFF, {"sub13_off", "VAL_sub13_off", 0}},
    {IFC_VALVE_SUB14_ON, {"sub14_on", "VAL_sub14_on", 0}},
    {IFC_VALVE_SUB14_OFF, {"sub14_off", "VAL_sub14_off", 0}},
    {IFC_VALVE_SUB15_ON, {"sub15_on", "VAL_sub15_on", 0}},
    {IFC_VALVE_SUB15_OFF, {"sub15_off", "VAL_sub15_off", 0}},
    {IFC_VALVE_SUB16_ON, {"sub16_on", "VAL_sub16_on", 0}},
    {IFC_VALVE_SUB16_OFF, {"sub16_off", "VAL_sub16_off", 0}},
    {IFC_VALVE_SUB17_ON, {"sub17_on", "VAL_sub17_on", 0}},
    {IFC_VALVE_SUB17_OFF, {"sub17_off", "VAL_sub17_off", 0}},
    {IFC_VALVE_SUB18_ON, {"sub18_on", "VAL_sub18_on", 0}},
    {IFC_VALVE_SUB18_OFF, {"sub18_off", "VAL_sub18_off", 0}},
};
// clang-format on

struct hist_row {
  int item;
  const char *name;
};

constexpr hist_row kHistItems[] = {
    {IFC_HIST_TO, "to"},   {IFC_HIST_TB1, "tb1"}, {IFC_HIST_TB2, "tb2"},
    {IFC_HIST_TB3, "tb3"}, {IFC_HIST_TB4, "tb4"}, {IFC_HIST_TB5, "tb5"},
    {IFC_HIST_TB6, "tb6"}, {IFC_HIST_TB7, "tb7"}, {IFC_HIST_TB8, "tb8"},
    {IFC_HIST_TBW, "tbw"}, {IFC_HIST_TW, "tw"},   {IFC_HIST_TW_TBW, "tw_tbw"},
};

// ---- Build-time checks of the tables against the header ----

constexpr int length(const char *s) {
  int n = 0;
  while (s[n] != '\0') ++n;
  return n;
}

constexpr bool same(const char *a, const char *b) {
  while (*a != '\0' && *a == *b) ++a, ++b;
  return *a == *b;
}

template <typename Row, int N>
constexpr bool numbered_in_order(const Row (&rows)[N], int Row::*tag) {
  for (int i = 0; i < N; ++i)
    if (rows[i].*tag != i) return false;
  return true;
}

template <typename Row, int N, typename Name>
constexpr int longest(const Row (&rows)[N], Name name) {
  int most = 0;
  for (const Row &r : rows)
    if (length(name(r)) > most) most = length(name(r));
  return most;
}

template <typename Row, int N, typename Name>
constexpr bool distinct(const Row (&rows)[N], Name name) {
  for (int i = 0; i < N; ++i)
    for (int j = i + 1; j < N; ++j)
      if (same(name(rows[i]), name(rows[j]))) return false;
  return true;
}

constexpr int count_verb(int verb) {
  int n = 0;
  for (const ifc_command_info &c : kCommands) n += c.verb == verb;
  return n;
}

constexpr bool gets_first() {
  for (int i = 0; i < kCommandCount; ++i)
    if ((kCommands[i].verb == IFC_VERB_GET) != (i < IFC_GET_COMMANDS)) return false;
  return true;
}

constexpr auto command_name = [](const ifc_command_info &c) { return c.name; };
constexpr auto flag_name = [](const flag_row &r) { return r.item.name; };
constexpr auto valve_name = [](const valve_row &r) { return r.item.name; };
constexpr auto hist_name = [](const hist_row &r) { return r.name; };

static_assert(count_verb(IFC_VERB_GET) == IFC_GET_COMMANDS);
static_assert(count_verb(IFC_VERB_PUT) == IFC_PUT_COMMANDS);
static_assert(gets_first());
static_assert(longest(kCommands, command_name) == IFC_NAME_MAX);
static_assert(distinct(kCommands, command_name));
static_assert(sizeof kFlags / sizeof kFlags[0] == IFC_FLAGS);
static_assert(numbered_in_order(kFlags, &flag_row::flag));
static_assert(longest(kFlags, flag_name) == IFC_FLAG_NAME_MAX);
static_assert(distinct(kFlags, flag_name));
static_assert(sizeof kValves / sizeof kValves[0] == IFC_VALVES);
static_assert(numbered_in_order(kValves, &valve_row::valve));
static_assert(longest(kValves, valve_name) <= IFC_ON_OFF_NAME_MAX);
static_assert(distinct(kValves, valve_name));
static_assert(sizeof kHistItems / sizeof kHistItems[0] == IFC_HIST_ITEMS);
static_assert(numbered_in_order(kHistItems, &hist_row::item));
static_assert(longest(kHistItems, hist_name) == IFC_HIST_ITEM_NAME_MAX);
static_assert(distinct(kHistItems, hist_name));

}  // namespace

const char *ifc_command_name(int command, int colour) {
  for (const ifc_command_info &c : kCommands)
    if (c.command == command && c.colour == colour) return c.name;
  return nullptr;
}

const ifc_command_info *ifc_command_at(int i) {
  return i >= 0 && i < kCommandCount ? &kCommands[i] : nullptr;
}

const ifc_command_info *ifc_command_find(const char *name) {
  if (name == nullptr) return nullptr;
  for (const ifc_command_info &c : kCommands)
    if (strcmp(c.name, name) == 0) return &c;
  return nullptr;
}

const ifc_item *ifc_flag_item(int flag) {
  return flag >= 0 && flag < IFC_FLAGS ? &kFlags[flag].item : nullptr;
}

int ifc_flag_find(const char *name) {
  for (int i = 0; name != nullptr && i < IFC_FLAGS; ++i)
    if (strcmp(kFlags[i].item.name, name) == 0) return i;
  return IFC_EMISSING;
}

const ifc_item *ifc_valve_item(int item) {
  return item >= 0 && item < IFC_VALVES ? &kValves[item].item : nullptr;
}

int ifc_valve_find(const char *name) {
  for (int i = 0; name != nullptr && i < IFC_VALVES; ++i)
    if (strcmp(kValves[i].item.name, name) == 0) return i;
  return IFC_EMISSING;
}

const char *ifc_hist_item_name(int item) {
  return item >= 0 && item < IFC_HIST_ITEMS ? kHistItems[item].name : nullptr;
}

int ifc_hist_item_find(const char *name) {
  for (int i = 0; name != nullptr && i < IFC_HIST_ITEMS; ++i)
    if (strcmp(kHistItems[i].name, name) == 0) return i;
  return IFC_EMISSING;
}
