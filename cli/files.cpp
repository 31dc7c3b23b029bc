#include "cli/files.hpp"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>

#include "cli/messages.hpp"
#include "cli/paths.hpp"
#include "cli/temp_names.hpp"
#include "lzs.h"

namespace cli {
namespace {

// What a whole read adds to its buffer at a time, past the size expected.
constexpr std::size_t ReadChunk = std::size_t{1} << 20;

constexpr const char* ChangedReason = "changed while it was read; not used";

std::atomic<unsigned> tempCounter{0};

bool Fail(Failure& failure, std::string reason, Fault fault = Fault::Other) {
  failure.fault = fault;
  failure.reason = std::move(reason);
  return false;
}

bool FailSystem(Failure& failure, const char* what, os::Error error) {
  return Fail(failure, SystemReason(what, error));
}

// A file above the most a read takes, in the library's words: larger than
// any image, or than the encoder takes.
std::string TooLarge(const ReadRule& rule, std::uint64_t size) {
  constexpr std::size_t NotAnImage = static_cast<std::size_t>(0) - LZS_ERROR_NOT_AN_IMAGE;
  constexpr std::size_t InputTooLarge = static_cast<std::size_t>(0) - LZS_ERROR_INPUT_TOO_LARGE;
  if (!rule.image) return PackFailure(InputTooLarge);
  lzs_info info{};
  info.inputSize = size;
  return Described(NotAnImage, info);
}

// Reads until size bytes are in or the file ends; got tells how many.
os::Error ReadFully(const os::File& file, std::uint8_t* data, std::size_t size, std::size_t& got) {
  got = 0;
  while (got < size) {
    std::size_t n = 0;
    const os::Error error = os::Read(file, data + got, size - got, n);
    if (error != 0) return error;
    if (n == 0) break;
    got += n;
  }
  return 0;
}

// Grows (or shrinks) a buffer; a failed allocation is the read's failure.
bool Resize(Bytes& data, std::size_t size, Failure& failure) {
  try {
    data.resize(size);
    return true;
  } catch (const std::bad_alloc&) {
    return Fail(failure, "out of memory", Fault::OutOfMemory);
  }
}

// A read lease held for one read, let go on every road out of it.
class LeaseHold {
 public:
  LeaseHold(const os::File& file, bool held) : file_(file), held_(held) {}
  LeaseHold(const LeaseHold&) = delete;
  LeaseHold& operator=(const LeaseHold&) = delete;
  ~LeaseHold() { (void)Drop(); }
  // Lets it go now; false when it was broken meanwhile.
  bool Drop() {
    const bool kept = !held_ || os::DropReadLease(file_);
    held_ = false;
    return kept;
  }

