// The file handling of lzs on Linux. An output starts as an unnamed file
// (O_TMPFILE) that is linked in only when complete, so nothing is left behind
// even when the process is killed; where the file system has no unnamed
// files it is a named temporary file beside the target, created with the
// input's permissions and removed on failure and on the signals that end the
// tool (HandledSignals).
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>

#include "cli/files.hpp"
#include "cli/temp_names.hpp"

namespace cli {

const char* const FolderSeparators = "/";

namespace {

constexpr std::size_t ReadChunk = 1 << 20;

mode_t createMode = 0666;
bool unnamedFiles = false;
std::atomic<unsigned> tempCounter{0};

// The signals that end the tool: each removes the named temporary files
// first. SIGXFSZ is ignored instead, so that a file over the size limit
// fails its own write (EFBIG) and the batch goes on.
constexpr int HandledSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGXCPU};

std::string Reason(int error) { return std::generic_category().message(error); }

void RemoveTempFilesAndDie(int signal) {
  ForEachTempName([](const char* path) { unlink(path); });
  std::signal(signal, SIG_DFL);
  std::raise(signal);  // delivered, and fatal, once the handler returns
}

void HandleSignals() {
  struct sigaction action {};
  action.sa_handler = RemoveTempFilesAndDie;
  sigemptyset(&action.sa_mask);
  for (const int signal : HandledSignals) sigaddset(&action.sa_mask, signal);
  for (const int signal : HandledSignals) {
    struct sigaction before {};
    // One ignored by whoever started us (nohup) stays ignored.
    if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler != SIG_IGN) {
      sigaction(signal, &action, nullptr);
    }
  }
  std::signal(SIGXFSZ, SIG_IGN);
}

// Opens /dev/null on each of 0, 1 and 2 that is closed, so that no file
// opened later takes its number and gets the messages or data meant for a
// standard stream. It is opened for the other direction, as gnulib does, so
// that using the stream still fails (EBADF) instead of quietly succeeding.
// Without /dev/null the tool cannot run safely.
void OpenStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int opened = open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
    if (opened != fd) std::_Exit(1);
  }
}

