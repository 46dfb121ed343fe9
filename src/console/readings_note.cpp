#include "readings_note.hpp"

#include <cstdlib>
#include <string>

#include "dispatch/control_file.hpp"
#include "ifc/readings.hpp"

namespace console {

namespace {

// Replies of the file by readings_first_slot's numbering: averages 6 to 11,
// histograms 12 and 13.
bool sets_part(const readings_table &t, readings_part part) {
  const int first = part == kReadingsAverages ? 6 : 12;
  const int last = part == kReadingsAverages ? 11 : 13;
  for (int k = 0; k <= t.frames; ++k)
    for (int s = readings_first_slot(first); s < readings_first_slot(last + 1); ++s)
      if (readings_is_set(t.frame[k], s)) return true;
  return false;
}

std::string frames_of(const readings_table &t) {
  const int frames = readings_frame_count(t);
  if (frames == 1) return "one frame";
  std::string out = std::to_string(frames) + " frames in turn, the next ";
  if (t.every_ms == 0) return out + "at each request of a command";
  return out + "every " +
         (t.every_ms % 1000 == 0 ? std::to_string(t.every_ms / 1000) + " s"
                                 : std::to_string(t.every_ms) + " ms");
}

void begin(html &h, markup state, const char *path, markup words) {
  h << "<p id=\"readings\" class=\"notice readings\" data-state=\"" << state << "\">"
    << words << " <code id=\"readings-file\">";
  h.text(path) << "</code>";
}

}  // namespace

void readings_note(html &h, readings_part part) {
  const char *path = std::getenv("IFCSIM_READINGS");
  if (path == nullptr || *path == '\0') return;
  static char text[kReadingsMaxBytes + 1];
  static readings_table table;
  control_file file;
  file.path = path;
  if (control_file_check(&file) == kControlGone) {
    begin(h, "missing", path, "No readings file at");
    h << ": the controller serves simulated values.</p>\n";
    return;
  }
  const char *why = nullptr;
  const long n = control_file_read(&file, text, sizeof text, &why);
  readings_error error{};
  if (n < 0 || readings_parse(text, static_cast<std::size_t>(n), &table, &error) != 0) {
    begin(h, "refused", path, "The readings file");
    h << " is refused (";
    if (n >= 0) {
      h << "line ";
      h.num(error.line) << ": ";
    }
    h.text(n < 0 ? why : error.reason)
        << "): the controller serves simulated values.</p>\n";
    return;
  }
  if (!sets_part(table, part)) {
    begin(h, "sets-none", path, "The readings file");
    h << " is in place but sets none of the values on this page: they are "
         "simulated.</p>\n";
    return;
  }
  begin(h, "in-place", path, "Values on this page are set by the readings file");
  h << " (in place, ";
  h.text(frames_of(table)) << "); what it does not set is simulated.</p>\n";
}

}  // namespace console
