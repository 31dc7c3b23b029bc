// lzs._lzs: the codec calls of liblzs (include/lzs.h) for Python.
//
// Every argument that carries data is held with the buffer protocol for the
// length of the call, never copied, and every codec call runs with the GIL
// released. Each Python object made here is released in the function that
// made it, on every path. The module keeps to the calls of the stable ABI
// where it is built for it (Py_LIMITED_API, from Python 3.11 on) and to
// those of Python 3.8 otherwise; its codec contexts are capsules, which the
// classes of lzs/_codec.py hold.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "lzs.h"

namespace {

struct ModuleState {
  PyObject* lzsError;        // lzs.LzsError
  PyObject* salvageWarning;  // lzs.SalvageWarning
};

ModuleState* StateOf(PyObject* module) {
  return static_cast<ModuleState*>(PyModule_GetState(module));
}

// Raises LzsError(message) with .code set; takes the message's reference.
PyObject* RaiseMessage(PyObject* module, lzs_error code, PyObject* message) {
  PyObject* error = message != nullptr
                        ? PyObject_CallFunctionObjArgs(StateOf(module)->lzsError, message, nullptr)
                        : nullptr;
  Py_XDECREF(message);
  if (error == nullptr) return nullptr;
  PyObject* number = PyLong_FromLong(code);
  if (number != nullptr && PyObject_SetAttrString(error, "code", number) == 0) {
    PyErr_SetObject(StateOf(module)->lzsError, error);
  }
  Py_XDECREF(number);
  Py_DECREF(error);
  return nullptr;
}

// The library's description of a call's result (lzs_describe, with the
// sizes that `info`, when given, tells), as a str.
PyObject* Describe(size_t result, const lzs_info* info) {
  char words[256];
  const size_t length = lzs_describe(result, info, words, sizeof words);
  if (length < sizeof words) {
    return PyUnicode_FromStringAndSize(words, static_cast<Py_ssize_t>(length));
  }
  char* longer = static_cast<char*>(PyMem_Malloc(length + 1));
  if (longer == nullptr) return PyErr_NoMemory();
  lzs_describe(result, info, longer, length + 1);
  PyObject* text = PyUnicode_FromStringAndSize(longer, static_cast<Py_ssize_t>(length));
  PyMem_Free(longer);
  return text;
}

// Raises the exception for a failed call's result: MemoryError for
// LZS_ERROR_OUT_OF_MEMORY, else LzsError with .code set and the library's
// description of the result as its message.
PyObject* RaiseLzsError(PyObject* module, size_t result, const lzs_info* info = nullptr) {
  const lzs_error code = lzs_get_error(result);
  if (code == LZS_ERROR_OUT_OF_MEMORY) return PyErr_NoMemory();
  PyObject* message = Describe(result, info);
  return message != nullptr ? RaiseMessage(module, code, message) : nullptr;
}

PyObject* RaiseCode(PyObject* module, lzs_error code) {
  return RaiseLzsError(module, static_cast<size_t>(0) - code);
}

// A contiguous view of a bytes-like argument; TypeError for anything else.
bool GetBytes(PyObject* object, Py_buffer* view) {
  return PyObject_GetBuffer(object, view, PyBUF_SIMPLE) == 0;
}

char* BytesData(PyObject* bytes) { return PyBytes_AsString(bytes); }

// Resizes a new bytes object, which nothing else holds yet, keeping its
// first bytes. On failure *bytes is released and set to nullptr.
bool ResizeBytes(PyObject** bytes, Py_ssize_t size) {
#if defined(Py_LIMITED_API)
  // The stable ABI cannot resize a bytes object: a new one takes the bytes.
  PyObject* resized = PyBytes_FromStringAndSize(nullptr, size);
  if (resized != nullptr) {
    std::memcpy(BytesData(resized), BytesData(*bytes),
                static_cast<size_t>(std::min(size, PyBytes_Size(*bytes))));
  }
  Py_DECREF(*bytes);
  *bytes = resized;
  return resized != nullptr;
#else
  return _PyBytes_Resize(bytes, size) == 0;
#endif
}

// A codec context for one thread at a time, in a capsule: Fields holds the
// context (its Release() frees it) and names the capsule. The flag is an
// atomic, not the GIL, so that the rule holds where threads run without
// one.
template <typename Fields>
struct Box {
  Fields fields;
  std::atomic<bool> busy;
};

// Takes a Box's flag if it is free; if not, RuntimeError says that `what`
// is in use, and false.
bool Take(std::atomic<bool>& busy, const char* what) {
  if (!busy.exchange(true, std::memory_order_acquire)) return true;
  PyErr_Format(PyExc_RuntimeError, "this %s is in use by another thread", what);
  return false;
}

// Holds a Box's flag for the length of a call, if it was free.
class Claim {
 public:
  Claim(std::atomic<bool>& busy, const char* what) : busy_(busy), held_(Take(busy, what)) {}
  ~Claim() {
    if (held_) busy_.store(false, std::memory_order_release);
  }
  Claim(const Claim&) = delete;
  Claim& operator=(const Claim&) = delete;
  bool Held() const { return held_; }

