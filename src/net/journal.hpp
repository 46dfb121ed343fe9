// The traffic journal (--journal FILE): after each connection is closed, one
// JSON object on one line (JSON Lines) saying what the client sent, what it
// got back and what came of it. docs/journal.md describes the fields, the
// results, the notes and the escaping. The server loop fills a journal_entry
// as the request goes; nothing here allocates, and with the journal off
// nothing is written anywhere.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <ctime>

#include "dispatch/exchange.hpp"
#include "ifcsim_config.hpp"

// Names, texts and replies are kept up to this many bytes.
inline constexpr int kJournalCut = 4096;

// How an exchange ended, one word each (journal_result_name).
enum class journal_result : std::uint8_t {
  ok,          // served; for a PUT, the command ran
  unknown,     // GET of a name no command carries (LEN-000000001)
  not_found,   // PUT of a name no command carries
  no_name,     // PUT payload without a NUL
  empty,       // PUT length 0: "FIN", nothing run
  refused,     // PUT length outside 0..256000: "ERR!"
  bad_header,  // fewer than 23 header bytes before a close, or a verb neither GET nor PUT
  timeout,     // a wait for the client ran out (5 s)
  closed,      // the client went away mid-exchange
  cut,         // the transfer's deadline (10 s) passed
  bad_next,    // GET: something other than "NEXT" before a block
  io_error,    // a send or receive failed otherwise
  save_failed,  // served, but a file it changed could not be written
  dropped,      // a fault rule closed or reset the connection at a step
  lost,         // a fault rule: PUT answered "FIN", its command not run
  garbled,      // a fault rule: GET answered with a length header that is no number
};
const char *journal_result_name(journal_result r);
// The i-th result word from 0, for tools that list them; nullptr past the last.
const char *journal_result_word(int i);

// What the loop records of one connection; journal_start clears it.
struct journal_entry {
  timespec accepted;  // CLOCK_REALTIME
  timespec started;   // CLOCK_MONOTONIC, for the duration
  sockaddr_in peer;
  bool has_peer;
  const char *verb;          // "GET", "PUT", or nullptr for a bad header
  char header[kHeaderSize];  // without a verb: the bytes that came
  int header_len;
  bool has_length;  // PUT: the declared length, when it fits 32 bits
  std::int32_t length;
  char command[kJournalCut];  // command_len < 0: none
  int command_len;
  char text[kJournalCut];  // text_len < 0: none; text_bytes: the whole length
  int text_len;
  int text_bytes;
  const char *reply;  // GET: the reply, which stays in the connection buffer
  int reply_bytes;    // reply == nullptr: none
  journal_result result;
  int fault_line;  // the fault rule that acted, by its line (0: none), and its text
  const char *fault_rule;
  int fault_rule_len;
};

// Opens path for appending (creating it, 0644) and turns the journal on,
// with the checks that feed its notes. path should be absolute: the file is
// opened again at that path when it is renamed away or removed. Returns 0,
// or -1 with errno set (the journal stays off).
int journal_open(const char *path);
bool journal_enabled();

// Clears e and stamps the accept time; peer may be null.
void journal_start(journal_entry &e, const sockaddr_in *peer);
// The bytes of a header that is not one (verb absent).
void journal_keep_header(journal_entry &e, const char *bytes, int n);
// A GET command field up to its first NUL, without the blanks that fill it.
void journal_keep_get_name(journal_entry &e, const char *field, int n);
// n payload bytes: the name before the first NUL and the text behind it, or
// the whole payload as the text when it holds no NUL. Call before the
// handler runs: handlers edit the text in place.
void journal_keep_payload(journal_entry &e, const char *payload, int n);

// Formats the line of e (with the notes and files of x, lasting micros) into
// out, line end included. Returns its length, or -1 when cap is too small;
// a line needs at most kJournalLineMax bytes.
inline constexpr int kJournalLineMax = 3 * 6 * kJournalCut + 6 * kHeaderSize + 2048;
int journal_format(const journal_entry &e, const exchange_record &x, long long micros,
                   char *out, int cap);

// Appends the line of e with the current exchange record, whole or not at
// all. A write that fails is reported once on stderr and its entry is lost;
// the next entry tries again (and says so on stderr when it gets through).
void journal_write(const journal_entry &e);

// A marker line, {"time":"...","mark":"TEXT"}, that tools write between the
// server's entries (the names of tests, say). at is CLOCK_REALTIME. Returns
// its length, or -1 when cap is too small; n <= kJournalCut bytes need at
// most kJournalMarkMax.
inline constexpr int kJournalMarkMax = 6 * kJournalCut + 64;
int journal_format_mark(const timespec &at, const char *text, int n, char *out, int cap);

// Appends a marker of n <= kJournalCut bytes, stamped now, to the journal
// at path (creating it), whole or not at all. Returns 0, or -1 with errno
// set (EMSGSIZE: n is out of range).
int journal_append_mark(const char *path, const char *text, int n);
