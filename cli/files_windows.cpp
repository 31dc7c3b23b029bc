// The file handling of lzs on Windows. File names are 8-bit strings in the
// process code page, which the program's manifest sets to UTF-8. An output
// is a named temporary file beside the target, opened so that it can be
// deleted while open: Ctrl-C deletes it, and a failure removes it before it
// is ever renamed into place.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/files.hpp"
#include "cli/temp_names.hpp"

namespace cli {

const char* const FolderSeparators = "\\/";

namespace {

constexpr DWORD Chunk = 1 << 20;

std::atomic<unsigned> tempCounter{0};

std::string Reason(DWORD code) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string reason = length != 0 ? std::string(text, length) : "error " + std::to_string(code);
  LocalFree(text);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                             reason.back() == '.' || reason.back() == ' ')) {
    reason.pop_back();
  }
  return reason;
}

BOOL WINAPI RemoveTempFiles(DWORD) {
  ForEachTempName([](const char* path) { DeleteFileA(path); });
  return FALSE;  // and let the default handler end the process
}

std::size_t LastSeparator(const std::string& path) { return path.find_last_of(FolderSeparators); }

std::string TempNameFor(const std::string& target) {
  const std::size_t separator = LastSeparator(target);
  const std::string folder = separator == std::string::npos ? "." : target.substr(0, separator);
  const std::string base =
      target.substr(separator == std::string::npos ? 0 : separator + 1).substr(0, 200);
  return folder + "\\." + base + "." + std::to_string(GetCurrentProcessId()) + "-" +
         std::to_string(tempCounter.fetch_add(1)) + ".tmp";
}

std::int64_t FileTimeValue(const FILETIME& time) {
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(time.dwHighDateTime) << 32 |
                                   time.dwLowDateTime);
}

FILETIME ToFileTime(std::int64_t value) {
  const auto bits = static_cast<std::uint64_t>(value);
  return FILETIME{static_cast<DWORD>(bits), static_cast<DWORD>(bits >> 32)};
}

std::uint64_t FileIndex(const BY_HANDLE_FILE_INFORMATION& info) {
  return static_cast<std::uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
}

std::uint64_t FileSize(const BY_HANDLE_FILE_INFORMATION& info) {
  return static_cast<std::uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
}

// Which file an open handle is, its size and times.
struct FileState {
  BY_HANDLE_FILE_INFORMATION info;
  std::int64_t changeTime;
};

bool GetState(HANDLE file, FileState& state) {
  FILE_BASIC_INFO basic{};
  if (!GetFileInformationByHandle(file, &state.info) ||
      !GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)) {
    return false;
  }
  state.changeTime = basic.ChangeTime.QuadPart;
  return true;
}

// What the file layer keeps of a file's state; the mode comes from the
// file's attributes.
FileStamp StampOf(const FileState& state) {
  FileStamp stamp;
  stamp.accessTime = FileTimeValue(state.info.ftLastAccessTime);
  stamp.modifyTime = FileTimeValue(state.info.ftLastWriteTime);
  stamp.changeTime = state.changeTime;
  stamp.device = state.info.dwVolumeSerialNumber;
  stamp.inode = FileIndex(state.info);
  stamp.size = FileSize(state.info);
  return stamp;
}

bool ReadChunk(HANDLE file, std::uint8_t* at, std::size_t room, DWORD& count, std::string& error) {
  const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(Chunk, room));
  if (ReadFile(file, at, ask, &count, nullptr)) return true;
  error = "cannot read: " + Reason(GetLastError());
  return false;
}

// Reads the rest of an open file, of size bytes when it was looked at, whose
// first count bytes (its header) are already in head, and tells how many
// bytes it read in all.
using ReadBody = std::function<bool(HANDLE file, const std::uint8_t* head, DWORD count,
                                    std::uint64_t size, std::uint64_t& got, std::string& error)>;