 private:
  std::atomic<bool>& busy_;
  bool held_;
};

template <typename Fields>
void FreeBox(PyObject* capsule) {
  auto* box = static_cast<Box<Fields>*>(PyCapsule_GetPointer(capsule, Fields::Name));
  box->fields.Release();
  box->~Box<Fields>();
  PyMem_Free(box);
}

// A new capsule that owns `fields`.
template <typename Fields>
PyObject* NewBox(Fields fields) {
  void* memory = PyMem_Malloc(sizeof(Box<Fields>));
  if (memory == nullptr) {
    fields.Release();
    return PyErr_NoMemory();
  }
  auto* box = new (memory) Box<Fields>{fields, {false}};
  PyObject* capsule = PyCapsule_New(box, Fields::Name, FreeBox<Fields>);
  if (capsule == nullptr) {
    box->fields.Release();
    box->~Box<Fields>();
    PyMem_Free(box);
  }
  return capsule;
}

// The Box in a capsule that NewBox<Fields> made; ValueError for another.
template <typename Fields>
Box<Fields>* BoxOf(PyObject* capsule) {
  return static_cast<Box<Fields>*>(PyCapsule_GetPointer(capsule, Fields::Name));
}

// The workspace behind lzs.Encoder.
struct EncoderFields {
  static constexpr const char* Name = "lzs._lzs.encoder";
  lzs_encoder* encoder;
  void Release() const { lzs_encoder_free(encoder); }
};

// The context behind lzs.LzsDecompressor: the library's, and what the
// image still needs (its header's bytes, then its payload's) so that no call
// gives the library input past the image's end, and whether it has ended.
struct StreamFields {
  static constexpr const char* Name = "lzs._lzs.stream";
  static constexpr const char* User = "LzsDecompressor";
  lzs_dstream* stream;
  size_t left;
  bool ended;
  void Release() const { lzs_dstream_free(stream); }
};

// The context behind lzs.LzsCompressor and lzs.open's writing.
struct PackStreamFields {
  static constexpr const char* Name = "lzs._lzs.cstream";
  static constexpr const char* User = "LzsCompressor";
  lzs_cstream* stream;
  void Release() const { lzs_cstream_free(stream); }
};

// Packs the view into a new bytes object: with `encoder`, through it, else
// with a workspace of its own. Needs the GIL; drops it around the call.
PyObject* Pack(PyObject* module, lzs_encoder* encoder, const Py_buffer& data, int level) {
  const size_t size = static_cast<size_t>(data.len);
  const size_t bound = lzs_encode_bound(size);
  if (bound == 0) return RaiseCode(module, LZS_ERROR_INPUT_TOO_LARGE);
  PyObject* image = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(bound));
  if (image == nullptr) return nullptr;
  char* dst = BytesData(image);
  size_t result = 0;
  Py_BEGIN_ALLOW_THREADS
    result = encoder != nullptr ? lzs_encode_with(encoder, dst, bound, data.buf, size, level)
                                : lzs_encode(dst, bound, data.buf, size, level);
  Py_END_ALLOW_THREADS
  if (lzs_is_error(result)) {
    Py_DECREF(image);
    return RaiseLzsError(module, result);
  }
  if (!ResizeBytes(&image, static_cast<Py_ssize_t>(result))) return nullptr;
  return image;
}

// ---------------------------------------------------------------------------
// Module functions

// Packs data as the image `like` was packed (lzs_encode_like) into a new
// bytes object. A failure is worded with what like's header tells, for the
// errors of an image that is not whole.
PyObject* PackLike(PyObject* module, const Py_buffer& data, const Py_buffer& like) {
  const size_t size = static_cast<size_t>(data.len);
  const size_t bound = lzs_encode_bound(size);
  if (bound == 0) return RaiseCode(module, LZS_ERROR_INPUT_TOO_LARGE);
  PyObject* image = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(bound + 2));
  if (image == nullptr) return nullptr;
  char* dst = BytesData(image);
  size_t result = 0;
  Py_BEGIN_ALLOW_THREADS
    result = lzs_encode_like(dst, bound + 2, data.buf, size, like.buf,
                             static_cast<size_t>(like.len), nullptr, nullptr);
  Py_END_ALLOW_THREADS
  if (lzs_is_error(result)) {
    Py_DECREF(image);
    lzs_info info{};
    (void)lzs_image_info(like.buf, static_cast<size_t>(like.len), &info);
    return RaiseLzsError(module, result, &info);
  }
  if (!ResizeBytes(&image, static_cast<Py_ssize_t>(result))) return nullptr;
  return image;
}

const char* const compressKeywords[] = {"data", "level", "like", nullptr};

PyObject* Compress(PyObject* module, PyObject* args, PyObject* kwargs) {
  Py_buffer data;
  int level = LZS_LEVEL_DEFAULT;
  PyObject* like = Py_None;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "y*|i$O:compress",
                                   const_cast<char**>(compressKeywords), &data, &level, &like)) {
    return nullptr;
  }
  PyObject* image = nullptr;
  Py_buffer orig;
  if (like == Py_None) {
    image = Pack(module, nullptr, data, level);
  } else if (GetBytes(like, &orig)) {
    image = PackLike(module, data, orig);
    PyBuffer_Release(&orig);
  }
  PyBuffer_Release(&data);
  return image;
}

// The most bytes a caller allows (max_length): no limit when negative.
size_t Most(Py_ssize_t maxLength) {
  return maxLength >= 0 ? static_cast<size_t>(maxLength) : SIZE_MAX;
}

// The room lzs_decode_alloc asks decompress for, once, while this thread
// runs without the GIL. The library asks either for the exact decoded size,
// which is a bytes object that becomes the result, or, for a small image,
// for room for the most it can yield (lzs_decode_bound), which is raw
// memory that the output is copied out of into a bytes object of its size.
// Not a bytes object shrunk in place (_PyBytes_Resize, outside the stable
// ABI anyway): once glibc has shrunk mapped room and taken it back, it maps
// the next room afresh too, and a run of 1 MiB images took 2.7 times as
// long as with the copy, 8 MiB ones twice as long.
struct OutputRoom {
  PyThreadState* thread;  // this thread's state while it has no GIL
  size_t bound;           // lzs_decode_bound of the image
  PyObject* bytes;        // the room as a bytes object, or
  char* raw;              // the room as raw memory
};

void* AskForRoom(void* opaque, size_t size) {
  auto& room = *static_cast<OutputRoom*>(opaque);
  if (size > static_cast<size_t>(PY_SSIZE_T_MAX)) return nullptr;
  if (size == room.bound) {
    room.raw = static_cast<char*>(std::malloc(size));  // needs no GIL
    return room.raw;
  }
  PyEval_RestoreThread(room.thread);
  room.bytes = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size));
  char* data = room.bytes != nullptr ? BytesData(room.bytes) : nullptr;
  room.thread = PyEval_SaveThread();
  return data;
}