 private:
  const os::File& file_;
  bool held_;
};

// A name for a temporary file beside target: hidden, unique in this process.
std::string TempNameFor(const std::string& target) {
  return JoinPath(FolderOf(target), "." + BaseName(target).substr(0, 200) + "." +
                                        std::to_string(os::ProcessId()) + "-" +
                                        std::to_string(tempCounter.fetch_add(1)) + ".tmp");
}

}  // namespace

bool Input::Open(const std::string& path, Failure& failure) {
  const os::Error error = os::OpenRead(path, file_);
  if (error != 0) return FailSystem(failure, "cannot open", error);
  const os::Error looked = os::KindAndStamp(file_, kind_, stamp_);
  return looked == 0 || FailSystem(failure, "cannot read", looked);
}

bool Input::OpenStandardInput(Failure& failure) {
  standard_ = true;
  const os::Error error = os::OpenStandardInput(file_);
  if (error != 0) return FailSystem(failure, "cannot read", error);
  // A pipe or a terminal is simply read; anything that cannot be looked at
  // is too.
  if (os::KindAndStamp(file_, kind_, stamp_) != 0 || !Regular()) {
    kind_ = os::Kind::Other;
    stamp_ = FileStamp{};
    return true;
  }
  const os::Error at = os::Position(file_, start_);
  return at == 0 || FailSystem(failure, "cannot read", at);
}

bool Input::Is(const std::string& path) const {
  os::Kind kind = os::Kind::Missing;
  FileStamp other;
  return stamp_.known && (stamp_.device != 0 || stamp_.inode != 0) &&
         os::KindAndStamp(path, true, kind, other) == 0 && other.device == stamp_.device &&
         other.inode == stamp_.inode;
}

bool Input::Rewind(Failure& failure) {
  const os::Error error = os::Seek(file_, start_);
  return error == 0 || FailSystem(failure, "cannot read", error);
}

// The read, under the rules. body reads the rest of the input, given what
// was read before it (the header, count bytes at head), and tells how many
// bytes it read in all.
template <typename Body>
bool Input::Read(const ReadRule& rule, const Body& body, Failure& failure) {
  std::uint8_t head[LZS_HEADER_SIZE] = {};
  std::uint64_t got = 0;
  if (kind_ == os::Kind::Folder) return Fail(failure, "is a folder", Fault::Folder);
  if (!Regular() && !standard_) return Fail(failure, "is not a regular file");
  if (!Regular()) return body(head, 0, got, failure);
  const std::uint64_t size = Size();
  if (size > rule.limit) return Fail(failure, TooLarge(rule, size));
  std::size_t count = 0;
  if (rule.image && size > LZS_HEADER_SIZE) {
    const os::Error error = ReadFully(file_, head, LZS_HEADER_SIZE, count);
    if (error != 0) return FailSystem(failure, "cannot read", error);
    if (count < LZS_HEADER_SIZE) return Fail(failure, ChangedReason);
    lzs_info info{};
    const std::size_t header = lzs_check_header(head, size, &info);
    if (header != 0) return Fail(failure, Described(header, info));
  }
  const os::Lease lease = os::TakeReadLease(file_);
  if (lease == os::Lease::Refused) {
    return Fail(failure, "is open for writing in another process; not read");
  }
  LeaseHold hold(file_, lease == os::Lease::Held);
  if (!body(head, count, got, failure)) return false;
  const bool kept = hold.Drop();
  os::Kind kind = os::Kind::Missing;
  FileStamp after;
  const os::Error error = os::KindAndStamp(file_, kind, after);
  if (error != 0) return FailSystem(failure, "cannot read", error);
  return (kept && got == size && Unchanged(stamp_, after)) || Fail(failure, ChangedReason);
}

bool Input::ReadWhole(const ReadRule& rule, Bytes& data, Failure& failure) noexcept {
  try {
    return Read(
        rule,
        [&](const std::uint8_t* head, std::size_t count, std::uint64_t& got, Failure& why) {
          // Room for the size expected and one byte more, so that a file of
          // that size is read without growing the buffer; past it if the
          // file grew.
          const std::size_t expected = Regular() ? static_cast<std::size_t>(Size()) : ReadChunk;
          if (!Resize(data, expected + 1, why)) return false;
          std::copy(head, head + count, data.begin());
          std::size_t size = count;
          for (;;) {
            if (size == data.size() && !Resize(data, size + ReadChunk, why)) return false;
            std::size_t n = 0;
            const os::Error error = os::Read(file_, data.data() + size, data.size() - size, n);
            if (error != 0) return FailSystem(why, "cannot read", error);
            if (n == 0) break;
            size += n;
            if (size > rule.limit) return Fail(why, TooLarge(rule, size));
          }
          data.resize(size);
          got = size;
          return true;
        },
        failure);
  } catch (const std::bad_alloc&) {
    return Fail(failure, "out of memory", Fault::OutOfMemory);
  } catch (...) {
    return Fail(failure, "failed (unexpected error)");
  }
}

bool Input::ReadInPieces(const ReadRule& rule, std::size_t pieceSize, const TakePiece& take,
                         Failure& failure) {
  return Read(
      rule,
      [&](const std::uint8_t* head, std::size_t count, std::uint64_t& got, Failure& why) {
        got = count;
        if (count != 0 && !take(head, count, why.reason)) return false;
        Bytes piece;
        if (!Resize(piece, pieceSize, why)) return false;
        for (;;) {
          std::size_t n = 0;
          const os::Error error = os::Read(file_, piece.data(), piece.size(), n);
          if (error != 0) return FailSystem(why, "cannot read", error);
          if (n == 0) return true;
          got += n;
          if (!take(piece.data(), n, why.reason)) return false;
        }
      },
      failure);
}

bool OutputFile::Fail(Failure& failure, const char* what, os::Error error) {
  Discard();
  return FailSystem(failure, what, error);
}

void OutputFile::Discard() {
  (void)file_.Close();
  through_ = false;
  if (!tempName_.empty()) (void)os::Remove(tempName_);
  UnregisterTempName(slot_);
  tempName_.clear();
}

// A name of this run's for the temporary file, known to the interrupt
// handler from the start.
void OutputFile::TakeTempName() {
  tempName_ = TempNameFor(target_);
  slot_ = RegisterTempName(tempName_);
}

bool OutputFile::Open(const std::string& target, int descriptor, const FileStamp& stamp,
                      Failure& failure) {
  Discard();
  target_ = target;
  if (descriptor != os::NoDescriptor) {
    const os::Error error = os::OpenThrough(target, descriptor, file_);
    through_ = error == 0;
    return through_ || FailSystem(failure, "cannot open", error);
  }
  // The input's permission bits from the start, or only the user's while
  // nothing tells more; the file gets its final bits on commit.
  const std::uint32_t mode = stamp.known ? (stamp.mode & 0777) : 0600;
  if (os::CreateUnnamed(FolderOf(target), mode, file_) == 0) return true;
  TakeTempName();
  const os::Error error = os::CreateNew(tempName_, mode, file_);
  if (error == 0) return true;
  UnregisterTempName(slot_);
  tempName_.clear();
  return FailSystem(failure, ("cannot create a file in '" + FolderOf(target) + "'").c_str(), error);
}

bool OutputFile::Write(const std::uint8_t* data, std::size_t size, Failure& failure) {
  const os::Error error = os::Write(file_, data, size);
  return error == 0 || FailSystem(failure, "cannot write", error);
}

bool OutputFile::WriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t size,
                         Failure& failure) {
  const os::Error error = os::WriteAt(file_, offset, data, size);
  return error == 0 || FailSystem(failure, "cannot write", error);
}

