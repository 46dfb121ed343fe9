// The server loop: one connection at a time, one request per connection.
#pragma once

#include <netinet/in.h>

#include <cstdint>

#include "ifcsim_config.hpp"

// Debug switch: while nonzero the loop prints its progress lines.
extern std::int16_t deb_tcp1_main;

// Serves one accepted connection: header, GET or PUT, and closes it; then,
// with the journal on, appends its entry (peer: the client's address, or null).
void tcp1_handle_connection(int conn, const sockaddr_in *peer = nullptr);

// Accepts and serves connections on a listening socket, for ever.
[[noreturn]] void tcp1_serve(int listen_fd);

// Start-up and loop on the given port (0: one the kernel picks) and IPv4
// address (host byte order); once listening, writes the port to port_file
// unless that is null. Returns an exit status only when the listening socket
// or the port file cannot be set up.
int tcp1_main(std::uint16_t port, std::uint32_t address = kServerAddress,
              const char *port_file = nullptr);
