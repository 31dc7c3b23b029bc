// The road of one run, from the command line to the end of the process.
#pragma once

// The entry routine: scans the command line, decodes the input file into the
// output file and ends the process with the exit code of its ending.
extern "C" [[noreturn]] void RunDecompression();

// A modal message box with the caption, no owner, no icon, above all windows;
// the texts go to the Unicode box, decoded as Windows-1251.
void ShowNotice(const char* text);

// Ends the process with the platform's last-error code (ERROR_GEN_FAILURE
// when it holds none); nothing is held yet on the roads that come here.
[[noreturn]] void SilentExit();

// Releases the input handle, the output handle (deleting an output file that
// was not fully written) and the block, each only if held, then ends the
// process with runState.exitCode.
[[noreturn]] void Cleanup();