bool ScratchFile::Open(Failure& failure) {
  const os::Error error = os::CreateScratch(file_);
  return error == 0 || FailSystem(failure, "cannot create a temporary file", error);
}

bool ScratchFile::Write(const std::uint8_t* data, std::size_t size, Failure& failure) {
  const os::Error error = os::Write(file_, data, size);
  return error == 0 || FailSystem(failure, "cannot write a temporary file", error);
}

bool ScratchFile::CopyFrom(std::uint64_t offset, const TakePiece& put, Failure& failure) {
  os::Error error = os::Seek(file_, offset);
  if (error != 0) return FailSystem(failure, "cannot read a temporary file", error);
  Bytes piece;
  if (!Resize(piece, ReadChunk, failure)) return false;
  for (;;) {
    std::size_t n = 0;
    error = os::Read(file_, piece.data(), piece.size(), n);
    if (error != 0) return FailSystem(failure, "cannot read a temporary file", error);
    if (n == 0) return true;
    if (!put(piece.data(), n, failure.reason)) return false;
  }
}

bool OutputFile::Commit(const FileStamp& stamp, bool overwrite, Failure& failure) {
  if (through_) {
    // What was written is where it goes; the file there keeps its own
    // owner, mode and times.
    const os::Error closed = file_.Close();
    Discard();
    return closed == 0 || FailSystem(failure, "cannot write", closed);
  }
  // The owner before the mode: a change of owner can clear mode bits.
  os::Error error = stamp.known ? os::SetOwner(file_, stamp) : 0;
  if (error != 0) return Fail(failure, "cannot set the owner", error);
  if ((error = os::SetMode(file_, stamp)) != 0) return Fail(failure, "cannot set the mode", error);
  error = stamp.known ? os::SetTimes(file_, stamp) : 0;
  if (error != 0) return Fail(failure, "cannot set the times", error);
  if (tempName_.empty()) {
    // Name the unnamed file; an existing target makes that fail, and is
    // then replaced only through a temporary name and a rename.
    error = os::NameUnnamed(file_, target_);
    if (error == 0) {
      Discard();
      os::Placed(target_, stamp);
      return true;
    }
    if (!os::IsExists(error) || !overwrite) {
      Discard();
      return os::IsExists(error) ? cli::Fail(failure, ExistsReason, Fault::Exists)
                                 : FailSystem(failure, "cannot create", error);
    }
    TakeTempName();
    if ((error = os::NameUnnamed(file_, tempName_)) != 0) {
      UnregisterTempName(slot_);
      tempName_.clear();
      return Fail(failure, "cannot create", error);
    }
  }
  // Closed before it is put in place: a network file system may report a
  // failed write only then.
  if ((error = file_.Close()) != 0) return Fail(failure, "cannot write", error);
  if (!overwrite) {
    error = os::PlaceNew(tempName_, target_);
    if (error == 0) {
      tempName_.clear();
      Discard();
      os::Placed(target_, stamp);
      return true;
    }
    // A file system without hard links: a rename, if the target is still
    // absent.
    if (os::IsExists(error) || PathExists(target_)) {
      Discard();
      return cli::Fail(failure, ExistsReason, Fault::Exists);
    }
  }
  // A device, a FIFO or a socket at the target's name, or reached through a
  // link there, is never replaced, even with -f: as root, -o /dev/null would
  // otherwise become a plain file. A link to a regular file is replaced
  // itself, and the file it points to stays as it was.
  os::Kind kind = os::Kind::Missing;
  FileStamp there;
  if (os::KindAndStamp(target_, true, kind, there) == 0 && kind != os::Kind::File &&
      kind != os::Kind::Folder) {
    Discard();
    return cli::Fail(failure, "is not a regular file; not replaced");
  }
  if (const char* system = os::SystemFolderOf(target_)) {
    Discard();
    return cli::Fail(failure, std::string("is in ") + system + "; not replaced");
  }
  if ((error = os::Replace(tempName_, target_)) != 0) return Fail(failure, "cannot create", error);
  tempName_.clear();
  Discard();
  os::Placed(target_, stamp);
  return true;
}

