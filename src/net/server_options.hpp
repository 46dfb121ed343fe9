// The server's command line: --port, --bind, --dir, --readings, --help,
// --version.
#pragma once

#include <cstdint>

struct server_options {
  std::uint16_t port;     // kServerPort unless --port
  std::uint32_t address;  // IPv4, host byte order; kServerAddress unless --bind
  const char *readings;   // --readings, made absolute; nullptr without it
};

// Reads the command line into *opt and, when it names one, makes the --dir
// directory the working directory. Returns -1 when the server is to start;
// otherwise the exit status: 0 after printing the help or the version on
// stdout, 2 after one line on stderr for wrong usage. Opens no socket and
// creates no file.
int parse_server_options(int argc, char *argv[], server_options *opt);