// The output in a bytes object of its size, from the room that holds its
// `size` first bytes; releases the room. Needs the GIL; drops it around the
// copy.
PyObject* OutputOf(OutputRoom& room, size_t size) {
  const auto length = static_cast<Py_ssize_t>(size);
  if (room.raw == nullptr) {
    // Shorter than the scan said only if the image changed meanwhile.
    if (PyBytes_Size(room.bytes) != length && !ResizeBytes(&room.bytes, length)) return nullptr;
    return room.bytes;
  }
  PyObject* output = PyBytes_FromStringAndSize(nullptr, length);
  if (output != nullptr) {
    char* dst = BytesData(output);
    Py_BEGIN_ALLOW_THREADS
      std::memcpy(dst, room.raw, size);
    Py_END_ALLOW_THREADS
  }
  std::free(room.raw);
  return output;
}

// Warns with lzs.SalvageWarning, in the library's words, that `info`
// tells of an image that was not whole and what was kept of it. False when
// the warning was made an error (it is then set).
bool WarnSalvaged(PyObject* module, size_t size, const lzs_info& info) {
  PyObject* message = Describe(size, &info);
  if (message == nullptr) return false;
  PyObject* text = PyUnicode_AsUTF8String(message);
  Py_DECREF(message);
  if (text == nullptr) return false;
  const int warned = PyErr_WarnEx(StateOf(module)->salvageWarning, BytesData(text), 1);
  Py_DECREF(text);
  return warned == 0;
}

const char* const decompressKeywords[] = {"", "max_length", "salvage", nullptr};

PyObject* Decompress(PyObject* module, PyObject* args, PyObject* kwargs) {
  Py_buffer image;
  Py_ssize_t maxLength = -1;
  int salvage = 0;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "y*|n$p:decompress",
                                   const_cast<char**>(decompressKeywords), &image, &maxLength,
                                   &salvage)) {
    return nullptr;
  }
  const auto imageSize = static_cast<size_t>(image.len);
  OutputRoom room{nullptr, lzs_decode_bound(imageSize), nullptr, nullptr};
  lzs_info info{};
  void* output = nullptr;
  room.thread = PyEval_SaveThread();
  const size_t size = salvage != 0 ? lzs_salvage_alloc(&output, image.buf, imageSize,
                                                       Most(maxLength), AskForRoom, &room, &info)
                                   : lzs_decode_alloc(&output, image.buf, imageSize,
                                                      Most(maxLength), AskForRoom, &room, &info);
  PyEval_RestoreThread(room.thread);
  PyBuffer_Release(&image);
  if (!lzs_is_error(size)) {
    PyObject* decoded = OutputOf(room, size);
    if (decoded != nullptr && (info.flags & LZS_INFO_SALVAGED) != 0 &&
        !WarnSalvaged(module, size, info)) {
      Py_CLEAR(decoded);
    }
    return decoded;
  }
  Py_XDECREF(room.bytes);
  std::free(room.raw);
  info.limitName = "max_length";
  return RaiseLzsError(module, size, &info);
}

PyObject* DecompressInto(PyObject* module, PyObject* args) {
  Py_buffer image;
  Py_buffer buffer;
  if (!PyArg_ParseTuple(args, "y*w*:decompress_into", &image, &buffer)) return nullptr;
  const auto imageSize = static_cast<size_t>(image.len);
  size_t result = 0;
  Py_BEGIN_ALLOW_THREADS
    result = lzs_decode(buffer.buf, static_cast<size_t>(buffer.len), image.buf, imageSize);
  Py_END_ALLOW_THREADS
  PyObject* written = nullptr;
  if (!lzs_is_error(result)) {
    written = PyLong_FromSize_t(result);
  } else {
    // The sizes of an image refused for its header, from the header alone.
    lzs_info info{};
    lzs_check_header(image.buf, imageSize, &info);
    RaiseLzsError(module, result, &info);
  }
  PyBuffer_Release(&buffer);
  PyBuffer_Release(&image);
  return written;
}

PyObject* DecodedSize(PyObject* module, PyObject* object) {
  Py_buffer image;
  if (!GetBytes(object, &image)) return nullptr;
  lzs_info info{};
  size_t size = 0;
  Py_BEGIN_ALLOW_THREADS
    size = lzs_image_info(image.buf, static_cast<size_t>(image.len), &info);
  Py_END_ALLOW_THREADS
  PyBuffer_Release(&image);
  return lzs_is_error(size) ? RaiseLzsError(module, size, &info) : PyLong_FromSize_t(size);
}

const char* const lengthKeywords[] = {"buffer", "offset", nullptr};

PyObject* ImageLength(PyObject* module, PyObject* args, PyObject* kwargs) {
  Py_buffer buffer;
  Py_ssize_t offset = 0;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "y*|n:image_length",
                                   const_cast<char**>(lengthKeywords), &buffer, &offset)) {
    return nullptr;
  }
  PyObject* length = nullptr;
  if (offset < 0) {
    PyErr_SetString(PyExc_ValueError, "offset must not be negative");
  } else {
    const Py_ssize_t left = offset <= buffer.len ? buffer.len - offset : 0;
    const size_t n =
        lzs_image_length(static_cast<const std::uint8_t*>(buffer.buf) + (left > 0 ? offset : 0),
                         static_cast<size_t>(left));
    length = lzs_is_error(n) ? RaiseLzsError(module, n) : PyLong_FromSize_t(n);
  }
  PyBuffer_Release(&buffer);
  return length;
}

