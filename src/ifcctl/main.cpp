// ifcctl: the command-line client of ifcsim. One sub-command per task; the
// exit status tells scripts what happened (see kUsage and its neighbours).
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "client/ifc_client.hpp"
#include "dispatch/ether_parse.hpp"
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
bool in_table(const command_entry<Handler> *table, const std::string &name) {
  for (const command_entry<Handler> *row = table; row->name; ++row)
    if (bare_name(row->name) == name) return true;
  return false;
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
            bool from_stdin) {
  if (name.empty()) return fail(kUsage, "the PUT name is empty");
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
  if (!in_table(put_commands, name))
    std::fprintf(stderr,
                 "ifcctl: warning: %s is no PUT command of this build; the server takes "
                 "the text and ignores it\n",
                 name.c_str());
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
  return kOk;
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
  ifcctl --host 10.0.0.5 commands
  ifcctl dump /var/lib/ifcsim/valve_fp.set)");
  app.require_subcommand(1);
  app.fallthrough();

  ifc::endpoint ep;
  double timeout_s = ep.timeout_ms / 1000.0;
  app.add_option("--host", ep.host, "server address or host name")->capture_default_str();
  app.add_option("--port", ep.port, "server TCP port")
      ->check(CLI::Range(1, 65535))
      ->capture_default_str();
  app.add_option("--timeout", timeout_s, "seconds to wait for each reply piece")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();

  std::string name, text;
  bool raw = false, as_json = false;
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
  put->footer(R"(Success means the server answered "FIN": the text arrived. The server
reports nothing about what the command made of it: check with a GET.

Examples:
  ifcctl put IFC_set_to_tw_2 'to:95 tw:250'
  ifcctl put IFC_set_select_item pin:1
  ifcctl put IFC_set_on_off_3 'main_on:95 main_off:100'
  echo 'job 42 done' | ifcctl put append_log -)");

  CLI::App *commands =
      app.add_subcommand("commands", "list every GET and PUT command with a description");
  commands->add_flag("--json", as_json, "one JSON document");
  commands->footer(R"(Examples:
  ifcctl commands
  ifcctl commands --json)");

  CLI::App *show =
      app.add_subcommand("show", "status, settings and histograms on one screen");
  show->add_option("COLOUR", colour, "show only this colour number (1 to 6)")
      ->check(CLI::Range(1, 6));
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

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp &e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp &e) {
    return app.exit(e);
  } catch (const CLI::ParseError &e) {
    std::fprintf(stderr, "ifcctl: %s\nRun 'ifcctl --help' for usage.\n", e.what());
    return kUsage;
  }
  ep.timeout_ms = static_cast<int>(timeout_s * 1000 + 0.5);
  if (ep.timeout_ms < 1) ep.timeout_ms = 1;

  if (get->parsed()) return run_get(ep, name, raw);
  if (put->parsed()) return run_put(ep, name, text, text == "-");
  if (commands->parsed()) return run_commands(as_json);
  if (show->parsed()) return run_show(ep, colour, as_json);
  return run_dump(path, as_json);
}
