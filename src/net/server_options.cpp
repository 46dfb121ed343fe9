#include "net/server_options.hpp"

#include <arpa/inet.h>
#include <getopt.h>
#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

#include "ifcsim_config.hpp"
#include "net/journal.hpp"

#ifndef IFCSIM_VERSION
#error "IFCSIM_VERSION must give the project's version"
#endif

namespace {

constexpr char kHelp[] =
    "Usage: ifcsim [--port N] [--bind ADDRESS] [--dir DIRECTORY] [--port-file FILE]\n"
    "              [--journal FILE] [--readings FILE] [--faults FILE]\n"
    "Stands in for the machine controller: serves one GET or PUT request per\n"
    "TCP connection, one connection at a time, until it is stopped, and\n"
    "prints its progress on standard output.\n"
    "\n"
    "  --port N             TCP port to listen on, 1 to 65535, or 0 for a free\n"
    "                       one that the kernel picks (default 9000)\n"
    "  --bind ADDRESS       IPv4 address to listen on, such as 127.0.0.1 to\n"
    "                       stay local (default: every local address)\n"
    "  --dir DIRECTORY      working directory, where ifc_set.set, valve_fp.set\n"
    "                       and cgi.log are kept (default: the current one);\n"
    "                       it must exist\n"
    "  --port-file FILE     once listening, write the port number and a line\n"
    "                       end to FILE (whole: FILE.tmp, then renamed); a\n"
    "                       relative FILE is taken from the directory the\n"
    "                       server is started in, not from --dir\n"
    "  --journal FILE       append one JSON line per connection to FILE: what\n"
    "                       the client sent, what it got, the result, the files\n"
    "                       saved (see docs/journal.md); a relative FILE is\n"
    "                       taken from the directory the server starts in\n"
    "  --readings FILE      measured values and histograms to serve in place of\n"
    "                       the simulated ones, read again whenever it changes;\n"
    "                       no file: simulated (docs/readings.md, ifcctl readings)\n"
    "  --faults FILE        fault rules: refuse, delay, cut or garble requests,\n"
    "                       lose changes, stop listening; read again whenever\n"
    "                       it changes; no file: no faults (docs/faults.md,\n"
    "                       ifcctl fault)\n"
    "  --help               print this help and exit\n"
    "  --version            print the version and exit\n"
    "\n"
    "Examples:\n"
    "  ifcsim --port 9001 --bind 127.0.0.1 --dir /srv/ifcsim/9001\n"
    "  ifcsim --port 0 --bind 127.0.0.1 --port-file ifcsim.port --dir state\n"
    "  ifcsim --readings readings.txt --dir state\n"
    "  ifcsim --journal traffic.jsonl\n"
    "  ifcsim --faults faults.txt --journal traffic.jsonl\n";

constexpr int kUsageStatus = 2;

// Values above every character, so that no short option exists.
enum option_id {
  kPort = 256,
  kBind,
  kDir,
  kPortFile,
  kHelpOption,
  kVersion,
  kReadings,
  kJournal,
  kFaults
};

const option kOptions[] = {
    {"port", required_argument, nullptr, kPort},
    {"bind", required_argument, nullptr, kBind},
    {"dir", required_argument, nullptr, kDir},
    {"port-file", required_argument, nullptr, kPortFile},
    {"journal", required_argument, nullptr, kJournal},
    {"help", no_argument, nullptr, kHelpOption},
    {"version", no_argument, nullptr, kVersion},
    {"readings", required_argument, nullptr, kReadings},
    {"faults", required_argument, nullptr, kFaults},
    {nullptr, 0, nullptr, 0},
};

const char *option_name(int id) {
  for (const option *o = kOptions; o->name != nullptr; ++o) {
    if (o->val == id) return o->name;
  }
  return "?";
}

// Writes text as given, but a byte that would break the line or the
// terminal (control characters, DEL, non-ASCII) as \xNN.
void put_visible(const char *text) {
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; ++p) {
    if (*p >= 0x20 && *p < 0x7f) {
      fputc(*p, stderr);
    } else {
      fprintf(stderr, "\\x%02x", *p);
    }
  }
}

// One line: "ifcsim: <before>'<value>'<after>; see ifcsim --help". Returns
// the usage status.
int usage_error(const char *before, const char *value, const char *after) {
  fputs("ifcsim: ", stderr);
  fputs(before, stderr);
  if (value != nullptr) {
    fputc('\'', stderr);
    put_visible(value);
    fputc('\'', stderr);
  }
  fputs(after, stderr);
  fputs("; see ifcsim --help\n", stderr);
  return kUsageStatus;
}

// Digits only: strtoul alone would take blanks, a sign and wrap-around.
bool parse_port(const char *text, std::uint16_t *port) {
  if (text[0] < '0' || text[0] > '9') return false;
  errno = 0;
  char *end = nullptr;
  const unsigned long v = strtoul(text, &end, 10);
  if (errno == ERANGE || *end != '\0' || v > 65535) return false;
  *port = static_cast<std::uint16_t>(v);
  return true;
}