// The library's text of an inspection or a finding (lzs_inspection_text,
// lzs_finding_text) as a str; `write(buf, cap)` writes it and says how long
// it is.
template <typename Write>
PyObject* TextOf(const Write& write) {
  const size_t length = write(nullptr, 0);
  char* text = static_cast<char*>(PyMem_Malloc(length + 1));
  if (text == nullptr) return PyErr_NoMemory();
  write(text, length + 1);
  PyObject* str = PyUnicode_FromStringAndSize(text, static_cast<Py_ssize_t>(length));
  PyMem_Free(text);
  return str;
}

const char* const inspectKeywords[] = {"", "name", nullptr};

// The JSON of lzs --inspect --json for one image, "file" first when a name
// is given.
PyObject* Inspect(PyObject* module, PyObject* args, PyObject* kwargs) {
  Py_buffer image;
  const char* name = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "y*|z:inspect",
                                   const_cast<char**>(inspectKeywords), &image, &name)) {
    return nullptr;
  }
  auto* inspection = static_cast<lzs_inspection*>(PyMem_Malloc(sizeof(lzs_inspection)));
  PyObject* text = nullptr;
  if (inspection == nullptr) {
    PyErr_NoMemory();
  } else {
    size_t result = 0;
    Py_BEGIN_ALLOW_THREADS
      result = lzs_inspect(image.buf, static_cast<size_t>(image.len), inspection);
    Py_END_ALLOW_THREADS
    text =
        lzs_is_error(result) ? RaiseLzsError(module, result) : TextOf([&](char* buf, size_t cap) {
          return lzs_inspection_text(inspection, name, 1, buf, cap);
        });
    PyMem_Free(inspection);
  }
  PyBuffer_Release(&image);
  return text;
}

// The next image found in buffer from pos on: (the JSON of lzs --scan
// --json for it, the position to go on from), or None when there is none.
PyObject* ScanNext(PyObject* module, PyObject* args) {
  Py_buffer buffer;
  Py_ssize_t start = 0;
  const char* name = nullptr;
  if (!PyArg_ParseTuple(args, "y*n|z:scan_next", &buffer, &start, &name)) return nullptr;
  PyObject* next = nullptr;
  if (start < 0 || start > buffer.len) {
    PyErr_SetString(PyExc_ValueError, "pos must be within the buffer");
  } else {
    auto pos = static_cast<size_t>(start);
    lzs_finding finding{};
    size_t result = 0;
    Py_BEGIN_ALLOW_THREADS
      result = lzs_scan_next(buffer.buf, static_cast<size_t>(buffer.len), &pos, &finding);
    Py_END_ALLOW_THREADS
    if (lzs_is_error(result)) {
      RaiseLzsError(module, result);
    } else if (result == 0) {
      next = Py_None;
      Py_INCREF(next);
    } else {
      PyObject* text = TextOf(
          [&](char* buf, size_t cap) { return lzs_finding_text(&finding, name, 1, buf, cap); });
      if (text != nullptr) next = Py_BuildValue("(Nn)", text, static_cast<Py_ssize_t>(pos));
    }
  }
  PyBuffer_Release(&buffer);
  return next;
}

PyObject* LibraryVersion(PyObject*, PyObject*) {
  return PyUnicode_FromString(lzs_version_string());
}

// ---------------------------------------------------------------------------
// The contexts behind lzs.Encoder and lzs.LzsDecompressor

PyObject* EncoderNew(PyObject*, PyObject*) {
  lzs_encoder* encoder = lzs_encoder_create();
  if (encoder == nullptr) return PyErr_NoMemory();
  return NewBox(EncoderFields{encoder});
}

const char* const encoderKeywords[] = {"encoder", "data", "level", nullptr};

PyObject* EncoderCompress(PyObject* module, PyObject* args, PyObject* kwargs) {
  PyObject* capsule = nullptr;
  Py_buffer data;
  int level = LZS_LEVEL_DEFAULT;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "Oy*|i:compress",
                                   const_cast<char**>(encoderKeywords), &capsule, &data, &level)) {
    return nullptr;
  }
  PyObject* image = nullptr;
  if (auto* box = BoxOf<EncoderFields>(capsule)) {
    const Claim claim(box->busy, "Encoder");
    if (claim.Held()) image = Pack(module, box->fields.encoder, data, level);
  }
  PyBuffer_Release(&data);
  return image;
}

PyObject* StreamNew(PyObject*, PyObject*) {
  lzs_dstream* stream = lzs_dstream_create();
  if (stream == nullptr) return PyErr_NoMemory();
  return NewBox(StreamFields{stream, LZS_HEADER_SIZE, false});
}

// lzs.LzsDecompressor and lzs.LzsCompressor keep state of their own beside
// the context (the input left over, eof; the output kept): each holds the
// context's flag from its hold to its release, around all of it, and calls
// the others in between.
template <typename Fields>
PyObject* Hold(PyObject*, PyObject* capsule) {
  auto* box = BoxOf<Fields>(capsule);
  if (box == nullptr || !Take(box->busy, Fields::User)) return nullptr;
  Py_RETURN_NONE;
}

template <typename Fields>
PyObject* Release(PyObject*, PyObject* capsule) {
  auto* box = BoxOf<Fields>(capsule);
  if (box == nullptr) return nullptr;
  box->busy.store(false, std::memory_order_release);
  Py_RETURN_NONE;
}

// The most output `input` more bytes of an image can give, with what an
// earlier call may have left waiting (one back-reference's bytes), and no
// more than `most`.
size_t OutputBound(size_t input, size_t most) {
  const size_t inputMost = static_cast<size_t>(PY_SSIZE_T_MAX) / 2 / LZS_EXPANSION_MAX;
  return std::min(most, LZS_EXPANSION_MAX * (std::min(input, inputMost) + 2));
}

