// The server's command line: --port, --bind, --dir, --port-file, --journal,
// --readings, --faults, --help, --version.
#pragma once

#include <cstdint>
#include <string>

struct server_options {
  std::uint16_t port;     // kServerPort unless --port; 0: the kernel picks one
  std::uint32_t address;  // IPv4, host byte order; kServerAddress unless --bind
  // File options, made absolute against the start directory when --dir
  // moves the working directory; or empty.
  std::string port_file;  // --port-file
  std::string readings;   // --readings
  std::string faults;     // --faults
  std::string journal;    // --journal, opened by the parser
};

// Reads the command line into *opt, makes the --dir directory the working
// directory and opens the --journal file (journal_open), when they are named.
// Returns -1 when the server is to start; otherwise the exit status: 0 after
// printing the help or the version on stdout, 2 after one line on stderr for
// wrong usage or a journal that cannot be opened. Opens no socket; creates no
// file but the journal.
int parse_server_options(int argc, char *argv[], server_options *opt);
