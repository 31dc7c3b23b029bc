// The operating system calls of lzs on Windows. File names are 8-bit strings
// in the process code page, which the program's manifest sets to UTF-8.
// Files opened to read are shared for reading only: no other process can
// open them for writing meanwhile, and one that has them open for writing
// makes the open fail.
#include <windows.h>

#include <algorithm>
#include <climits>

#include "cli/os.hpp"
#include "cli/temp_names.hpp"

namespace cli::os {

const char* const FolderSeparators = "\\/";
const bool NamesIgnoreCase = true;

namespace {

// The most one ReadFile or WriteFile call moves.
constexpr DWORD Chunk = 1 << 20;

Error Last() { return static_cast<Error>(GetLastError()); }

HANDLE Handle(const File& file) { return reinterpret_cast<HANDLE>(file.Handle()); }

HANDLE StandardHandle(int stream) {
  static const DWORD handles[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  return GetStdHandle(handles[stream]);
}

BOOL WINAPI RemoveTempFiles(DWORD) {
  ForEachTempName([](const char* path) { DeleteFileA(path); });
  return FALSE;  // and let the default handler end the process
}

FILETIME ToFileTime(std::int64_t value) {
  const auto bits = static_cast<std::uint64_t>(value);
  return FILETIME{static_cast<DWORD>(bits), static_cast<DWORD>(bits >> 32)};
}

// The kind and stamp of an open handle; links is whether a link counts as
// one (a handle opened on the link itself).
Error Look(HANDLE file, bool links, Kind& kind, FileStamp& stamp) {
  stamp = FileStamp{};
  if (GetFileType(file) != FILE_TYPE_DISK) {
    kind = Kind::Other;
    return 0;
  }
  FILE_BASIC_INFO basic{};
  FILE_STANDARD_INFO standard{};
  if (!GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) ||
      !GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard)) {
    return Last();
  }
  // Which file it is; a handle the system cannot place on a volume (Wine's
  // standard input on a Unix file) has no number, and is told apart by its
  // size and times alone.
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileInformationByHandle(file, &info)) {
    stamp.device = info.dwVolumeSerialNumber;
    stamp.inode = static_cast<std::uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
  }
  const DWORD attributes = basic.FileAttributes;
  kind = links && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? Kind::Link
         : (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0            ? Kind::Folder
                                                                   : Kind::File;
  stamp.known = true;
  stamp.mode = attributes & FILE_ATTRIBUTE_READONLY;
  stamp.accessTime = basic.LastAccessTime.QuadPart;
  stamp.modifyTime = basic.LastWriteTime.QuadPart;
  stamp.changeTime = basic.ChangeTime.QuadPart;
  stamp.size = static_cast<std::uint64_t>(standard.EndOfFile.QuadPart);
  return 0;
}

Error WriteAll(HANDLE file, const void* data, std::size_t size) {
  const auto* at = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    DWORD written = 0;
    const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(size, Chunk));
    if (!WriteFile(file, at, ask, &written, nullptr)) return Last();
    if (written == 0) return ERROR_WRITE_FAULT;
    at += written;
    size -= written;
  }
  return 0;
}

// A console takes text as Unicode, so that any name shows right whatever
// its code page.
Error WriteConsoleText(HANDLE console, const std::string& text) {
  if (text.empty()) return 0;
  const int length = static_cast<int>(std::min<std::size_t>(text.size(), INT_MAX));
  const int units = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  if (units <= 0) return Last();
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide.data(), units);
  const wchar_t* at = wide.data();
  DWORD left = static_cast<DWORD>(units);
  while (left > 0) {
    DWORD written = 0;
    if (!WriteConsoleW(console, at, std::min<DWORD>(left, 8192), &written, nullptr)) return Last();
    if (written == 0) return ERROR_WRITE_FAULT;
    at += written;
    left -= written;
  }
  return 0;
}

}  // namespace

std::string ErrorText(Error error) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string reason = length != 0 ? std::string(text, length) : "error " + std::to_string(error);
  LocalFree(text);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                             reason.back() == '.' || reason.back() == ' ')) {
    reason.pop_back();
  }
  return reason;
}

bool IsExists(Error error) { return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS; }

Error File::Close() {
  const HANDLE file = reinterpret_cast<HANDLE>(handle_);
  handle_ = Invalid;
  if (file == INVALID_HANDLE_VALUE || !owned_) return 0;
  return CloseHandle(file) ? 0 : Last();
}

void Prepare() { SetConsoleCtrlHandler(RemoveTempFiles, TRUE); }

