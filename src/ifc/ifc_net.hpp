// The IFC settings table ("ifc_set.set") and the IFC command handlers.
#pragma once

#include <cstdint>

// Reads slot index of the IFC record called name into *out, loading the set
// file first. Returns 0, or -1 (and *out untouched) when there is no such record.
int Ifc_SetRead(const char *name, std::int32_t *out, int index);

// Stores value into slot index of the IFC record called name and saves the set
// file (in either case). Returns 0, or -1 when there is no such record.
int Ifc_SetWrite(const char *name, std::int32_t value, int index);
