// ifcctl: the command-line client of ifcsim. One sub-command per task; the
// exit status tells scripts what happened (see kUsage and its neighbours).
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "client/ifc_client.hpp"
#include "dispatch/control_file.hpp"
#include "dispatch/ether_parse.hpp"
#include "ifcctl/faults.hpp"
#include "ifcctl/journal.hpp"
#include "ifcctl/put_check.hpp"
#include "ifcctl/readings.hpp"
#include "ifcctl/set_dump.hpp"
#include "ifcctl/show.hpp"
#include "ifcctl/text.hpp"
#include "ifcsim_config.hpp"

namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;       // the server refused or broke off; a file is no table
constexpr int kUsage = 2;        // wrong usage
constexpr int kUnreachable = 3;  // no server at that address

int fail(int status, const std::string &message) {
  std::fprintf(stderr, "ifcctl: %s\n", message.c_str());
  return status;
}

int status_for(ifc::client_error e) {
  switch (e) {
    case ifc::client_error::none:
      return kOk;
    case ifc::client_error::connect:
      return kUnreachable;
    case ifc::client_error::usage:
      return kUsage;
    default:
      return kFailed;
  }
}

// GET names are stored followed by blanks (the request's fill); people want
// the bare name.
std::string bare_name(const char *stored) {
  std::string s = stored;
  ifcctl::trim_trailing_blanks(&s);
  return s;
}

template <typename Handler>
void list_table(const command_entry<Handler> *table, const char *key,
                nlohmann::ordered_json *json, std::string *text) {
  std::size_t width = 0;
  for (const command_entry<Handler> *row = table; row->name; ++row)
    width = std::max(width, bare_name(row->name).size());
  for (const command_entry<Handler> *row = table; row->name; ++row) {
    std::string name = bare_name(row->name);
    const char *summary = row->summary ? row->summary : "";
    (*json)[key].push_back({{"name", name}, {"summary", summary}});
    *text += "  " + name + std::string(width - name.size() + 2, ' ') + summary;
    ifcctl::trim_trailing_blanks(text);
    *text += "\n";
  }
}

int run_commands(bool as_json) {
  nlohmann::ordered_json json = {{"get", nlohmann::ordered_json::array()},
                                 {"put", nlohmann::ordered_json::array()}};
  std::string text = "GET commands (ifcctl get NAME prints the reply):\n";
  list_table(get_commands, "get", &json, &text);
  text += "\nPUT commands (ifcctl put NAME TEXT sends the text):\n";
  list_table(put_commands, "put", &json, &text);
  std::string out = as_json ? json.dump(2) + "\n" : text;
  std::fwrite(out.data(), 1, out.size(), stdout);
  return kOk;
}

int run_get(const ifc::endpoint &ep, const std::string &name, bool raw) {
  if (name.empty() || name.size() > static_cast<std::size_t>(kCommandFieldSize))
    return fail(kUsage, "a GET name has 1 to " + std::to_string(kCommandFieldSize) +
                            " characters: \"" + name + "\"");
  ifc::get_result r = ifc::get(ep, name);
  if (r.error != ifc::client_error::none)
    return fail(status_for(r.error), name + ": " + r.message);
  if (r.length < 0)
    return fail(kFailed,
                name + ": the server does not know this command (see ifcctl commands)");
  std::fwrite(r.reply.data(), 1, r.reply.size(), stdout);
  // A terminal always gets the line end, or the prompt would follow the reply.
  if (!raw || isatty(STDOUT_FILENO)) std::fputc('\n', stdout);
  return kOk;
}

// Standard input, up to one byte more than any payload the server takes:
// the server then refuses the length itself.
bool read_stdin(std::string *text) {
  char buf[8192];
  std::size_t n;
  while (text->size() <= static_cast<std::size_t>(kMaxPayload) &&
         (n = std::fread(buf, 1, sizeof buf, stdin)) > 0)
    text->append(buf, n);
  return !std::ferror(stdin);
}

