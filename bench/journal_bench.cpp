// Time of one traffic journal entry on this machine, without the network:
// journal_write (format the line, check the path, append it) for the entries
// of two of the benchmark's scenarios, into a journal in the working
// directory. Set beside the request times, it is the journal's cost when the
// side-by-side ratio is lost in the noise of a shared machine.
//
// usage: ifcsim_journal_bench [ENTRIES]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "net/journal.hpp"

int main(int argc, char **argv) {
  const int entries = argc > 1 ? std::atoi(argv[1]) : 20000;
  if (entries < 1 || journal_open("bench_journal.jsonl") != 0) {
    std::fprintf(stderr,
                 "usage: ifcsim_journal_bench [ENTRIES] (in a writable directory)\n");
    return 2;
  }
  std::string on_off;
  for (int i = 0; i < 45; ++i) on_off += "sub" + std::to_string(i) + "_on:100 ";
  static journal_entry e;
  static const struct {
    const char *name, *verb, *command;
    std::string text, reply;
  } kinds[] = {
      {"GET IFC_get_stat", "GET", "IFC_get_stat", "", "color:1 mode:0 totw_sw:0 "},
      {"PUT IFC_set_on_off_1 x45", "PUT", "IFC_set_on_off_1", on_off, ""}};
  sockaddr_in peer{};
  peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  for (const auto &k : kinds) {
    const std::string payload = std::string(k.command) + '\0' + k.text;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < entries; ++i) {
      journal_start(e, &peer);
      e.verb = k.verb;
      if (k.reply.empty()) {
        journal_keep_payload(e, payload.data(), static_cast<int>(payload.size()));
      } else {
        journal_keep_get_name(e, k.command, static_cast<int>(std::strlen(k.command)));
        e.reply = k.reply.data();
        e.reply_bytes = static_cast<int>(k.reply.size());
      }
      journal_write(e);
    }
    const double us = std::chrono::duration<double, std::micro>(
                          std::chrono::steady_clock::now() - start)
                          .count() /
                      entries;
    std::printf("journal entry, %-24s %.2f us (%d entries)\n", k.name, us, entries);
  }
  std::remove("bench_journal.jsonl");
  return 0;
}
