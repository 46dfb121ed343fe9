#include "ifcctl/show.hpp"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "ifcctl/text.hpp"
#include "ifcsim/ifcsim_protocol.h"

namespace ifcctl {

namespace {

void appendf(std::string *out, const char *fmt, ...)
    __attribute__((format(printf, 2, 3)));
void appendf(std::string *out, const char *fmt, ...) {
  va_list ap, again;
  va_start(ap, fmt);
  va_copy(again, ap);
  int n = std::vsnprintf(nullptr, 0, fmt, ap);
  va_end(ap);
  if (n > 0) {
    std::size_t at = out->size();
    out->resize(at + n + 1);
    std::vsnprintf(out->data() + at, n + 1, fmt, again);
    out->resize(at + n);
  }
  va_end(again);
}

// Shortens a reply for an error message: replies can be kilobytes long.
// Appends to a string that starts as the quote: "\"" + text trips a false
// -Wrestrict in g++ 12's Release builds.
std::string excerpt(const std::string &reply) {
  std::string out = "\"";
  if (reply.size() <= 60) return out.append(reply).append("\"");
  return out.append(reply, 0, 60).append("...\" (") + std::to_string(reply.size()) +
         " bytes)";
}

std::optional<show_error> fetch_text(const fetch_fn &fetch, const std::string &name,
                                     std::string *text) {
  ifc::get_result r = fetch(name);
  if (r.error != ifc::client_error::none)
    return show_error{r.error, name + ": " + r.message};
  if (r.length < 0)
    return show_error{{}, name + ": the server does not know this command"};
  *text = std::move(r.reply);
  return std::nullopt;
}

std::optional<show_error> fetch_pieces(const fetch_fn &fetch, const std::string &name,
                                       std::vector<piece> *out) {
  std::string text;
  if (auto err = fetch_text(fetch, name, &text)) return err;
  auto p = parse_pieces(text);
  if (!p) return show_error{{}, name + ": unexpected reply " + excerpt(text)};
  *out = std::move(*p);
  return std::nullopt;
}

std::optional<show_error> fetch_histogram(const fetch_fn &fetch, const std::string &name,
                                          histogram_counts *out) {
  std::string text;
  if (auto err = fetch_text(fetch, name, &text)) return err;
  auto h = parse_histogram(text);
  if (!h) return show_error{{}, name + ": unexpected reply " + excerpt(text)};
  *out = std::move(*h);
  return std::nullopt;
}

// Values of one key across the colour views, "?" where a reply lacked it.
std::string value_cells(const std::vector<colour_view> &colours,
                        std::vector<piece> colour_view::*field, const std::string &key,
                        int width) {
  std::string out;
  for (const colour_view &c : colours) {
    auto v = find_piece(c.*field, key);
    if (v)
      appendf(&out, "%*d", width, *v);
    else
      appendf(&out, "%*s", width, "?");
  }
  return out;
}

int cell_width(const std::vector<colour_view> &colours,
               std::vector<piece> colour_view::*field) {
  int width = 4;
  for (const colour_view &c : colours)
    for (const piece &p : c.*field)
      width = std::max(width, 1 + std::snprintf(nullptr, 0, "%d", p.value));
  return width;
}

std::string colour_header(const std::vector<colour_view> &colours, int width) {
  std::string out;
  for (const colour_view &c : colours) appendf(&out, "%*d", width, c.colour);
  return out;
}

void render_selection(const std::vector<piece> &selection, std::string *out) {
  out->append("Valve selection\n");
  constexpr int kPerLine = 5;
  int column = 0;
  for (const piece &p : selection) {
    std::string mark = p.value == 0 ? " " : p.value == 1 ? "x" : std::to_string(p.value);
    std::string cell = "[" + mark + "] " + p.key;
    appendf(out, "%s%-13s", column == 0 ? "  " : "", cell.c_str());
    if (++column == kPerLine) {
      trim_trailing_blanks(out);
      out->push_back('\n');
      column = 0;
    }
  }
  if (column != 0) {
    trim_trailing_blanks(out);
    out->push_back('\n');
  }
}

void render_timings(const std::vector<colour_view> &colours, std::string *out) {
  if (colours.empty()) return;
  int width = std::max(cell_width(colours, &colour_view::target),
                       cell_width(colours, &colour_view::measured));
  appendf(out, "%-16s%s\n", "Timings  colour", colour_header(colours, width).c_str());
  struct {
    const char *label;
    std::vector<piece> colour_view::*field;
  } const rows[] = {{"target", &colour_view::target},
                    {"measured", &colour_view::measured}};
  for (const auto &row : rows)
    for (const piece &p : colours.front().*row.field) {
      std::string label = std::string("  ") + row.label + " " + p.key;
      appendf(out, "%-16s%s\n", label.c_str(),
              value_cells(colours, row.field, p.key, width).c_str());
    }
}

// Items as rows, colour numbers as columns; the rows are split into two
// halves side by side so all items fit on one screen.
void render_on_off(const std::vector<colour_view> &colours, std::string *out) {
  if (colours.empty()) return;
  const std::vector<piece> &items = colours.front().on_off;
  int width = cell_width(colours, &colour_view::on_off);
  int name_width = 6;
  for (const piece &p : items) name_width = std::max<int>(name_width, p.key.size());

  std::vector<std::string> cells;
  for (const piece &p : items) {
    std::string cell;
    appendf(&cell, "%-*s%s", name_width, p.key.c_str(),
            value_cells(colours, &colour_view::on_off, p.key, width).c_str());
    cells.push_back(std::move(cell));
  }
  std::string header;
  appendf(&header, "%-*s%s", name_width, "", colour_header(colours, width).c_str());
  std::size_t half = (cells.size() + 1) / 2;
  int cell_size = static_cast<int>(header.size());

  out->append("On/off points (rows: items, columns: colour numbers)\n");
  appendf(out, "  %-*s   %s\n", cell_size, header.c_str(),
          cells.size() > 1 ? header.c_str() : "");
  for (std::size_t i = 0; i < half; ++i) {
    std::string line = "  " + cells[i];
    if (half + i < cells.size()) {
      line.append(cell_size - cells[i].size() + 3, ' ');
      line += cells[half + i];
    }
    trim_trailing_blanks(&line);
    out->append(line).push_back('\n');
  }
}

void render_histogram(const char *side, const histogram_view &h, std::string *out) {
  appendf(out, "Histogram %s: item %s, colour %d   (%d %d %.2f %d %d)\n", side,
          h.selected.item.c_str(), h.selected.colour, h.counts.n1, h.counts.n2,
          h.counts.decimal, h.counts.n3, h.counts.n4);
  out->append(render_bars(h.counts.bins, 8));
}

nlohmann::ordered_json pieces_json(const std::vector<piece> &pieces) {
  nlohmann::ordered_json j = nlohmann::ordered_json::object();
  for (const piece &p : pieces)
    if (!j.contains(p.key)) j[p.key] = p.value;
  return j;
}

nlohmann::ordered_json histogram_json(const histogram_view &h) {
  nlohmann::ordered_json j;
  j["colour"] = h.selected.colour;
  j["item"] = h.selected.item;
  j["summary"] = {h.counts.n1, h.counts.n2, h.counts.decimal, h.counts.n3, h.counts.n4};
  j["bins"] = h.counts.bins;
  return j;
}

}  // namespace

std::optional<show_error> collect_show(const fetch_fn &fetch,
                                       const std::vector<int> &colours, show_data *out) {
  auto name = [](int command, int colour = 0) -> std::string {
    return ifc_command_name(command, colour);
  };
  if (auto err = fetch_pieces(fetch, name(IFC_CMD_GET_STAT), &out->status)) return err;
  if (auto err = fetch_pieces(fetch, name(IFC_CMD_GET_SELECT_ITEM), &out->selection))
    return err;
  out->colours.clear();
  for (int c : colours) {
    colour_view v;
    v.colour = c;
    if (auto err = fetch_pieces(fetch, name(IFC_CMD_GET_TOT_TWT, c), &v.target))
      return err;
    if (auto err = fetch_pieces(fetch, name(IFC_CMD_GET_TO_TW, c), &v.measured))
      return err;
    if (auto err = fetch_pieces(fetch, name(IFC_CMD_GET_ON_OFF, c), &v.on_off))
      return err;
    out->colours.push_back(std::move(v));
  }
  std::string text;
  const std::string select = name(IFC_CMD_GET_HST_SELECT);
  if (auto err = fetch_text(fetch, select, &text)) return err;
  auto sel = parse_hst_select(text);
  if (!sel) return show_error{{}, select + ": unexpected reply " + excerpt(text)};
  out->left.selected = sel->first;
  out->right.selected = sel->second;
  if (auto err =
          fetch_histogram(fetch, name(IFC_CMD_GET_HIST_CNTDATL), &out->left.counts))
    return err;
  if (auto err =
          fetch_histogram(fetch, name(IFC_CMD_GET_HIST_CNTDATR), &out->right.counts))
    return err;
  return std::nullopt;
}

std::string render_show(const show_data &data) {
  std::string out = "Status   ";
  for (const piece &p : data.status) appendf(&out, "  %s %d", p.key.c_str(), p.value);
  out += "\n\n";
  render_selection(data.selection, &out);
  out += "\n";
  render_timings(data.colours, &out);
  out += "\n";
  render_on_off(data.colours, &out);
  out += "\n";
  render_histogram("left", data.left, &out);
  out += "\n";
  render_histogram("right", data.right, &out);
  return out;
}

nlohmann::ordered_json show_json(const show_data &data) {
  nlohmann::ordered_json j;
  j["status"] = pieces_json(data.status);
  j["selection"] = pieces_json(data.selection);
  j["colours"] = nlohmann::ordered_json::array();
  for (const colour_view &c : data.colours) {
    nlohmann::ordered_json v;
    v["colour"] = c.colour;
    v["target"] = pieces_json(c.target);
    v["measured"] = pieces_json(c.measured);
    v["on_off"] = pieces_json(c.on_off);
    j["colours"].push_back(std::move(v));
  }
  j["histograms"]["left"] = histogram_json(data.left);
  j["histograms"]["right"] = histogram_json(data.right);
  return j;
}

std::string render_bars(const std::vector<std::int32_t> &bins, int height) {
  std::int64_t top = 0;
  for (std::int32_t b : bins) top = std::max<std::int64_t>(top, b);
  std::vector<int> bar(bins.size(), 0);
  for (std::size_t i = 0; i < bins.size(); ++i)
    if (bins[i] > 0)
      bar[i] = std::max<int>(
          1, static_cast<int>((bins[i] * std::int64_t{height} + top / 2) / top));

  int label_width = std::snprintf(nullptr, 0, "%lld", static_cast<long long>(top));
  std::string out;
  for (int row = height; row >= 1; --row) {
    std::string line;
    if (row == height)
      appendf(&line, "  %*lld |", label_width, static_cast<long long>(top));
    else
      appendf(&line, "  %*s |", label_width, "");
    for (int b : bar) line.push_back(b >= row ? '#' : ' ');
    trim_trailing_blanks(&line);
    out += line + "\n";
  }
  appendf(&out, "  %*d +%s\n", label_width, 0, std::string(bins.size(), '-').c_str());
  // Bin numbers under every tenth column.
  std::string ticks(bins.size(), ' ');
  for (std::size_t i = 0; i < bins.size(); i += 10) {
    std::string n = std::to_string(i);
    if (ticks.size() < i + n.size()) ticks.resize(i + n.size(), ' ');
    ticks.replace(i, n.size(), n);
  }
  trim_trailing_blanks(&ticks);
  appendf(&out, "  %*s  %s\n", label_width, "", ticks.c_str());
  return out;
}

}  // namespace ifcctl
