// The one writer of lzs's messages: every line on standard error starts
// with the program's name. What went wrong with an image or a file to pack,
// sizes included, is the library's description (lzs_describe), as every face
// prints it; the lines that are lzs's own (-v, -l, totals, progress) are
// formatted here, the way the library writes its sizes: thousands separators
// ("37,510,112 bytes"), a ratio as the packed size in percent of the
// unpacked size ("50.22 %"), a count with its noun in the right number
// ("1 file", "2 files").
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "cli/os.hpp"
#include "lzs.h"

namespace cli {

// What messages call the standard streams.
inline constexpr const char* StandardInputName = "(standard input)";
inline constexpr const char* StandardOutputName = "(standard output)";

// "lzs", or "lzs-pack" when started by that name.
void SetProgramName(const char* name);
const std::string& ProgramName();

// "lzs: subject: text\n", for the messages kept until a file's turn.
std::string Line(const std::string& subject, const std::string& text);
// Writes "lzs: text" as a line on standard error now.
void Say(const std::string& text) noexcept;

// What failed and the system's reason: "cannot read: No such file".
std::string SystemReason(const char* what, os::Error error);

// 37510112 as "37,510,112".
std::string Grouped(std::uint64_t value);
// "1 file", "0 files", "2 files".
std::string Count(std::uint64_t count, const char* noun);
// The packed size as a percentage of the unpacked size: "50.22 %".
std::string Ratio(std::uint64_t packed, std::uint64_t unpacked);

// A result in the library's words, with the sizes info tells
// (lzs_describe): an image refused ("cut short: ... (5,000 of 10,004
// bytes)"), a file above the largest image.
std::string Described(std::size_t result, const lzs_info& info);
// A file the encoder refused, or could not take, in the library's words.
std::string PackFailure(std::size_t code);
// The same for a stream, whose only size limit is the image's.
std::string StreamPackFailure(std::size_t code);
// Warnings on an image just packed, one line each, for name.
std::string PackWarnings(const std::string& name, std::uint64_t unpacked, std::uint64_t packed);

// -l: the table's header and one row.
std::string ListHeader();
std::string ListRow(std::uint64_t packed, std::uint64_t unpacked, const std::string& name);
// -v: a file packed ("lzs: NAME: 5,000 -> 2,511 bytes (50.22 %) -> TO") or
// unpacked ("lzs: NAME: 2,511 -> 5,000 bytes (50.22 %) -> TO").
std::string DoneLine(const std::string& name, bool packed, std::uint64_t packedBytes,
                     std::uint64_t unpackedBytes, const std::string& to);
// lzs-pack -v, on standard output: "NAME: 5,000 bytes -> TO: 2,511 bytes
// (50.22 %)".
std::string PackedLine(const std::string& name, std::uint64_t unpacked, const std::string& to,
                       std::uint64_t packed);
// -t: with verbosity 1 whether the image's last back-reference is cut off,
// with 2 that it is OK and what was checked.
std::string TestReport(int verbosity, const std::string& name, std::uint64_t made,
                       bool lastItemCut);
// -l's total line of more than one file: "(total, 2 files)" in the name's
// column, with "; 1 failed" when any failed.
std::string ListTotal(std::uint64_t packed, std::uint64_t unpacked, std::size_t files,
                      std::size_t failed);
// The total of more than one file: "lzs: 12 files packed: 37,510,112 ->
// 14,070,221 bytes (37.51 %)", from the unpacked to the packed size when
// packing, the other way when unpacking or testing, and "; 3 failed" when
// any failed; "lzs: 0 files tested; 2 failed" when none was done.
std::string Summary(std::size_t files, const char* done, bool packed, std::uint64_t packedBytes,
                    std::uint64_t unpackedBytes, std::size_t failed);
// The progress line, without its leading carriage return.
std::string ProgressLine(std::size_t done, std::size_t files, std::uint64_t bytes, double seconds);
// The progress line of a single file: the bytes of its input read, of total
// (0: not known) with the share, and the rate.
std::string FileProgressLine(std::uint64_t bytes, std::uint64_t total, double seconds);

}  // namespace cli
