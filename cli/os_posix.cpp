// The operating system calls of lzs on Linux and other POSIX systems.
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <system_error>
#include <thread>

#include "cli/os.hpp"
#include "cli/paths.hpp"
#include "cli/temp_names.hpp"

namespace cli::os {

const char* const FolderSeparators = "/";
const bool NamesIgnoreCase = false;

namespace {

mode_t createMode = 0666;
bool unnamedFiles = false;

// The signals that end the tool: each removes the named temporary files
// first. SIGXFSZ is ignored instead, so that a file over the size limit
// fails its own write (EFBIG) and the batch goes on.
constexpr int HandledSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGXCPU};

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
  // The break of a lease on an input needs no answer: the read checks for it.
  std::signal(SIGIO, SIG_IGN);
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

Error Last() { return static_cast<Error>(errno); }

int Fd(const File& file) { return static_cast<int>(file.Handle()); }

std::int64_t Nanoseconds(const timespec& time) {
  return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

timespec Timespec(std::int64_t nanoseconds) {
  return {static_cast<time_t>(nanoseconds / 1000000000),
          static_cast<long>(nanoseconds % 1000000000)};
}

Kind KindOf(mode_t mode) {
  return S_ISREG(mode)   ? Kind::File
         : S_ISDIR(mode) ? Kind::Folder
         : S_ISLNK(mode) ? Kind::Link
                         : Kind::Other;
}

FileStamp StampOf(const struct stat& st) {
  FileStamp stamp;
  stamp.known = true;
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

Error Retrying(ssize_t (*call)(int, void*, size_t), int fd, void* data, std::size_t size,
               std::size_t& got) {
  for (;;) {
    const ssize_t n = call(fd, data, size);
    if (n >= 0) {
      got = static_cast<std::size_t>(n);
      return 0;
    }
    if (errno != EINTR) return Last();
  }
}

// The folder's path with every link followed, or "" when it cannot be
// found.
std::string RealFolder(const std::string& folder) {
  char* real = realpath(folder.c_str(), nullptr);
  if (real == nullptr) return "";
  std::string path = real;
  std::free(real);
  return path;
}

// Skips the digits at text[at...]; false when there is none.
bool SkipNumber(const std::string& text, std::size_t& at) {
  const std::size_t start = at;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
  return at > start;
}

// Whether a real path is a process's folder of descriptors, /proc/PID/fd
// or /proc/PID/task/TID/fd; pid gets PID.
bool IsDescriptorFolder(const std::string& folder, unsigned long& pid) {
  const std::string proc = "/proc/";
  std::size_t at = proc.size();
  if (folder.compare(0, at, proc) != 0 || !SkipNumber(folder, at)) return false;
  pid = std::strtoul(folder.c_str() + proc.size(), nullptr, 10);
  const std::string task = "/task/";
  if (folder.compare(at, task.size(), task) == 0) {
    at += task.size();
    if (!SkipNumber(folder, at)) return false;
  }
  return folder.compare(at, std::string::npos, "/fd") == 0;
}

Error WriteAll(int fd, const void* data, std::size_t size) {
  const auto* at = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    const ssize_t n = write(fd, at, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Last();
    at += n;
    size -= static_cast<std::size_t>(n);
  }
  return 0;
}

}  // namespace

std::string ErrorText(Error error) {
  return std::generic_category().message(static_cast<int>(error));
}

bool IsExists(Error error) { return error == EEXIST; }

Error File::Close() {
  const int fd = static_cast<int>(handle_);
  handle_ = Invalid;
  if (fd < 0 || !owned_) return 0;
  // After EINTR the descriptor is closed all the same (Linux).
  return close(fd) == 0 || errno == EINTR ? 0 : Last();
}

void Prepare() {
  OpenStandardDescriptors();
  const mode_t mask = umask(0);
  umask(mask);
  createMode = 0666 & ~mask;
  unnamedFiles = access("/proc/self/fd", X_OK) == 0;
  HandleSignals();
}

Error OpenRead(const std::string& path, File& file) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return Last();
  file = File(fd, true);
  return 0;
}

Error OpenStandardInput(File& file) {
  file = File(STDIN_FILENO, false);
  return 0;
}

File StandardOutput() { return File(STDOUT_FILENO, false); }

Error KindAndStamp(const File& file, Kind& kind, FileStamp& stamp) {
  struct stat st {};
  if (fstat(Fd(file), &st) != 0) return Last();
  kind = KindOf(st.st_mode);
  stamp = StampOf(st);
  return 0;
}

Error KindAndStamp(const std::string& path, bool followLinks, Kind& kind, FileStamp& stamp) {
  struct stat st {};
  if ((followLinks ? stat(path.c_str(), &st) : lstat(path.c_str(), &st)) != 0) {
    kind = Kind::Missing;
    return Last();
  }
  kind = KindOf(st.st_mode);
  stamp = StampOf(st);
  return 0;
}

int DescriptorOf(const std::string& path) {
  // Each link on the way is followed by hand, as far as the kernel's own
  // links in /proc/PID/fd, which lead to a descriptor, not to a name. Every
  // name on the way is a link, the last one too: one that is none, or is
  // missing (a closed descriptor's too), ends the look at once.
  constexpr int MostLinks = 40;
  std::string at = path;
  for (int link = 0; link < MostLinks; ++link) {
    struct stat st {};
    if (lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return NoDescriptor;
    const std::string folder = RealFolder(FolderOf(at));
    const std::string base = BaseName(at);
    if (folder.empty() || base.empty() || base == "." || base == "..") return NoDescriptor;
    unsigned long pid = 0;
    if (IsDescriptorFolder(folder, pid)) {
      std::size_t digits = 0;
      if (!SkipNumber(base, digits) || digits != base.size()) return NoDescriptor;
      if (pid != static_cast<unsigned long>(getpid())) return OtherDescriptor;
      const unsigned long number = std::strtoul(base.c_str(), nullptr, 10);
      return number <= INT_MAX ? static_cast<int>(number) : NoDescriptor;
    }
    std::string target(static_cast<std::size_t>(PATH_MAX), '\0');
    const ssize_t length = readlink(at.c_str(), target.data(), target.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) return NoDescriptor;
    target.resize(static_cast<std::size_t>(length));
    at = target[0] == '/' ? target : JoinPath(folder, target);
  }
  return NoDescriptor;
}

Error OpenThrough(const std::string& path, int descriptor, File& file) {
  if (descriptor >= 0) {
    if (fcntl(descriptor, F_GETFD) == -1) return Last();
    file = File(descriptor, false);
    return 0;
  }
  // Another process's: a new opening of what it has, added to (a regular
  // file is not written over from its start) and never waited on.
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return Last();
  file = File(fd, true);
  const int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0 ? 0 : Last();
}

const char* SystemFolderOf(const std::string& path) {
  const std::string folder = RealFolder(FolderOf(path));
  for (const char* system : {"/dev", "/proc"}) {
    const std::size_t size = std::strlen(system);
    if (folder.compare(0, size, system) == 0 && (folder.size() == size || folder[size] == '/')) {
      return system;
    }
  }
  return nullptr;
}

Error Position(const File& file, std::uint64_t& offset) {
  const off_t at = lseek(Fd(file), 0, SEEK_CUR);
  if (at < 0) return Last();
  offset = static_cast<std::uint64_t>(at);
  return 0;
}

Error Seek(const File& file, std::uint64_t offset) {
  return lseek(Fd(file), static_cast<off_t>(offset), SEEK_SET) < 0 ? Last() : 0;
}

bool WritesAt(const File& file, std::uint64_t& offset) {
  struct stat st {};
  const int flags = fcntl(Fd(file), F_GETFL);
  return fstat(Fd(file), &st) == 0 && S_ISREG(st.st_mode) && flags >= 0 &&
         (flags & O_APPEND) == 0 && Position(file, offset) == 0;
}

Error Read(const File& file, void* data, std::size_t size, std::size_t& got) {
  return Retrying(read, Fd(file), data, size, got);
}

Error Write(const File& file, const void* data, std::size_t size) {
  return WriteAll(Fd(file), data, size);
}

Lease TakeReadLease(const File& file) {
  // A read lease needs a descriptor open for reading only (standard input
  // may be open for both); where none is granted (a file of another
  // owner, a file system without leases), the size and times compared
  // after the read are the guard.
  const int flags = fcntl(Fd(file), F_GETFL);
  if (flags < 0 || (flags & O_ACCMODE) != O_RDONLY) return Lease::None;
  if (fcntl(Fd(file), F_SETLEASE, F_RDLCK) == 0) return Lease::Held;
  return errno == EAGAIN ? Lease::Refused : Lease::None;
}

bool DropReadLease(const File& file) {
  const bool kept = fcntl(Fd(file), F_GETLEASE) == F_RDLCK;
  (void)fcntl(Fd(file), F_SETLEASE, F_UNLCK);
  return kept;
}

Error CreateUnnamed(const std::string& folder, std::uint32_t mode, File& file) {
  if (!unnamedFiles) return ENOTSUP;
  const int fd = open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, static_cast<mode_t>(mode));
  if (fd < 0) return Last();
  file = File(fd, true);
  return 0;
}

Error CreateNew(const std::string& path, std::uint32_t mode, File& file) {
  const int fd =
      open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, static_cast<mode_t>(mode));
  if (fd < 0) return Last();
  file = File(fd, true);
  return 0;
}

