// Framed transfer: the listening socket and the block protocol
// ("LEN%010d", "NEXT", "FIN") on one connection.
#pragma once

#include <cstdint>

// Debug switch: while nonzero, transfer failures are printed on stdout.
extern std::int16_t deb_ether_com;

// Opens a TCP listening socket on all IPv4 addresses (backlog 5) and stores
// its descriptor in *sock as soon as it exists. Port 0 picks an ephemeral
// port. Returns 1 when listening, -1 on failure.
int ether_init(int *sock, std::uint16_t port);

// The same on one IPv4 address (host byte order; INADDR_ANY for all).
int ether_init_at(int *sock, std::uint32_t address, std::uint16_t port);

// Receives exactly count bytes, each wait bounded by timeout_sec seconds.
// Returns count, fewer (maybe 0) when the peer closed first, -1 when a wait
// ran out or failed or recv failed; 0 at once for count <= 0.
int ether_recv_unit_data(int sock, char *buf, int count, int timeout_sec);

// Receives a PUT payload block by block ("NEXT" before each) and answers
// "FIN". Returns count, 0 for count <= 0 (after "FIN"), -1 on failure.
int ether_recv_all_data(int sock, char *buf, int count, int limit_sec);

// Sends the length header and, for count > 0, the blocks, each after the
// peer's "NEXT". Returns count, 0 for count <= 0, -1 on failure.
int ether_send_all_data(int sock, const char *buf, int count, int limit_sec);
