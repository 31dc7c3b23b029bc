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
#include <cstring>
#include <memory>
#include <new>

#include "lzs.h"

namespace {

struct ModuleState {
  PyObject* lzsError;  // lzs.LzsError
};

ModuleState* StateOf(PyObject* module) {
  return static_cast<ModuleState*>(PyModule_GetState(module));
}

// pattern.format(name, first, second): sizes written with thousands
// separators, as every face of the library writes them.
PyObject* FormatSizes(const char* pattern, const char* name, unsigned long long first,
                      unsigned long long second) {
  PyObject* text = PyUnicode_FromString(pattern);
  if (text == nullptr) return nullptr;
  PyObject* message = PyObject_CallMethod(text, "format", "sKK", name, first, second);
  Py_DECREF(text);
  return message;
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

// Raises the exception for a failed call's result: MemoryError for
// LZS_ERROR_OUT_OF_MEMORY, else LzsError(message) with .code set. The
// message is the library's description; for an image cut short or followed
// by more bytes, with the sizes `info` (when given) tells: "... (5,000 of
// 10,004 bytes)", "... (10,010 bytes; the image is 10,004)", or with "at
// least" when `inputWhole` is false (a stream, read no further).
PyObject* RaiseLzsError(PyObject* module, size_t result, const lzs_info* info = nullptr,
                        bool inputWhole = true) {
  const lzs_error code = lzs_get_error(result);
  if (code == LZS_ERROR_OUT_OF_MEMORY) return PyErr_NoMemory();
  const char* name = lzs_error_name(result);
  const bool sized = info != nullptr && info->imageSize > 0;
  PyObject* message = nullptr;
  if (sized && code == LZS_ERROR_TRUNCATED) {
    message = FormatSizes("{} ({:,} of {:,} bytes)", name, info->inputSize, info->imageSize);
  } else if (sized && code == LZS_ERROR_TRAILING_DATA) {
    message = FormatSizes(inputWhole ? "{} ({:,} bytes; the image is {:,})"
                                     : "{} (at least {:,} bytes; the image is {:,})",
                          name, info->inputSize, info->imageSize);
  } else {
    message = PyUnicode_FromString(name);
  }
  return RaiseMessage(module, code, message);
}

// An image that unpacks to `size` bytes, more than the `most` the caller
// allows: LZS_ERROR_INPUT_TOO_LARGE, or LZS_ERROR_DST_TOO_SMALL for a buffer
// of `most` bytes given to decode into.
PyObject* RaiseTooLarge(PyObject* module, lzs_error code, size_t size, size_t most) {
  const size_t result = static_cast<size_t>(0) - code;
  return RaiseMessage(
      module, code,
      FormatSizes(code == LZS_ERROR_DST_TOO_SMALL
                      ? "{}: it would unpack to {:,} bytes, the buffer holds {:,}"
                      : "{}: it would unpack to {:,} bytes, above max_length ({:,})",
                  lzs_error_name(result), size, most));
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
  void Release() { lzs_encoder_free(encoder); }
};

// The context behind lzs.LzsDecompressor: the library's, and what the
// image still needs (its header's bytes, then its payload's) so that no call
// gives the library input past the image's end, and whether it has ended.
struct StreamFields {
  static constexpr const char* Name = "lzs._lzs.stream";
  lzs_dstream* stream;
  size_t left;
  bool ended;
  void Release() { lzs_dstream_free(stream); }
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

const char* const levelKeywords[] = {"data", "level", nullptr};

PyObject* Compress(PyObject* module, PyObject* args, PyObject* kwargs) {
  Py_buffer data;
  int level = LZS_LEVEL_DEFAULT;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "y*|i:compress", const_cast<char**>(levelKeywords),
                                   &data, &level)) {
    return nullptr;
  }
  PyObject* image = Pack(module, nullptr, data, level);
  PyBuffer_Release(&data);
  return image;
}

// Room for the most an image can unpack to (lzs_decode_bound) up to which
// decompress unpacks it in one pass into that room and copies the output
// out: the copy of an output that small costs less than the size scan that
// a bytes object of the exact size needs first.
constexpr size_t OnePassRoomMax = 16 << 20;

struct RawFree {
  void operator()(char* memory) const { PyMem_Free(memory); }
};

// The image unpacked in one pass, into room for the most it can unpack to,
// when that room is at most OnePassRoomMax and `most`. nullptr with no
// exception set when it is larger or cannot be had, or the image is refused:
// the scan then says why, with the sizes.
PyObject* DecodeInRoom(const Py_buffer& image, size_t most) {
  const size_t imageSize = static_cast<size_t>(image.len);
  const size_t room = lzs_decode_bound(imageSize);
  if (room == 0 || room > std::min(OnePassRoomMax, most)) return nullptr;
  const std::unique_ptr<char, RawFree> output(static_cast<char*>(PyMem_Malloc(room)));
  if (output == nullptr) return nullptr;
  size_t size = 0;
  Py_BEGIN_ALLOW_THREADS
    size = lzs_decode(output.get(), room, image.buf, imageSize);
  Py_END_ALLOW_THREADS
  if (lzs_is_error(size)) return nullptr;
  return PyBytes_FromStringAndSize(output.get(), static_cast<Py_ssize_t>(size));
}

// The decoded size of the image from a scan that writes nothing; false with
// LzsError set (with the sizes) when the image is refused.
bool Scan(PyObject* module, const Py_buffer& image, size_t& size) {
  lzs_info info{};
  Py_BEGIN_ALLOW_THREADS
    size = lzs_image_info(image.buf, static_cast<size_t>(image.len), &info);
  Py_END_ALLOW_THREADS
  if (lzs_is_error(size)) RaiseLzsError(module, size, &info);
  return !lzs_is_error(size);
}

// The most bytes a caller allows (max_length): no limit when negative.
size_t Most(Py_ssize_t maxLength) {
  return maxLength >= 0 ? static_cast<size_t>(maxLength) : SIZE_MAX;
}

// The image unpacked into a bytes object of its size, which a scan tells
// first; LzsError when it unpacks to more than `most` bytes.
PyObject* DecodeScanned(PyObject* module, const Py_buffer& image, size_t most) {
  size_t size = 0;
  if (!Scan(module, image, size)) return nullptr;
  if (size > most) return RaiseTooLarge(module, LZS_ERROR_INPUT_TOO_LARGE, size, most);
  if (size > static_cast<size_t>(PY_SSIZE_T_MAX)) return PyErr_NoMemory();
  PyObject* output = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size));
  if (output == nullptr) return nullptr;
  char* dst = BytesData(output);
  size_t result = 0;
  Py_BEGIN_ALLOW_THREADS
    result = lzs_decode(dst, size, image.buf, static_cast<size_t>(image.len));
  Py_END_ALLOW_THREADS
  // Another thread may have changed a writable buffer between the scan and
  // the decode; the decode stays within `size` bytes either way.
  if (lzs_is_error(result)) {
    Py_DECREF(output);
    return RaiseLzsError(module, result);
  }
  if (result != size) ResizeBytes(&output, static_cast<Py_ssize_t>(result));
  return output;
}