// Notes what a call of the library says of the image: how many of its
// bytes are still to come, from the counts of the context (the call's own
// result is only a hint, and is 1 while output is waiting after the image's
// last byte), and whether it has ended: 0 once all of its bytes are taken
// and all of its output given (whatever its verdict), or an error.
void Track(StreamFields& fields, size_t result) {
  lzs_info info{};
  lzs_dstream_end(fields.stream, &info);
  const unsigned long long whole = info.imageSize != 0 ? info.imageSize : LZS_HEADER_SIZE;
  fields.ended = result == 0 || lzs_is_error(result);
  fields.left = fields.ended ? 0 : static_cast<size_t>(whole - info.inputSize);
}

// Where a stream's output goes: a new bytes object, grown as the input
// needs up to `limit` bytes, or a caller's buffer of `limit` bytes
// (bytes == nullptr).
struct Room {
  PyObject* bytes;
  char* buffer;
  size_t capacity;
  size_t limit;

  // Room for `wanted` bytes where it can be had; false when memory runs out
  // (bytes is then nullptr).
  bool Grow(size_t wanted) {
    if (bytes == nullptr || wanted <= capacity) return true;
    capacity = std::max(wanted, std::min(limit, 2 * capacity));
    return ResizeBytes(&bytes, static_cast<Py_ssize_t>(capacity));
  }
  char* Data() const { return bytes != nullptr ? BytesData(bytes) : buffer; }
};

// Decodes what it can of data[srcPos, ...) into room[dstPos, ...), in calls
// of the library that give it no byte past the image's end, and advances
// both. False, with an exception set, when memory runs out or the library
// refuses the arguments.
bool Decode(PyObject* module, StreamFields& fields, const Py_buffer& data, Room& room,
            size_t& srcPos, size_t& dstPos) {
  const auto srcSize = static_cast<size_t>(data.len);
  while (!fields.ended) {
    const size_t srcEnd = srcPos + std::min(srcSize - srcPos, fields.left);
    if (!room.Grow(dstPos + OutputBound(srcEnd - srcPos, room.limit - dstPos))) return false;
    const size_t srcBefore = srcPos;
    const size_t dstBefore = dstPos;
    char* dst = room.Data();
    size_t result = 0;
    Py_BEGIN_ALLOW_THREADS
      result =
          lzs_decode_stream(fields.stream, dst, room.capacity, &dstPos, data.buf, srcEnd, &srcPos);
    Py_END_ALLOW_THREADS
    if (lzs_get_error(result) == LZS_ERROR_BAD_ARGUMENT) {
      RaiseLzsError(module, result);
      return false;
    }
    Track(fields, result);
    const bool full = dstPos == room.limit;
    const bool stuck = srcPos == srcBefore && dstPos == dstBefore;
    const bool drained = srcPos == srcSize && dstPos < room.capacity;
    if (full || stuck || drained) break;
  }
  return true;
}

// (output, bytes of data taken, whether the image has ended).
PyObject* Outcome(PyObject* output, size_t srcPos, bool ended) {
  return Py_BuildValue("(NnO)", output, static_cast<Py_ssize_t>(srcPos),
                       ended ? Py_True : Py_False);
}

PyObject* StreamDecode(PyObject* module, PyObject* args) {
  PyObject* capsule = nullptr;
  Py_buffer data;
  Py_ssize_t maxLength = -1;
  if (!PyArg_ParseTuple(args, "Oy*n:stream_decode", &capsule, &data, &maxLength)) return nullptr;
  PyObject* outcome = nullptr;
  if (auto* box = BoxOf<StreamFields>(capsule)) {
    StreamFields& fields = box->fields;
    const size_t limit = std::min(Most(maxLength), static_cast<size_t>(PY_SSIZE_T_MAX));
    const size_t capacity =
        OutputBound(std::min(static_cast<size_t>(data.len), fields.left), limit);
    Room room{PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(capacity)), nullptr,
              capacity, limit};
    size_t srcPos = 0;
    size_t dstPos = 0;
    if (room.bytes != nullptr && !Decode(module, fields, data, room, srcPos, dstPos)) {
      Py_CLEAR(room.bytes);
    }
    if (room.bytes != nullptr && ResizeBytes(&room.bytes, static_cast<Py_ssize_t>(dstPos))) {
      outcome = Outcome(room.bytes, srcPos, fields.ended);
    }
  }
  PyBuffer_Release(&data);
  return outcome;
}

PyObject* StreamDecodeInto(PyObject* module, PyObject* args) {
  PyObject* capsule = nullptr;
  Py_buffer data;
  Py_buffer buffer;
  if (!PyArg_ParseTuple(args, "Oy*w*:stream_decode_into", &capsule, &data, &buffer)) {
    return nullptr;
  }
  PyObject* outcome = nullptr;
  if (auto* box = BoxOf<StreamFields>(capsule)) {
    const auto capacity = static_cast<size_t>(buffer.len);
    Room room{nullptr, static_cast<char*>(buffer.buf), capacity, capacity};
    size_t srcPos = 0;
    size_t dstPos = 0;
    if (Decode(module, box->fields, data, room, srcPos, dstPos)) {
      outcome = Outcome(PyLong_FromSize_t(dstPos), srcPos, box->fields.ended);
    }
  }
  PyBuffer_Release(&buffer);
  PyBuffer_Release(&data);
  return outcome;
}

// The verdict on the image once the input has ended: None for a whole
// image, else LzsError. `rest`, the input after the image's end, goes to
// the library first, which names it.
PyObject* Verdict(PyObject* module, StreamFields& fields, const Py_buffer& rest) {
  size_t srcPos = 0;
  size_t dstPos = 0;
  lzs_decode_stream(fields.stream, nullptr, 0, &dstPos, rest.buf, static_cast<size_t>(rest.len),
                    &srcPos);
  lzs_info info{};
  const size_t result = lzs_dstream_end(fields.stream, &info);
  // Bytes after the image: as many as were read, at least.
  if (lzs_get_error(result) == LZS_ERROR_TRAILING_DATA) {
    info.inputSize = info.imageSize + static_cast<size_t>(rest.len);
    info.flags |= LZS_INFO_INPUT_PARTIAL;
  }
  if (lzs_is_error(result)) return RaiseLzsError(module, result, &info);
  Py_RETURN_NONE;
}

