// What the current request did besides its reply: the liberties its client
// took (notes), the files it wrote and those it failed to write. The server
// loop clears the record before each request, the transfer, the dispatcher,
// the handlers and the save path mark it, and the traffic journal reads it
// after the close. Marking costs a few stores and prints nothing.
#pragma once

#include <cstdint>

// Liberties a client took that the server tolerates but a page should not
// rely on, one bit each; exchange_note_name gives the word the journal uses.
enum exchange_note : std::uint32_t {
  kNoteEarlyBytes = 1u << 0,    // bytes sent before the server asked for them
  kNoteExtraBytes = 1u << 1,    // bytes behind the end of the request, thrown away
  kNoteNulInText = 1u << 2,     // a NUL in the text: read up to it only
  kNoteLineEnd = 1u << 3,       // a line end or tab in the text
  kNoteRestIgnored = 1u << 4,   // reading stopped before the end of the text
  kNoteKeyMissing = 1u << 5,    // fewer keys (colons) than the command reads
  kNoteKeyOrder = 1u << 6,      // keys in another order than the command reads them
  kNoteNoNumber = 1u << 7,      // a value that is empty or no number
  kNoteBeyond32Bits = 1u << 8,  // a number outside the signed 32-bit range
  kNoteUnknownItem = 1u << 9,   // a name that no item of the command carries
  kNoteItemSkipped = 1u << 10,  // an on/off piece beyond the splitter's limits
  kNoteAllIsZero = 1u << 11,    // all:N with N not 0 clears every flag all the same
  kNoteSideWord = 1u << 12,     // a histogram side that is neither LEFT nor RIGHT
  kNoteBadColour = 1u << 13,    // a histogram colour number outside 1 to 6
  kNoteTooLong = 1u << 14,      // a histogram text beyond its limit, ignored whole
};
inline constexpr int kExchangeNoteCount = 15;

// The files a request may write, in the order the journal lists them.
enum exchange_file : unsigned {
  kFileIfcSet = 1u << 0,
  kFileValveSet = 1u << 1,
  kFileCgiLog = 1u << 2
};
inline constexpr int kExchangeFileCount = 3;

struct exchange_record {
  std::uint32_t notes;  // exchange_note bits
  unsigned saved;       // exchange_file bits: written
  unsigned failed;      // exchange_file bits: a write failed
};

// Clears the record; the loop calls it as a request begins.
void exchange_begin();
const exchange_record &exchange_current();

// Whether anything reads the record (the journal is on): checks that cost
// more than a store run only then.
bool exchange_watching();
void exchange_watch(bool on);

void exchange_note(std::uint32_t notes);

// Marks path (a set file or "cgi.log"; other paths are not tracked) as
// written, or as failed. exchange_failed returns true when this is the
// request's first failure on that file (and always for an untracked path):
// the caller then prints its one line.
void exchange_saved(const char *path);
bool exchange_failed(const char *path);

// The word of note bit i (0 .. kExchangeNoteCount - 1) and the name of file
// bit i (0 .. kExchangeFileCount - 1).
const char *exchange_note_name(int i);
const char *exchange_file_name(int i);