bool PathExists(const std::string& path) {
  os::Kind kind = os::Kind::Missing;
  FileStamp stamp;
  return os::KindAndStamp(path, false, kind, stamp) == 0;
}

bool IsFolder(const std::string& path) {
  os::Kind kind = os::Kind::Missing;
  FileStamp stamp;
  return os::KindAndStamp(path, true, kind, stamp) == 0 && kind == os::Kind::Folder;
}

bool ListFolder(const std::string& folder, std::vector<os::Entry>& entries, Failure& failure) {
  const os::Error error = os::ListFolder(folder, entries);
  return error == 0 || FailSystem(failure, "cannot read the folder", error);
}

bool Input::Remove(const std::string& path, Failure& failure) {
  // Closed first: Windows removes no file this process holds open. Through
  // a link, as the read went: the link is what is removed.
  (void)file_.Close();
  if (const char* system = os::SystemFolderOf(path)) {
    return Fail(failure, std::string("is in ") + system + "; not removed");
  }
  os::Kind kind = os::Kind::Missing;
  FileStamp now;
  os::Error error = os::KindAndStamp(path, true, kind, now);
  if (error != 0) return FailSystem(failure, "cannot remove", error);
  if (!Unchanged(stamp_, now)) return Fail(failure, "changed after it was read; not removed");
  error = os::Remove(path);
  return error == 0 || FailSystem(failure, "cannot remove", error);
}

std::vector<std::string> FileKeys(const std::string& path, const FileStamp& known) {
  std::vector<std::string> keys;
  auto idKey = [](const FileStamp& stamp) {
    return "file " + std::to_string(stamp.device) + " " + std::to_string(stamp.inode);
  };
  os::Kind kind = known.known ? os::Kind::File : os::Kind::Missing;
  FileStamp stamp = known;
  if (known.known || os::KindAndStamp(path, false, kind, stamp) == 0) {
    keys.push_back(idKey(stamp));
    // A link: what it leads to, too.
    if (kind == os::Kind::Link && os::KindAndStamp(path, true, kind, stamp) == 0) {
      keys.push_back(idKey(stamp));
    }
  }
  std::string base = BaseName(path);
  if (os::NamesIgnoreCase) {
    for (char& c : base) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  if (!base.empty() && base != "." && base != ".." &&
      os::KindAndStamp(FolderOf(path), true, kind, stamp) == 0) {
    keys.push_back("in " + std::to_string(stamp.device) + " " + std::to_string(stamp.inode) + " " +
                   base);
  } else {
    keys.push_back("name " + path);
  }
  return keys;
}

}  // namespace cli