PyObject* StreamEnd(PyObject* module, PyObject* args) {
  PyObject* capsule = nullptr;
  Py_buffer rest{};
  if (!PyArg_ParseTuple(args, "O|y*:stream_end", &capsule, &rest)) return nullptr;
  auto* box = BoxOf<StreamFields>(capsule);
  PyObject* verdict = box != nullptr ? Verdict(module, box->fields, rest) : nullptr;
  PyBuffer_Release(&rest);
  return verdict;
}

// ---------------------------------------------------------------------------
// The context behind lzs.LzsCompressor

PyObject* PackStreamNew(PyObject* module, PyObject* args) {
  int level = LZS_LEVEL_DEFAULT;
  if (!PyArg_ParseTuple(args, "i:cstream_new", &level)) return nullptr;
  lzs_cstream* stream = lzs_cstream_create();
  if (stream == nullptr) return PyErr_NoMemory();
  const size_t result = lzs_cstream_reset(stream, level);
  if (lzs_is_error(result)) {
    lzs_cstream_free(stream);
    return RaiseLzsError(module, result);
  }
  return NewBox(PackStreamFields{stream});
}

// Packs what it can of data, the last of the input when `end`, into a new
// bytes object grown as the output needs: all of data is taken, and with
// `end` the image is complete.
PyObject* PackPiece(PyObject* module, lzs_cstream* stream, const Py_buffer& data, bool end) {
  const auto srcSize = static_cast<size_t>(data.len);
  const size_t room = lzs_cstream_out_size();
  size_t capacity = std::max(room, srcSize + srcSize / 8 + 64);
  PyObject* output = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(capacity));
  size_t srcPos = 0;
  size_t dstPos = 0;
  size_t result = 0;
  const lzs_cstream_op op = end ? LZS_CSTREAM_END : LZS_CSTREAM_CONTINUE;
  while (output != nullptr) {
    char* dst = BytesData(output);
    Py_BEGIN_ALLOW_THREADS
      result = lzs_encode_stream(stream, dst, capacity, &dstPos, data.buf, srcSize, &srcPos, op);
    Py_END_ALLOW_THREADS
    if (lzs_is_error(result)) {
      Py_DECREF(output);
      return RaiseLzsError(module, result);
    }
    if (srcPos == srcSize && result == 0) break;
    // More input to take or output waiting: room for the output waiting,
    // and a piece of the recommended size at least.
    const size_t wanted = dstPos + std::max(result, room);
    if (wanted > capacity) {
      capacity = std::max(wanted, 2 * capacity);
      if (!ResizeBytes(&output, static_cast<Py_ssize_t>(capacity))) return nullptr;
    }
  }
  if (output != nullptr && !ResizeBytes(&output, static_cast<Py_ssize_t>(dstPos))) return nullptr;
  return output;
}

PyObject* PackStreamCompress(PyObject* module, PyObject* args) {
  PyObject* capsule = nullptr;
  Py_buffer data;
  int end = 0;
  if (!PyArg_ParseTuple(args, "Oy*p:cstream_compress", &capsule, &data, &end)) return nullptr;
  auto* box = BoxOf<PackStreamFields>(capsule);
  PyObject* output =
      box != nullptr ? PackPiece(module, box->fields.stream, data, end != 0) : nullptr;
  PyBuffer_Release(&data);
  return output;
}

PyObject* PackStreamHeader(PyObject* module, PyObject* capsule) {
  auto* box = BoxOf<PackStreamFields>(capsule);
  if (box == nullptr) return nullptr;
  char header[LZS_HEADER_SIZE];
  const size_t result = lzs_cstream_header(box->fields.stream, header);
  if (lzs_is_error(result)) return RaiseLzsError(module, result);
  return PyBytes_FromStringAndSize(header, LZS_HEADER_SIZE);
}

// ---------------------------------------------------------------------------
// The module

PyDoc_STRVAR(compressDoc,
             "compress($module, /, data, level=LEVEL_DEFAULT, *, like=None)\n--\n\n"
             "Pack data (any bytes-like object of 1 byte to 2 GiB) into an LZS image,\n"
             "its 4-byte header included. LEVEL_OPTIMAL (9) makes the smallest image the\n"
             "format allows, as LEVEL_DEFAULT (0) does; LEVEL_FAST (1) packs greedily,\n"
             "for large batches. Raises LzsError for empty or too large data and for\n"
             "an unknown level.\n\n"
             "With like, a whole image, data is packed as like was packed, whatever\n"
             "packer made it: like's items are kept wherever they still give data's\n"
             "bytes, and only what differs is parsed anew. Data that like unpacks to\n"
             "gives like's bytes; after an edit the images differ near it alone. The\n"
             "level is not used then. Raises LzsError, in the words of decompress,\n"
             "when like is not a whole image.");

PyDoc_STRVAR(decompressDoc,
             "decompress($module, image, /, max_length=-1, *, salvage=False)\n--\n\n"
             "Unpack exactly one LZS image (header included) from a bytes-like object.\n"
             "Raises LzsError when it is not an image or yields no byte, and when it\n"
             "would unpack to more than max_length bytes (ERROR_INPUT_TOO_LARGE; no\n"
             "limit when negative), before any memory is taken for its output.\n\n"
             "With salvage=True, a damaged image gives what it still holds: one cut\n"
             "short, what its whole items give; one with bytes after its end, its own\n"
             "output. A lzs.SalvageWarning then says, in the words lzs prints, what\n"
             "the header promised, where the image stops and what was kept. A whole\n"
             "image gives its output with no warning; bytes that give nothing raise\n"
             "LzsError as before.");

