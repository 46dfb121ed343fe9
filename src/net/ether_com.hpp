// Framed transfer: the listening socket and the block protocol
// ("LEN%010d", "NEXT", "FIN") on one connection.
#pragma once

#include <cstdint>

// Debug switch: while nonzero, transfer failures are printed on stdout.
extern std::int16_t deb_ether_com;

// The steps of a transfer, each of which can end it: a GET sends the length
// header, then per block waits for "NEXT" (5 s), compares it and sends the
// block; a PUT per block checks the deadline, sends "NEXT" and receives the
// block (each wait 5 s), then sends "FIN". The deadline (10 s) is checked
// before every block. How the last call of ether_recv_unit_data,
// ether_recv_all_data or ether_send_all_data ended is kept below, for the
// traffic journal; keeping it prints and sends nothing.
enum class ether_end : std::uint8_t {
  done,      // everything moved
  timeout,   // a wait for the peer ran out
  closed,    // the peer closed or reset the connection first
  cut,       // the transfer deadline passed before a block
  not_next,  // the 4 bytes before a block were not "NEXT"
  io_error,  // a send or receive failed otherwise (or sent less than asked)
  dropped,   // the step hook ended it (a fault rule's close or reset)
};
struct ether_report {
  ether_end end;
  int bytes;   // reply bytes sent, payload bytes received (ether_recv_unit_data:
               // the bytes it received), also when it failed
  bool early;  // the peer sent bytes before they were asked for
};
// The report of the last call; ether_recv_unit_data leaves early alone.
const ether_report &ether_last_report();

// While set, ether_recv_all_data and ether_send_all_data look (without
// reading) for bytes the peer sent before it was asked for them: one
// non-blocking peek before each "NEXT" sent or block due.
extern bool ether_watch_early;
// While ether_watch_early is set: whether bytes from the peer wait unread
// (a non-blocking peek). Otherwise false, without a system call.
bool ether_peer_ahead(int sock);

// The points where the fault rules act: before a GET's length header,
// before each reply block (once its "NEXT" is in), before a PUT's first
// "NEXT", before "FIN" (the whole payload in buf[0..n)). While the hook is
// set it is called at each; false ends the transfer there, silently, as
// dropped. Unset (no --faults), nothing is called.
enum class ether_step : std::uint8_t { len, block, next, fin };
extern bool (*ether_step_hook)(int sock, ether_step step, const char *buf, int n);

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
