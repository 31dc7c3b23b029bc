// The operating system calls under lzs's file layer: one implementation for
// POSIX (os_posix.cpp) and one for Windows (os_windows.cpp). Each call does
// one thing and says no words: it gives a system error code, which
// ErrorText turns into the system's own text. The rules (what may be read,
// how an output is put in place) are above, in files.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace cli {

// A file as it stood when it was looked at: its permission bits, owner and
// times are given to its output, and which file it was (device and inode)
// with its size and times tells whether a name still holds the same,
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

namespace os {

// errno, or a Windows error code; 0 is success.
using Error = std::uint32_t;
// The system's text for an error ("No such file or directory").
std::string ErrorText(Error error);
// Whether an error says that the name is taken already.
bool IsExists(Error error);

// What separates folders in a path: '/', and on Windows '\\' too. The
// first is the one the system writes itself.
extern const char* const FolderSeparators;
// Whether names that differ only in case name the same file.
extern const bool NamesIgnoreCase;

// An open file, closed when its owner goes. A borrowed one (a standard
// stream) is never closed here.
class File {
 public:
  File() = default;
  File(std::intptr_t handle, bool owned) : handle_(handle), owned_(owned) {}
  File(File&& other) noexcept { *this = static_cast<File&&>(other); }
  File& operator=(File&& other) noexcept {
    if (this != &other) {
      (void)Close();
      handle_ = other.handle_;
      owned_ = other.owned_;
      other.handle_ = Invalid;
    }
    return *this;
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() { (void)Close(); }

  bool IsOpen() const { return handle_ != Invalid; }
  bool Owned() const { return owned_; }
  std::intptr_t Handle() const { return handle_; }
  // Closes it now, and tells an error that only the close reports (a
  // network file system's failed write).
  Error Close();

 private:
  static constexpr std::intptr_t Invalid = -1;
  std::intptr_t handle_ = Invalid;
  bool owned_ = false;
};

enum class Kind { Missing, File, Folder, Link, Other };

// Once, before any other call: standard descriptors that are closed opened
// on the null device, the file creation mask, the signals (named temporary
// files removed on Ctrl-C and the like; a broken lease and a file size limit
// ignored, as the calls that meet them report them).
void Prepare();

// Opens a file to read, following links and never waiting (a FIFO is
// opened and then refused by its kind). On Windows, no other process may
// open it for writing while it is open.
Error OpenRead(const std::string& path, File& file);
// Standard input to read; on Windows a file there is opened anew as
// OpenRead opens it, at the same position, where the system allows.
Error OpenStandardInput(File& file);
File StandardOutput();  // borrowed
Error KindAndStamp(const File& file, Kind& kind, FileStamp& stamp);
// Of a name; a missing file is Kind::Missing with the error that said so.
Error KindAndStamp(const std::string& path, bool followLinks, Kind& kind, FileStamp& stamp);

// A name that leads, through its links, to an open descriptor (/dev/stdout,
// /dev/fd/N, /proc/self/fd/N, /proc/PID/fd/N) stands for that descriptor:
// what is written to it is written through, and the name is never
// replaced. DescriptorOf gives this process's own number, OtherDescriptor
// for another process's, or NoDescriptor (also for a descriptor that is
// closed). Windows has no such names.
constexpr int NoDescriptor = -1;
constexpr int OtherDescriptor = -2;
int DescriptorOf(const std::string& path);
// Opens such a name to write through it: this process's own descriptor is
// borrowed as it is (as standard output is), another process's is opened
// anew to add to, never waiting (a pipe without a reader fails).
Error OpenThrough(const std::string& path, int descriptor, File& file);
// The system's own folder a name is in, its folder's links followed:
// "/dev" or "/proc", whose files are never replaced or removed; nullptr for
// any other (and always on Windows).
const char* SystemFolderOf(const std::string& path);
// Where reading stands now (for standard input, which may not start at 0).
Error Position(const File& file, std::uint64_t& offset);
Error Seek(const File& file, std::uint64_t offset);
// Whether writes to file go where its position stands (a regular file not
// opened to append), and that position.
bool WritesAt(const File& file, std::uint64_t& offset);
// Reads at most size bytes; got is 0 at the end.
Error Read(const File& file, void* data, std::size_t size, std::size_t& got);
// Writes all of data.
Error Write(const File& file, const void* data, std::size_t size);
// Writes all of data at offset of a file that can be written at any
// offset, then goes on from where it stood (or past the data, when that
// reaches further).
inline Error WriteAt(const File& file, std::uint64_t offset, const void* data, std::size_t size) {
  std::uint64_t end = 0;
  Error error = Position(file, end);
  if (error == 0) error = Seek(file, offset);
  if (error == 0) error = Write(file, data, size);
  const Error back = Seek(file, end > offset + size ? end : offset + size);
  return error != 0 ? error : back;
}

// A read lease: while it is held no other process opens the file for
// writing unnoticed (an open breaks it, and waits until it is let go). On
// Windows, every file this process opened itself to read holds one.
enum class Lease { Held, None, Refused /* open for writing elsewhere */ };
Lease TakeReadLease(const File& file);
// Lets it go; false when it was broken meanwhile.
bool DropReadLease(const File& file);

// A file with no name in folder (Linux, O_TMPFILE), given a name only once
// it is complete; an error where the system has none.
Error CreateUnnamed(const std::string& folder, std::uint32_t mode, File& file);
Error CreateNew(const std::string& path, std::uint32_t mode, File& file);
// A scratch file, to write and read back, in the system's folder for
// temporary files ($TMPDIR or /tmp; on Windows the user's): it has no name
// while open, or one that goes when it is closed, so that it is gone
// however the process ends.
Error CreateScratch(File& file);
// The owner and group of stamp, where this user may give them (root); a
// refusal is no error. Nothing on Windows.
Error SetOwner(const File& file, const FileStamp& stamp);
// The permission bits, stamp's or (unknown) those of a new file under the
// creation mask; on Windows the read-only attribute is given by Placed.
Error SetMode(const File& file, const FileStamp& stamp);
Error SetTimes(const File& file, const FileStamp& stamp);
// Names an unnamed file; fails when the name exists.
Error NameUnnamed(const File& file, const std::string& path);
// Puts the file from in place as to, only while to does not exist; from is
// then gone.
Error PlaceNew(const std::string& from, const std::string& to);
// Puts the file from in place as to, replacing it.
Error Replace(const std::string& from, const std::string& to);
// What a file gets only once it is in place: on Windows its read-only
// attribute.
void Placed(const std::string& path, const FileStamp& stamp);
Error Remove(const std::string& path);

struct Entry {
  std::string name;
  Kind kind;
  Error error;      // when the entry could not be looked at
  FileStamp stamp;  // links not followed; unknown where the listing does not tell
};
// The entries of a folder, but . and .., in no particular order; links not
// followed.
Error ListFolder(const std::string& folder, std::vector<Entry>& entries);

unsigned ProcessId();
unsigned CoreCount();

// stream: 0, 1 or 2. A terminal: on Windows a console only (NUL is none).
bool IsTerminal(int stream);
// Writes text to standard output (1) or standard error (2): on Windows a
// console gets it as Unicode, anything else with CR LF line ends.
Error WriteText(int stream, const std::string& text);
// Closes standard output, telling a late write error.
Error CloseStandardOutput();

// What a thread runs: body(argument). It must outlive the thread.
struct ThreadStart {
  void (*body)(void*);
  void* argument;
};
bool StartThread(const ThreadStart& start, std::intptr_t& thread);
// Waits up to milliseconds for all threads to end; true when they have
// (they are then let go and threads is empty).
bool WaitThreads(std::vector<std::intptr_t>& threads, unsigned milliseconds);
// Lets other threads run, for about a millisecond.
void Pause();

}  // namespace os
}  // namespace cli
