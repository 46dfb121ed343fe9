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

}  // namespace ifcctl
