#include "valve/vfp_ifc.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dispatch/exchange.hpp"
#include "dispatch/sim_main.hpp"
#include "ifcsim/ifcsim_protocol.h"
#include "ifcsim/lib_data2.h"
#include "ifcsim/lib_fp.h"
#include "ifcsim_config.hpp"

namespace {

constexpr int kValveRecords = 112;  // 111 named records and the terminator
constexpr int kValveTableSize = kValveRecords * static_cast<int>(sizeof(i4_record));

template <std::size_t N, std::size_t G>
constexpr i4_record rec(const char (&name)[N], std::int32_t value, std::int32_t min,
                        std::int32_t max, const char (&group)[G], std::int32_t type = 1) {
  static_assert(N <= sizeof(i4_record::name) && G <= sizeof(i4_record::group));
  i4_record r{};
  r.type = type;
  for (std::size_t i = 0; i < N; ++i) r.name[i] = name[i];
  for (int i = 1; i <= 6; ++i) r.value[i] = value;
  r.min = min;
  r.max = max;
  for (std::size_t i = 0; i < G; ++i) r.group[i] = group[i];
  return r;
}

// The defaults, in table order, and the terminator.
constexpr i4_record i4_init[kValveRecords] = {
    rec("VAL_pin_open", 70, 0, 359, "g1"),
    rec("VAL_use_abs", 0, 0, 359, "g2"),
    rec("VAL_abs_rel", 50, 0, 200, "g2"),
    rec("VAL_abs_on", 215, 0, 359, "g2"),
    rec("VAL_abs_off", 255, 0, 359, "g2"),
    rec("VAL_pull_on", 350, 0, 359, "g2"),
    rec("VAL_ABS_TwK", 230, 0, 359, "g2"),
    rec("VAL_main_on", 90, 0, 359, "g1"),
    rec("VAL_main_off", 160, 0, 359, "g1"),
    rec("VAL_tandem_on", 95, 0, 359, "g1"),
    rec("VAL_tandem_off", 150, 0, 359, "g1"),
    rec("VAL_cutter_on", 20, 0, 359, "g3"),
    rec("VAL_cutter_off", 180, 0, 359, "g3"),
    rec("VAL_cutting_blow_on", 30, 0, 359, "g3"),
    rec("VAL_cutting_blow_off", 60, 0, 359, "g3"),
    rec("VAL_sub1_on", 95, 0, 359, "g4"),
    rec("VAL_sub1_off", 135, 0, 359, "g4"),
    rec("VAL_sub2_on", 115, 0, 359, "g4"),
    rec("VAL_sub2_off", 155, 0, 359, "g4"),
    rec("VAL_sub3_on", 135, 0, 359, "g4"),
    rec("VAL_sub3_off", 175, 0, 359, "g4"),
    rec("VAL_sub4_on", 150, 0, 359, "g4"),
    rec("VAL_sub4_off", 190, 0, 359, "g4"),
    rec("VAL_sub5_on", 165, 0, 359, "g4"),
    rec("VAL_sub5_off", 205, 0, 359, "g4"),
    rec("VAL_sub6_on", 185, 0, 359, "g4"),
    rec("VAL_sub6_off", 280, 0, 359, "g4"),
    rec("VAL_sub7_on", 200, 0, 359, "g4"),
    rec("VAL_sub7_off", 300, 0, 359, "g4"),
    rec("VAL_sub8_on", 220, 0, 359, "g4"),
    rec("VAL_sub8_off", 300, 0, 359, "g4"),
    rec("VAL_sub9_on", 0, 0, 359, "g4"),
    rec("VAL_sub9_off", 0, 0, 359, "g4"),
    rec("VAL_sub10_on", 0, 0, 359, "g4"),
    rec("VAL_sub10_off", 0, 0, 359, "g4"),
    rec("VAL_sub11_on", 0, 0, 359, "g4"),
    rec("VAL_sub11_off", 0, 0, 359, "g4"),
    rec("VAL_sub12_on", 0, 0, 359, "g4"),
    rec("VAL_sub12_off", 0, 0, 359, "g4"),
    rec("VAL_sub13_on", 0, 0, 359, "g4"),
    rec("VAL_sub13_off", 0, 0, 359, "g4"),
    rec("VAL_sub14_on", 0, 0, 359, "g4"),
    rec("VAL_sub14_off", 0, 0, 359, "g4"),
    rec("VAL_sub15_on", 0, 0, 359, "g4"),
    rec("VAL_sub15_off", 0, 0, 359, "g4"),
    rec("VAL_sub16_on", 0, 0, 359, "g4"),
    rec("VAL_sub16_off", 0, 0, 359, "g4"),
    rec("VAL_sub17_on", 0, 0, 359, "g4"),
    rec("VAL_sub17_off", 0, 0, 359, "g4"),
    rec("VAL_sub18_on", 0, 0, 359, "g4"),
    rec("VAL_sub18_off", 0, 0, 359, "g4"),
    rec("VAL_sub19_on", 0, 0, 359, "g4"),
    rec("VAL_sub19_off", 0, 0, 359, "g4"),
    rec("VAL_sub20_on", 0, 0, 359, "g4"),
    rec("VAL_sub20_off", 0, 0, 359, "g4"),
    rec("VAL_stretch_on", 0, 0, 359, "g4"),
    rec("VAL_stretch_off", 0, 0, 359, "g4"),
    rec("VAL_strech_blow_on", 0, 0, 359, "g4"),
    rec("VAL_strech_blow_off", 0, 0, 359, "g4"),
    rec("VAL_exhaust_main_on", 0, 0, 359, "g5"),
    rec("VAL_exhaust_main_off", 0, 0, 359, "g5"),
    rec("VAL_exhaust_s1_on", 0, 0, 359, "g5"),
    rec("VAL_exhaust_s1_off", 0, 0, 359, "g5"),
    rec("VAL_exhaust_s2_on", 0, 0, 359, "g5"),
    rec("VAL_exhaust_s2_off", 0, 0, 359, "g5"),
    rec("VAL_exhaust_s3_on", 0, 0, 359, "g5"),
    rec("VAL_exhaust_s3_off", 0, 0, 359, "g5"),
    rec("VAL_exhaust_s4_on", 0, 0, 359, "g5"),
    rec("VAL_exhaust_s4_off", 0, 0, 359, "g5"),
    rec("VAL_exhaust_s5_on", 0, 0, 359, "g5"),
    rec("VAL_exhaust_s5_off", 0, 0, 359, "g5"),
    rec("VAL_exhaust_s6_on", 0, 0, 359, "g5"),
    rec("VAL_exhaust_s6_off", 0, 0, 359, "g5"),
    rec("VAL_press1", 0, 0, 359, "g4"),
    rec("VAL_press2", 0, 0, 359, "g4"),
    rec("VAL_press3", 0, 0, 359, "g4"),
    rec("VAL_press4", 0, 0, 359, "g4"),
    rec("VAL_press5", 0, 0, 359, "g4"),
    rec("VAL_press6", 0, 0, 359, "g4"),
    rec("VAL_press7", 0, 0, 359, "g4"),
    rec("VAL_press8", 0, 0, 359, "g4"),
    rec("VAL_press9", 0, 0, 359, "g4"),
    rec("VAL_press10", 0, 0, 359, "g4"),
    rec("VAL_press11", 0, 0, 359, "g4"),
    rec("VAL_press12", 0, 0, 359, "g4"),
    rec("VAL_press13", 0, 0, 359, "g4"),
    rec("VAL_press14", 0, 0, 359, "g4"),
    rec("VAL_press15", 0, 0, 359, "g4"),
    rec("VAL_press16", 0, 0, 359, "g4"),
    rec("VAL_press17", 0, 0, 359, "g4"),
    rec("VAL_press18", 0, 0, 359, "g4"),
    rec("VAL_press19", 0, 0, 359, "g4"),
    rec("VAL_press20", 0, 0, 359, "g4"),
    rec("VAL_stretch_press", 0, 0, 359, "g4"),
    rec("VAL_air_on", 0, 0, 300, "g5"),
    rec("VAL_air_off", 0, 0, 300, "g5"),
    rec("VAL_absg_on", 0, 0, 300, "g5"),
    rec("VAL_absg_off", 0, 0, 300, "g5"),
    rec("VAL_breeze_on", 0, 0, 300, "g5"),
    rec("VAL_breeze_off", 0, 0, 300, "g5"),
    rec("VAL_1st_ctrl", 0, 0, 1, "g5"),
    rec("VAL_1st_twi", 220, 190, 280, "g5"),
    rec("VAL_1st_subN", 2, 1, 2, "g5"),
    rec("VAL_1st_main_on", 0, 0, 359, "g1"),
    rec("VAL_1st_main_off", 0, 0, 359, "g1"),
    rec("VAL_1st_tandem_on", 0, 0, 359, "g1"),
    rec("VAL_1st_tandem_off", 0, 0, 359, "g1"),
    rec("VAL_1st_abs_on", 0, 0, 359, "g2"),
    rec("VAL_1st_abs_off", 0, 0, 359, "g2"),
    rec("VAL_1st_apc_drop", 0, -10, 0, "g5", 2),
    rec("VAL_1st_apc_drop_MPA", 0, -10, 0, "g5", 3),
    i4_record{},
};
static_assert(sizeof(i4_init) == IFC_VALVE_FILE_SIZE);

// The extra all-zero record is never loaded or saved: it ends every lookup
// within the array even when the file's image holds no terminator.
i4_record i4[kValveRecords + 1];

bool valid_index(int index) { return index >= 0 && index <= 6; }

// The decimal value of text as atoi reads it (leading white space, a sign,
// digits up to the first other character, none giving 0), except that a
// number beyond the 32-bit range saturates instead of being undefined.
std::int32_t value_to_int(const char *text) {
  errno = 0;
  long long v = std::strtoll(text, nullptr, 10);
  if (errno == ERANGE) return v < 0 ? INT32_MIN : INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  if (v > INT32_MAX) return INT32_MAX;
  return static_cast<std::int32_t>(v);
}

int get_on_off(char *buf, int colour) {
  int len = std::snprintf(buf, kMaxPayload, "ATC_TO_DELAY:%d ", 0);
  for (int i = 0; i < IFC_VALVES; ++i) {
    // A record that a foreign set file lacks shows as 0.
    const ifc_item *e = ifc_valve_item(i);
    std::int32_t value = 0;
    VfpRead(e->record, &value, colour);
    len += std::snprintf(buf + len, kMaxPayload - len, "%s:%d ", e->name,
                         static_cast<int>(value));
  }
  return len;
}

// For the journal's notes: what value_to_int made of a value that is not
// simply a number.
void note_value(const char *text) {
  char *end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text, &end, 10);
  if (end == text) {
    exchange_note(kNoteNoNumber);
    return;
  }
  if (errno == ERANGE || v < INT32_MIN || v > INT32_MAX) exchange_note(kNoteBeyond32Bits);
  if (*end != '\0') exchange_note(kNoteRestIgnored);
}

