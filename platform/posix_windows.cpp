// The Windows operations the program calls, on POSIX. Each keeps the
// results the run relies on: the invalid-handle value or FALSE on failure,
// with a Windows error code as the last-error code.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <windows.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/hooks.hpp"
#include "platform/native.hpp"

namespace {

// What a FIFO, a socket or a device opened as a file gives: the program
// reads and writes regular files only.
constexpr DWORD ErrorNotSupported = 50;  // ERROR_NOT_SUPPORTED

DWORD lastError = NO_ERROR;
std::string processCommandLine;
bool haveCommandLine = false;

// The program holds two files at most; a few more slots cost nothing.
struct OpenFile {
  struct stat atOpen;  // for the sharing rule and to see a file changed while read
  std::string name;
  int fd;
  DWORD access;
  DWORD share;
  bool used;
  bool torn;  // a write failed or fell short
};
OpenFile files[8];

// The file last opened for writing, still known once its handle is closed:
// the only file DeleteFileA removes.
struct WrittenFile {
  bool known;
  dev_t device;
  ino_t inode;
};
WrittenFile lastWritten;

// The output this run has created or emptied and not yet written whole:
// what a signal that ends the run removes. Fixed storage, filled before the
// first byte is written, so that the handler reads it without allocating.
struct UnfinishedOutput {
  volatile sig_atomic_t pending;
  volatile sig_atomic_t fd;  // -1 once closed
  dev_t device;
  ino_t inode;
  char name[PATH_MAX];
};
UnfinishedOutput unfinished = {0, -1, 0, 0, {}};

// The signals on which the run removes its unfinished output and ends.
constexpr int EndingSignals[] = {SIGHUP, SIGINT, SIGTERM};

sigset_t EndingSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  for (const int number : EndingSignals) sigaddset(&set, number);
  return set;
}

// Holds off the ending signals while the record is brought up to date, so
// that a file created by open is known before a handler can look.
class EndingSignalsHeld {
 public:
  EndingSignalsHeld() {
    const sigset_t set = EndingSignalSet();
    sigprocmask(SIG_BLOCK, &set, &before_);
  }
  ~EndingSignalsHeld() { sigprocmask(SIG_SETMASK, &before_, nullptr); }
  EndingSignalsHeld(const EndingSignalsHeld&) = delete;
  EndingSignalsHeld& operator=(const EndingSignalsHeld&) = delete;

 private:
  sigset_t before_;
};

// Whether info, taken without following a link, is the regular file of that
// device and inode.
bool IsThatFile(const struct stat& info, dev_t device, ino_t inode) {
  return S_ISREG(info.st_mode) && info.st_dev == device && info.st_ino == inode;
}

// Empties and removes the unfinished output, as a failed write does, then
// ends the process by the same signal, so that its parent sees why (a shell
// shows 128 + the signal number). Only async-signal-safe calls.
extern "C" void EndOnSignal(int number) {
  if (unfinished.pending) {
    if (unfinished.fd >= 0) (void)ftruncate(unfinished.fd, 0);
    struct stat info;
    if (lstat(unfinished.name, &info) == 0 && IsThatFile(info, unfinished.device, unfinished.inode))
      (void)unlink(unfinished.name);
  }
  (void)signal(number, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, number);
  (void)sigprocmask(SIG_UNBLOCK, &set, nullptr);
  (void)kill(getpid(), number);  // delivered before kill returns
  _exit(128 + number);
}

// An ending signal that the process inherited as ignored (nohup, a
// background job) stays ignored.
void CatchEndingSignals() {
  struct sigaction action {};
  action.sa_handler = EndOnSignal;
  action.sa_mask = EndingSignalSet();
  for (const int number : EndingSignals) {
    struct sigaction inherited {};
    if (sigaction(number, nullptr, &inherited) == 0 && inherited.sa_handler != SIG_IGN)
      (void)sigaction(number, &action, nullptr);
  }
}