// The permission bits a new output starts with: the input's, or only the
// user's while nothing tells more; the file gets its final bits on commit.
mode_t StartMode(const FileStamp& stamp) {
  return stamp.known ? static_cast<mode_t>(stamp.mode & 0777) : 0600;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A name for a temporary file beside target: hidden, unique in this process.
std::string TempNameFor(const std::string& target) {
  const std::string folder = FolderOf(target);
  const std::size_t slash = target.find_last_of('/');
  const std::string base = target.substr(slash == std::string::npos ? 0 : slash + 1).substr(0, 200);
  return folder + "/." + base + "." + std::to_string(getpid()) + "-" +
         std::to_string(tempCounter.fetch_add(1)) + ".tmp";
}

// Reads to the end into data, which is sized for expected bytes and one
// more, so that a file of the expected size is read without growing it; more
// than limit bytes are refused.
bool ReadAll(int fd, std::size_t expected, const ReadRule& rule, Bytes& data, std::string& error) {
  std::size_t size = 0;
  data.resize(expected + 1);
  for (;;) {
    if (size == data.size()) data.resize(size + ReadChunk);
    const ssize_t n = read(fd, data.data() + size, data.size() - size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = "cannot read: " + Reason(errno);
      return false;
    }
    if (n == 0) break;
    size += static_cast<std::size_t>(n);
    if (size > rule.limit) {
      error = TooLargeReason(rule);
      return false;
    }
  }
  data.resize(size);
  return true;
}

std::int64_t Nanoseconds(const timespec& time) {
  return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

// What the file layer keeps of a file's state.
FileStamp StampOf(const struct stat& st) {
  FileStamp stamp;
  stamp.mode = st.st_mode & 0777;
  stamp.accessTime = Nanoseconds(st.st_atim);
  stamp.modifyTime = Nanoseconds(st.st_mtim);
  stamp.changeTime = Nanoseconds(st.st_ctim);
  stamp.device = st.st_dev;
  stamp.inode = st.st_ino;
  stamp.size = static_cast<std::uint64_t>(st.st_size);
  stamp.owner = st.st_uid;
  stamp.group = st.st_gid;
  return stamp;
}

constexpr const char* ChangedReason = "changed while it was read; not used";

// Reads the open file fd, of size bytes when it was looked at, and tells how
// many bytes it read.
using ReadBody =
    std::function<bool(int fd, std::uint64_t size, std::uint64_t& got, std::string& error)>;

// The checks of a file about to be read, and the read: st receives its state
// before the read, which must still hold after it.
bool ReadOpenFile(int fd, const ReadRule& rule, const ReadBody& body, struct stat& st,
                  std::string& error) {
  if (fstat(fd, &st) != 0) {
    error = "cannot read: " + Reason(errno);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    error = "is a folder (use -r to go into folders)";
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    error = "is not a regular file";
    return false;
  }
  const auto size = static_cast<std::uint64_t>(st.st_size);
  if (size > rule.limit) {
    error = TooLargeReason(rule);
    return false;
  }
  std::uint8_t head[LZS_HEADER_SIZE] = {};
  if (rule.image && size > LZS_HEADER_SIZE) {
    const ssize_t got = pread(fd, head, LZS_HEADER_SIZE, 0);
    if (got != static_cast<ssize_t>(LZS_HEADER_SIZE)) {
      error = got < 0 ? "cannot read: " + Reason(errno) : ChangedReason;
      return false;
    }
    if (!HeaderFits(head, size)) {
      error = HeaderReason;
      return false;
    }
  }
  // A read lease cannot be had while another process has the file open for
  // writing, and one that opens it for writing meanwhile breaks the lease
  // (and waits until it is let go). Where no lease is granted (a file of
  // another owner, a file system without leases), the size and times
  // compared after the read are the guard.
  const bool leased = fcntl(fd, F_SETLEASE, F_RDLCK) == 0;
  if (!leased && errno == EAGAIN) {
    error = "is open for writing in another process; not read";
    return false;
  }
  std::uint64_t got = 0;
  bool ok = body(fd, size, got, error);
  const bool broken = leased && fcntl(fd, F_GETLEASE) != F_RDLCK;
  if (leased) (void)fcntl(fd, F_SETLEASE, F_UNLCK);
  struct stat after {};
  if (ok && fstat(fd, &after) != 0) {
    error = "cannot read: " + Reason(errno);
    ok = false;
  }
  if (ok && (broken || got != size || !Unchanged(StampOf(st), StampOf(after)))) {
    error = ChangedReason;
    ok = false;
  }
  return ok;
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size, std::string& error) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = "cannot write: " + Reason(errno);
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// As root, the output gets the input's owner and group, as with gzip. A user
// who may not give a file away keeps it, with the input's group where that
// is allowed; neither refusal is an error.
bool CopyOwner(int fd, const FileStamp& stamp) {
  if (fchown(fd, stamp.owner, stamp.group) == 0) return true;
  if (errno == EPERM && fchown(fd, static_cast<uid_t>(-1), stamp.group) == 0) return true;
  return errno == EPERM || errno == EINVAL;
}

}  // namespace

void PrepareFiles(bool /*dataToStdout*/) {
  OpenStandardDescriptors();
  const mode_t mask = umask(0);
  umask(mask);
  createMode = 0666 & ~mask;
  unnamedFiles = access("/proc/self/fd", X_OK) == 0;
  HandleSignals();
  // The break of a lease on an input needs no answer: the read checks for it.
  (void)std::signal(SIGIO, SIG_IGN);
}

namespace {

// Opens an input to read, without blocking: a FIFO or a device is refused
// later, never waited on. -1, and why, when it cannot be opened.
int OpenInput(const std::string& path, std::string& error) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) error = "cannot open: " + Reason(errno);
  return fd;
}

}  // namespace

bool ReadInputFile(const std::string& path, const ReadRule& rule, Bytes& data, FileStamp& stamp,
                   std::string& error) {
  const int fd = OpenInput(path, error);
  if (fd < 0) return false;
  struct stat st {};
  const bool ok = ReadOpenFile(
      fd, rule,
      [&](int from, std::uint64_t size, std::uint64_t& got, std::string& why) {
        const bool read = ReadAll(from, static_cast<std::size_t>(size), rule, data, why);
        got = data.size();
        return read;
      },
      st, error);
  close(fd);
  stamp = StampOf(st);
  stamp.known = ok;
  return ok;
}

namespace {

// Reads fd to its end in pieces of PieceSize bytes, each handed to take.
bool ReadPieces(int fd, const TakePiece& take, std::uint64_t& got, std::string& error) {
  std::vector<std::uint8_t> piece(PieceSize);
  for (;;) {
    const ssize_t n = read(fd, piece.data(), piece.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = "cannot read: " + Reason(errno);
      return false;
    }
    if (n == 0) return true;
    got += static_cast<std::uint64_t>(n);
    if (!take(piece.data(), static_cast<std::size_t>(n), error)) return false;
  }
}

}  // namespace