// Returns 0 always: the result of a PUT handler means nothing.
int set_on_off(char *data, int len, int colour) {
  if (len < 0) return 0;
  data[len] = '\0';
  line2matrix2(data);
  const bool watching = exchange_watching();
  int k = 0;
  for (; k < L2M2_ROWS && l2m2[k].key[0] != '\0'; ++k) {
    const ifc_item *e = ifc_valve_item(ifc_valve_find(l2m2[k].key));
    if (e != nullptr) VfpWrite(e->record, value_to_int(l2m2[k].value), colour);
    if (!watching) continue;
    if (std::strcmp(l2m2[k].key, L2M2_BAD_KEY) == 0) {
      exchange_note(kNoteItemSkipped);
    } else if (e == nullptr) {
      exchange_note(kNoteUnknownItem);
    } else {
      note_value(l2m2[k].value);
    }
  }
  // A piece with an empty name ends the text: anything behind it is unused.
  if (watching && k < L2M2_ROWS &&
      (l2m2[k].value[0] != '\0' || (k + 1 < L2M2_ROWS && l2m2[k + 1].key[0] != '\0')))
    exchange_note(kNoteRestIgnored);
  return 0;
}

}  // namespace

void I_vfp() { std::memcpy(i4, i4_init, kValveTableSize); }