DWORD ErrorFromErrno(int error) {
  switch (error) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EROFS: return ERROR_WRITE_PROTECT;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case ENXIO:  // a FIFO without a reader, a socket, a device without a driver
    case ENODEV: return ErrorNotSupported;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case EFBIG: return ERROR_FILE_TOO_LARGE;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EBADF: return ERROR_INVALID_HANDLE;
    case EBUSY:
    case ETXTBSY:
    case EWOULDBLOCK:  // a lease held by a reader for a moment
      return ERROR_SHARING_VIOLATION;
    default: return ERROR_GEN_FAILURE;
  }
}

OpenFile* FileOf(HANDLE handle) {
  for (OpenFile& file : files) {
    if (&file == handle && file.used) return &file;
  }
  return nullptr;
}

// Two opens of one file must each allow what the other does, as on Windows.
bool SharingAllows(const struct stat& info, DWORD access, DWORD share) {
  for (const OpenFile& other : files) {
    if (!other.used || other.atOpen.st_dev != info.st_dev || other.atOpen.st_ino != info.st_ino)
      continue;
    const bool newDenied = ((access & GENERIC_READ) && !(other.share & FILE_SHARE_READ)) ||
                           ((access & GENERIC_WRITE) && !(other.share & FILE_SHARE_WRITE));
    const bool oldDenied = ((other.access & GENERIC_READ) && !(share & FILE_SHARE_READ)) ||
                           ((other.access & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE));
    if (newDenied || oldDenied) return false;
  }
  return true;
}

HANDLE Fail(DWORD error) {
  lastError = error;
  return INVALID_HANDLE_VALUE;
}

std::string Hex(DWORD value) {
  static const char digits[] = "0123456789abcdef";
  std::string text(8, '0');
  for (int k = 7; k >= 0; --k, value >>= 4) text[static_cast<std::size_t>(k)] = digits[value & 0xF];
  return text;
}

std::string NameOf(HANDLE handle) {
  const OpenFile* file = FileOf(handle);
  return file != nullptr ? file->name : "?";
}

// The start of a read or a write: no bytes moved yet, then the injected
// failure or the file of the handle; null (with the last error set) on failure.
const OpenFile* StartTransfer(fault::Op op, HANDLE handle, LPDWORD moved) {
  *moved = 0;
  DWORD injected = NO_ERROR;
  if (fault::ShouldFail(op, &injected)) {
    lastError = injected;
    return nullptr;
  }
  const OpenFile* file = FileOf(handle);
  if (file == nullptr) lastError = ERROR_INVALID_HANDLE;
  return file;
}

