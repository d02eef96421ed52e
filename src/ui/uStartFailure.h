#pragma once
// A start that fails must be seen: the program is mostly started from a menu or at log-in, where
// nobody reads stderr. The line on stderr stays for those who start it from a terminal.
#include <string>

// Writes the reason to stderr, shows it in a message box with the program's title and waits until
// the user closes the box. Returns the program's exit code for a failed start (1).
int ReportStartFailure(const std::string& reason);