PyDoc_STRVAR(decompressIntoDoc,
             "decompress_into($module, image, buffer, /)\n--\n\n"
             "Unpack exactly one LZS image into buffer (any writable bytes-like object)\n"
             "and return the number of bytes it unpacks to. Raises LzsError as\n"
             "decompress does, and ERROR_DST_TOO_SMALL when buffer is too small. The\n"
             "decoder copies in wide blocks: the bytes of buffer after those returned\n"
             "may have been written too, and after an error buffer holds nothing of use.");

PyDoc_STRVAR(decodedSizeDoc,
             "decoded_size($module, image, /)\n--\n\n"
             "The size decompress(image) would return, from a scan that writes\n"
             "nothing. Raises LzsError as decompress does.");

PyDoc_STRVAR(imageLengthDoc,
             "image_length($module, /, buffer, offset=0)\n--\n\n"
             "The length of the image that starts at offset in buffer: 4 plus the\n"
             "value of its header. Raises LzsError when fewer than 4 bytes are left at\n"
             "offset (ERROR_NOT_AN_IMAGE) or the image would run past the end\n"
             "(ERROR_TRUNCATED). With it an image inside a larger blob decodes\n"
             "without a copy:\n\n"
             "    n = lzs.image_length(blob, off)\n"
             "    data = lzs.decompress(memoryview(blob)[off:off + n])");

PyDoc_STRVAR(inspectDoc,
             "inspect($module, image, /, name=None)\n--\n\n"
             "The JSON object of lzs --inspect --json for image (any bytes), with\n"
             "\"file\" first when name is given, for lzs.inspect.");

PyDoc_STRVAR(scanNextDoc,
             "scan_next($module, buffer, pos, name=None, /)\n--\n\n"
             "The next image found in buffer from pos on: (the JSON object of lzs\n"
             "--scan --json for it, the position to go on from), or None, for lzs.scan.");

PyDoc_STRVAR(cstreamNewDoc,
             "cstream_new($module, level, /)\n--\n\n"
             "A new streaming encoder's context at level, for lzs.LzsCompressor.");

PyDoc_STRVAR(cstreamHoldDoc,
             "cstream_hold($module, stream, /)\n--\n\n"
             "Claim the context for this thread (RuntimeError when another thread has\n"
             "it), until cstream_release.");

PyDoc_STRVAR(cstreamCompressDoc,
             "cstream_compress($module, stream, data, end, /)\n--\n\n"
             "Pack all of data, the last of the input when end is true, and return the\n"
             "image's bytes that are ready: from the start, 4 zero bytes in the\n"
             "header's place. Only between cstream_hold and cstream_release.");

PyDoc_STRVAR(cstreamHeaderDoc,
             "cstream_header($module, stream, /)\n--\n\n"
             "The image's 4-byte header, once cstream_compress with end has completed it.");

PyDoc_STRVAR(salvageWarningDoc,
             "decompress(image, salvage=True) kept what a damaged image holds. str(warning)\n"
             "is the library's description of the damage and of what was kept, as lzs\n"
             "-d --salvage prints it.");

PyDoc_STRVAR(libraryVersionDoc,
             "library_version($module, /)\n--\n\n"
             "The version of the liblzs linked into this module, as \"major.minor.patch\".");

PyDoc_STRVAR(encoderNewDoc,
             "encoder_new($module, /)\n--\n\n"
             "A new encoder's workspace, for lzs.Encoder.");

PyDoc_STRVAR(encoderCompressDoc,
             "encoder_compress($module, /, encoder, data, level=LEVEL_DEFAULT)\n--\n\n"
             "compress(data, level) in the workspace of encoder_new(), for lzs.Encoder.");

PyDoc_STRVAR(streamNewDoc,
             "stream_new($module, /)\n--\n\n"
             "A new streaming decoder's context, for lzs.LzsDecompressor.");

PyDoc_STRVAR(streamDecodeDoc,
             "stream_decode($module, stream, data, max_length, /)\n--\n\n"
             "Decode what can be decoded of data, at most max_length bytes (no limit\n"
             "when negative), taking no byte past the image's end. Returns (output,\n"
             "bytes of data taken, whether the image has ended). Only between\n"
             "stream_hold and stream_release.");

PyDoc_STRVAR(streamDecodeIntoDoc,
             "stream_decode_into($module, stream, data, buffer, /)\n--\n\n"
             "stream_decode into a writable buffer, as much as it holds: returns\n"
             "(bytes written, bytes of data taken, whether the image has ended).");

PyDoc_STRVAR(streamHoldDoc,
             "stream_hold($module, stream, /)\n--\n\n"
             "Claim the context for this thread (RuntimeError when another thread has\n"
             "it), until stream_release.");

PyDoc_STRVAR(streamReleaseDoc,
             "stream_release($module, stream, /)\n--\n\n"
             "Let go of the context that stream_hold claimed.");

PyDoc_STRVAR(streamEndDoc,
             "stream_end($module, stream, rest=b'', /)\n--\n\n"
             "The verdict on the image once the input has ended, rest being what came\n"
             "after its end: None for a whole image alone, else LzsError.");

PyCFunction WithKeywords(PyObject* (*function)(PyObject*, PyObject*, PyObject*)) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

