// The valve settings table ("valve_fp.set") and the valve on/off commands.
#pragma once

#include <cstdint>

// Copies the compiled-in defaults over the working table (memory only).
void I_vfp();

// Makes the working table hold the image of "valve_fp.set"; a missing or
// short file is replaced by the defaults first. Returns what hfp_load_table
// returns: -1 when the table holds the defaults but the file must be left
// as it is.
int i_vfp();

// Reads slot index (the colour number) of the valve record called name into
// *out, loading the set file first. Returns 0, or -1 (and *out untouched)
// when there is no usable record of that name or index is not 0..6.
int VfpRead(const char *name, std::int32_t *out, int index);

// Stores value into slot index of the valve record called name and saves the
// set file (in either case, unless a rejected file could not be set aside).
// Returns 0, or -1 as for VfpRead.
int VfpWrite(const char *name, std::int32_t value, int index);

// GET handlers: "ATC_TO_DELAY:0 " and "item:value " for the 45 valve items of
// the colour number at the end of the name; return the reply's length.
int IFC_get_on_off_1(char *buf);
int IFC_get_on_off_2(char *buf);
int IFC_get_on_off_3(char *buf);
int IFC_get_on_off_4(char *buf);
int IFC_get_on_off_5(char *buf);
int IFC_get_on_off_6(char *buf);

// PUT handlers (put_handler, dispatch/ether_parse.hpp): store each known
// "item:value" of the data part at the colour number at the end of the name,
// up to the first item with an empty key. Each writes a NUL at data[len]; the
// result is discarded.
int IFC_set_on_off_1(char *data, int len);
int IFC_set_on_off_2(char *data, int len);
int IFC_set_on_off_3(char *data, int len);
int IFC_set_on_off_4(char *data, int len);
int IFC_set_on_off_5(char *data, int len);
int IFC_set_on_off_6(char *data, int len);
