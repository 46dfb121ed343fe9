// The in-memory table of the sub valves' locations (registered in no command
// table).
#pragma once

#include <cstdint>

// Writes "sub1:%d " .. "sub20:%d " with the 20 locations into buf, NUL
// behind; returns the length (at most 251).
std::int16_t IFC_get_valve_loc(char *buf);

// Sets the location of sub valve n (1..20); any other n changes nothing.
// Kept in memory only.
void IFC_set_valve_loc(std::int16_t n, std::int16_t value);