PyMethodDef moduleMethods[] = {
    {"compress", WithKeywords(Compress), METH_VARARGS | METH_KEYWORDS, compressDoc},
    {"decompress", WithKeywords(Decompress), METH_VARARGS | METH_KEYWORDS, decompressDoc},
    {"decompress_into", DecompressInto, METH_VARARGS, decompressIntoDoc},
    {"decoded_size", DecodedSize, METH_O, decodedSizeDoc},
    {"image_length", WithKeywords(ImageLength), METH_VARARGS | METH_KEYWORDS, imageLengthDoc},
    {"library_version", LibraryVersion, METH_NOARGS, libraryVersionDoc},
    {"encoder_new", EncoderNew, METH_NOARGS, encoderNewDoc},
    {"encoder_compress", WithKeywords(EncoderCompress), METH_VARARGS | METH_KEYWORDS,
     encoderCompressDoc},
    {"stream_new", StreamNew, METH_NOARGS, streamNewDoc},
    {"stream_hold", Hold<StreamFields>, METH_O, streamHoldDoc},
    {"stream_release", Release<StreamFields>, METH_O, streamReleaseDoc},
    {"stream_decode", StreamDecode, METH_VARARGS, streamDecodeDoc},
    {"stream_decode_into", StreamDecodeInto, METH_VARARGS, streamDecodeIntoDoc},
    {"stream_end", StreamEnd, METH_VARARGS, streamEndDoc},
    {"inspect", WithKeywords(Inspect), METH_VARARGS | METH_KEYWORDS, inspectDoc},
    {"scan_next", ScanNext, METH_VARARGS, scanNextDoc},
    {"cstream_new", PackStreamNew, METH_VARARGS, cstreamNewDoc},
    {"cstream_hold", Hold<PackStreamFields>, METH_O, cstreamHoldDoc},
    {"cstream_release", Release<PackStreamFields>, METH_O, streamReleaseDoc},
    {"cstream_compress", PackStreamCompress, METH_VARARGS, cstreamCompressDoc},
    {"cstream_header", PackStreamHeader, METH_O, cstreamHeaderDoc},
    {nullptr, nullptr, 0, nullptr}};

PyDoc_STRVAR(lzsErrorDoc,
             "A call of liblzs failed. str(error) is the library's description of the\n"
             "result (lzs_describe: with the sizes for an image cut short, followed by\n"
             "more bytes or above max_length) and .code the library's error number:\n"
             "lzs.ERROR_* (LZS_ERROR_* in lzs.h).");

// The library's levels, error codes (from lzs.h's list) and stream sizes,
// by their names in lzs.h less LZS_.
#define LZS_ERROR_CONSTANT(name, code, words, when) {"ERROR_" #name, LZS_ERROR_##name},
// One constant a line:
// clang-format off
const struct {
  const char* name;
  long value;
} intConstants[] = {{"LEVEL_DEFAULT", LZS_LEVEL_DEFAULT},
                    {"LEVEL_FAST", LZS_LEVEL_FAST},
                    {"LEVEL_OPTIMAL", LZS_LEVEL_OPTIMAL},
                    LZS_ERRORS(LZS_ERROR_CONSTANT)
                    {"DSTREAM_IN_SIZE", static_cast<long>(lzs_dstream_in_size())},
                    {"DSTREAM_OUT_SIZE", static_cast<long>(lzs_dstream_out_size())},
                    {"CSTREAM_IN_SIZE", static_cast<long>(lzs_cstream_in_size())}};
// clang-format on
#undef LZS_ERROR_CONSTANT

// PyModule_AddObject, which takes the reference only when it succeeds.
int AddObject(PyObject* module, const char* name, PyObject* object) {
  Py_INCREF(object);
  if (PyModule_AddObject(module, name, object) == 0) return 0;
  Py_DECREF(object);
  return -1;
}

int ModuleExec(PyObject* module) {
  ModuleState* state = StateOf(module);
  PyObject* attributes = Py_BuildValue("{s:i}", "code", 0);
  if (attributes == nullptr) return -1;
  state->lzsError =
      PyErr_NewExceptionWithDoc("lzs.LzsError", lzsErrorDoc, PyExc_ValueError, attributes);
  Py_DECREF(attributes);
  if (state->lzsError == nullptr) return -1;
  state->salvageWarning = PyErr_NewExceptionWithDoc("lzs.SalvageWarning", salvageWarningDoc,
                                                    PyExc_UserWarning, nullptr);
  if (state->salvageWarning == nullptr) return -1;
  if (AddObject(module, "LzsError", state->lzsError) != 0 ||
      AddObject(module, "SalvageWarning", state->salvageWarning) != 0 ||
      PyModule_AddStringConstant(module, "__version__", LZS_MODULE_VERSION) != 0) {
    return -1;
  }
  for (const auto& constant : intConstants) {
    if (PyModule_AddIntConstant(module, constant.name, constant.value) != 0) return -1;
  }
  return 0;
}

// The collector may visit the module before its state exists: Python 3.8
// calls these between making the module and running ModuleExec, with no
// state yet.
int ModuleTraverse(PyObject* module, visitproc visit, void* arg) {
  if (ModuleState* state = StateOf(module)) {
    Py_VISIT(state->lzsError);
    Py_VISIT(state->salvageWarning);
  }
  return 0;
}

int ModuleClear(PyObject* module) {
  if (ModuleState* state = StateOf(module)) {
    Py_CLEAR(state->lzsError);
    Py_CLEAR(state->salvageWarning);
  }
  return 0;
}

void ModuleFree(void* module) { ModuleClear(static_cast<PyObject*>(module)); }

// The module keeps no state of its own between calls, and each codec
// context keeps to one thread with an atomic flag: it needs no GIL.
PyModuleDef_Slot moduleSlots[] = {{Py_mod_exec, reinterpret_cast<void*>(ModuleExec)},
#if defined(Py_GIL_DISABLED)
                                  {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
                                  {0, nullptr}};

PyModuleDef moduleDef = {
    PyModuleDef_HEAD_INIT, "lzs._lzs",    "The codec calls of liblzs; import lzs instead.",
    sizeof(ModuleState),   moduleMethods, moduleSlots,
    ModuleTraverse,        ModuleClear,   ModuleFree};

}  // namespace

// The name Python looks for when it imports lzs._lzs, and the one symbol the
// module exports (Python 3.8's PyMODINIT_FUNC does not say so by itself).
#pragma GCC visibility push(default)
PyMODINIT_FUNC PyInit__lzs(void) { return PyModuleDef_Init(&moduleDef); }  // NOLINT
#pragma GCC visibility pop
