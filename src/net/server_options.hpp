// The server's command line: --port, --bind, --dir, --journal, --help,
// --version.
#pragma once

#include <cstdint>

struct server_options {
  std::uint16_t port;     // kServerPort unless --port
  std::uint32_t address;  // IPv4, host byte order; kServerAddress unless --bind
};

// Reads the command line into *opt, makes the --dir directory the working
// directory and opens the --journal file (journal_open), when they are named.
// Returns -1 when the server is to start; otherwise the exit status: 0 after
// printing the help or the version on stdout, 2 after one line on stderr for
// wrong usage or a journal that cannot be opened. Opens no socket; creates no
// file but the journal.
int parse_server_options(int argc, char *argv[], server_options *opt);