const char* const decompressKeywords[] = {"", "max_length", nullptr};

PyObject* Decompress(PyObject* module, PyObject* args, PyObject* kwargs) {
  Py_buffer image;
  Py_ssize_t maxLength = -1;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "y*|n:decompress",
                                   const_cast<char**>(decompressKeywords), &image, &maxLength)) {
    return nullptr;
  }
  const size_t most = Most(maxLength);
  PyObject* output = DecodeInRoom(image, most);
  if (output == nullptr && PyErr_Occurred() == nullptr) output = DecodeScanned(module, image, most);
  PyBuffer_Release(&image);
  return output;
}

PyObject* DecompressInto(PyObject* module, PyObject* args) {
  Py_buffer image;
  Py_buffer buffer;
  if (!PyArg_ParseTuple(args, "y*w*:decompress_into", &image, &buffer)) return nullptr;
  size_t result = 0;
  Py_BEGIN_ALLOW_THREADS
    result = lzs_decode(buffer.buf, static_cast<size_t>(buffer.len), image.buf,
                        static_cast<size_t>(image.len));
  Py_END_ALLOW_THREADS
  PyObject* written = nullptr;
  size_t size = 0;
  if (!lzs_is_error(result)) {
    written = PyLong_FromSize_t(result);
  } else if (lzs_get_error(result) == LZS_ERROR_BAD_ARGUMENT || Scan(module, image, size)) {
    // The scan says why the image is refused, with the sizes; when it takes
    // the image, the buffer is too small for it.
    if (lzs_get_error(result) == LZS_ERROR_DST_TOO_SMALL) {
      RaiseTooLarge(module, LZS_ERROR_DST_TOO_SMALL, size, static_cast<size_t>(buffer.len));
    } else {
      RaiseLzsError(module, result);
    }
  }
  PyBuffer_Release(&buffer);
  PyBuffer_Release(&image);
  return written;
}

