#include "dispatch/exchange.hpp"

#include <cstring>

#include "ifcsim_config.hpp"

namespace {

exchange_record current;
bool watching = false;

// In bit order of exchange_note.
const char *const kNoteNames[kExchangeNoteCount] = {
    "early-bytes",  "extra-bytes", "nul-in-text", "line-end",       "rest-ignored",
    "key-missing",  "key-order",   "no-number",   "beyond-32-bits", "unknown-item",
    "item-skipped", "all-is-zero", "side-word",   "bad-colour",     "too-long",
};

// In bit order of exchange_file.
const char *const kFileNames[kExchangeFileCount] = {kIfcSetFile, kValveSetFile,
                                                    kCgiLogFile};

unsigned file_bit(const char *path) {
  for (int i = 0; i < kExchangeFileCount; ++i)
    if (std::strcmp(path, kFileNames[i]) == 0) return 1u << i;
  return 0;
}

}  // namespace

void exchange_begin() { current = exchange_record{}; }

const exchange_record &exchange_current() { return current; }

bool exchange_watching() { return watching; }

void exchange_watch(bool on) { watching = on; }

void exchange_note(std::uint32_t notes) { current.notes |= notes; }

void exchange_saved(const char *path) { current.saved |= file_bit(path); }

bool exchange_failed(const char *path) {
  const unsigned bit = file_bit(path);
  const bool first = bit == 0 || (current.failed & bit) == 0;
  current.failed |= bit;
  return first;
}

const char *exchange_note_name(int i) {
  return i >= 0 && i < kExchangeNoteCount ? kNoteNames[i] : nullptr;
}

const char *exchange_file_name(int i) {
  return i >= 0 && i < kExchangeFileCount ? kFileNames[i] : nullptr;
}
