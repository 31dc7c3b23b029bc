#include "cli/messages.hpp"

#include <algorithm>
#include <cstdio>

#include "cli/console.hpp"

namespace cli {
namespace {

std::string programName = "lzs";

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// text right-aligned in a column of width characters.
std::string Column(const std::string& text, std::size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string SizeText(std::uint64_t count) { return Grouped(count) + " bytes"; }

// "; 3 failed" after a count of files, when any failed.
std::string Failed(std::size_t failed) {
  return failed == 0 ? "" : "; " + Grouped(failed) + " failed";
}

}  // namespace

void SetProgramName(const char* name) { programName = name; }

const std::string& ProgramName() { return programName; }

std::string Line(const std::string& subject, const std::string& text) {
  return programName + ": " + subject + ": " + text + "\n";
}

void Say(const std::string& text) noexcept {
  try {
    PutText(2, programName + ": " + text + "\n");
  } catch (...) {
    // no memory even for the message
  }
}

std::string SystemReason(const char* what, os::Error error) {
  return std::string(what) + ": " + os::ErrorText(error);
}

std::string Grouped(std::uint64_t value) {
  const std::string digits = std::to_string(value);
  std::string grouped;
  for (std::size_t k = 0; k < digits.size(); ++k) {
    if (k > 0 && (digits.size() - k) % 3 == 0) grouped += ',';
    grouped += digits[k];
  }
  return grouped;
}

std::string Count(std::uint64_t count, const char* noun) {
  return Grouped(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string Ratio(std::uint64_t packed, std::uint64_t unpacked) {
  // No image unpacks to nothing: an unpacked size of 0 reaches no message.
  const double share =
      unpacked == 0 ? 0.0 : 100.0 * static_cast<double>(packed) / static_cast<double>(unpacked);
  return Fixed(share, 2) + " %";
}

std::string Described(std::size_t result, const lzs_info& info) {
  std::string text(lzs_describe(result, &info, nullptr, 0), '\0');
  (void)lzs_describe(result, &info, text.data(), text.size() + 1);
  return text;
}

std::string PackFailure(std::size_t code) {
  lzs_info packing{};
  packing.flags = LZS_INFO_PACKING;
  return Described(code, packing);
}

std::string StreamPackFailure(std::size_t code) {
  if (lzs_get_error(code) != LZS_ERROR_INPUT_TOO_LARGE) return PackFailure(code);
  return "is too large to pack: its image would pass " + Grouped(LZS_IMAGE_SIZE_MAX) +
         " bytes, the most a header allows";
}

std::string PackWarnings(const std::string& name, std::uint64_t unpacked, std::uint64_t packed) {
  std::string warnings;
  if (packed > LZS_UNPACK_IMAGE_MAX) {
    warnings += Line(name, "warning: the image, " + SizeText(packed) + ", is larger than " +
                               std::to_string(LZS_UNPACK_IMAGE_MAX >> 20) +
                               " MiB: lzs-unpack.exe refuses it (lzs -d takes it)");
  }
  if (packed > unpacked) {
    warnings += Line(name, "warning: the image, " + SizeText(packed) +
                               ", is larger than its input, " + SizeText(unpacked));
  }
  return warnings;
}

// Room for the largest sizes: an image of 4 GiB and its 36 GiB of output.
constexpr std::size_t PackedWidth = 14;
constexpr std::size_t UnpackedWidth = 15;
constexpr std::size_t RatioWidth = 9;

std::string ListHeader() {
  return Column("Packed", PackedWidth) + Column("Unpacked", UnpackedWidth) +
         Column("Ratio", RatioWidth) + "  Name\n";
}

std::string ListRow(std::uint64_t packed, std::uint64_t unpacked, const std::string& name) {
  return Column(Grouped(packed), PackedWidth) + Column(Grouped(unpacked), UnpackedWidth) +
         Column(Ratio(packed, unpacked), RatioWidth) + "  " + name + "\n";
}

std::string DoneLine(const std::string& name, bool packed, std::uint64_t packedBytes,
                     std::uint64_t unpackedBytes, const std::string& to) {
  const std::uint64_t taken = packed ? unpackedBytes : packedBytes;
  const std::uint64_t made = packed ? packedBytes : unpackedBytes;
  return Line(name, Grouped(taken) + " -> " + SizeText(made) + " (" +
                        Ratio(packedBytes, unpackedBytes) + ") -> " + to);
}

std::string PackedLine(const std::string& name, std::uint64_t unpacked, const std::string& to,
                       std::uint64_t packed) {
  return name + ": " + SizeText(unpacked) + " -> " + to + ": " + SizeText(packed) + " (" +
         Ratio(packed, unpacked) + ")\n";
}

std::string TestReport(int verbosity, const std::string& name, std::uint64_t made,
                       bool lastItemCut) {
  std::string report;
  if (verbosity > 0 && lastItemCut) {
    report += Line(name,
                   "warning: the last back-reference is cut off by the end of the image; its one "
                   "byte is ignored");
  }
  if (verbosity > 1) {
    report +=
        Line(name, "OK, " + SizeText(made) + " (structure and size; the format has no checksum)");
  }
  return report;
}

std::string ListTotal(std::uint64_t packed, std::uint64_t unpacked, std::size_t files,
                      std::size_t failed) {
  return ListRow(packed, unpacked, "(total, " + Count(files, "file") + Failed(failed) + ")");
}

std::string Summary(std::size_t files, const char* done, bool packed, std::uint64_t packedBytes,
                    std::uint64_t unpackedBytes, std::size_t failed) {
  const std::uint64_t taken = packed ? unpackedBytes : packedBytes;
  const std::uint64_t made = packed ? packedBytes : unpackedBytes;
  const std::string sizes = files == 0 ? ""
                                       : ": " + Grouped(taken) + " -> " + SizeText(made) + " (" +
                                             Ratio(packedBytes, unpackedBytes) + ")";
  return programName + ": " + Count(files, "file") + " " + done + sizes + Failed(failed) + "\n";
}

std::string FileProgressLine(std::uint64_t bytes, std::uint64_t total, double seconds) {
  const double mib = static_cast<double>(bytes) / (1 << 20);
  std::string line = programName + ": " + Fixed(mib, 1);
  if (total != 0) {
    line += " of " + Fixed(static_cast<double>(total) / (1 << 20), 1) + " MiB (" +
            std::to_string(std::min<std::uint64_t>(bytes, total) * 100 / total) + "%)";
  } else {
    line += " MiB";
  }
  return line + ", " + Fixed(seconds > 0 ? mib / seconds : 0.0, 1) + " MiB/s";
}

std::string ProgressLine(std::size_t done, std::size_t files, std::uint64_t bytes, double seconds) {
  const double mib = static_cast<double>(bytes) / (1 << 20);
  return programName + ": " + Grouped(done) + " of " + Count(files, "file") + ", " + Fixed(mib, 1) +
         " MiB, " + Fixed(seconds > 0 ? mib / seconds : 0.0, 1) + " MiB/s";
}

}  // namespace cli