int i_vfp() { return hfp_load_table(kValveSetFile, i4, i4_init, kValveTableSize); }

int VfpRead(const char *name, std::int32_t *out, int index) {
  i_vfp();
  if (!valid_index(index)) return -1;
  return fp_main_read(name, out, index, i4);
}

int VfpWrite(const char *name, std::int32_t value, int index) {
  // A rejected file that could not be set aside may be the only copy of the
  // settings: the change then lives in memory only, as with an unwritable file.
  const bool keep_file = i_vfp() < 0;
  int result = valid_index(index) ? fp_main_write(name, value, index, i4) : -1;
  if (!keep_file) hfp_save_data2(kValveSetFile, i4, kValveTableSize);
  return result;
}

int IFC_get_on_off_1(char *buf) { return get_on_off(buf, 1); }
int IFC_get_on_off_2(char *buf) { return get_on_off(buf, 2); }
int IFC_get_on_off_3(char *buf) { return get_on_off(buf, 3); }
int IFC_get_on_off_4(char *buf) { return get_on_off(buf, 4); }
int IFC_get_on_off_5(char *buf) { return get_on_off(buf, 5); }
int IFC_get_on_off_6(char *buf) { return get_on_off(buf, 6); }

int IFC_set_on_off_1(char *data, int len) { return set_on_off(data, len, 1); }
int IFC_set_on_off_2(char *data, int len) { return set_on_off(data, len, 2); }
int IFC_set_on_off_3(char *data, int len) { return set_on_off(data, len, 3); }
int IFC_set_on_off_4(char *data, int len) { return set_on_off(data, len, 4); }
int IFC_set_on_off_5(char *data, int len) { return set_on_off(data, len, 5); }
int IFC_set_on_off_6(char *data, int len) { return set_on_off(data, len, 6); }
