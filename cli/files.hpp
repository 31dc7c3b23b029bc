// What lzs may read and how it puts an output in place: the rules, once,
// above the operating system calls of os.hpp. An input is read only while
// nothing else writes it, and is refused when it changed meanwhile; an
// output is written to a temporary file beside its target and put in place
// only when complete, so a failed or interrupted run never leaves a partial
// output nor touches an existing one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "cli/os.hpp"

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

// Why a file could not be read or written, in the user's words, and what
// the caller may do about it.
enum class Fault {
  Other,
  OutOfMemory,  // a whole read could not have its memory
  Folder,       // the input is a folder
  Exists,       // the output exists, and overwriting was not asked for
};
struct Failure {
  Fault fault = Fault::Other;
  std::string reason;
};

// Whether now is the same file as was, with the same size and times: a file
// that was rewritten, grew or shrank is not.
inline bool Unchanged(const FileStamp& was, const FileStamp& now) {
  return was.device == now.device && was.inode == now.inode && was.size == now.size &&
         was.modifyTime == now.modifyTime && was.changeTime == now.changeTime;
}

// Once, before any other call here.
inline void PrepareFiles() { os::Prepare(); }

// What a read takes: at most limit bytes, and, for an LZS image, only a file
// whose first 4 bytes (little-endian) are its size minus 4. Both are checked
// before the rest is read, so a huge file costs no memory.
struct ReadRule {
  std::uint64_t limit;
  bool image;
};

// Reading in pieces: at most a piece's size at a time, in constant memory,
// each handed to take as it arrives; when take returns false the read stops
// and fails with the reason take gave.
using TakePiece =
    std::function<bool(const std::uint8_t* data, std::size_t size, std::string& reason)>;

// One input: a named file or standard input, opened and looked at once.
// A regular file (named, or standard input on one) is read only whole and
// unchanged: its size and header are checked before the read, no other
// process may open it for writing meanwhile where the system grants a read
// lease (on Windows always), and its size and times are compared after the
// read. Anything else named is refused; standard input on a pipe or a
// terminal is simply read to its end.
class Input {
 public:
  bool Open(const std::string& path, Failure& failure);
  bool OpenStandardInput(Failure& failure);

  bool Regular() const { return kind_ == os::Kind::File; }
  // A regular file's bytes from where the read starts to its end, as they
  // were when it was opened; 0 for anything else.
  std::uint64_t Size() const {
    return Regular() && stamp_.size > start_ ? stamp_.size - start_ : 0;
  }
  const FileStamp& Stamp() const { return stamp_; }
  // Whether path names this very file.
  bool Is(const std::string& path) const;

  // Never throws: a failed allocation is Fault::OutOfMemory.
  bool ReadWhole(const ReadRule& rule, Bytes& data, Failure& failure) noexcept;
  bool ReadInPieces(const ReadRule& rule, std::size_t pieceSize, const TakePiece& take,
                    Failure& failure);
  // Back to where the first read started, for another read of a regular file.
  bool Rewind(Failure& failure);
  // Closes the input and removes it by its name, only if path still names
  // the file that was read, unchanged (the same file, size and times).
  bool Remove(const std::string& path, Failure& failure);

 private:
  template <typename Body>
  bool Read(const ReadRule& rule, const Body& body, Failure& failure);

  os::File file_;
  os::Kind kind_ = os::Kind::Missing;
  FileStamp stamp_;
  std::uint64_t start_ = 0;
  bool standard_ = false;
};

// An output, written to a temporary file beside its target and put in place
// by Commit; discarded unless committed. A target that leads to a
// descriptor (/dev/stdout) is written through instead, as standard output
// is: it is never replaced, and keeps what was written to it.
class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile() { Discard(); }

  // For the output of the input that stamp describes (when known);
  // descriptor is what OutputDescriptor told of the target.
  bool Open(const std::string& target, int descriptor, const FileStamp& stamp, Failure& failure);
  bool Write(const std::uint8_t* data, std::size_t size, Failure& failure);
  // Writes data at offset, of a file that is not written through; later
  // writes go on from its end.
  bool WriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t size, Failure& failure);
  // Whether the output can be written at any offset: not one written
  // through a descriptor.
  bool Seekable() const { return !through_; }
  // Gives the file the stamp (when known: owner, mode and times) and puts it
  // in place as the target; an existing target is replaced only when
  // overwrite is set, and never a device, a FIFO or a socket, even through
  // a link, nor anything in /dev or /proc.
  bool Commit(const FileStamp& stamp, bool overwrite, Failure& failure);

 private:
  bool Fail(Failure& failure, const char* what, os::Error error);
  void TakeTempName();
  void Discard();

  std::string target_;
  std::string tempName_;  // empty while the file has no name of this run's
  os::File file_;
  int slot_ = -1;         // where tempName_ is known to the interrupt handler
  bool through_ = false;  // written through a descriptor, not put in place
};

// Where an output that cannot be written at any offset is kept until it is
// complete: a file in the system's folder for temporary files that is gone
// however the run ends (see os::CreateScratch).
class ScratchFile {
 public:
  bool Open(Failure& failure);
  bool Write(const std::uint8_t* data, std::size_t size, Failure& failure);
  // Hands what was written from offset on to put, a piece at a time; stops
  // when put returns false (put then gave the reason).
  bool CopyFrom(std::uint64_t offset, const TakePiece& put, Failure& failure);

 private:
  os::File file_;
};

// What an output's name leads to, looked at once before any file is
// opened: os::NoDescriptor, or a descriptor it is written through (see
// os::DescriptorOf). A descriptor of this process's that is open then is
// one it inherited, and keeps its number to the end of the run.
inline int OutputDescriptor(const std::string& path) { return os::DescriptorOf(path); }

// The reason given when an output exists and overwriting was not asked for
// (Fault::Exists); the caller adds what the user can do about it.
inline constexpr const char* ExistsReason = "already exists; not overwritten";

bool PathExists(const std::string& path);  // a link counts, even a dangling one
bool IsFolder(const std::string& path);    // a link to a folder counts

// The entries of a folder, but . and .., in no particular order, links not
// followed.
bool ListFolder(const std::string& folder, std::vector<os::Entry>& entries, Failure& failure);

// What tells files apart before any is written: each key names one file,
// by what it is (device and file number, when it exists) or by where it is
// (the folder's device and file number, and the name in it). Two paths that
// share a key name the same file. A path that is a link gives keys for the
// link and for what it leads to.
// known, when given, is the stamp of the regular file path names, taken
// already (by the listing of its folder), so that it is not looked at again.
std::vector<std::string> FileKeys(const std::string& path, const FileStamp& known = FileStamp{});

}  // namespace cli
