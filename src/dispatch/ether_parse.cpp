#include "dispatch/ether_parse.hpp"

#include <cstdio>
#include <cstring>

#include "dispatch/exchange.hpp"
#include "dispatch/sim_main.hpp"
#include "ifc/ifc_net.hpp"
#include "ifcsim_config.hpp"
#include "valve/mletoff_net.hpp"
#include "valve/vfp_ifc.hpp"

std::int16_t deb_ether_parse = 1;

// GET names are stored followed by 20 blanks: the first 20 characters of a
// row are then the name as a client fills the command field.
#define GET_ROW(name, summary) \
  { #name "                    ", name, summary }
#define PUT_ROW(name, summary) \
  { #name, name, summary }

const command_entry<get_handler> get_commands[] = {
    GET_ROW(IFC_get_select_item, "selection flags of pin..stretch and sub1..sub20"),
    GET_ROW(IFC_get_stat, "status: colour number, mode, totw_sw"),
    GET_ROW(IFC_get_Tot_Twt_1, "targets to and tw of colour 1"),
    GET_ROW(IFC_get_Tot_Twt_2, "targets to and tw of colour 2"),
    GET_ROW(IFC_get_Tot_Twt_3, "targets to and tw of colour 3"),
    GET_ROW(IFC_get_Tot_Twt_4, "targets to and tw of colour 4"),
    GET_ROW(IFC_get_Tot_Twt_5, "targets to and tw of colour 5"),
    GET_ROW(IFC_get_Tot_Twt_6, "targets to and tw of colour 6"),
    GET_ROW(IFC_get_To_Tw_1, "measured to and tw of colour 1 (simulated)"),
    GET_ROW(IFC_get_To_Tw_2, "measured to and tw of colour 2 (simulated)"),
    GET_ROW(IFC_get_To_Tw_3, "measured to and tw of colour 3 (simulated)"),
    GET_ROW(IFC_get_To_Tw_4, "measured to and tw of colour 4 (simulated)"),
    GET_ROW(IFC_get_To_Tw_5, "measured to and tw of colour 5 (simulated)"),
    GET_ROW(IFC_get_To_Tw_6, "measured to and tw of colour 6 (simulated)"),
    GET_ROW(IFC_get_histo_ave_1, "simulated averages of colour 1: to, tb1..tb8, tbw, tw"),
    GET_ROW(IFC_get_histo_ave_2, "simulated averages of colour 2: to, tb1..tb8, tbw, tw"),
    GET_ROW(IFC_get_histo_ave_3, "simulated averages of colour 3: to, tb1..tb8, tbw, tw"),
    GET_ROW(IFC_get_histo_ave_4, "simulated averages of colour 4: to, tb1..tb8, tbw, tw"),
    GET_ROW(IFC_get_histo_ave_5, "simulated averages of colour 5: to, tb1..tb8, tbw, tw"),
    GET_ROW(IFC_get_histo_ave_6, "simulated averages of colour 6: to, tb1..tb8, tbw, tw"),
    GET_ROW(IFC_get_hst_select, "histogram selection: colour and item of left and right"),
    GET_ROW(IFC_get_hist_cntdatL, "counts of the left histogram (simulated)"),
    GET_ROW(IFC_get_hist_cntdatR, "counts of the right histogram (simulated)"),
    GET_ROW(IFC_get_on_off_1, "valve on/off points of colour 1"),
    GET_ROW(IFC_get_on_off_2, "valve on/off points of colour 2"),
    GET_ROW(IFC_get_on_off_3, "valve on/off points of colour 3"),
    GET_ROW(IFC_get_on_off_4, "valve on/off points of colour 4"),
    GET_ROW(IFC_get_on_off_5, "valve on/off points of colour 5"),
    GET_ROW(IFC_get_on_off_6, "valve on/off points of colour 6"),
    {nullptr, nullptr, nullptr},
};

const command_entry<put_handler> put_commands[] = {
    PUT_ROW(MLETOFF_set_btnstat, "print the let-off button status text"),
    PUT_ROW(IFC_set_select_item, "set one selection flag: name:value, or all: to clear"),
    PUT_ROW(IFC_set_stat, "set the status: color:c mode:m totw_sw:s"),
    PUT_ROW(IFC_set_to_tw_1, "set the targets of colour 1: to:n tw:n"),
    PUT_ROW(IFC_set_to_tw_2, "set the targets of colour 2: to:n tw:n"),
    PUT_ROW(IFC_set_to_tw_3, "set the targets of colour 3: to:n tw:n"),
    PUT_ROW(IFC_set_to_tw_4, "set the targets of colour 4: to:n tw:n"),
    PUT_ROW(IFC_set_to_tw_5, "set the targets of colour 5: to:n tw:n"),
    PUT_ROW(IFC_set_to_tw_6, "set the targets of colour 6: to:n tw:n"),
    PUT_ROW(IFC_set_on_off_1, "set valve on/off points (item:value ...) of colour 1"),
    PUT_ROW(IFC_set_on_off_2, "set valve on/off points (item:value ...) of colour 2"),
    PUT_ROW(IFC_set_on_off_3, "set valve on/off points (item:value ...) of colour 3"),
    PUT_ROW(IFC_set_on_off_4, "set valve on/off points (item:value ...) of colour 4"),
    PUT_ROW(IFC_set_on_off_5, "set valve on/off points (item:value ...) of colour 5"),
    PUT_ROW(IFC_set_on_off_6, "set valve on/off points (item:value ...) of colour 6"),
    PUT_ROW(IFC_hst_select_item, "choose a histogram: LEFT|RIGHT colour item"),
    PUT_ROW(IFC_hst_clear, "clear a histogram: colour item"),
    PUT_ROW(IFC_hst_set, "histogram settings: lc li lt rc ri rt samp"),
    PUT_ROW(append_log, "append the text to cgi.log"),
    {nullptr, nullptr, nullptr},
};

#undef GET_ROW
#undef PUT_ROW

namespace {

// Names match when they agree over 20 characters or up to a NUL both have.
bool names_match(const char *received, const char *row) {
  return strncmp(received, row, kCommandFieldSize) == 0;
}

// Every command but append_log reads its text up to a NUL, and takes a line
// end or a tab for a blank (or, on/off, for part of a piece).
void note_text(const char *data, int len) {
  for (int i = 0; i < len; ++i) {
    if (data[i] == '\0') exchange_note(kNoteNulInText);
    if (data[i] == '\n' || data[i] == '\r' || data[i] == '\t')
      exchange_note(kNoteLineEnd);
  }
}

}  // namespace

int ether_get_data(const char *name, char *buf) {
  for (const auto *row = get_commands; row->name != nullptr; ++row) {
    if (names_match(name, row->name)) return row->handler(buf);
  }
  return -1;
}

int ether_put_data(char *payload, int len) {
  const char *end =
      len > 0 ? static_cast<const char *>(memchr(payload, '\0', len)) : nullptr;
  if (end == nullptr) {
    if (deb_ether_parse) puts("COMMAND END not found");
    return kPutNoName;
  }
  const int name_len = static_cast<int>(end - payload);
  char *data = payload + name_len + 1;
  const int data_len = len - name_len - 1;
  for (const auto *row = put_commands; row->name != nullptr; ++row) {
    if (names_match(payload, row->name)) {
      if (row->handler != append_log && exchange_watching()) note_text(data, data_len);
      (void)row->handler(data, data_len);
      return 0;
    }
  }
  if (deb_ether_parse) puts("not found");
  return kPutNotFound;
}
