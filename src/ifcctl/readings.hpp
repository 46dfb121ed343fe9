// `ifcctl readings`: the server's readings file (docs/readings.md), checked
// by the server's own parser and shown frame by frame.
#pragma once

#include <memory>
#include <string>

#include "ifc/readings.hpp"

namespace ifcctl {

// A file of at most kReadingsMaxBytes bytes, parsed. Returns nullptr with
// *error set ("PATH: reason" or "PATH:LINE: reason") when it cannot be read
// or does not parse; *missing tells whether it is simply not there.
std::unique_ptr<readings_table> load_readings(const std::string &path, std::string *text,
                                              std::string *error, bool *missing);

// What `set` reads for source: a ready-made file when source is the bare
// name of one (empty, full, ramp, extremes) in the directory installed beside
// the tool, else source itself as a path.
std::string readings_source(const std::string &source);

// The frames and, in each, the numbers that it sets, in the file's words.
std::string render_readings(const std::string &path, const readings_table &t);

}  // namespace ifcctl
