// The one writer of lzs's messages and the one place that writes numbers in
// them: every line on standard error starts with the program's name, and
// every size, ratio and rate is formatted here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "cli/os.hpp"

namespace cli {

// "lzs", or "lzs-pack" when started by that name.
void SetProgramName(const char* name);
const std::string& ProgramName();

// "lzs: subject: text\n", for the messages kept until a file's turn.
std::string Line(const std::string& subject, const std::string& text);
// Writes "lzs: text" as a line on standard error now.
void Say(const std::string& text) noexcept;

// What failed and the system's reason: "cannot read: No such file".
std::string SystemReason(const char* what, os::Error error);
// An image refused by the codec: "not LZS: " and the codec's words.
std::string NotLzs(std::size_t code);

// value with this many decimals.
std::string Fixed(double value, int decimals);
// part as a share of whole, in percent, without the sign; 0 for no whole.
std::string Percent(std::uint64_t part, std::uint64_t whole, int decimals);
// 37510112 as "37,510,112".
std::string Grouped(std::uint64_t value);

// -l: the table's header and one row.
std::string ListHeader();
std::string ListRow(std::uint64_t packed, std::uint64_t unpacked, const std::string& name);
// -v: an image unpacked or packed, "lzs: NAME: TAKEN -> MADE bytes (R%) -> TO".
std::string UnpackedLine(const std::string& name, std::uint64_t taken, std::uint64_t made,
                         const std::string& to);
// lzs-pack -v, on standard output: "NAME: N bytes -> TO: M bytes (R%)".
std::string PackedLine(const std::string& name, std::uint64_t taken, const std::string& to,
                       std::uint64_t made);
// -t: with verbosity 1 whether the image's last back-reference is cut off,
// with 2 that it is OK and what was checked.
std::string TestReport(int verbosity, const std::string& name, std::uint64_t made,
                       bool lastItemCut);
// -v with more than one file: "12 files packed: 37,510,112 -> 14,070,221
// bytes (37.51 %)", the output's size as a share of the input's.
std::string Summary(std::size_t files, const char* done, std::uint64_t in, std::uint64_t out);
// The progress line, without its leading carriage return.
std::string ProgressLine(std::size_t done, std::size_t files, std::uint64_t bytes, double seconds);

}  // namespace cli