Error OpenRead(const std::string& path, File& file) {
  // A folder opens only with backup semantics; it is then refused by kind.
  const DWORD attributes = GetFileAttributesA(path.c_str());
  const bool folder =
      attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const HANDLE opened =
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                  FILE_FLAG_SEQUENTIAL_SCAN | (folder ? FILE_FLAG_BACKUP_SEMANTICS : 0), nullptr);
  if (opened == INVALID_HANDLE_VALUE) return Last();
  file = File(reinterpret_cast<std::intptr_t>(opened), true);
  return 0;
}

Error OpenStandardInput(File& file) {
  const HANDLE input = StandardHandle(0);
  file = File(reinterpret_cast<std::intptr_t>(input), false);
  if (GetFileType(input) != FILE_TYPE_DISK) return 0;
  // A file: opened anew, shared for reading only, as OpenRead opens one.
  const HANDLE opened = ReOpenFile(input, GENERIC_READ, FILE_SHARE_READ, FILE_FLAG_SEQUENTIAL_SCAN);
  // Refused while another process has it open for writing; where it cannot
  // be opened anew for other reasons (Wine's standard input on a Unix
  // file), it is read through the handle given, without that guard.
  if (opened == INVALID_HANDLE_VALUE) {
    const Error error = Last();
    return error == ERROR_SHARING_VIOLATION ? error : 0;
  }
  File reopened(reinterpret_cast<std::intptr_t>(opened), true);
  LARGE_INTEGER at{};
  if (!SetFilePointerEx(input, LARGE_INTEGER{}, &at, FILE_CURRENT) ||
      !SetFilePointerEx(opened, at, nullptr, FILE_BEGIN)) {
    return 0;  // read through the handle given
  }
  file = static_cast<File&&>(reopened);
  return 0;
}

File StandardOutput() { return File(reinterpret_cast<std::intptr_t>(StandardHandle(1)), false); }

Error KindAndStamp(const File& file, Kind& kind, FileStamp& stamp) {
  return Look(Handle(file), false, kind, stamp);
}

Error KindAndStamp(const std::string& path, bool followLinks, Kind& kind, FileStamp& stamp) {
  const HANDLE file = CreateFileA(
      path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT),
      nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    kind = Kind::Missing;
    return Last();
  }
  const Error error = Look(file, !followLinks, kind, stamp);
  CloseHandle(file);
  return error;
}

int DescriptorOf(const std::string& /*path*/) { return NoDescriptor; }

Error OpenThrough(const std::string& /*path*/, int /*descriptor*/, File& /*file*/) {
  return ERROR_NOT_SUPPORTED;
}

const char* SystemFolderOf(const std::string& /*path*/) { return nullptr; }

Error Position(const File& file, std::uint64_t& offset) {
  LARGE_INTEGER at{};
  if (!SetFilePointerEx(Handle(file), LARGE_INTEGER{}, &at, FILE_CURRENT)) return Last();
  offset = static_cast<std::uint64_t>(at.QuadPart);
  return 0;
}

Error Seek(const File& file, std::uint64_t offset) {
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(Handle(file), at, nullptr, FILE_BEGIN) ? 0 : Last();
}

bool WritesAt(const File& file, std::uint64_t& offset) {
  return GetFileType(Handle(file)) == FILE_TYPE_DISK && Position(file, offset) == 0;
}

Error Read(const File& file, void* data, std::size_t size, std::size_t& got) {
  DWORD count = 0;
  got = 0;
  if (ReadFile(Handle(file), data, static_cast<DWORD>(std::min<std::size_t>(size, Chunk)), &count,
               nullptr)) {
    got = count;
    return 0;
  }
  // A pipe whose writer has gone has simply ended.
  return GetLastError() == ERROR_BROKEN_PIPE ? 0 : Last();
}

Error Write(const File& file, const void* data, std::size_t size) {
  return WriteAll(Handle(file), data, size);
}

Lease TakeReadLease(const File& file) { return file.Owned() ? Lease::Held : Lease::None; }

bool DropReadLease(const File& /*file*/) { return true; }

Error CreateUnnamed(const std::string& /*folder*/, std::uint32_t /*mode*/, File& /*file*/) {
  return ERROR_NOT_SUPPORTED;
}

Error CreateNew(const std::string& path, std::uint32_t /*mode*/, File& file) {
  // Shared for deletion: Ctrl-C deletes it while it is open.
  const HANDLE created = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                     CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (created == INVALID_HANDLE_VALUE) return Last();
  file = File(reinterpret_cast<std::intptr_t>(created), true);
  return 0;
}