bool ReadInputFileInPieces(const std::string& path, const ReadRule& rule, FileStamp& stamp,
                           const TakePiece& take, std::string& error) {
  const int fd = OpenInput(path, error);
  if (fd < 0) return false;
  struct stat st {};
  const bool ok = ReadOpenFile(
      fd, rule,
      [&](int from, std::uint64_t, std::uint64_t& got, std::string& why) {
        // The pieces' taker may want the stamp, to make the output.
        stamp = StampOf(st);
        stamp.known = true;
        return ReadPieces(from, take, got, why);
      },
      st, error);
  close(fd);
  stamp = StampOf(st);
  stamp.known = ok;
  return ok;
}

bool ReadStandardInputInPieces(const TakePiece& take, std::string& error) {
  std::uint64_t got = 0;
  return ReadPieces(STDIN_FILENO, take, got, error);
}

std::uint64_t InputFileSize(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)
             ? static_cast<std::uint64_t>(st.st_size)
             : 0;
}

bool ReadStandardInput(const ReadRule& rule, Bytes& data, std::string& error) {
  return ReadAll(STDIN_FILENO, ReadChunk, rule, data, error);
}

bool WriteStandardOutput(const std::uint8_t* data, std::size_t size, std::string& error) {
  return WriteAll(STDOUT_FILENO, data, size, error);
}

bool IsTerminal(int stream) { return isatty(stream) == 1; }

bool PutText(int stream, const std::string& text) {
  if (stream == 1) return std::fputs(text.c_str(), stdout) >= 0;
  return std::fputs(text.c_str(), stderr) >= 0 && std::fflush(stderr) == 0;
}

bool ExpandWildcards(const std::string& argument, std::vector<std::string>& names,
                     std::string& /*error*/) {
  names.assign(1, argument);
  return true;
}

bool IsHelpSwitch(const char* /*argument*/) { return false; }

bool StartedFromExplorer() { return false; }

void WaitForEnter() {}

bool PathExists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ListFolder(const std::string& folder, std::vector<FolderEntry>& entries, std::string& error) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) {
    error = "cannot read the folder: " + Reason(errno);
    return false;
  }
  const std::string prefix = folder + "/";
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir);
    if (entry == nullptr) break;
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    if (lstat((prefix + name).c_str(), &st) != 0) {
      entries.push_back({name, EntryKind::Failed, "cannot read: " + Reason(errno)});
      continue;
    }
    const EntryKind kind = S_ISREG(st.st_mode)   ? EntryKind::File
                           : S_ISDIR(st.st_mode) ? EntryKind::Folder
                           : S_ISLNK(st.st_mode) ? EntryKind::Link
                                                 : EntryKind::Other;
    entries.push_back({name, kind, {}});
  }
  const int readError = errno;
  closedir(dir);
  if (readError != 0) error = "cannot read the folder: " + Reason(readError);
  return readError == 0;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {};
  struct stat sb {};
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

bool RemoveFile(const std::string& path, const FileStamp& stamp, std::string& error) {
  // Through a link, as the read went: the link is what is removed.
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    error = "cannot remove: " + Reason(errno);
    return false;
  }
  if (!Unchanged(stamp, StampOf(st))) {
    error = "changed after it was read; not removed";
    return false;
  }
  if (unlink(path.c_str()) == 0) return true;
  error = "cannot remove: " + Reason(errno);
  return false;
}

std::vector<std::string> FileKeys(const std::string& path) {
  std::vector<std::string> keys;
  auto idKey = [](const struct stat& st) {
    return "file " + std::to_string(st.st_dev) + " " + std::to_string(st.st_ino);
  };
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) keys.push_back(idKey(st));
  if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) keys.push_back(idKey(st));
  const std::size_t slash = path.find_last_of('/');
  const std::string base = path.substr(slash == std::string::npos ? 0 : slash + 1);
  if (!base.empty() && base != "." && base != ".." && stat(FolderOf(path).c_str(), &st) == 0) {
    keys.push_back("in " + std::to_string(st.st_dev) + " " + std::to_string(st.st_ino) + " " +
                   base);
  } else {
    keys.push_back("name " + path);
  }
  return keys;
}

OutputFile::~OutputFile() { Discard(); }

void OutputFile::Discard() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
  handle_ = -1;
  if (!tempName_.empty()) unlink(tempName_.c_str());
  UnregisterTempName(slot_);
  tempName_.clear();
}