PyObject* DecodedSize(PyObject* module, PyObject* object) {
  Py_buffer image;
  if (!GetBytes(object, &image)) return nullptr;
  size_t size = 0;
  const bool taken = Scan(module, image, size);
  PyBuffer_Release(&image);
  return taken ? PyLong_FromSize_t(size) : nullptr;
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

// Raises LzsError for a level the library does not know, as packing would:
// the library checks the level before it looks at the (empty) input.
PyObject* CheckLevel(PyObject* module, PyObject* args) {
  int level = LZS_LEVEL_DEFAULT;
  if (!PyArg_ParseTuple(args, "i:check_level", &level)) return nullptr;
  const size_t result = lzs_encode(nullptr, 0, nullptr, 0, level);
  if (lzs_get_error(result) == LZS_ERROR_BAD_LEVEL) return RaiseLzsError(module, result);
  Py_RETURN_NONE;
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

// lzs.LzsDecompressor keeps state of its own beside the context (the input
// left over, eof): it holds the context's flag from stream_hold to
// stream_release, around all of it, and calls the others in between.
PyObject* StreamHold(PyObject*, PyObject* capsule) {
  auto* box = BoxOf<StreamFields>(capsule);
  if (box == nullptr || !Take(box->busy, "LzsDecompressor")) return nullptr;
  Py_RETURN_NONE;
}

PyObject* StreamRelease(PyObject*, PyObject* capsule) {
  auto* box = BoxOf<StreamFields>(capsule);
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
// last byte), and whether it has ended: complete, an error, or all of its
// bytes taken with no output waiting.
void Track(StreamFields& fields, size_t result) {
  lzs_info info{};
  const size_t verdict = lzs_dstream_end(fields.stream, &info);
  const unsigned long long whole = info.imageSize != 0 ? info.imageSize : LZS_HEADER_SIZE;
  fields.left = static_cast<size_t>(whole - info.inputSize);
  fields.ended = result == 0 || lzs_is_error(result) ||
                 (fields.left == 0 && lzs_get_error(verdict) != LZS_ERROR_DST_TOO_SMALL);
  if (fields.ended) fields.left = 0;
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
  }
  if (lzs_is_error(result)) return RaiseLzsError(module, result, &info, false);
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
// The module

PyDoc_STRVAR(compressDoc,
             "compress($module, /, data, level=LEVEL_DEFAULT)\n--\n\n"
             "Pack data (any bytes-like object of 1 byte to 2 GiB) into an LZS image,\n"
             "its 4-byte header included. LEVEL_OPTIMAL (9) makes the smallest image the\n"
             "format allows, as LEVEL_DEFAULT (0) does; LEVEL_FAST (1) packs greedily,\n"
             "for large batches. Raises LzsError for empty or too large data and for\n"
             "an unknown level.");

PyDoc_STRVAR(decompressDoc,
             "decompress($module, image, /, max_length=-1)\n--\n\n"
             "Unpack exactly one LZS image (header included) from a bytes-like object.\n"
             "Raises LzsError when it is not an image or yields no byte, and when it\n"
             "would unpack to more than max_length bytes (ERROR_INPUT_TOO_LARGE; no\n"
             "limit when negative), before any memory is taken for its output.");

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

PyDoc_STRVAR(libraryVersionDoc,
             "library_version($module, /)\n--\n\n"
             "The version of the liblzs linked into this module, as \"major.minor.patch\".");

PyDoc_STRVAR(checkLevelDoc,
             "check_level($module, level, /)\n--\n\n"
             "Raise LzsError when compress would refuse level.");

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
    {"check_level", CheckLevel, METH_VARARGS, checkLevelDoc},
    {"encoder_new", EncoderNew, METH_NOARGS, encoderNewDoc},
    {"encoder_compress", WithKeywords(EncoderCompress), METH_VARARGS | METH_KEYWORDS,
     encoderCompressDoc},
    {"stream_new", StreamNew, METH_NOARGS, streamNewDoc},
    {"stream_hold", StreamHold, METH_O, streamHoldDoc},
    {"stream_release", StreamRelease, METH_O, streamReleaseDoc},
    {"stream_decode", StreamDecode, METH_VARARGS, streamDecodeDoc},
    {"stream_decode_into", StreamDecodeInto, METH_VARARGS, streamDecodeIntoDoc},
    {"stream_end", StreamEnd, METH_VARARGS, streamEndDoc},
    {nullptr, nullptr, 0, nullptr}};

PyDoc_STRVAR(lzsErrorDoc,
             "A call of liblzs failed. str(error) is the library's description (for an\n"
             "image cut short or followed by more bytes, with the sizes) and .code the\n"
             "library's error number: lzs.ERROR_* (LZS_ERROR_* in lzs.h).");

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
                    {"DSTREAM_OUT_SIZE", static_cast<long>(lzs_dstream_out_size())}};
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
  if (AddObject(module, "LzsError", state->lzsError) != 0 ||
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
  if (ModuleState* state = StateOf(module)) Py_VISIT(state->lzsError);
  return 0;
}

int ModuleClear(PyObject* module) {
  if (ModuleState* state = StateOf(module)) Py_CLEAR(state->lzsError);
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
