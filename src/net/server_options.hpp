// The server's command line: --port, --bind, --dir, --port-file, --readings,
// --help, --version.
#pragma once

#include <cstdint>
#include <string>

struct server_options {
  std::uint16_t port;     // kServerPort unless --port; 0: the kernel picks one
  std::uint32_t address;  // IPv4, host byte order; kServerAddress unless --bind
  std::string port_file;  // --port-file, absolute when --dir was given; or empty
  std::string readings;   // --readings, made absolute; or empty
};

// Reads the command line into *opt and, when it names one, makes the --dir
// directory the working directory. Returns -1 when the server is to start;
// otherwise the exit status: 0 after printing the help or the version on
// stdout, 2 after one line on stderr for wrong usage. Opens no socket and
// creates no file.
int parse_server_options(int argc, char *argv[], server_options *opt);