Error CreateScratch(File& file) {
  const char* tmp = std::getenv("TMPDIR");
  const std::string folder = tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp";
  int fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  // Where the file system has no unnamed files: a new name, removed at
  // once; the file lives on while it is open.
  for (unsigned k = 0; fd < 0 && k < 100; ++k) {
    const std::string path = JoinPath(
        folder, ".lzs-scratch-" + std::to_string(getpid()) + "-" + std::to_string(k) + ".tmp");
    fd = open(path.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) (void)unlink(path.c_str());
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) return Last();
  file = File(fd, true);
  return 0;
}

Error SetOwner(const File& file, const FileStamp& stamp) {
  // As root, as with gzip. A user who may not give a file away keeps it,
  // with the input's group where that is allowed.
  if (fchown(Fd(file), stamp.owner, stamp.group) == 0) return 0;
  if (errno == EPERM && fchown(Fd(file), static_cast<uid_t>(-1), stamp.group) == 0) return 0;
  return errno == EPERM || errno == EINVAL ? 0 : Last();
}

Error SetMode(const File& file, const FileStamp& stamp) {
  const mode_t mode = stamp.known ? static_cast<mode_t>(stamp.mode) : createMode;
  return fchmod(Fd(file), mode) == 0 ? 0 : Last();
}

