// Small text helpers of ifcctl's output.
#pragma once

#include <string>
#include <string_view>

namespace ifcctl {

// Removes the blanks at the end of *s.
void trim_trailing_blanks(std::string *s);

// s with a backslash written as \\ and every byte outside printable ASCII as
// \xNN, so that any bytes print as one line of valid UTF-8.
std::string printable(std::string_view s);

// Replaces the file at path with text, as a control file that a server may
// read at any moment must be replaced: a temporary file beside it, synced
// and renamed over it, so a reader gets the whole old text or the whole new
// one. False with errno set (the temporary file removed).
bool replace_file(const std::string &path, const std::string &text);

}  // namespace ifcctl