int run_put(const ifc::endpoint &ep, const std::string &name, std::string text,
            bool from_stdin, bool force) {
  if (name.empty()) return fail(kUsage, "the PUT name is empty");
  const bool known = ifcctl::is_put_command(name);
  if (!known && !force)
    return fail(kUsage, name +
                            " is no PUT command (see ifcctl commands): the server would "
                            "take the text and ignore it (--force sends it as it is)");
  if (from_stdin) {
    text.clear();
    if (!read_stdin(&text)) return fail(kUsage, "cannot read standard input");
  }
  // The server would answer "ERR!" to this length; the client does not even send it.
  std::size_t payload = name.size() + 1 + text.size();
  if (payload > static_cast<std::size_t>(kMaxPayload))
    return fail(kFailed, name + ": a payload of " + std::to_string(payload) +
                             " bytes is refused (the server takes at most " +
                             std::to_string(kMaxPayload) + ")");
  if (!known) {
    std::fprintf(stderr,
                 "ifcctl: warning: %s is no PUT command of this build; the server takes "
                 "the text and ignores it\n",
                 name.c_str());
  } else if (!force) {
    if (auto why = ifcctl::check_put_text(name, text))
      return fail(kUsage, name + ": " + *why + " (--force sends it as it is)");
  }
  ifc::put_result r = ifc::put(ep, name, text);
  if (r.error == ifc::client_error::refused)
    return fail(kFailed, name + ": the server refused a payload of " +
                             std::to_string(name.size() + 1 + text.size()) +
                             " bytes (\"ERR!\"; at most " + std::to_string(kMaxPayload) +
                             " are taken)");
  if (r.error == ifc::client_error::closed)
    return fail(kFailed, name +
                             ": the server closed the connection without \"FIN\": "
                             "the text was not taken (" +
                             r.message + ")");
  if (r.error != ifc::client_error::none)
    return fail(status_for(r.error), name + ": " + r.message);
  return kOk;
}

int run_show(const ifc::endpoint &ep, int colour, bool as_json) {
  std::vector<int> colours;
  if (colour)
    colours.push_back(colour);
  else
    colours = {1, 2, 3, 4, 5, 6};
  ifcctl::show_data data;
  auto fetch = [&ep](std::string_view name) { return ifc::get(ep, name); };
  if (auto err = ifcctl::collect_show(fetch, colours, &data))
    return fail(err->error == ifc::client_error::none ? kFailed : status_for(err->error),
                err->message);
  std::string out =
      as_json ? ifcctl::show_json(data).dump(2) + "\n" : ifcctl::render_show(data);
  std::fwrite(out.data(), 1, out.size(), stdout);
  return kOk;
}

