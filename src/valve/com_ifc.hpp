// The in-memory table of the sub valves' locations (registered in no command
// table).
#pragma once

#include <cstdint>
