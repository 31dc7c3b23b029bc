#include "cli/workbench.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>

#include "cli/console.hpp"
#include "cli/messages.hpp"
#include "cli/paths.hpp"
#include "cli/shell.hpp"

namespace cli {
namespace {

// Inspect and scan read files whole, whatever their size and header.
constexpr ReadRule AnyBytes{std::numeric_limits<std::uint64_t>::max(), false};

// The library's text of a result, as a string: it says how long it is.
template <typename Write>
std::string Text(const Write& write) {
  std::string text(write(nullptr, 0), '\0');
  write(text.data(), text.size() + 1);
  return text;
}

bool Inspect(const Options& options, const std::string& name, const Bytes& data) {
  lzs_inspection inspection;
  const size_t result = lzs_inspect(data.data(), data.size(), &inspection);
  if (lzs_is_error(result)) {
    PutText(2, Line(name, lzs_error_name(result)));
    return false;
  }
  const int json = options.json ? 1 : 0;
  PutText(1, Text([&](char* buf, size_t cap) {
               return lzs_inspection_text(&inspection, name.c_str(), json, buf, cap);
             }) + (options.json ? "\n" : ""));
  return true;
}

// Unpacks the image found into DIR/NAME@OFFSET, as a new file (or over an
// existing one with -f).
bool Extract(const Options& options, const std::string& name, const Bytes& data,
             const lzs_finding& finding) {
  const std::string target =
      JoinPath(options.extractDir, BaseName(name) + "@" + std::to_string(finding.offset));
  Bytes output;
  lzs_info info{};
  const size_t n = Salvage(data.data() + finding.offset,
                           static_cast<std::size_t>(finding.imageSize), output, info);
  Failure failure;
  if (lzs_is_error(n)) {
    failure.reason = lzs_error_name(n);
  } else {
    OutputFile file;
    if (file.Open(target, os::NoDescriptor, FileStamp{}, failure) &&
        file.Write(output.data(), n, failure) && file.Commit(FileStamp{}, options.force, failure)) {
      if (options.verbosity > 1) PutText(2, Line(target, "unpacked, " + Count(n, "byte")));
      return true;
    }
    if (failure.fault == Fault::Exists) failure.reason += " (use -f to overwrite)";
  }
  PutText(2, Line(target, failure.reason));
  return false;
}

bool Scan(const Options& options, const std::string& name, const Bytes& data) {
  const int json = options.json ? 1 : 0;
  bool ok = true;
  std::size_t found = 0;
  std::size_t pos = 0;
  lzs_finding finding;
  for (;;) {
    const size_t result = lzs_scan_next(data.data(), data.size(), &pos, &finding);
    if (lzs_is_error(result)) {
      PutText(2, Line(name, lzs_error_name(result)));
      return false;
    }
    if (result == 0) break;
    ++found;
    PutText(1, Text([&](char* buf, size_t cap) {
                 return lzs_finding_text(&finding, name.c_str(), json, buf, cap);
               }) + "\n");
    const bool high = finding.confidence == LZS_CONFIDENCE_HIGH;
    if (high && !options.extractDir.empty()) ok = Extract(options, name, data, finding) && ok;
  }
  if (found == 0 && !options.json) PutText(1, name + ": no LZS image found\n");
  return ok;
}

bool ExamineFile(const Options& options, const std::string& argument) {
  const bool standard = argument == "-";
  const std::string name = standard ? StandardInputName : argument;
  Input input;
  Failure failure;
  Bytes data;
  if (!(standard ? input.OpenStandardInput(failure) : input.Open(argument, failure)) ||
      !input.ReadWhole(AnyBytes, data, failure)) {
    PutText(2, Line(name, failure.reason));
    return false;
  }
  return options.mode == Mode::Inspect ? Inspect(options, name, data) : Scan(options, name, data);
}

}  // namespace

int RunExamine(const Options& options) {
  int status = 0;
  for (const std::string& argument : options.inputs) {
    if (argument == "-" && IsTerminal(0)) {
      Say("will not read packed data from a terminal");
      status = 1;
      continue;
    }
    std::vector<std::string> names;
    std::string error;
    if (argument == "-") {
      names.assign(1, argument);
    } else if (!ExpandWildcards(argument, names, error)) {
      PutText(2, Line(argument, error));
      status = 1;
      continue;
    }
    for (const std::string& name : names) {
      if (!ExamineFile(options, name)) status = 1;
    }
  }
  return status;
}

std::size_t Salvage(const std::uint8_t* data, std::size_t size, Bytes& output, lzs_info& info) {
  // The room the library asks for, in output itself.
  const lzs_alloc_fn grow = [](void* opaque, size_t size) -> void* {
    auto& room = *static_cast<Bytes*>(opaque);
    try {
      room.resize(size);
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
    return room.data();
  };
  void* memory = nullptr;
  const size_t n = lzs_salvage_alloc(&memory, data, size, SIZE_MAX, grow, &output, &info);
  if (!lzs_is_error(n)) output.resize(n);
  return n;
}

std::string SalvageWarning(lzs_info info, bool inputPartial) {
  info.flags |= LZS_INFO_SALVAGED | (inputPartial ? LZS_INFO_INPUT_PARTIAL : 0u);
  return Text(
      [&](char* buf, size_t cap) { return lzs_describe(info.decodedSize, &info, buf, cap); });
}

std::size_t PackLike(const Options& options, const Bytes& data, Bytes& image,
                     unsigned long long& reused, unsigned long long& items, std::string& why) {
  Input input;
  Failure failure;
  Bytes orig;
  if (!input.Open(options.like, failure) ||
      !input.ReadWhole(ReadRule{LZS_IMAGE_SIZE_MAX, false}, orig, failure)) {
    why = options.like + ": " + failure.reason;
    return 0;
  }
  image.resize(lzs_encode_bound(data.size()) + 2);
  const size_t n = lzs_encode_like(image.data(), image.size(), data.data(), data.size(),
                                   orig.data(), orig.size(), &reused, &items);
  if (lzs_is_error(n)) {
    lzs_info info{};
    (void)lzs_image_info(orig.data(), orig.size(), &info);
    // What is wrong with the file, or with orig's image.
    why = lzs_get_error(n) == LZS_ERROR_EMPTY_INPUT ? PackFailure(n)
          : lzs_get_error(n) == LZS_ERROR_OUT_OF_MEMORY
              ? std::string(lzs_error_name(n))
              : options.like + ": " +
                    Text([&](char* buf, size_t cap) { return lzs_describe(n, &info, buf, cap); });
    return 0;
  }
  image.resize(n);
  return n;
}

int SalvageStatus(const std::vector<Outcome>& outcomes) {
  return std::any_of(outcomes.begin(), outcomes.end(),
                     [](const Outcome& outcome) { return outcome.salvaged; })
             ? 2
             : 0;
}

}  // namespace cli