int run_dump(const std::string &path, bool as_json) {
  std::vector<unsigned char> image;
  std::string error;
  if (!ifcctl::read_image(path, &image, &error)) return fail(kFailed, error);
  auto table = ifcctl::decode_table(image, &error);
  if (!table) return fail(kFailed, path + ": " + error);
  std::string out;
  if (as_json) {
    nlohmann::ordered_json j = {{"file", path}};
    j.update(ifcctl::dump_json(*table));
    out = j.dump(2) + "\n";
  } else {
    out = path + ": " + ifcctl::render_dump(*table);
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  // The table is shown all the same; a script learns from the status that
  // the server would not take the file as it is.
  std::string refused;
  int count = 0;
  for (const ifcctl::dump_record &r : table->records)
    if (r.refused) refused += (count++ ? ", " : "") + std::to_string(r.position);
  int status = kOk;
  if (!table->has_end)
    status = fail(kFailed, path +
                               ": no end record: the server's lookups run on to the "
                               "last record");
  if (count)
    status = fail(kFailed, path + ": " + std::to_string(count) +
                               (count == 1 ? " record" : " records") +
                               " the server would not use as it stands (position" +
                               (count == 1 ? " " : "s ") + refused + ")");
  return status;
}

int run_readings_show(const std::string &file) {
  std::string text, error;
  bool missing = false;
  auto table = ifcctl::load_readings(file, &text, &error, &missing);
  if (missing) {
    std::printf("%s: no file: the server serves simulated values\n", file.c_str());
    return kOk;
  }
  if (!table) return fail(kFailed, error + " (the server refuses this file)");
  std::string out = ifcctl::render_readings(file, *table);
  std::fwrite(out.data(), 1, out.size(), stdout);
  return kOk;
}

int run_readings_set(const std::string &file, const std::string &source) {
  std::string text, error;
  bool missing = false;
  const std::string from = ifcctl::readings_source(source);
  if (!ifcctl::load_readings(from, &text, &error, &missing))
    return fail(kUsage, error + (missing ? " (nor is it a ready-made file: empty, full, "
                                           "ramp, extremes)"
                                         : "; " + file + " is left as it was"));
  if (control_file_replace(file.c_str(), text.data(), text.size()) != 0)
    return fail(kFailed, file + ": cannot be written (" + std::strerror(errno) + ")");
  return kOk;
}

int run_readings_clear(const std::string &file) {
  if (unlink(file.c_str()) != 0 && errno != ENOENT)
    return fail(kFailed, file + ": cannot be removed (" + std::strerror(errno) + ")");
  return kOk;
}

// Whole numbers from lo to hi, for options and arguments; what is wrong
// said in words.
CLI::Validator whole_number(const std::string &what, long lo, long hi) {
  std::string range = std::to_string(lo) + " to " + std::to_string(hi);
  return CLI::Validator(
      [=](std::string &s) -> std::string {
        long v = 0;
        auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
        if (s.empty() || end != s.data() + s.size() || ec == std::errc::invalid_argument)
          return "\"" + s + "\" is not a number";
        if (ec == std::errc::result_out_of_range || v < lo || v > hi)
          return s + " is out of range: " + what + " is " + range;
        return std::string();
      },
      range);
}

// A time-out in seconds: at least a millisecond, at most an hour.
CLI::Validator seconds() {
  static const char range[] = "0.001 to 3600";
  return CLI::Validator(
      [](std::string &s) -> std::string {
        double v = 0;
        auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
        if (s.empty() || end != s.data() + s.size() || ec != std::errc())
          return "\"" + s + "\" is not a number of seconds";
        if (!(v >= 0.001 && v <= 3600))
          return s + " is out of range: the time-out is " + range + " seconds";
        return std::string();
      },
      range);
}

// The first argument that is neither an option nor an option's value: the
// sub-command as typed, or "" when there is none.
std::string command_word(CLI::App &app, int argc, char **argv) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--") return i + 1 < argc ? argv[i + 1] : "";
    if (arg.size() < 2 || arg[0] != '-') return arg;
    if (arg.find('=') != std::string::npos) continue;
    const CLI::Option *opt = app.get_option_no_throw(arg);
    if (opt && opt->get_type_size() > 0) ++i;
  }
  return "";
}

// "get, put, ...", and whether word is among them.
std::string command_list(CLI::App &app, const std::string &word, bool *known) {
  std::string list;
  for (const CLI::App *sub : app.get_subcommands({})) {
    list += (list.empty() ? "" : ", ") + sub->get_name();
    if (sub->get_name() == word) *known = true;
  }
  return list;
}

}  // namespace

