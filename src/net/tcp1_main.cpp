#include "net/tcp1_main.hpp"

#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dispatch/ether_parse.hpp"
#include "dispatch/exchange.hpp"
#include "ifcsim_config.hpp"
#include "net/ether_com.hpp"
#include "net/faults.hpp"
#include "net/journal.hpp"
#include "net/port_file.hpp"

std::int16_t deb_tcp1_main = 1;

namespace {

// The one connection buffer: header, then GET reply or PUT payload. The byte
// behind a full payload is reserved because a PUT handler writes a NUL right
// behind its data part.
char ether_tcp1_data[kMaxPayload + 1];

// A send to a client that has gone away must fail with EPIPE rather than end
// the server.
void ignore_sigpipe() { signal(SIGPIPE, SIG_IGN); }

// Reads the PUT length from the NUL-terminated command field. Returns false
// when the number lies outside the 32-bit signed range; no digits give 0.
bool read_put_length(const char *field, std::int32_t *length) {
  errno = 0;
  const long long v = strtoll(field, nullptr, 10);
  if (errno == ERANGE || v < INT32_MIN || v > INT32_MAX) return false;
  *length = static_cast<std::int32_t>(v);
  return true;
}

void print_error(const char *message) {
  puts(message);
  fflush(stdout);
}

// The journal's record of the current connection: filled as the request
// goes, written once the connection is closed.
journal_entry entry;

// Why the header wait or a transfer failed, in the journal's words.
journal_result transfer_failure() {
  switch (ether_last_report().end) {
    case ether_end::timeout:
      return journal_result::timeout;
    case ether_end::closed:
      return journal_result::closed;
    case ether_end::cut:
      return journal_result::cut;
    case ether_end::not_next:
      return journal_result::bad_next;
    case ether_end::dropped:
      return journal_result::dropped;
    default:
      return journal_result::io_error;
  }
}

// Notes what the client sent besides what it was asked for.
void note_liberties(int conn) {
  if (ether_last_report().early) exchange_note(kNoteEarlyBytes);
  // Bytes still waiting once the request is done were more than it needed.
  if (entry.result <= journal_result::empty && ether_peer_ahead(conn))
    exchange_note(kNoteExtraBytes);
}

// A refused GET is told the name is unknown; a reply rule's text stands in
// for the command's reply. Neither runs the command.
int get_reply(const char *name, fault_action fault) {
  if (fault == fault_action::refuse) return -1;
  if (fault != fault_action::reply) return ether_get_data(name, ether_tcp1_data);
  const fault_rule *r = faults_applied();
  std::memcpy(ether_tcp1_data, r->reply, static_cast<size_t>(r->reply_len));
  return r->reply_len;
}

void serve_get(int conn, const char *field) {
  char name[kCommandFieldSize + 1];
  int i = 0;
  for (; i < kCommandFieldSize && field[i] != '\0'; ++i) name[i] = field[i];
  name[i] = '\0';
  entry.verb = "GET";
  if (journal_enabled()) journal_keep_get_name(entry, name, i);
  const fault_action fault =
      faults_enabled() ? faults_for_get(name, i) : fault_action::none;
  if (fault == fault_action::garble) {
    (void)send(conn, "LEN??????????", kLengthHeaderSize, MSG_NOSIGNAL);
    entry.result = journal_result::garbled;
    return;
  }
  const int length = get_reply(name, fault);
  const int sent =
      ether_send_all_data(conn, ether_tcp1_data, length, kTransferLimitSeconds);
  if (length >= 0) {
    entry.reply = ether_tcp1_data;
    entry.reply_bytes = length;
  }
  if (sent < 0) {
    entry.result = transfer_failure();
  } else if (length < 0) {
    entry.result = journal_result::unknown;
  }
  note_liberties(conn);
}

void serve_put(int conn, const char *field) {
  entry.verb = "PUT";
  std::int32_t length = 0;
  entry.has_length = read_put_length(field, &length);
  entry.length = length;
  const bool too_big =
      !entry.has_length || static_cast<std::uint32_t>(length) > kMaxPayload;
  if (too_big || (faults_enabled() && faults_for_put(length) == fault_action::refuse)) {
    (void)send(conn, "ERR!", 4, MSG_NOSIGNAL);
    print_error("error: TOO BIG DATA");
    entry.result = journal_result::refused;
    return;
  }
  const int received =
      ether_recv_all_data(conn, ether_tcp1_data, length, kTransferLimitSeconds);
  if (journal_enabled()) {
    journal_keep_payload(entry, ether_tcp1_data,
                         received < 0 ? ether_last_report().bytes : received);
  }
  if (received < 0) {
    entry.result = transfer_failure();
  } else if (faults_applied() != nullptr &&
             faults_applied()->action == fault_action::lose) {
    entry.result = journal_result::lost;
  } else if (received == 0) {
    entry.result = journal_result::empty;
  } else {
    const int ran = ether_put_data(ether_tcp1_data, received);
    if (ran == kPutNoName) entry.result = journal_result::no_name;
    if (ran == kPutNotFound) entry.result = journal_result::not_found;
  }
  note_liberties(conn);
}

// Header, then GET or PUT; prints the error lines. The caller closes.
void serve(int conn) {
  int on = 1;
  (void)ioctl(conn, FIONBIO, &on);

  const int got = ether_recv_unit_data(conn, ether_tcp1_data, kHeaderSize, kWaitSeconds);
  if (got < 0) {
    print_error("main(): ether_recv_unit_data");
    journal_keep_header(entry, ether_tcp1_data, ether_last_report().bytes);
    entry.result = transfer_failure();
    return;
  }
  // A short header is terminated where it ends, so that no byte of an earlier
  // request is printed as part of it.
  ether_tcp1_data[got < kHeaderSize ? got : kHeaderSize] = '\0';
  if (deb_tcp1_main) puts(ether_tcp1_data);
  const char *field = ether_tcp1_data + kVerbSize;
  if (got == kHeaderSize && memcmp(ether_tcp1_data, "GET", kVerbSize) == 0) {
    serve_get(conn, field);
  } else if (got == kHeaderSize && memcmp(ether_tcp1_data, "PUT", kVerbSize) == 0) {
    serve_put(conn, field);
  } else {
    print_error(got < kHeaderSize ? "error: command len" : "error: UNKNOWN COMMAND");
    journal_keep_header(entry, ether_tcp1_data, got);
    entry.result = journal_result::bad_header;
  }
}

}  // namespace

