// The protocol's vocabulary: the GET and PUT command tables and the
// dispatchers that run a handler by name.
#pragma once

#include <cstdint>

// Writes a NUL-terminated reply from buf[0] on; returns its length.
typedef int (*get_handler)(char *buf);
// Takes the data part of a PUT payload and its length; may write a NUL at
// data[len]. Returns an integer that the dispatcher discards: no caller may
// take a meaning from it.
typedef int (*put_handler)(char *data, int len);

// One row of a command table; the last row has a null name.
template <typename Handler>
struct command_entry {
  const char *name;
  Handler handler;
  const char *summary;  // one line for people (the command-line client)
};

extern const command_entry<get_handler> get_commands[];
extern const command_entry<put_handler> put_commands[];

// Debug switch: while nonzero, PUT dispatch failures are printed.
extern std::int16_t deb_ether_parse;

// Runs the GET command of that name (at most 20 characters, NUL-terminated)
// with buf; returns its result, or -1 when no row matches.
int ether_get_data(const char *name, char *buf);

// Splits a PUT payload at its first NUL and runs the named handler with the
// data part. payload[len] must be writable. Returns 0 when a handler ran,
// kPutNoName when the payload holds no NUL, kPutNotFound when no row
// matches; the server loop tells the client none of this.
inline constexpr int kPutNoName = -1;
inline constexpr int kPutNotFound = -2;
int ether_put_data(char *payload, int len);