bool OutputFile::Open(const std::string& target, const FileStamp& stamp, std::string& error) {
  Discard();
  target_ = target;
  const mode_t mode = StartMode(stamp);
  int fd =
      unnamedFiles ? open(FolderOf(target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode) : -1;
  if (fd < 0) {
    // No unnamed files here (an older kernel, or a file system without
    // them): a named one, known to the interrupt handler from the start.
    tempName_ = TempNameFor(target);
    slot_ = RegisterTempName(tempName_);
    fd = open(tempName_.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, mode);
    if (fd < 0) {
      error = "cannot create a file in '" + FolderOf(target) + "': " + Reason(errno);
      UnregisterTempName(slot_);
      tempName_.clear();
      return false;
    }
  }
  handle_ = fd;
  return true;
}

bool OutputFile::Write(const std::uint8_t* data, std::size_t size, std::string& error) const {
  return WriteAll(static_cast<int>(handle_), data, size, error);
}

bool OutputFile::Commit(const FileStamp& stamp, bool overwrite, std::string& error) {
  const int fd = static_cast<int>(handle_);
  // The owner before the mode: a change of owner can clear mode bits.
  if (stamp.known && !CopyOwner(fd, stamp)) {
    error = "cannot set the owner: " + Reason(errno);
    Discard();
    return false;
  }
  if (!stamp.known && fchmod(fd, createMode) != 0) {
    error = "cannot set the mode: " + Reason(errno);
    Discard();
    return false;
  }
  if (stamp.known) {
    const timespec times[2] = {{static_cast<time_t>(stamp.accessTime / 1000000000),
                                static_cast<long>(stamp.accessTime % 1000000000)},
                               {static_cast<time_t>(stamp.modifyTime / 1000000000),
                                static_cast<long>(stamp.modifyTime % 1000000000)}};
    if (fchmod(fd, static_cast<mode_t>(stamp.mode)) != 0 || futimens(fd, times) != 0) {
      error = "cannot set the mode and times: " + Reason(errno);
      Discard();
      return false;
    }
  }
  if (tempName_.empty()) {
    // Link the unnamed file in; an existing target makes that fail, and is
    // then replaced only through a named link and a rename.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target_.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      Discard();
      return true;
    }
    if (errno != EEXIST || !overwrite) {
      error = errno == EEXIST ? ExistsReason : "cannot create: " + Reason(errno);
      Discard();
      return false;
    }
    tempName_ = TempNameFor(target_);
    slot_ = RegisterTempName(tempName_);
    if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, tempName_.c_str(), AT_SYMLINK_FOLLOW) != 0) {
      error = "cannot create: " + Reason(errno);
      UnregisterTempName(slot_);
      tempName_.clear();
      Discard();
      return false;
    }
  }
  // The named file is closed before it is put in place: a network file
  // system may report a failed write only then.
  handle_ = -1;
  if (close(fd) != 0 && errno != EINTR) {
    error = "cannot write: " + Reason(errno);
    Discard();
    return false;
  }
  // The named file: renamed over the target, or, when the target must stay,
  // linked to it (which fails when it exists) and then unnamed in Discard.
  bool placed = false;
  if (!overwrite) {
    placed = link(tempName_.c_str(), target_.c_str()) == 0;
    if (!placed && errno == EEXIST) {
      error = ExistsReason;
      Discard();
      return false;
    }
    // A file system without hard links: rename, if the target is still absent.
    if (!placed && PathExists(target_)) {
      error = ExistsReason;
      Discard();
      return false;
    }
  }
  // A device, a FIFO or a socket at the target's name, or reached through a
  // link there, is never replaced, even with -f: as root, -o /dev/null would
  // otherwise become a plain file. A link to a regular file is replaced
  // itself, and the file it points to stays as it was.
  struct stat st {};
  if (!placed && stat(target_.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
    error = "is not a regular file; not replaced";
    Discard();
    return false;
  }
  if (!placed) {
    placed = rename(tempName_.c_str(), target_.c_str()) == 0;
    if (!placed) error = "cannot create: " + Reason(errno);
    if (placed) {
      UnregisterTempName(slot_);
      tempName_.clear();
    }
  }
  Discard();
  return placed;
}

unsigned CoreCount() {
  const unsigned count = std::thread::hardware_concurrency();
  return count == 0 ? 1 : count;
}

void RunWorkers(unsigned count, const std::function<void()>& work,
                const std::function<void()>& tick) {
  std::mutex mutex;
  std::condition_variable ended;
  unsigned running = count;
  std::vector<std::thread> threads;
  for (unsigned k = 0; k < count; ++k) {
    threads.emplace_back([&] {
      work();
      const std::lock_guard<std::mutex> lock(mutex);
      if (--running == 0) ended.notify_one();
    });
  }
  {
    std::unique_lock<std::mutex> lock(mutex);
    while (!ended.wait_for(lock, std::chrono::milliseconds(200), [&] { return running == 0; })) {
      lock.unlock();
      tick();
      lock.lock();
    }
  }
  for (auto& thread : threads) thread.join();
}

}  // namespace cli
