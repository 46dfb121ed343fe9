// Hostile set files: an arbitrary image of 0 to 10000 bytes (no terminator,
// names that fill all 28 bytes, sizes near 800 and 8960) is put in place of a
// set file, then read and written through the accessors and the GET commands
// that show the tables. The same image, as a table with an all-zero guard
// record behind it, goes through the record operations directly.
//
// Input: byte 0 chooses the file and the value index, the rest is the image.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dispatch/ether_parse.hpp"
#include "fuzz_support.hpp"
#include "ifc/ifc_net.hpp"
#include "ifcsim/lib_data2.h"
#include "ifcsim_config.hpp"
#include "valve/vfp_ifc.hpp"

namespace {

constexpr std::size_t kMaxImage = 10000;

void put_file(const char *path, const std::uint8_t *data, std::size_t size) {
  int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  if (size > 0 && write(fd, data, size) < 0) {
    // The load then sees a short file, which is a case worth running too.
  }
  close(fd);
}

void run_get(const char *name, char *reply) {
  char field[kCommandFieldSize + 1];
  std::snprintf(field, sizeof field, "%-20s", name);
  int n = ether_get_data(field, reply);
  if (n < -1 || n >= kMaxPayload || (n >= 0 && reply[n] != '\0')) __builtin_trap();
}

// The record operations on the raw image. Names are drawn from the image
// itself (its first 27 bytes of each name field), so that lookups do hit.
void record_ops(const std::uint8_t *data, std::size_t size, int index) {
  std::size_t records = size / sizeof(i4_record);
  // Exactly records + 1 records: a lookup that passes the guard is caught.
  std::vector<i4_record> table(records + 1);
  std::memcpy(table.data(), data, records * sizeof(i4_record));
  std::memset(&table[records], 0, sizeof(i4_record));

  std::vector<std::string> names = {"", "Tot", "VAL_main_on", "VAL_1st_apc_drop_MPA"};
  for (std::size_t r = 0; r < records && r < 4; ++r) {
    names.emplace_back(table[r].name, strnlen(table[r].name, sizeof table[r].name));
  }
  for (const std::string &name : names) {
    std::int32_t v = 0;
    fp_main_read(name.c_str(), &v, index, table.data());
    fp_main_compare(name.c_str(), v, index, table.data());
    // Wrapping arithmetic: the values come from the image, INT32_MAX and
    // INT32_MIN included.
    const auto u = static_cast<std::uint32_t>(v);
    fp_main_write(name.c_str(), static_cast<std::int32_t>(u + 1), index, table.data());
    change_i4_min_max(table.data(), name.c_str(), static_cast<std::int32_t>(0u - u), v);
    change_i4_type(table.data(), name.c_str(), (v & 7) - 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_support::init_process();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 1) return 0;
  fuzz_support::scratch_dir in_scratch;
  static char *const reply = new char[kMaxPayload];

  bool valve = data[0] & 1;
  int index = (data[0] >> 1) % 7;  // the accessors' callers keep to 0..6
  ++data;
  --size;
  if (size > kMaxImage) size = kMaxImage;

  record_ops(data, size, index);

  std::int32_t v = 0;
  if (valve) {
    put_file(kValveSetFile, data, size);
    VfpRead("VAL_main_on", &v, index);
    VfpWrite("VAL_pin_open", v, index);
    VfpWrite("no such record", v, index);
    for (const char *g : {"IFC_get_on_off_1", "IFC_get_on_off_6"}) run_get(g, reply);
  } else {
    put_file(kIfcSetFile, data, size);
    Ifc_SetRead("Tot", &v, index);
    Ifc_SetWrite("Twt", v, index);
    Ifc_SetWrite("X", v, index);
    for (const char *g : {"IFC_get_select_item", "IFC_get_stat", "IFC_get_Tot_Twt_3",
                          "IFC_get_hst_select"})
      run_get(g, reply);
  }
  return 0;
}
