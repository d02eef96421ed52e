#pragma once
// Command lines as autostart entries and unit files write them: words separated by blanks, a word
// quoted in double quotes (inside which a backslash takes the next character as it is) or in
// single quotes (taken as they stand), a backslash outside quotes taking the next character.
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// The words of a command line, quotes and escapes undone. An unterminated quote runs to the end.
std::vector<std::string> SplitCommandWords(std::string_view command);

// Whether the command line names the file: one of its words is the path (a systemd unit's prefix
// characters "@-:+!" before the first one ignored), or the path stands in it between characters
// that cannot belong to a file name in a command (blanks, quotes, "=", ";", "&", "|", "(", ")",
// "`", ",", ":" or the line's ends). Letter case counts.
bool CommandNamesFile(std::string_view command, std::string_view path);

} // namespace qm