// Four decimal numbers with dots, as inet_pton takes them; no host names.
bool parse_address(const char *text, std::uint32_t *address) {
  in_addr a{};
  if (inet_pton(AF_INET, text, &a) != 1) return false;
  *address = ntohl(a.s_addr);
  return true;
}

// Makes a relative path absolute against the current directory, so that it
// keeps naming the same file once --dir has changed that. False when the
// current directory cannot be told.
bool from_start_directory(std::string *path) {
  if (path->empty() || (*path)[0] == '/') return true;
  char cwd[PATH_MAX];
  if (getcwd(cwd, sizeof cwd) == nullptr) return false;
  *path = std::string(cwd) + "/" + *path;
  return true;
}

// Turns the journal on; the path is absolute by now, since rotation opens it
// again after --dir has moved the working directory.
int open_journal(const std::string &file) {
  if (journal_open(file.c_str()) == 0) return -1;
  char reason[128];
  snprintf(reason, sizeof reason, " cannot be opened (%s)", strerror(errno));
  return usage_error("--journal: ", file.c_str(), reason);
}

int enter_directory(const char *dir) {
  if (chdir(dir) == 0) return -1;
  const int err = errno;
  if (err == ENOENT) return usage_error("--dir: ", dir, " does not exist");
  if (err == ENOTDIR) return usage_error("--dir: ", dir, " is not a directory");
  char reason[128];
  snprintf(reason, sizeof reason, " cannot be entered (%s)", strerror(err));
  return usage_error("--dir: ", dir, reason);
}

}  // namespace

int parse_server_options(int argc, char *argv[], server_options *opt) {
  opt->port = kServerPort;
  opt->address = kServerAddress;
  opt->port_file.clear();
  opt->readings.clear();
  opt->journal.clear();
  opt->faults.clear();
  const char *dir = nullptr;

  // getopt's own messages are not one line with a hint: report here.
  opterr = 0;
  int id;
  while ((id = getopt_long(argc, argv, ":", kOptions, nullptr)) != -1) {
    switch (id) {
      case kPort:
        if (!parse_port(optarg, &opt->port))
          return usage_error("--port: ", optarg, " is not a port number (0 to 65535)");
        break;
      case kBind:
        if (!parse_address(optarg, &opt->address))
          return usage_error("--bind: ", optarg,
                             " is not an IPv4 address (such as 127.0.0.1)");
        break;
      case kDir:
        dir = optarg;
        break;
      case kPortFile:
        if (optarg[0] == '\0')
          return usage_error("--port-file needs a file name", nullptr, "");
        opt->port_file = optarg;
        break;
      case kReadings:
        if (optarg[0] == '\0')
          return usage_error("--readings: ", optarg, " is no usable file name");
        opt->readings = optarg;
        break;
      case kFaults:
        if (optarg[0] == '\0')
          return usage_error("--faults: ", optarg, " is no usable file name");
        opt->faults = optarg;
        break;
      case kJournal:
        if (optarg[0] == '\0')
          return usage_error("--journal: ", optarg, " is not a file name");
        opt->journal = optarg;
        break;
      case kHelpOption:
        fputs(kHelp, stdout);
        return 0;
      case kVersion:
        fputs("ifcsim " IFCSIM_VERSION "\n", stdout);
        return 0;
      case ':': {
        char what[32];
        snprintf(what, sizeof what, "--%s needs a value", option_name(optopt));
        return usage_error(what, nullptr, "");
      }
      default:
        // optopt: a long option given a value it does not take, a short
        // option's letter, or 0 for an unknown long option.
        if (optopt >= kPort) {
          char what[32];
          snprintf(what, sizeof what, "--%s takes no value", option_name(optopt));
          return usage_error(what, nullptr, "");
        }
        if (optopt != 0) {
          const char letter[] = {'-', static_cast<char>(optopt), '\0'};
          return usage_error("unknown option ", letter, "");
        }
        return usage_error("unknown option ", argv[optind - 1], "");
    }
  }
  if (optind < argc) return usage_error("unexpected argument ", argv[optind], "");
  // Every file option names its file from where the server starts: --dir
  // must not move it. Without --dir a relative name stays as given.
  for (std::string *file :
       {&opt->port_file, &opt->readings, &opt->journal, &opt->faults}) {
    if (dir != nullptr && !from_start_directory(file))
      return usage_error("", file->c_str(),
                         " cannot be placed: the current directory is unknown");
  }
  // Last, as these change something: the working directory, then the journal
  // (created), so that a wrong directory creates nothing.
  int status = dir != nullptr ? enter_directory(dir) : -1;
  if (status < 0 && !opt->journal.empty()) status = open_journal(opt->journal);
  return status;
}
