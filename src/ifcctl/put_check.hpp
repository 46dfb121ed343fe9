// What the server makes of a PUT text, worked out before it is sent. The
// server reports nothing about a text it cannot use, so a typo would pass
// for success: ifcctl refuses such a text and says what would happen.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ifcctl {

// Whether name is a command of the server's PUT table.
bool is_put_command(std::string_view name);

// nullopt when the server would do what the text of PUT command name says
// (and for commands that take any text). Otherwise what is wrong and what
// the server would make of it instead: store 0 for a value that is no number,
// change nothing, skip an item it does not know, ignore part of the text.
std::optional<std::string> check_put_text(std::string_view name, std::string_view text);

}  // namespace ifcctl
