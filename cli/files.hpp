// Everything lzs does with files, folders, standard streams and threads: the
// one place that knows the platform. An output is written to a temporary
// file beside its target and put in place only when complete, so a failed
// or interrupted run never leaves a partial output nor touches an existing
// one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "lzs.h"

namespace cli {

// Leaves new elements uninitialized: a buffer about to be filled by a read
// or a decode is not zeroed first.
template <typename T>
struct UninitializedAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = UninitializedAllocator<U>;
  };
  template <typename U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

using Bytes = std::vector<std::uint8_t, UninitializedAllocator<std::uint8_t>>;

// An input as it stood when it was read: its permission bits, owner and
// times are given to its output, and which file it was (device and inode)
// with its size and times tells whether the name still holds the same,
// unchanged file later.
struct FileStamp {
  bool known = false;
  std::uint32_t mode = 0;       // POSIX permission bits, or Windows attributes
  std::int64_t accessTime = 0;  // platform units: ns since 1970, or FILETIME
  std::int64_t modifyTime = 0;
  std::int64_t changeTime = 0;
  std::uint64_t device = 0;  // Windows: the volume serial number
  std::uint64_t inode = 0;   // Windows: the file index
  std::uint64_t size = 0;
  std::uint32_t owner = 0;  // POSIX only
  std::uint32_t group = 0;
};

// Whether now is the same file as was, with the same size and times: a file
// that was rewritten, grew or shrank is not.
inline bool Unchanged(const FileStamp& was, const FileStamp& now) {
  return was.device == now.device && was.inode == now.inode && was.size == now.size &&
         was.modifyTime == now.modifyTime && was.changeTime == now.changeTime;
}

// Once, before any other call here: standard descriptors that are closed
// opened on the null device, binary standard input (and output, when it
// takes data), the file creation mask, the signals (temporary files removed
// on Ctrl-C and the like; a broken lease and a file size limit ignored, as
// the calls that meet them report them).
void PrepareFiles(bool dataToStdout);

// What a read takes: at most limit bytes, and, for an LZS image, only a file
// whose first 4 bytes (little-endian) are its size minus 4. Both are checked
// before the whole file is read, so a huge file costs no memory.
struct ReadRule {
  std::uint64_t limit;
  bool image;
};
inline constexpr const char* HeaderReason = "not LZS: header is not the image size minus 4";
// Whether the header at head (its first LZS_HEADER_SIZE bytes) gives an
// image of size bytes.
inline bool HeaderFits(const std::uint8_t* head, std::uint64_t size) {
  return size <= SIZE_MAX && lzs_image_length(head, static_cast<std::size_t>(size)) == size;
}

// Reads a whole regular file, and makes sure it did not change meanwhile:
// one that grew, shrank, was written to or is open for writing elsewhere is
// refused.
bool ReadInputFile(const std::string& path, const ReadRule& rule, Bytes& data, FileStamp& stamp,
                   std::string& error);
// Reads standard input to its end; more than rule.limit bytes are refused.
bool ReadStandardInput(const ReadRule& rule, Bytes& data, std::string& error);

// Reads in pieces of at most PieceSize bytes, in constant memory, handing
// each piece to take as it arrives; when take returns false the read stops
// and fails with the error take gave.
inline constexpr std::size_t PieceSize = std::size_t{64} << 10;
using TakePiece =
    std::function<bool(const std::uint8_t* data, std::size_t size, std::string& error)>;
// A regular file, with the checks of ReadInputFile (its size against
// rule.limit and its header before the first piece, and after the last that
// it did not change meanwhile). stamp is filled before the first piece.
bool ReadInputFileInPieces(const std::string& path, const ReadRule& rule, FileStamp& stamp,
                           const TakePiece& take, std::string& error);
bool ReadStandardInputInPieces(const TakePiece& take, std::string& error);
// The size of a regular file as it is now; 0 for anything else.
std::uint64_t InputFileSize(const std::string& path);
// Why a read under rule refuses a file above its limit.
inline std::string TooLargeReason(const ReadRule& rule) {
  const std::string most = std::to_string(rule.limit) + " bytes";
  return rule.image ? "not LZS: larger than any LZS image, which holds at most " + most
                    : "is too large to pack: more than " + most;
}
bool WriteStandardOutput(const std::uint8_t* data, std::size_t size, std::string& error);
// stream: 0, 1 or 2.
bool IsTerminal(int stream);

// The reason given when an output exists and overwriting was not asked for.
inline constexpr const char* ExistsReason = "already exists; not overwritten (use -f to overwrite)";

// What separates folders in a path: '/', and on Windows '\\' too. The
// first is the one the system writes itself.
extern const char* const FolderSeparators;

// Writes UTF-8 text (on Windows: text in the process code page) to standard
// output (stream 1) or standard error (2). A Windows console gets it as
// Unicode, through WriteConsoleW, so that any name shows right whatever the
// console's code page; anything else gets the bytes, standard output through
// the C library's buffer (fflush it to see a write error), standard error at
// once. False when it was not all written.
bool PutText(int stream, const std::string& text);

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

bool PathExists(const std::string& path);  // a link counts, even a dangling one
bool IsFolder(const std::string& path);    // a link to a folder counts

// Other: neither a regular file, a folder nor a link; Failed: the entry
// could not be looked at (error says why).
enum class EntryKind { File, Folder, Link, Other, Failed };
struct FolderEntry {
  std::string name;
  EntryKind kind;
  std::string error;
};
// The entries of a folder, but . and .., in no particular order.
bool ListFolder(const std::string& folder, std::vector<FolderEntry>& entries, std::string& error);
bool SameFile(const std::string& a, const std::string& b);
// Removes the input that stamp describes, only if path still names that
// file unchanged (the same file, size and times).
bool RemoveFile(const std::string& path, const FileStamp& stamp, std::string& error);

// What tells files apart before any is written: each key names one file,
// by what it is (device and file number, when it exists) or by where it is
// (the folder's device and file number, and the name in it). Two paths that
// share a key name the same file. A path that is a link gives keys for the
// link and for what it leads to.
std::vector<std::string> FileKeys(const std::string& path);

class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();  // discards an output that was not committed

  // Opens a temporary file in the folder of target, for the output of the
  // input that stamp describes (when known).
  bool Open(const std::string& target, const FileStamp& stamp, std::string& error);
  bool Write(const std::uint8_t* data, std::size_t size, std::string& error) const;
  // Gives the file the stamp (when known) and puts it in place as target;
  // an existing target is replaced only when overwrite is set.
  bool Commit(const FileStamp& stamp, bool overwrite, std::string& error);

 private:
  void Discard();

  std::string target_;
  std::string tempName_;  // empty while the file has no name
  std::intptr_t handle_ = -1;
  int slot_ = -1;  // where tempName_ is known to the interrupt handler
};

unsigned CoreCount();

// Runs work on count threads at once and returns when all have ended,
// calling tick on this thread about every 200 ms meanwhile.
void RunWorkers(unsigned count, const std::function<void()>& work,
                const std::function<void()>& tick);

}  // namespace cli