// Readers share a lock, a writer holds it alone; taken without waiting. A
// file system that keeps no locks leaves the file unlocked rather than
// unusable.
bool Lock(int fd, bool writing) {
  return flock(fd, (writing ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0 || errno != EWOULDBLOCK;
}

// Whether some process holds the file open for writing: a read lease is
// refused then. A lease is held for a moment only; a writer that opens the
// file in that moment waits for it, and the SIGIO sent meanwhile is ignored.
// Where no lease can be had (a file of another owner, a file system without
// leases), the times checked after the read are the only guard.
bool OpenForWriting(int fd) {
  if (fcntl(fd, F_SETLEASE, F_RDLCK) != 0) return errno == EAGAIN;
  (void)fcntl(fd, F_SETLEASE, F_UNLCK);  // or at the latest when fd is closed
  return false;
}

// Why the file just opened at fd cannot serve as asked, or NO_ERROR; info
// receives its state.
DWORD RefusalOf(int fd, DWORD access, DWORD share, DWORD disposition, struct stat& info) {
  const bool writing = (access & GENERIC_WRITE) != 0;
  if (!writing && OpenForWriting(fd)) return ERROR_SHARING_VIOLATION;
  if (fstat(fd, &info) != 0) return ErrorFromErrno(errno);
  if (S_ISDIR(info.st_mode)) return ERROR_ACCESS_DENIED;
  if (!S_ISREG(info.st_mode)) return ErrorNotSupported;
  if (!SharingAllows(info, access, share) || !Lock(fd, writing)) return ERROR_SHARING_VIOLATION;
  if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) return ErrorFromErrno(errno);
  if (disposition == CREATE_ALWAYS && ftruncate(fd, 0) != 0) return ErrorFromErrno(errno);
  return NO_ERROR;
}

bool SameTime(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

}  // namespace

void native::SetProcessArguments(int argc, const char* const* argv) {
  processCommandLine = BuildCommandLine(argc, argv);
  haveCommandLine = true;
  // A write past the file size limit or into a pipe nobody reads fails with
  // a code, and the run takes its ending, instead of the process dying; the
  // break of an input's lease needs no answer.
  (void)std::signal(SIGXFSZ, SIG_IGN);
  (void)std::signal(SIGPIPE, SIG_IGN);
  (void)std::signal(SIGIO, SIG_IGN);
  CatchEndingSignals();
}

LPSTR GetCommandLineA() {
  LPSTR line = nullptr;
  if (fault::OverridesCommandLine(&line)) return line;
  return haveCommandLine ? processCommandLine.data() : nullptr;
}

// Opens without blocking (a FIFO with no other end would wait forever) and
// takes only a regular file; the type is checked on the open descriptor, so
// nothing is read from or written to anything else. The lock makes other
// runs of the program keep the sharing rule too; an existing output is
// emptied only under its lock.
HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition,
                   DWORD flags, HANDLE) {
  fault::Record([&] {
    return "CreateFileA(" + std::string(name) + "," + Hex(access) + "," + Hex(share) + "," +
           Hex(disposition) + "," + Hex(flags) + ")";
  });
  DWORD injected = NO_ERROR;
  if (fault::ShouldFail(fault::Op::CreateFileA, &injected)) return Fail(injected);

  OpenFile* slot = nullptr;
  for (OpenFile& file : files) {
    if (!file.used) {
      slot = &file;
      break;
    }
  }
  if (slot == nullptr) return Fail(ERROR_TOO_MANY_OPEN_FILES);
  if (disposition != OPEN_EXISTING && disposition != CREATE_ALWAYS)
    return Fail(ERROR_INVALID_PARAMETER);

  const bool writing = (access & GENERIC_WRITE) != 0;
  if (writing && std::strlen(name) >= sizeof unfinished.name)
    return Fail(ERROR_FILENAME_EXCED_RANGE);
  const int mode = writing ? ((access & GENERIC_READ) ? O_RDWR : O_WRONLY) : O_RDONLY;
  const int create = disposition == CREATE_ALWAYS ? O_CREAT : 0;
  const EndingSignalsHeld held;
  const int fd = open(name, mode | create | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
  if (fd < 0) return Fail(ErrorFromErrno(errno));
  struct stat info {};
  const DWORD error = RefusalOf(fd, access, share, disposition, info);
  if (error != NO_ERROR) {
    close(fd);
    return Fail(error);
  }
  *slot = OpenFile{info, name, fd, access, share, true, false};
  if (writing) {
    lastWritten = WrittenFile{true, info.st_dev, info.st_ino};
    unfinished.fd = fd;
    unfinished.device = info.st_dev;
    unfinished.inode = info.st_ino;
    std::memcpy(unfinished.name, name, std::strlen(name) + 1);  // its length is checked above
    unfinished.pending = 1;
  }
  lastError = NO_ERROR;
  return slot;
}

DWORD GetFileSize(HANDLE handle, LPDWORD sizeHigh) {
  fault::Record([&] { return "GetFileSize(" + NameOf(handle) + ")"; });
  DWORD injected = NO_ERROR;
  const OpenFile* file = FileOf(handle);
  struct stat info {};
  if (fault::ShouldFail(fault::Op::GetFileSize, &injected)) {
    lastError = injected;
    return INVALID_FILE_SIZE;
  }
  if (file == nullptr || fstat(file->fd, &info) != 0) {
    lastError = file == nullptr ? ERROR_INVALID_HANDLE : ErrorFromErrno(errno);
    return INVALID_FILE_SIZE;
  }
  const auto size = static_cast<std::uint64_t>(info.st_size);
  if (sizeHigh != nullptr) *sizeHigh = static_cast<DWORD>(size >> 32);
  lastError = NO_ERROR;
  return static_cast<DWORD>(size);
}

BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED) {
  fault::Record([&] { return "ReadFile(" + NameOf(handle) + "," + std::to_string(toRead) + ")"; });
  const OpenFile* file = StartTransfer(fault::Op::ReadFile, handle, read);
  if (file == nullptr) return FALSE;
  // Like a Windows file read: everything asked for, unless the file ends.
  const DWORD limit = fault::ReadLimit(toRead);
  auto* bytes = static_cast<char*>(buffer);
  while (*read < limit) {
    const ssize_t n = ::read(file->fd, bytes + *read, limit - *read);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      lastError = ErrorFromErrno(errno);
      return FALSE;
    }
    if (n == 0) break;
    *read += static_cast<DWORD>(n);
  }
  // The lock binds only our own programs: a file that another program
  // rewrote meanwhile may have been read half old, half new.
  struct stat now {};
  if (fstat(file->fd, &now) != 0) {
    lastError = ErrorFromErrno(errno);
    return FALSE;
  }
  if (now.st_size != file->atOpen.st_size || !SameTime(now.st_mtim, file->atOpen.st_mtim) ||
      !SameTime(now.st_ctim, file->atOpen.st_ctim)) {
    lastError = ERROR_SHARING_VIOLATION;
    return FALSE;
  }
  lastError = NO_ERROR;
  return TRUE;
}

BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED) {
  fault::Record(
      [&] { return "WriteFile(" + NameOf(handle) + "," + std::to_string(toWrite) + ")"; });
  OpenFile* file = FileOf(handle);
  if (file != nullptr) file->torn = true;  // until every byte is written
  if (file != nullptr && file->fd == unfinished.fd) unfinished.pending = 1;
  // StartTransfer fails for a handle that names no file, too.
  if (StartTransfer(fault::Op::WriteFile, handle, written) == nullptr || file == nullptr)
    return FALSE;
  const DWORD limit = fault::WriteLimit(toWrite);
  const auto* bytes = static_cast<const char*>(buffer);
  while (*written < limit) {
    const ssize_t n = ::write(file->fd, bytes + *written, limit - *written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      lastError = n < 0 ? ErrorFromErrno(errno) : ERROR_WRITE_FAULT;
      return FALSE;
    }
    *written += static_cast<DWORD>(n);
  }
  file->torn = *written != toWrite;
  if (!file->torn && file->fd == unfinished.fd) unfinished.pending = 0;
  lastError = NO_ERROR;
  return TRUE;
}

// A file whose write failed is emptied before it is let go, so that no torn
// bytes survive, also where the name that is deleted afterwards is a link.
BOOL CloseHandle(HANDLE handle) {
  fault::Record([&] { return "CloseHandle(" + NameOf(handle) + ")"; });
  OpenFile* file = FileOf(handle);
  if (file == nullptr) {
    lastError = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  if (file->torn && ftruncate(file->fd, 0) != 0) lastError = ErrorFromErrno(errno);
  if (file->fd == unfinished.fd) unfinished.fd = -1;  // the name is still known
  const int result = close(file->fd);
  *file = OpenFile{};
  if (result != 0) {
    lastError = ErrorFromErrno(errno);
    return FALSE;
  }
  return TRUE;
}

// Removes a name only while it is the regular file last opened for writing:
// a device, a FIFO, a link, or a file that someone else has put at that name
// since, stays.
BOOL DeleteFileA(LPCSTR name) {
  fault::Record([&] { return "DeleteFileA(" + std::string(name) + ")"; });
  DWORD injected = NO_ERROR;
  if (fault::ShouldFail(fault::Op::DeleteFileA, &injected)) {
    lastError = injected;
    return FALSE;
  }
  struct stat info {};
  if (lstat(name, &info) != 0) {
    lastError = ErrorFromErrno(errno);
    return FALSE;
  }
  if (!lastWritten.known || !IsThatFile(info, lastWritten.device, lastWritten.inode)) {
    lastError = ERROR_ACCESS_DENIED;
    return FALSE;
  }
  if (unlink(name) != 0) {
    lastError = ErrorFromErrno(errno);
    return FALSE;
  }
  lastWritten = WrittenFile{};
  unfinished.pending = 0;
  return TRUE;
}

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) {
  fault::Record([&] { return "GlobalAlloc(" + Hex(flags) + "," + std::to_string(bytes) + ")"; });
  DWORD injected = NO_ERROR;
  if (fault::ShouldFail(fault::Op::GlobalAlloc, &injected)) {
    lastError = injected;
    return nullptr;
  }
  // Always zero-filled; the program asks for GMEM_ZEROINIT anyway.
  void* block = std::calloc(1, bytes);
  if (block == nullptr) lastError = ERROR_NOT_ENOUGH_MEMORY;
  return block;
}