Error CreateScratch(File& file) {
  char folder[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathA(sizeof folder, folder);
  if (length == 0 || length > MAX_PATH) return Last();
  for (unsigned k = 0;; ++k) {
    const std::string path = std::string(folder) + "lzs-scratch-" +
                             std::to_string(GetCurrentProcessId()) + "-" + std::to_string(k) +
                             ".tmp";
    // Deleted when its handle closes, also when the process is ended.
    const HANDLE created =
        CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                    CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (created != INVALID_HANDLE_VALUE) {
      file = File(reinterpret_cast<std::intptr_t>(created), true);
      return 0;
    }
    if (GetLastError() != ERROR_FILE_EXISTS || k == 100) return Last();
  }
}

Error SetOwner(const File& /*file*/, const FileStamp& /*stamp*/) { return 0; }

Error SetMode(const File& /*file*/, const FileStamp& /*stamp*/) { return 0; }

Error SetTimes(const File& file, const FileStamp& stamp) {
  const FILETIME access = ToFileTime(stamp.accessTime);
  const FILETIME modify = ToFileTime(stamp.modifyTime);
  return SetFileTime(Handle(file), nullptr, &access, &modify) ? 0 : Last();
}

Error NameUnnamed(const File& /*file*/, const std::string& /*path*/) { return ERROR_NOT_SUPPORTED; }

Error PlaceNew(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), 0) ? 0 : Last();
}

Error Replace(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : Last();
}

void Placed(const std::string& path, const FileStamp& stamp) {
  // Only now: a read-only file could not be replaced or deleted on failure.
  if (stamp.known && stamp.mode != 0) SetFileAttributesA(path.c_str(), stamp.mode);
}

Error Remove(const std::string& path) { return DeleteFileA(path.c_str()) ? 0 : Last(); }

Error ListFolder(const std::string& folder, std::vector<Entry>& entries) {
  WIN32_FIND_DATAA found{};
  const HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return Last();
  do {
    const std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    const DWORD attributes = found.dwFileAttributes;
    const Kind kind = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? Kind::Link
                      : (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0   ? Kind::Folder
                                                                       : Kind::File;
    entries.push_back({name, kind, 0, FileStamp{}});
  } while (FindNextFileA(search, &found));
  const Error error = Last();
  FindClose(search);
  return error == ERROR_NO_MORE_FILES ? 0 : error;
}

unsigned ProcessId() { return GetCurrentProcessId(); }

unsigned CoreCount() {
  SYSTEM_INFO info{};
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors == 0 ? 1 : info.dwNumberOfProcessors;
}

bool IsTerminal(int stream) {
  DWORD mode = 0;
  return stream >= 0 && stream <= 2 && GetConsoleMode(StandardHandle(stream), &mode) != 0;
}

Error WriteText(int stream, const std::string& text) {
  if (IsTerminal(stream)) return WriteConsoleText(StandardHandle(stream), text);
  std::string lines;
  lines.reserve(text.size() + text.size() / 16);
  for (const char c : text) {
    if (c == '\n') lines += '\r';
    lines += c;
  }
  return WriteAll(StandardHandle(stream), lines.data(), lines.size());
}

Error CloseStandardOutput() { return 0; }

bool StartThread(const ThreadStart& start, std::intptr_t& thread) {
  auto run = [](LPVOID given) -> DWORD {
    const auto* what = static_cast<const ThreadStart*>(given);
    what->body(what->argument);
    return 0;
  };
  const HANDLE created =
      CreateThread(nullptr, 0, run, const_cast<ThreadStart*>(&start), 0, nullptr);
  if (created == nullptr) return false;
  thread = reinterpret_cast<std::intptr_t>(created);
  return true;
}

bool WaitThreads(std::vector<std::intptr_t>& threads, unsigned milliseconds) {
  HANDLE handles[MAXIMUM_WAIT_OBJECTS];
  const DWORD count =
      static_cast<DWORD>(std::min<std::size_t>(threads.size(), MAXIMUM_WAIT_OBJECTS));
  for (DWORD k = 0; k < count; ++k) handles[k] = reinterpret_cast<HANDLE>(threads[k]);
  const DWORD waited = WaitForMultipleObjects(count, handles, TRUE, milliseconds);
  if (waited == WAIT_TIMEOUT) return false;
  for (const std::intptr_t thread : threads) {
    if (waited == WAIT_FAILED) WaitForSingleObject(reinterpret_cast<HANDLE>(thread), INFINITE);
    CloseHandle(reinterpret_cast<HANDLE>(thread));
  }
  threads.clear();
  return true;
}

void Pause() { Sleep(1); }

}  // namespace cli::os
