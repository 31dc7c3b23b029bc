// What the Windows shell leaves to a console program and what Explorer
// gives it: wildcards, the /? switch, a console of its own. Elsewhere the
// shell has done it all.
#pragma once

#include <string>
#include <vector>

namespace cli {

// The names an argument stands for. On Windows, where the shell leaves
// patterns to the program, one holding * or ? stands for the names in its
// folder that match it (by the system's own rules, folders included, . and
// .. not), sorted without regard to case, each with the folder part as it
// was typed; false, with error, when none matches. Any other argument, and
// every argument elsewhere (the shell has expanded them), stands for itself.
bool ExpandWildcards(const std::string& argument, std::vector<std::string>& names,
                     std::string& error);

// Whether an argument asks for the help the Windows way ("/?"); never on
// POSIX, where /? is a path.
bool IsHelpSwitch(const char* argument);

// Whether the program was started from Explorer (files dropped on it or on a
// shortcut to it, or a double-click): its console belongs to it alone and
// holds its standard input and error, where cmd, PowerShell or a script
// would share theirs. Never on POSIX.
bool StartedFromExplorer();

// Asks for Enter on the console and waits for it, so that a window that
// closes with the program can be read first; returns at once when standard
// input is no console.
void WaitForEnter();

}  // namespace cli
