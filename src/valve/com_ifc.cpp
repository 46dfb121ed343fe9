#include "valve/com_ifc.hpp"

#include <cstdio>

namespace {

constexpr int kSubValves = 20;
// Longest reply: 20 pieces "subNN:-32768 " fit easily.
constexpr int kReplyLimit = 256;

std::int16_t sub[kSubValves] = {210, 450, 690, 930, 1170, 1410, 1650};

}  // namespace

std::int16_t IFC_get_valve_loc(char *buf) {
  int len = 0;
  for (int n = 1; n <= kSubValves; ++n) {
    len += std::snprintf(buf + len, kReplyLimit - len, "sub%d:%d ", n, sub[n - 1]);
  }
  return static_cast<std::int16_t>(len);
}

void IFC_set_valve_loc(std::int16_t n, std::int16_t value) {
  if (n >= 1 && n <= kSubValves) sub[n - 1] = value;
}
