#pragma once

enum class ScanResult { Ready, ShowUsage, SyntaxError };

// Scans the whole command line, the program's own path included, for
// /D"input" and /O"output" and fills runState's names and optionFlags.
// Names longer than 511 characters, or a default output name that would be,
// are refused as SyntaxError.
ScanResult ScanCommandLine(const char* commandLine);

// outputName = inputName followed by ".DeLZS". Refuses, leaving outputName
// as it was, when that would be longer than 511 characters.
bool MakeDefaultOutputName();
