// The IFC settings table ("ifc_set.set") and the IFC command handlers.
#pragma once

#include <cstdint>

// Reads slot index of the IFC record called name into *out, loading the set
// file first. Returns 0, or -1 (and *out untouched) when there is no such record.
int Ifc_SetRead(const char *name, std::int32_t *out, int index);

// Stores value into slot index of the IFC record called name and saves the set
// file (in either case, unless a rejected file could not be set aside).
// Returns 0, or -1 when there is no such record.
int Ifc_SetWrite(const char *name, std::int32_t value, int index);

// Copies the compiled-in defaults over the working table; the file is untouched.
void I_ifc();

// Loads "ifc_set.set" into the working table. A missing file is created from
// the defaults; a short or unreadable one is first kept as "ifc_set.set.bad"
// (one printed line) and then replaced by the defaults (hfp_load_table).
// Returns what hfp_load_table returns: -1 when the table holds the defaults
// but the file must be left as it is.
int i_ifc();

// GET handlers: each writes its NUL-terminated reply from buf[0] on and
// returns its length. Values that cannot be read from the table show as 0;
// a histogram item number outside 0..11 (or unreadable) shows as "?".
int IFC_get_select_item(char *buf);
int IFC_get_stat(char *buf);
int IFC_get_Tot_Twt_1(char *buf);
int IFC_get_Tot_Twt_2(char *buf);
int IFC_get_Tot_Twt_3(char *buf);
int IFC_get_Tot_Twt_4(char *buf);
int IFC_get_Tot_Twt_5(char *buf);
int IFC_get_Tot_Twt_6(char *buf);
int IFC_get_To_Tw_1(char *buf);
int IFC_get_To_Tw_2(char *buf);
int IFC_get_To_Tw_3(char *buf);
int IFC_get_To_Tw_4(char *buf);
int IFC_get_To_Tw_5(char *buf);
int IFC_get_To_Tw_6(char *buf);
int IFC_get_histo_ave_1(char *buf);
int IFC_get_histo_ave_2(char *buf);
int IFC_get_histo_ave_3(char *buf);
int IFC_get_histo_ave_4(char *buf);
int IFC_get_histo_ave_5(char *buf);
int IFC_get_histo_ave_6(char *buf);
int IFC_get_hst_select(char *buf);
int IFC_get_hist_cntdatL(char *buf);
int IFC_get_hist_cntdatR(char *buf);

// PUT handlers (put_handler, dispatch/ether_parse.hpp): each writes a NUL at
// data[len] (the byte must be writable) and may turn colons of the data part
// into blanks; the result is discarded. A number that cannot be read
// (missing, malformed, or outside the 32-bit range) leaves its setting
// unchanged; the histogram hooks get 0 for it instead.
int IFC_set_select_item(char *data, int len);
int IFC_set_stat(char *data, int len);
int IFC_set_to_tw_1(char *data, int len);
int IFC_set_to_tw_2(char *data, int len);
int IFC_set_to_tw_3(char *data, int len);
int IFC_set_to_tw_4(char *data, int len);
int IFC_set_to_tw_5(char *data, int len);
int IFC_set_to_tw_6(char *data, int len);
int IFC_hst_select_item(char *data, int len);
int IFC_hst_clear(char *data, int len);
int IFC_hst_set(char *data, int len);