// The checks of a file about to be read, and the read, to its end: state
// receives the file's state before the read, which must still hold after it.
bool ReadOpenFile(HANDLE file, const ReadRule& rule, const ReadBody& body, FileState& state,
                  std::string& error) {
  if (GetFileType(file) != FILE_TYPE_DISK) {
    error = "is not a regular file";
    return false;
  }
  if (!GetState(file, state)) {
    error = "cannot read: " + Reason(GetLastError());
    return false;
  }
  const std::uint64_t size = FileSize(state.info);
  if (size > rule.limit) {
    error = TooLargeReason(rule);
    return false;
  }
  std::uint8_t head[LZS_HEADER_SIZE] = {};
  DWORD count = 0;
  if (rule.image && size > LZS_HEADER_SIZE) {
    if (!ReadChunk(file, head, LZS_HEADER_SIZE, count, error)) return false;
    if (count != LZS_HEADER_SIZE || !HeaderFits(head, size)) {
      error = HeaderReason;
      return false;
    }
  }
  std::uint64_t done = 0;
  if (!body(file, head, count, size, done, error)) return false;
  FileState after{};
  if (!GetState(file, after)) {
    error = "cannot read: " + Reason(GetLastError());
    return false;
  }
  if (done != size || !Unchanged(StampOf(state), StampOf(after))) {
    error = "changed while it was read; not used";
    return false;
  }
  return true;
}

DWORD WINAPI RunWork(LPVOID work) {
  (*static_cast<const std::function<void()>*>(work))();
  return 0;
}

}  // namespace

void PrepareFiles(bool dataToStdout) {
  _setmode(_fileno(stdin), _O_BINARY);
  if (dataToStdout) _setmode(_fileno(stdout), _O_BINARY);
  SetConsoleCtrlHandler(RemoveTempFiles, TRUE);
}

namespace {

// Opens an input to read, shared for reading only: no other process can open
// it for writing meanwhile, and one that has it open for writing makes this
// open fail. Gives its attributes too; INVALID_HANDLE_VALUE, and why, when
// it cannot be read.
HANDLE OpenInput(const std::string& path, DWORD& attributes, std::string& error) {
  attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    error = "is a folder (use -r to go into folders)";
    return INVALID_HANDLE_VALUE;
  }
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) error = "cannot open: " + Reason(GetLastError());
  return file;
}

}  // namespace

bool ReadInputFile(const std::string& path, const ReadRule& rule, Bytes& data, FileStamp& stamp,
                   std::string& error) {
  DWORD attributes = 0;
  const HANDLE file = OpenInput(path, attributes, error);
  if (file == INVALID_HANDLE_VALUE) return false;
  FileState before{};
  const bool ok = ReadOpenFile(
      file, rule,
      [&](HANDLE from, const std::uint8_t* head, DWORD count, std::uint64_t size,
          std::uint64_t& got, std::string& why) {
        // Read to the end, past the size seen at the start if the file grew.
        data.resize(static_cast<std::size_t>(size) + 1);
        std::copy(head, head + count, data.begin());
        std::size_t done = count;
        for (;;) {
          if (done == data.size()) data.resize(done + Chunk);
          if (!ReadChunk(from, data.data() + done, data.size() - done, count, why)) return false;
          if (count == 0) break;
          done += count;
          if (done > rule.limit) {
            why = TooLargeReason(rule);
            return false;
          }
        }
        data.resize(done);
        got = done;
        return true;
      },
      before, error);
  CloseHandle(file);
  stamp = StampOf(before);
  stamp.known = ok;
  stamp.mode = attributes & FILE_ATTRIBUTE_READONLY;
  return ok;
}

bool ReadInputFileInPieces(const std::string& path, const ReadRule& rule, FileStamp& stamp,
                           const TakePiece& take, std::string& error) {
  DWORD attributes = 0;
  const HANDLE file = OpenInput(path, attributes, error);
  if (file == INVALID_HANDLE_VALUE) return false;
  FileState before{};
  const bool ok = ReadOpenFile(
      file, rule,
      [&](HANDLE from, const std::uint8_t* head, DWORD count, std::uint64_t, std::uint64_t& got,
          std::string& why) {
        // The pieces' taker may want the stamp, to make the output.
        stamp = StampOf(before);
        stamp.known = true;
        stamp.mode = attributes & FILE_ATTRIBUTE_READONLY;
        got = count;
        if (count != 0 && !take(head, count, why)) return false;
        std::vector<std::uint8_t> piece(PieceSize);
        for (;;) {
          DWORD n = 0;
          if (!ReadChunk(from, piece.data(), piece.size(), n, why)) return false;
          if (n == 0) return true;
          got += n;
          if (!take(piece.data(), n, why)) return false;
        }
      },
      before, error);
  CloseHandle(file);
  stamp = StampOf(before);
  stamp.known = ok;
  stamp.mode = attributes & FILE_ATTRIBUTE_READONLY;
  return ok;
}