int main(int argc, char **argv) {
  CLI::App app{
      "ifcctl: talk to an ifcsim server (the stand-in machine controller) and read its "
      "set files.",
      "ifcctl"};
  app.footer(R"(Exit status: 0 success, 1 the server refused or broke off (or a file is
no table image), 2 wrong usage, 3 the server cannot be reached.

Examples:
  ifcctl show                       everything on one screen
  ifcctl get IFC_get_Tot_Twt_1      to:90 tw:240
  ifcctl put IFC_set_to_tw_1 'to:95 tw:250'
  ifcctl --host 10.0.0.5 show       the server at 10.0.0.5
  ifcctl commands                   the commands of this build (no server asked)
  ifcctl dump /var/lib/ifcsim/valve_fp.set
  ifcctl readings --file /tmp/ctl/readings set ramp   histograms that fill
  ifcctl journal --follow traffic.jsonl   the traffic, as it comes)");
  app.require_subcommand(1);
  app.fallthrough();

  ifc::endpoint ep;
  double timeout_s = ep.timeout_ms / 1000.0;
  app.add_option("--host", ep.host, "server address or host name")->capture_default_str();
  app.add_option("--port", ep.port, "server TCP port")
      ->check(whole_number("a port", 1, 65535))
      ->capture_default_str();
  app.add_option("--timeout", timeout_s, "seconds to wait for each reply piece")
      ->check(seconds())
      ->capture_default_str();

  std::string name, text;
  bool raw = false, as_json = false, force = false;
  int colour = 0;

  CLI::App *get = app.add_subcommand("get", "send a GET and print the reply");
  get->add_option("NAME", name, "GET command name (see ifcctl commands)")->required();
  get->add_flag("--raw", raw, "print exactly the reply bytes, without a line end");
  get->footer(R"(Examples:
  ifcctl get IFC_get_stat           color:1 mode:0 totw_sw:0
  ifcctl get --raw IFC_get_on_off_2 > onoff.txt
  ifcctl --host 10.0.0.5 --port 9001 get IFC_get_stat

--host, --port and --timeout go before or after the sub-command.)");

  CLI::App *put = app.add_subcommand("put", "send a PUT of NAME, a NUL and TEXT");
  put->add_option("NAME", name, "PUT command name (see ifcctl commands)")->required();
  put->add_option("TEXT", text, "the command's text; - reads it from standard input");
  put->add_flag("--force", force,
                "send the text as it is, even to a name that is no PUT command");
  put->footer(R"(The text is checked against its command's format first: one that the
server would store as 0, ignore in whole or in part, or that names an item
the command does not know is refused (exit 2) with what the server would
make of it; --force sends it all the same. Success means the server answered
"FIN" and then closed, which it does once the command has run. The server
itself reports nothing about what a command made of a text: check with a GET.

Examples:
  ifcctl put IFC_set_to_tw_2 'to:95 tw:250'
  ifcctl put IFC_set_select_item pin:1
  ifcctl put IFC_set_on_off_3 'main_on:95 main_off:100'
  echo 'job 42 done' | ifcctl put append_log -
  ifcctl put --force IFC_set_to_tw_2 'tw:250 to:95'   keys swapped: nothing changes)");

  CLI::App *commands = app.add_subcommand(
      "commands", "list every GET and PUT command of this build (no server is asked)");
  commands->add_flag("--json", as_json, "one JSON document");
  commands->footer(R"(Examples:
  ifcctl commands
  ifcctl commands --json)");

  CLI::App *show =
      app.add_subcommand("show", "status, settings and histograms on one screen");
  show->add_option("COLOUR", colour, "show only this colour number (1 to 6)")
      ->check(whole_number("a colour number", 1, 6));
  show->add_flag("--json", as_json, "the same data as one JSON document");
  show->footer(R"(Examples:
  ifcctl show
  ifcctl show 2                     timings and on/off points of colour 2 only
  ifcctl show --json | jq .colours[0].target)");

  CLI::App *dump = app.add_subcommand(
      "dump", "decode a set file (ifc_set.set, valve_fp.set) into a table");
  std::string path;
  dump->add_option("FILE", path, "the set file, or any table image of 80-byte records")
      ->required();
  dump->add_flag("--json", as_json, "one JSON document");
  dump->footer(R"(Examples:
  ifcctl dump ifc_set.set
  ifcctl dump --json /var/lib/ifcsim/valve_fp.set)");

  CLI::App *readings = app.add_subcommand(
      "readings", "the server's readings file: the values its measurement replies carry");
  std::string readings_file, source;
  readings
      ->add_option("--file", readings_file,
                   "the readings file given to ifcsim --readings")
      ->envname("IFCSIM_READINGS");
  readings->require_subcommand(1);
  readings->fallthrough();
  CLI::App *readings_show =
      readings->add_subcommand("show", "what the file sets, frame by frame");
  CLI::App *readings_set = readings->add_subcommand(
      "set", "check a file with the server's own parser and put it in place");
  readings_set
      ->add_option("SOURCE", source,
                   "a file, or a ready-made one: empty, full, ramp, extremes")
      ->required();
  readings->add_subcommand("clear",
                           "remove the file: the server goes back to simulated values");
  readings->footer(
      R"(The file is --file, else $IFCSIM_READINGS. set refuses a file that the
server would refuse (exit 2, with its line and reason) and otherwise replaces
the readings file atomically; the server takes it at its next measurement
request. Format and ready-made files: docs/readings.md.

Examples:
  ifcctl readings --file /tmp/ctl/readings set ramp
  IFCSIM_READINGS=/tmp/ctl/readings ifcctl readings show
  ifcctl readings set my-readings.txt --file /tmp/ctl/readings
  ifcctl readings clear --file /tmp/ctl/readings)");

  CLI::App *journal = app.add_subcommand(
      "journal", "the traffic journal of ifcsim --journal as a table; count, wait, mark");
  std::string journal_file, mark_text;
  ifcctl::journal_filter filter;
  bool follow = false;
  int last = 0;
  long expect = -1, count = 0;
  journal->add_option("FILE", journal_file, "the journal file (default $IFCSIM_JOURNAL)")
      ->envname("IFCSIM_JOURNAL");
  journal->add_option("--command", filter.command,
                      "only entries whose command matches this glob");
  journal
      ->add_option("--result", filter.result,
                   "only entries with this result: " + ifcctl::journal_result_words())
      ->check(CLI::Validator(
          [](std::string &s) {
            return ifcctl::is_journal_result(s)
                       ? std::string()
                       : "\"" + s + "\" is no result: " + ifcctl::journal_result_words();
          },
          "RESULT"));
  journal->add_flag("--follow,-f", follow,
                    "then show new entries as they come, also after a rotation");
  journal->add_option("--last", last, "only the last N entries")
      ->check(whole_number("a number of entries", 1, INT_MAX));
  journal->add_flag("--json", as_json, "the lines as they are in the file");
  journal->fallthrough();
  CLI::App *journal_count =
      journal->add_subcommand("count", "print how many entries match");
  journal_count
      ->add_option("--expect", expect,
                   "fail (exit 1) when the count is not N; it is printed all the same")
      ->check(whole_number("a number of entries", 0, INT_MAX));
  CLI::App *journal_wait = journal->add_subcommand(
      "wait", "return once N entries match (exit 0), or after --timeout (exit 1)");
  journal_wait->add_option("--count", count, "how many entries")
      ->required()
      ->check(whole_number("a number of entries", 0, INT_MAX));
  CLI::App *journal_mark = journal->add_subcommand(
      "mark", "append a marker, the name of a test say, between the server's entries");
  journal_mark->add_option("TEXT", mark_text, "the marker's text")->required();
  journal->footer(
      R"(FILE is the file of ifcsim --journal, else $IFCSIM_JOURNAL. The table shows
time, peer, request, result, milliseconds and the start of the text or reply,
every byte outside printable ASCII as \xNN; markers show where they fall
(with --command or --result, the one before each entry shown). Lines that
are no entry (a line being written, garbage) are skipped and counted on
stderr. wait bounds its wait with --timeout (default 5 seconds). Fields,
results and notes: docs/journal.md.

Examples:
  ifcctl journal --last 20 traffic.jsonl
  ifcctl journal --follow --result refused
  ifcctl journal --json --command 'IFC_set_*' | jq .text
  ifcctl journal count --command IFC_get_stat --expect 2
  ifcctl journal wait --count 3 --timeout 10
  ifcctl journal mark "test_valve_change")");
  CLI::App *fault = app.add_subcommand(
      "fault", "the server's fault rules: check, add, remove, list, clear");
  std::string fault_file;
  std::vector<std::string> rule;
  int rule_number = 0;
  fault->add_option("--file", fault_file, "the rules file given to ifcsim --faults")
      ->envname("IFCSIM_FAULTS");
  fault->require_subcommand(1);
  fault->fallthrough();
  // In the order of ifcctl::fault_command.
  CLI::App *fault_sub[] = {
      fault->add_subcommand("check", "check RULE with the server's parser; no file"),
      fault->add_subcommand("add", "check RULE and append it to the file"),
      fault->add_subcommand("remove", "remove rule N (as list numbers them)"),
      fault->add_subcommand("list", "the rules, numbered from 1 in file order"),
      fault->add_subcommand("clear", "remove the file: no faults")};
  for (int i = 0; i < 2; ++i)
    fault_sub[i]
        ->add_option("RULE", rule, "PATTERN ACTION [ARGUMENTS] [times N] [after N]")
        ->required();
  fault_sub[2]->add_option("N", rule_number, "the rule's number")->required();
  fault_sub[3]->add_flag("--json", as_json, "a JSON array of {rule, line, text}");
  fault->footer(
      R"(The file is --file, else $IFCSIM_FAULTS; the server reads it again before
its next request. check and add refuse a rule the server would refuse (exit
2, with the reason); add, remove and clear replace the file atomically.
Syntax and actions: docs/faults.md.

Examples:
  ifcctl fault --file /tmp/ctl/faults add '*' refuse times 1   the next request refused
  ifcctl fault add 'IFC_get_*' delay 6000 before len          replies take 6 s
  ifcctl fault add '*' down 30 times 1                         down for 30 s
  ifcctl fault list
  ifcctl fault remove 2
  ifcctl fault clear)");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp &e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp &e) {
    return app.exit(e);
  } catch (const CLI::ParseError &e) {
    std::string message = e.what();
    if (dynamic_cast<const CLI::RequiredError *>(&e) && app.get_subcommands().empty()) {
      std::string word = command_word(app, argc, argv);
      bool known = false;
      std::string list = command_list(app, word, &known);
      if (word.empty())
        message = "a command is required: " + list;
      else if (!known)
        message = "unknown command '" + word + "'; the commands are " + list;
    }
    std::fprintf(stderr, "ifcctl: %s\nRun 'ifcctl --help' for usage.\n", message.c_str());
    return kUsage;
  }
  ep.timeout_ms = static_cast<int>(timeout_s * 1000 + 0.5);
  if (ep.timeout_ms < 1) ep.timeout_ms = 1;

  if (get->parsed()) return run_get(ep, name, raw);
  if (put->parsed()) return run_put(ep, name, text, text == "-", force);
  if (commands->parsed()) return run_commands(as_json);
  if (show->parsed()) return run_show(ep, colour, as_json);
  if (readings->parsed()) {
    if (readings_file.empty())
      return fail(kUsage, "readings: no file: give --file FILE or set IFCSIM_READINGS");
    if (readings_show->parsed()) return run_readings_show(readings_file);
    if (readings_set->parsed()) return run_readings_set(readings_file, source);
    return run_readings_clear(readings_file);
  }
  if (journal->parsed()) {
    if (journal_file.empty())
      return fail(kUsage, "journal: no file: give FILE or set IFCSIM_JOURNAL");
    const bool table =
        !journal_count->parsed() && !journal_wait->parsed() && !journal_mark->parsed();
    if (!table && (follow || as_json || last))
      return fail(kUsage, "journal: --follow, --json and --last are for the table");
    if (journal_mark->parsed() && filter.any())
      return fail(kUsage, "journal mark: --command and --result select entries to read");
    if (journal_count->parsed())
      return ifcctl::journal_count(journal_file, filter, expect);
    if (journal_wait->parsed())
      return ifcctl::journal_wait(journal_file, filter, count, ep.timeout_ms);
    if (journal_mark->parsed()) return ifcctl::journal_mark(journal_file, mark_text);
    return ifcctl::journal_show(journal_file, filter, follow, as_json, last);
  }
  if (fault->parsed()) {
    int k = 0;
    while (!fault_sub[k]->parsed()) ++k;
    if (k > 0 && fault_file.empty())
      return fail(kUsage, "fault: no file: give --file FILE or set IFCSIM_FAULTS");
    return ifcctl::run_fault(static_cast<ifcctl::fault_command>(k), fault_file, rule,
                             rule_number, as_json);
  }
  return run_dump(path, as_json);
}
