#include "cli/options.hpp"

#include <getopt.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli/console.hpp"
#include "cli/messages.hpp"
#include "cli/shell.hpp"
#include "lzs.h"

#ifndef LZS_VERSION
#define LZS_VERSION "unknown"
#endif

namespace cli {
namespace {

// The help of lzs: the options, then the platform's lines
// (PlatformHelp), then the rules.
constexpr const char* HelpOptions =
    "Usage: lzs [OPTION]... [FILE]...\n"
    "Packs each FILE into FILE.lzs, or with -d unpacks each NAME.lzs into NAME\n"
    "(any other name into NAME.DeLZS). With no FILE, or when FILE is -, reads\n"
    "standard input and writes standard output.\n"
    "\n"
    "  -z, --compress    pack (the default)\n"
    "  -d, --decompress  unpack (also --uncompress)\n"
    "  -t, --test        unpack in memory and check the structure and the size,\n"
    "                    write nothing; the format has no checksum, so a\n"
    "                    changed byte inside a literal is not seen\n"
    "  -l, --list        show packed and unpacked sizes and the ratio (the\n"
    "                    packed size as a percentage of the unpacked size)\n"
    "  -c, --stdout      write to standard output, keep the input (also\n"
    "                    --to-stdout)\n"
    "  -o, --output=FILE write to FILE (one input only)\n"
    "      --output-dir-flat=DIR\n"
    "                    write each output into the folder DIR (which must\n"
    "                    exist), by the input's base name\n"
    "  -S, --suffix=SUF  the suffix of images (default: .lzs), given when\n"
    "                    packing and looked for when unpacking\n"
    "  -f, --force       overwrite existing outputs; pack to a terminal;\n"
    "                    pack files that already end in the suffix\n"
    "  -k, --keep        keep the input (the default)\n"
    "      --rm          remove the input after success\n"
    "  -r, --recursive   go into folders (-d then takes only *.lzs files);\n"
    "                    links and special files there are skipped\n"
    "      --exclude-compressed\n"
    "                    when packing, skip inputs that end in the suffix\n"
    "  -T, --threads=N   work on N files at once (0, the default: one per core;\n"
    "                    at most 64), or pack a single file on N threads (at\n"
    "                    most 4)\n"
    "  -1, --fast        level 1, fast: packs faster, a little larger\n"
    "  -9, --best        level 9, smallest image (the default); there are only\n"
    "                    these two levels\n"
    "      --inspect     show what each image holds: its items, the lengths and\n"
    "                    distances of its back-references, what reads zeros,\n"
    "                    where decoding stops, the smallest image of its output\n"
    "      --scan        list the LZS images found inside each file: offset,\n"
    "                    size, unpacked size and a confidence, high or low\n"
    "      --json        with --inspect or --scan: one JSON object per line\n"
    "      --extract=DIR with --scan: unpack each image found with high\n"
    "                    confidence into DIR as FILE@OFFSET\n"
    "      --salvage     with -d or -t: keep what a damaged image holds (the\n"
    "                    whole items before a cut; the image before bytes\n"
    "                    after it), say so, and end with exit status 2\n"
    "      --like=ORIG   pack as ORIG (an image) was packed, reusing its items:\n"
    "                    ORIG's content packs to ORIG's bytes, an edited one to\n"
    "                    bytes that differ only near the edit\n"
    "  -q, --quiet       no warnings, no progress line\n"
    "      --no-progress no progress line\n"
    "  -v, --verbose     one line per file with the sizes and the ratio, and a\n"
    "                    total for more than one file\n";

constexpr const char* HelpRules =
    "An empty file is left as it is, with a warning: no image holds zero\n"
    "bytes. Packing warns of an image larger than its input, and of one larger\n"
    "than 8 MiB, which lzs-unpack.exe refuses (lzs -d takes it).\n"
    "An existing output is never overwritten without -f. Outputs keep the\n"
    "input's permissions and modification time, and are put in place only\n"
    "when complete. A file whose output is another file's input or output in\n"
    "the same run is refused; so is an input written to while it is read.\n"
    "--rm keeps an input that changed after it was read. A file to pack that\n"
    "is too large for memory fails with \"out of memory\"; the others are\n"
    "still done. Standard input and images too large to hold are unpacked in\n"
    "pieces, in constant memory; to standard output their bytes go out as\n"
    "they are decoded, before a cut-short image is found bad at its end.\n"
    "Exit status: 0 when every file succeeded, 1 when any failed (a run of\n"
    "more than one file then ends with a total that counts them), 2 for a\n"
    "wrong command line, or with --salvage when a damaged image was kept.\n";

constexpr const char* PackHelpText =
    "Usage: lzs-pack INPUT [-o OUTPUT] [-f] [-v]\n"
    "Packs INPUT into an LZS file that lzs-unpack can unpack.\n"
    "\n"
    "  -o, --output=OUTPUT  write to OUTPUT (default: INPUT.lzs)\n"
    "  -f, --force          replace an existing OUTPUT\n"
    "  -v, --verbose        print the sizes and the ratio (the packed size as\n"
    "                       a percentage of the input's)\n";

// The help's last options, -h with the platform's own switch, their words
// from column on.
std::string HelpAndVersion(std::size_t column) {
  const std::string help = "  -h, --help";
  const std::string version = "  -V, --version";
  return help + std::string(column - help.size(), ' ') + "show this help and exit" +
         HelpSwitchNote + "\n" + version + std::string(column - version.size(), ' ') +
         "show the version and exit\n";
}

enum LongOnly {
  RemoveOption = 256,
  FastOption,
  NoProgressOption,
  ExcludeCompressedOption,
  OutputDirFlatOption,
  InspectOption,
  ScanOption,
  JsonOption,
  ExtractOption,
  SalvageOption,
  LikeOption,
};

const option LongOptions[] = {
    {"decompress", no_argument, nullptr, 'd'},
    {"uncompress", no_argument, nullptr, 'd'},
    {"test", no_argument, nullptr, 't'},
    {"list", no_argument, nullptr, 'l'},
    {"stdout", no_argument, nullptr, 'c'},
    {"to-stdout", no_argument, nullptr, 'c'},
    {"output", required_argument, nullptr, 'o'},
    {"force", no_argument, nullptr, 'f'},
    {"keep", no_argument, nullptr, 'k'},
    {"rm", no_argument, nullptr, RemoveOption},
    {"recursive", no_argument, nullptr, 'r'},
    {"threads", required_argument, nullptr, 'T'},
    {"fast", no_argument, nullptr, FastOption},
    {"best", no_argument, nullptr, '9'},
    {"compress", no_argument, nullptr, 'z'},
    {"suffix", required_argument, nullptr, 'S'},
    {"no-progress", no_argument, nullptr, NoProgressOption},
    {"exclude-compressed", no_argument, nullptr, ExcludeCompressedOption},
    {"output-dir-flat", required_argument, nullptr, OutputDirFlatOption},
    {"inspect", no_argument, nullptr, InspectOption},
    {"scan", no_argument, nullptr, ScanOption},
    {"json", no_argument, nullptr, JsonOption},
    {"extract", required_argument, nullptr, ExtractOption},
    {"salvage", no_argument, nullptr, SalvageOption},
    {"like", required_argument, nullptr, LikeOption},
    {"quiet", no_argument, nullptr, 'q'},
    {"verbose", no_argument, nullptr, 'v'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

const option PackLongOptions[] = {
    {"output", required_argument, nullptr, 'o'}, {"force", no_argument, nullptr, 'f'},
    {"verbose", no_argument, nullptr, 'v'},      {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},      {nullptr, 0, nullptr, 0},
};

// A count of threads: digits only. A number too large to hold is as large
// as can be held: it is taken as the most there are, like any large one.
bool ReadCount(const char* text, unsigned long& count) {
  char* end = nullptr;
  errno = 0;
  const unsigned long value = std::strtoul(text, &end, 10);
  if (*text < '0' || *text > '9' || *end != '\0') return false;
  count = errno == ERANGE ? ULONG_MAX : value;
  return true;
}

// A suffix is a part of a file name: not empty, no folder separator.
bool IsSuffix(const char* text) {
  return *text != '\0' && std::strchr(text, '/') == nullptr && std::strchr(text, '\\') == nullptr;
}

ParseResult Usage(const std::string& text) {
  Say(text);
  return ParseResult::UsageError;
}

// What getopt_long found wrong (it says nothing itself): the option as
// typed, and the words for it.
ParseResult BadOption(int c, char** argv, const option* longOptions) {
  const std::string typed = optind > 0 ? argv[optind - 1] : "";
  const bool isLong = typed.rfind("--", 0) == 0;
  const std::string given =
      isLong ? typed.substr(0, typed.find('=')) : std::string("-") + static_cast<char>(optopt);
  if (c == ':') {
    const bool file = optopt == 'o';
    return Usage(given + (file ? " needs a file name" : " needs a value"));
  }
  if (isLong && optopt != 0) return Usage("option '" + given + "' takes no value");
  int matches = 0;
  for (const option* o = longOptions; isLong && o->name != nullptr; ++o) {
    matches += std::string(o->name).rfind(given.substr(2), 0) == 0 ? 1 : 0;
  }
  if (matches > 1) return Usage("option '" + given + "' is ambiguous");
  return Usage("unknown option '" + given + "'");
}

// The rest of lzs-pack's command line: one input, and what it packs by.
ParseResult FinishPack(int argc, char** argv, Options& options, bool outputSeen) {
  if (optind == argc) return Usage("no input file given");
  if (argc - optind > 1) return Usage("only one input file may be given");
  if (outputSeen && options.output.empty()) return Usage("-o needs a file name");
  options.inputs.emplace_back(argv[optind]);
  // One file, packed at the smallest image, with no progress line.
  options.mode = Mode::Pack;
  options.progress = false;
  options.threads = 1;
  return ParseResult::Run;
}

// The options of looking inside images (cli/workbench.hpp), where they go
// and where not.
ParseResult CheckWorkbench(const Options& options, bool outputSeen) {
  const bool reports = options.mode == Mode::Inspect || options.mode == Mode::Scan;
  if (options.json && !reports) return Usage("--json goes with --inspect or --scan");
  if (!options.extractDir.empty() && options.mode != Mode::Scan) {
    return Usage("--extract goes with --scan");
  }
  if (reports && (outputSeen || options.toStdout || !options.outputDir.empty() ||
                  options.removeInput || options.salvage || !options.like.empty())) {
    return Usage(
        "--inspect and --scan print their reports; they take no output, --rm, "
        "--salvage or --like");
  }
  if (options.salvage && options.mode != Mode::Unpack && options.mode != Mode::Test) {
    return Usage("--salvage goes with -d or -t");
  }
  if (options.salvage && options.removeInput) {
    return Usage("--salvage keeps the input: --rm cannot be used with it");
  }
  if (!options.like.empty() && options.mode != Mode::Pack) return Usage("--like goes with packing");
  if (!options.like.empty() && options.inputs.size() != 1) {
    return Usage("--like takes one file to pack");
  }
  return ParseResult::Run;
}

// The rest of lzs's command line: the inputs, and the options that do not
// go together.
ParseResult FinishLzs(int argc, char** argv, Options& options, bool outputSeen) {
  for (int k = optind; k < argc; ++k) options.inputs.emplace_back(argv[k]);
  if (options.inputs.empty()) options.inputs.emplace_back("-");
  if (options.catName && (outputSeen || !options.outputDir.empty())) {
    // Said by lzscat itself, with what to use instead.
    PutText(2, outputSeen
                   ? "lzscat: writes to standard output; -o cannot be used (use lzs -d -o FILE)\n"
                   : "lzscat: writes to standard output; --output-dir-flat cannot be used "
                     "(use lzs -d --output-dir-flat=DIR)\n");
    return ParseResult::UsageError;
  }
  if (outputSeen && options.toStdout) return Usage("-o and -c cannot be used together");
  if (!options.outputDir.empty() && (outputSeen || options.toStdout)) {
    return Usage("--output-dir-flat cannot be used with -o or -c");
  }
  if (outputSeen && options.output.empty()) return Usage("-o needs a file name");
  return CheckWorkbench(options, outputSeen);
}

}  // namespace

void ShowHelp(Face face) {
  if (face == Face::Pack) {
    PutText(1, PackHelpText + HelpAndVersion(23));
  } else {
    PutText(1, HelpOptions + HelpAndVersion(20) + "\n" + PlatformHelp + HelpRules);
  }
}

Face FaceForName(const char* argv0, Options& options) {
#ifdef LZS_PACK_PROGRAM
  // lzs-pack.exe: a file of its own, whatever it was renamed to.
  (void)argv0;
  options.face = Face::Pack;
  return options.face;
#else
  if (argv0 == nullptr) return options.face;
  std::string name = argv0;
  const std::size_t slash = name.find_last_of("/\\");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  // lzscat.exe, LZSCAT.EXE: Windows names are not case sensitive.
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (name.size() > 4 && name.compare(name.size() - 4, 4, ".exe") == 0)
    name.resize(name.size() - 4);
  if (name == "lzs-pack") options.face = Face::Pack;
  if (name == "lzscat" || name == "unlzs") options.mode = Mode::Unpack;
  if (name == "lzscat") options.toStdout = options.catName = true;
  return options.face;
#endif
}

ParseResult ParseOptions(int argc, char** argv, Options& options) {
  for (int k = 1; k < argc && std::strcmp(argv[k], "--") != 0; ++k) {
    if (IsHelpSwitch(argv[k])) {
      ShowHelp(options.face);
      return ParseResult::Exit;
    }
  }
  opterr = 0;  // its complaints are said in our words, by BadOption
  // lzs-pack takes a few of lzs's options, and no others.
  const bool pack = options.face == Face::Pack;
  bool outputSeen = false;
  for (;;) {
    const int c =
        pack ? getopt_long(argc, argv, ":o:fvhV", PackLongOptions, nullptr)
             : getopt_long(argc, argv, ":zdtlco:fkrT:S:qvhV0123456789", LongOptions, nullptr);
    if (c == -1) break;
    switch (c) {
      case 'z': options.mode = Mode::Pack; break;
      case 'd': options.mode = Mode::Unpack; break;
      case 't': options.mode = Mode::Test; break;
      case 'l': options.mode = Mode::List; break;
      case 'c': options.toStdout = true; break;
      case 'o':
        if (outputSeen)
          return Usage(pack ? "only one output file may be given" : "only one -o may be given");
        options.output = optarg;
        outputSeen = true;
        break;
      case 'f': options.force = true; break;
      case 'k': options.removeInput = false; break;
      case RemoveOption: options.removeInput = true; break;
      case 'r': options.recursive = true; break;
      case 'T':
        if (!ReadCount(optarg, options.threads)) {
          return Usage(std::string("-T takes a number of threads, not '") + optarg + "'");
        }
        break;
      case FastOption:
      case '1': options.fast = true; break;
      case '9': options.fast = false; break;
      case '0':
      case '2':
      case '3':
      case '4':
      case '5':
      case '6':
      case '7':
      case '8':
        return Usage(std::string("-") + static_cast<char>(c) +
                     ": there are two levels, -1 (fast) and -9 (smallest image, the default)");
      case 'S':
        if (!IsSuffix(optarg)) {
          return Usage(std::string("-S takes a suffix for file names, not '") + optarg + "'");
        }
        options.suffix = optarg;
        break;
      case NoProgressOption: options.progress = false; break;
      case ExcludeCompressedOption: options.excludeCompressed = true; break;
      case OutputDirFlatOption:
        if (*optarg == '\0') return Usage("--output-dir-flat needs a folder");
        options.outputDir = optarg;
        break;
      case InspectOption: options.mode = Mode::Inspect; break;
      case ScanOption: options.mode = Mode::Scan; break;
      case JsonOption: options.json = true; break;
      case ExtractOption:
        if (*optarg == '\0') return Usage("--extract needs a folder");
        options.extractDir = optarg;
        break;
      case SalvageOption: options.salvage = true; break;
      case LikeOption:
        if (*optarg == '\0') return Usage("--like needs an image");
        options.like = optarg;
        break;
      case 'q': options.verbosity = 0; break;
      case 'v': options.verbosity = 2; break;
      case 'h': ShowHelp(options.face); return ParseResult::Exit;
      case 'V':
        PutText(1,
                pack ? std::string("lzs-pack " LZS_VERSION "\n")
                     : std::string("lzs " LZS_VERSION " (liblzs ") + lzs_version_string() + ")\n");
        return ParseResult::Exit;
      default: return BadOption(c, argv, pack ? PackLongOptions : LongOptions);
    }
  }
  return pack ? FinishPack(argc, argv, options, outputSeen)
              : FinishLzs(argc, argv, options, outputSeen);
}

}  // namespace cli
