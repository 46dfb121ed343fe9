// The valve settings table ("valve_fp.set") and the valve on/off commands.
#pragma once

#include <cstdint>

// Reads slot index (the colour number) of the valve record called name into
// *out, loading the set file first. Returns 0, or -1 (and *out untouched).
int VfpRead(const char *name, std::int32_t *out, int index);

// Stores value into slot index of the valve record called name and saves the
// set file (in either case). Returns 0, or -1 when there is no such record.
int VfpWrite(const char *name, std::int32_t value, int index);