void tcp1_handle_connection(int conn, const sockaddr_in *peer) {
  if (deb_tcp1_main) printf("connected... ");
  fflush(stdout);
  exchange_begin();
  if (journal_enabled()) journal_start(entry, peer);
  if (faults_enabled()) faults_begin();
  serve(conn);
  close(conn);
  if (journal_enabled()) {
    if (entry.result == journal_result::ok && exchange_current().failed != 0)
      entry.result = journal_result::save_failed;
    if (const fault_rule *r = faults_enabled() ? faults_applied() : nullptr) {
      entry.fault_line = r->line;
      entry.fault_rule = r->text;
      entry.fault_rule_len = r->text_len;
    }
    journal_write(entry);
  }
  if (faults_enabled()) faults_end();
}

void tcp1_serve(int listen_fd) {
  ignore_sigpipe();
  faults_watch_listener(&listen_fd);
  for (;;) {
    sockaddr_in peer;
    socklen_t peer_len = sizeof peer;  // 16
    if (deb_tcp1_main) printf("waiting... ");
    fflush(stdout);
    const int conn =
        accept4(listen_fd, reinterpret_cast<sockaddr *>(&peer), &peer_len, SOCK_CLOEXEC);
    if (conn < 0) {
      perror("server: accept");
      continue;
    }
    tcp1_handle_connection(conn, &peer);
  }
}

int tcp1_main(std::uint16_t port, std::uint32_t address, const char *port_file) {
  ignore_sigpipe();
  int listen_fd = -1;
  if (ether_init_at(&listen_fd, address, port) == -1) {
    puts("Can't initialize sever socket.");
    fflush(stdout);
    if (listen_fd >= 0) close(listen_fd);
    return EXIT_FAILURE;
  }
  if (port_file != nullptr && write_port_file(listen_fd, port_file) < 0) {
    fprintf(stderr, "ifcsim: port file %s: %s\n", port_file, strerror(errno));
    close(listen_fd);
    return EXIT_FAILURE;
  }
  tcp1_serve(listen_fd);
}
