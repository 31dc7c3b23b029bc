// What the Windows shell leaves to a console program and what Explorer
// gives it: wildcards, the /? switch, a console of its own. Elsewhere the
// shell has done it all.
#pragma once

#include <string>
#include <vector>

namespace cli {

// The names an argument stands for. On Windows, where the shell leaves
// patterns to the program, one holding * or ? stands for the names in its
// folder whose long names match it (MatchesPattern, without regard to case;
// folders included, . and .. not), sorted without regard to case, each with
// the folder part as it was typed; false, with error, when none matches. Any other argument, and
// every argument elsewhere (the shell has expanded them), stands for itself.
bool ExpandWildcards(const std::string& argument, std::vector<std::string>& names,
                     std::string& error);

// Whether an argument asks for the help the Windows way ("/?"); never on
// POSIX, where /? is a path.
bool IsHelpSwitch(const char* argument);

// The help's words for what this platform has: after "show this help and
// exit", the help switch it adds (" (also /?)" on Windows); before the
// rules, lines on the names lzs also goes by (lzscat and unlzs, which the
// Windows zip does not have) and on /dev, or on Windows on patterns and
// Explorer.
extern const char* const HelpSwitchNote;
extern const char* const PlatformHelp;

// Whether the program was started from Explorer (files dropped on it or on a
// shortcut to it, or a double-click): Explorer started it, and its console,
// which holds its standard input, output and error, belongs to it alone.
// cmd, PowerShell or a script shares its console; one that gives it a
// console of its own (start, Start-Process, the Task Scheduler) is not
// Explorer. Never on POSIX.
bool StartedFromExplorer();

// Asks for Enter on the console and waits for it, so that a window that
// closes with the program can be read first; returns at once when standard
// input is no console.
void WaitForEnter();

}  // namespace cli