bool ReadStandardInputInPieces(const TakePiece& take, std::string& error) {
  std::vector<std::uint8_t> piece(PieceSize);
  for (;;) {
    const int n = _read(0, piece.data(), static_cast<unsigned>(piece.size()));
    if (n < 0) {
      error = "cannot read: " + Reason(GetLastError());
      return false;
    }
    if (n == 0) return true;
    if (!take(piece.data(), static_cast<std::size_t>(n), error)) return false;
  }
}

std::uint64_t InputFileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return 0;
  }
  return std::uint64_t{data.nFileSizeHigh} << 32 | data.nFileSizeLow;
}

bool ReadStandardInput(const ReadRule& rule, Bytes& data, std::string& error) {
  data.clear();
  std::vector<std::uint8_t> buffer(Chunk);
  for (;;) {
    const int n = _read(0, buffer.data(), Chunk);
    if (n < 0) {
      error = "cannot read: " + Reason(GetLastError());
      return false;
    }
    if (n == 0) return true;
    data.insert(data.end(), buffer.begin(), buffer.begin() + n);
    if (data.size() > rule.limit) {
      error = TooLargeReason(rule);
      return false;
    }
  }
}

bool WriteStandardOutput(const std::uint8_t* data, std::size_t size, std::string& error) {
  while (size > 0) {
    const int n = _write(1, data, static_cast<unsigned>(std::min<std::size_t>(size, Chunk)));
    if (n <= 0) {
      error = "cannot write: " + Reason(GetLastError());
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// A console, not any character device: _isatty holds NUL for a terminal too.
bool IsTerminal(int stream) {
  static const DWORD handles[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  DWORD mode = 0;
  return stream >= 0 && stream <= 2 && GetConsoleMode(GetStdHandle(handles[stream]), &mode) != 0;
}

namespace {

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return GetConsoleMode(handle, &mode) != 0;
}

// Windows names hold no * or ?: an argument that does is a pattern.
bool IsPattern(const std::string& argument) {
  return argument.find_first_of("*?") != std::string::npos;
}

// Case-blind first (as the system compares names), then byte for byte, so
// that the order is one and the same on every run.
bool ComesBefore(const std::string& a, const std::string& b) {
  const int blind = _stricmp(a.c_str(), b.c_str());
  return blind != 0 ? blind < 0 : a < b;
}

}  // namespace

bool PutText(int stream, const std::string& text) {
  std::FILE* file = stream == 1 ? stdout : stderr;
  const HANDLE handle = GetStdHandle(stream == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  if (!IsConsole(handle)) {
    if (stream == 1) return std::fputs(text.c_str(), file) >= 0;
    return std::fputs(text.c_str(), file) >= 0 && std::fflush(file) == 0;
  }
  std::fflush(file);  // what the C library still holds comes first
  if (text.empty()) return true;
  const int length = static_cast<int>(std::min<std::size_t>(text.size(), INT_MAX));
  const int units = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  if (units <= 0) return false;
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide.data(), units);
  const wchar_t* at = wide.data();
  DWORD left = static_cast<DWORD>(units);
  while (left > 0) {
    DWORD written = 0;
    if (!WriteConsoleW(handle, at, std::min<DWORD>(left, 8192), &written, nullptr) ||
        written == 0) {
      return false;
    }
    at += written;
    left -= written;
  }
  return true;
}

bool ExpandWildcards(const std::string& argument, std::vector<std::string>& names,
                     std::string& error) {
  names.clear();
  if (!IsPattern(argument)) {
    names.push_back(argument);
    return true;
  }
  // The folder part as typed, drive letter and separators included.
  const std::size_t end = argument.find_last_of("\\/:");
  const std::string folder = end == std::string::npos ? "" : argument.substr(0, end + 1);
  WIN32_FIND_DATAA found{};
  const HANDLE search = FindFirstFileA(argument.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    error = code == ERROR_FILE_NOT_FOUND || code == ERROR_NO_MORE_FILES
                ? "no file matches"
                : "cannot look for matching files: " + Reason(code);
    return false;
  }
  do {
    const std::string name = found.cFileName;
    if (name != "." && name != "..") names.push_back(folder + name);
  } while (FindNextFileA(search, &found));
  const DWORD code = GetLastError();
  FindClose(search);
  if (code != ERROR_NO_MORE_FILES) {
    error = "cannot look for matching files: " + Reason(code);
    return false;
  }
  if (names.empty()) {
    error = "no file matches";
    return false;
  }
  std::sort(names.begin(), names.end(), ComesBefore);
  return true;
}

bool IsHelpSwitch(const char* argument) { return std::strcmp(argument, "/?") == 0; }

bool StartedFromExplorer() {
  DWORD processes[2] = {};
  return GetConsoleProcessList(processes, 2) == 1 && IsConsole(GetStdHandle(STD_INPUT_HANDLE)) &&
         IsConsole(GetStdHandle(STD_ERROR_HANDLE));
}

void WaitForEnter() {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (!IsConsole(input)) return;
  PutText(2, "Press Enter to close this window.\n");
  wchar_t typed = 0;
  DWORD count = 0;
  while (ReadConsoleW(input, &typed, 1, &count, nullptr) && count == 1 && typed != L'\r' &&
         typed != L'\n') {
  }
}

bool PathExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsFolder(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool ListFolder(const std::string& folder, std::vector<FolderEntry>& entries, std::string& error) {
  WIN32_FIND_DATAA found{};
  const HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    error = "cannot read the folder: " + Reason(GetLastError());
    return false;
  }
  do {
    const std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    const DWORD attributes = found.dwFileAttributes;
    const EntryKind kind = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? EntryKind::Link
                           : (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0   ? EntryKind::Folder
                                                                            : EntryKind::File;
    entries.push_back({name, kind, {}});
  } while (FindNextFileA(search, &found));
  const DWORD code = GetLastError();
  FindClose(search);
  if (code == ERROR_NO_MORE_FILES) return true;
  error = "cannot read the folder: " + Reason(code);
  return false;
}

bool SameFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION info[2]{};
  const std::string* names[2] = {&a, &b};
  for (int k = 0; k < 2; ++k) {
    const HANDLE file =
        CreateFileA(names[k]->c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool ok = GetFileInformationByHandle(file, &info[k]) != 0;
    CloseHandle(file);
    if (!ok) return false;
  }
  return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
         info[0].nFileIndexHigh == info[1].nFileIndexHigh &&
         info[0].nFileIndexLow == info[1].nFileIndexLow;
}

bool RemoveFile(const std::string& path, const FileStamp& stamp, std::string& error) {
  // Checked and deleted through one handle: the name cannot change between.
  const HANDLE file = CreateFileA(path.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = "cannot remove: " + Reason(GetLastError());
    return false;
  }
  FileState state{};
  bool ok = GetState(file, state);
  if (!ok) {
    error = "cannot remove: " + Reason(GetLastError());
  } else if (!Unchanged(stamp, StampOf(state))) {
    error = "changed after it was read; not removed";
    ok = false;
  } else {
    FILE_DISPOSITION_INFO disposition{TRUE};
    ok = SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) !=
         0;
    if (!ok) error = "cannot remove: " + Reason(GetLastError());
  }
  CloseHandle(file);
  return ok;
}

std::vector<std::string> FileKeys(const std::string& path) {
  std::vector<std::string> keys;
  auto identity = [](const std::string& name, DWORD flags) {
    const HANDLE file =
        CreateFileA(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::string();
    BY_HANDLE_FILE_INFORMATION info{};
    std::string key;
    if (GetFileInformationByHandle(file, &info)) {
      key = std::to_string(info.dwVolumeSerialNumber) + " " + std::to_string(FileIndex(info));
    }
    CloseHandle(file);
    return key;
  };
  for (const DWORD flags : {DWORD{0}, DWORD{FILE_FLAG_OPEN_REPARSE_POINT}}) {
    const std::string id = identity(path, flags);
    if (!id.empty()) keys.push_back("file " + id);
  }
  // Names differ only in case here: one key holds the name in lower case.
  const std::size_t separator = LastSeparator(path);
  std::string base = path.substr(separator == std::string::npos ? 0 : separator + 1);
  for (char& c : base) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::string folder = separator == std::string::npos ? "." : path.substr(0, separator + 1);
  const std::string folderId = identity(folder, 0);
  if (!base.empty() && base != "." && base != ".." && !folderId.empty()) {
    keys.push_back("in " + folderId + " " + base);
  } else {
    keys.push_back("name " + path);
  }
  return keys;
}

OutputFile::~OutputFile() { Discard(); }

void OutputFile::Discard() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
  if (!tempName_.empty()) DeleteFileA(tempName_.c_str());
  UnregisterTempName(slot_);
  tempName_.clear();
}

bool OutputFile::Open(const std::string& target, const FileStamp& /*stamp*/, std::string& error) {
  Discard();
  target_ = target;
  tempName_ = TempNameFor(target);
  slot_ = RegisterTempName(tempName_);
  const HANDLE file = CreateFileA(tempName_.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = "cannot create a file beside it: " + Reason(GetLastError());
    UnregisterTempName(slot_);
    tempName_.clear();
    return false;
  }
  handle_ = reinterpret_cast<std::intptr_t>(file);
  return true;
}

bool OutputFile::Write(const std::uint8_t* data, std::size_t size, std::string& error) const {
  const HANDLE file = reinterpret_cast<HANDLE>(handle_);
  while (size > 0) {
    DWORD written = 0;
    const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(size, Chunk));
    if (!WriteFile(file, data, ask, &written, nullptr) || written == 0) {
      error = "cannot write: " + Reason(GetLastError());
      return false;
    }
    data += written;
    size -= written;
  }
  return true;
}

bool OutputFile::Commit(const FileStamp& stamp, bool overwrite, std::string& error) {
  const HANDLE file = reinterpret_cast<HANDLE>(handle_);
  if (stamp.known) {
    const FILETIME access = ToFileTime(stamp.accessTime);
    const FILETIME modify = ToFileTime(stamp.modifyTime);
    if (!SetFileTime(file, nullptr, &access, &modify)) {
      error = "cannot set the times: " + Reason(GetLastError());
      Discard();
      return false;
    }
  }
  CloseHandle(file);
  handle_ = -1;
  if (!MoveFileExA(tempName_.c_str(), target_.c_str(), overwrite ? MOVEFILE_REPLACE_EXISTING : 0)) {
    const DWORD code = GetLastError();
    error = code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS
                ? ExistsReason
                : "cannot create: " + Reason(code);
    Discard();
    return false;
  }
  UnregisterTempName(slot_);
  tempName_.clear();
  if (stamp.known && stamp.mode != 0) SetFileAttributesA(target_.c_str(), stamp.mode);
  return true;
}

unsigned CoreCount() {
  SYSTEM_INFO info{};
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors == 0 ? 1 : info.dwNumberOfProcessors;
}

void RunWorkers(unsigned count, const std::function<void()>& work,
                const std::function<void()>& tick) {
  std::vector<HANDLE> threads;
  for (unsigned k = 0; k < count && k < MAXIMUM_WAIT_OBJECTS; ++k) {
    const HANDLE thread =
        CreateThread(nullptr, 0, RunWork, const_cast<std::function<void()>*>(&work), 0, nullptr);
    if (thread != nullptr) threads.push_back(thread);
  }
  if (threads.empty()) {
    work();
    return;
  }
  while (WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, 200) ==
         WAIT_TIMEOUT) {
    tick();
  }
  for (const HANDLE thread : threads) CloseHandle(thread);
}

}  // namespace cli