Error SetTimes(const File& file, const FileStamp& stamp) {
  const timespec times[2] = {Timespec(stamp.accessTime), Timespec(stamp.modifyTime)};
  return futimens(Fd(file), times) == 0 ? 0 : Last();
}

Error NameUnnamed(const File& file, const std::string& path) {
  const std::string self = "/proc/self/fd/" + std::to_string(Fd(file));
  return linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0 ? 0
                                                                                        : Last();
}

Error PlaceNew(const std::string& from, const std::string& to) {
  if (link(from.c_str(), to.c_str()) != 0) return Last();
  (void)unlink(from.c_str());
  return 0;
}

Error Replace(const std::string& from, const std::string& to) {
  return rename(from.c_str(), to.c_str()) == 0 ? 0 : Last();
}

void Placed(const std::string& /*path*/, const FileStamp& /*stamp*/) {}

Error Remove(const std::string& path) { return unlink(path.c_str()) == 0 ? 0 : Last(); }

Error ListFolder(const std::string& folder, std::vector<Entry>& entries) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return Last();
  const std::string prefix = folder + "/";
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir);
    if (entry == nullptr) break;
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    const bool looked = lstat((prefix + name).c_str(), &st) == 0;
    entries.push_back({name, looked ? KindOf(st.st_mode) : Kind::Missing, looked ? 0 : Last(),
                       looked ? StampOf(st) : FileStamp{}});
  }
  const Error error = Last();
  closedir(dir);
  return error;
}

unsigned ProcessId() { return static_cast<unsigned>(getpid()); }

unsigned CoreCount() {
  const unsigned count = std::thread::hardware_concurrency();
  return count == 0 ? 1 : count;
}

bool IsTerminal(int stream) { return isatty(stream) == 1; }

Error WriteText(int stream, const std::string& text) {
  return WriteAll(stream, text.data(), text.size());
}

Error CloseStandardOutput() { return close(STDOUT_FILENO) == 0 || errno == EINTR ? 0 : Last(); }

bool StartThread(const ThreadStart& start, std::intptr_t& thread) {
  auto run = [](void* given) -> void* {
    const auto* what = static_cast<const ThreadStart*>(given);
    what->body(what->argument);
    return nullptr;
  };
  pthread_t id{};
  if (pthread_create(&id, nullptr, run, const_cast<ThreadStart*>(&start)) != 0) return false;
  thread = static_cast<std::intptr_t>(id);
  return true;
}

bool WaitThreads(std::vector<std::intptr_t>& threads, unsigned milliseconds) {
  timespec deadline{};
  clock_gettime(CLOCK_REALTIME, &deadline);
  const long nanoseconds = deadline.tv_nsec + static_cast<long>(milliseconds % 1000) * 1000000;
  deadline.tv_sec += milliseconds / 1000 + nanoseconds / 1000000000;
  deadline.tv_nsec = nanoseconds % 1000000000;
  while (!threads.empty()) {
    const auto id = static_cast<pthread_t>(threads.back());
    if (pthread_timedjoin_np(id, nullptr, &deadline) != 0) return false;
    threads.pop_back();
  }
  return true;
}

void Pause() {
  const timespec millisecond{0, 1000000};
  nanosleep(&millisecond, nullptr);
}

}  // namespace cli::os