HGLOBAL GlobalFree(HGLOBAL block) {
  fault::Record([&] { return std::string("GlobalFree"); });
  std::free(block);
  return nullptr;
}

DWORD GetLastError() { return lastError; }

void SetLastError(DWORD code) { lastError = code; }

// No tones here: a terminal has no speaker worth waking.
BOOL Beep(DWORD frequency, DWORD duration) {
  fault::Record(
      [&] { return "Beep(" + std::to_string(frequency) + "," + std::to_string(duration) + ")"; });
  return TRUE;
}

// The pause only separates the tones, so without tones there is nothing to
// wait for.
void Sleep(DWORD milliseconds) {
  fault::Record([&] { return "Sleep(" + std::to_string(milliseconds) + ")"; });
}

// Windows-1251 only, the one code page the program asks for. length -1
// takes the text with its ending zero; capacity 0 asks for the room needed.
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int length, LPWSTR wide,
                        int capacity) {
  fault::Record([&] {
    return "MultiByteToWideChar(" + std::to_string(codePage) + "," + Hex(flags) + "," +
           std::to_string(length) + "," + std::to_string(capacity) + ")";
  });
  if (codePage != 1251 || flags != 0 || text == nullptr || length < -1 || capacity < 0 ||
      (capacity > 0 && wide == nullptr)) {
    lastError = ERROR_INVALID_PARAMETER;
    return 0;
  }
  const std::size_t count = length == -1 ? std::strlen(text) + 1 : static_cast<std::size_t>(length);
  if (count == 0) {
    lastError = ERROR_INVALID_PARAMETER;
    return 0;
  }
  if (capacity == 0) return static_cast<int>(count);
  if (count > static_cast<std::size_t>(capacity)) {
    lastError = ERROR_INSUFFICIENT_BUFFER;
    return 0;
  }
  for (std::size_t k = 0; k < count; ++k) {
    wide[k] = native::Cp1251Unit(static_cast<unsigned char>(text[k]));
  }
  return static_cast<int>(count);
}

// A notice goes to standard error, caption first.
int MessageBoxW(HWND, LPCWSTR text, LPCWSTR caption, UINT type) {
  fault::Record([&] { return "MessageBoxW(" + Hex(type) + ")"; });
  const std::string shown =
      native::Utf16ToShown(caption) + "\n" + native::Utf16ToShown(text) + "\n";
  const char* p = shown.data();
  std::size_t left = shown.size();
  while (left > 0) {
    const ssize_t n = write(STDERR_FILENO, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return IDOK;
}

void ExitProcess(UINT exitCode) {
  fault::Record([&] { return "ExitProcess(" + std::to_string(exitCode) + ")"; });
  fault::OnExit();
  _exit(static_cast<int>(exitCode & 0xFF));
}
