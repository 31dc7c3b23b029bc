#include "cli/messages.hpp"

#include <cstdio>

#include "cli/console.hpp"
#include "lzs.h"

namespace cli {
namespace {

std::string programName = "lzs";

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

std::string NotLzs(std::size_t code) {
  switch (lzs_get_error(code)) {
    // An image whose size is not what its header says, either way.
    case LZS_ERROR_TRUNCATED:
    case LZS_ERROR_TRAILING_DATA: return "not LZS: header is not the image size minus 4";
    default: return std::string("not LZS: ") + lzs_error_name(code);
  }
}

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string Percent(std::uint64_t part, std::uint64_t whole, int decimals) {
  return Fixed(whole == 0 ? 0.0 : 100.0 * static_cast<double>(part) / static_cast<double>(whole),
               decimals);
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

std::string ListHeader() { return "      Packed     Unpacked    Ratio  Name\n"; }

std::string ListRow(std::uint64_t packed, std::uint64_t unpacked, const std::string& name) {
  const std::string ratio =
      Fixed(packed == 0 ? 0.0 : static_cast<double>(unpacked) / static_cast<double>(packed), 3);
  char numbers[64];
  std::snprintf(numbers, sizeof numbers, "%12llu %12llu %8s  ",
                static_cast<unsigned long long>(packed), static_cast<unsigned long long>(unpacked),
                ratio.c_str());
  return numbers + name + "\n";
}

std::string UnpackedLine(const std::string& name, std::uint64_t taken, std::uint64_t made,
                         const std::string& to) {
  return Line(name, std::to_string(taken) + " -> " + std::to_string(made) + " bytes (" +
                        Percent(made, taken, 2) + "%) -> " + to);
}

std::string PackedLine(const std::string& name, std::uint64_t taken, const std::string& to,
                       std::uint64_t made) {
  return name + ": " + std::to_string(taken) + " bytes -> " + to + ": " + std::to_string(made) +
         " bytes (" + Percent(made, taken, 1) + "%)\n";
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
    report += Line(name, "OK, " + std::to_string(made) +
                             " bytes (structure and size; the format has no checksum)");
  }
  return report;
}

std::string Summary(std::size_t files, const char* done, std::uint64_t in, std::uint64_t out) {
  return programName + ": " + std::to_string(files) + (files == 1 ? " file " : " files ") + done +
         ": " + Grouped(in) + " -> " + Grouped(out) + " bytes (" + Percent(out, in, 2) + " %)\n";
}

std::string ProgressLine(std::size_t done, std::size_t files, std::uint64_t bytes, double seconds) {
  const double mib = static_cast<double>(bytes) / (1 << 20);
  return programName + ": " + std::to_string(done) + " of " + std::to_string(files) + " files, " +
         Fixed(mib, 1) + " MiB, " + Fixed(seconds > 0 ? mib / seconds : 0.0, 1) + " MiB/s";
}

}  // namespace cli
