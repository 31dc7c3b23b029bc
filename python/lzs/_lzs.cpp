// lzs._lzs: the codec calls of liblzs (include/lzs.h) for Python.
//
// Every argument that carries data is held with the buffer protocol for the
// length of the call, never copied, and every codec call runs with the GIL
// released. Each Python object made here is released in the function that
// made it, on every path.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstdint>

#include "lzs.h"

namespace {

struct ModuleState {
  PyObject* lzsError;     // lzs.LzsError
  PyObject* encoderType;  // lzs.Encoder
};

ModuleState* StateOf(PyObject* module) {
  return static_cast<ModuleState*>(PyModule_GetState(module));
}

// Raises the exception for a failed call's result: MemoryError for
// LZS_ERROR_OUT_OF_MEMORY, else LzsError(message) with .code set.
PyObject* RaiseLzsError(PyObject* module, size_t result) {
  const lzs_error code = lzs_get_error(result);
  const char* message = lzs_error_name(result);
  if (code == LZS_ERROR_OUT_OF_MEMORY) return PyErr_NoMemory();
  PyObject* error = PyObject_CallFunction(StateOf(module)->lzsError, "s", message);
  if (error == nullptr) return nullptr;
  PyObject* number = PyLong_FromLong(code);
  if (number != nullptr && PyObject_SetAttrString(error, "code", number) == 0) {
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error)), error);
  }
  Py_XDECREF(number);
  Py_DECREF(error);
  return nullptr;
}

PyObject* RaiseCode(PyObject* module, lzs_error code) {
  return RaiseLzsError(module, static_cast<size_t>(0) - code);
}

// A contiguous view of a bytes-like argument; TypeError for anything else.
bool GetBytes(PyObject* object, Py_buffer* view) {
  return PyObject_GetBuffer(object, view, PyBUF_SIMPLE) == 0;
}

// Packs the view into a new bytes object: with `encoder`, through it, else
// with a workspace of its own. Needs the GIL; drops it around the call.
PyObject* Pack(PyObject* module, lzs_encoder* encoder, const Py_buffer& data, int level) {
  const size_t size = static_cast<size_t>(data.len);
  const size_t bound = lzs_encode_bound(size);
  if (bound == 0) return RaiseCode(module, LZS_ERROR_INPUT_TOO_LARGE);
  PyObject* image = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(bound));
  if (image == nullptr) return nullptr;
  char* dst = PyBytes_AS_STRING(image);
  size_t result = 0;
  Py_BEGIN_ALLOW_THREADS
    result = encoder != nullptr ? lzs_encode_with(encoder, dst, bound, data.buf, size, level)
                                : lzs_encode(dst, bound, data.buf, size, level);
  Py_END_ALLOW_THREADS
  if (lzs_is_error(result)) {
    Py_DECREF(image);
    return RaiseLzsError(module, result);
  }
  if (_PyBytes_Resize(&image, static_cast<Py_ssize_t>(result)) != 0) return nullptr;
  return image;
}

// ---------------------------------------------------------------------------
// Module functions

const char* const levelKeywords[] = {"data", "level", nullptr};

PyObject* Compress(PyObject* module, PyObject* args, PyObject* kwargs) {
  PyObject* object = nullptr;
  int level = LZS_LEVEL_DEFAULT;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|i:compress", const_cast<char**>(levelKeywords),
                                   &object, &level)) {
    return nullptr;
  }
  Py_buffer data;
  if (!GetBytes(object, &data)) return nullptr;
  PyObject* image = Pack(module, nullptr, data, level);
  PyBuffer_Release(&data);
  return image;
}

PyObject* Decompress(PyObject* module, PyObject* object) {
  Py_buffer image;
  if (!GetBytes(object, &image)) return nullptr;
  const size_t imageSize = static_cast<size_t>(image.len);
  size_t size = 0;
  Py_BEGIN_ALLOW_THREADS
    size = lzs_decoded_size(image.buf, imageSize);
  Py_END_ALLOW_THREADS
  PyObject* output = nullptr;
  if (lzs_is_error(size)) {
    RaiseLzsError(module, size);
  } else if (size > static_cast<size_t>(PY_SSIZE_T_MAX)) {
    PyErr_NoMemory();
  } else {
    output = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size));
  }
  if (output != nullptr) {
    char* dst = PyBytes_AS_STRING(output);
    size_t result = 0;
    Py_BEGIN_ALLOW_THREADS
      result = lzs_decode(dst, size, image.buf, imageSize);
    Py_END_ALLOW_THREADS
    // Another thread may have changed a writable buffer between the scan and
    // the decode; the decode stays within `size` bytes either way.
    if (lzs_is_error(result)) {
      Py_CLEAR(output);
      RaiseLzsError(module, result);
    } else if (result != size && _PyBytes_Resize(&output, static_cast<Py_ssize_t>(result)) != 0) {
      output = nullptr;
    }
  }
  PyBuffer_Release(&image);
  return output;
}

PyObject* DecodedSize(PyObject* module, PyObject* object) {
  Py_buffer image;
  if (!GetBytes(object, &image)) return nullptr;
  size_t size = 0;
  Py_BEGIN_ALLOW_THREADS
    size = lzs_decoded_size(image.buf, static_cast<size_t>(image.len));
  Py_END_ALLOW_THREADS
  PyBuffer_Release(&image);
  if (lzs_is_error(size)) return RaiseLzsError(module, size);
  return PyLong_FromSize_t(size);
}

const char* const lengthKeywords[] = {"buffer", "offset", nullptr};

PyObject* ImageLength(PyObject* module, PyObject* args, PyObject* kwargs) {
  PyObject* object = nullptr;
  Py_ssize_t offset = 0;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|n:image_length",
                                   const_cast<char**>(lengthKeywords), &object, &offset)) {
    return nullptr;
  }
  if (offset < 0) {
    PyErr_SetString(PyExc_ValueError, "offset must not be negative");
    return nullptr;
  }
  Py_buffer buffer;
  if (!GetBytes(object, &buffer)) return nullptr;
  const Py_ssize_t left = offset <= buffer.len ? buffer.len - offset : 0;
  const size_t n =
      lzs_image_length(static_cast<const std::uint8_t*>(buffer.buf) + (left > 0 ? offset : 0),
                       static_cast<size_t>(left));
  PyBuffer_Release(&buffer);
  if (lzs_is_error(n)) {
    RaiseCode(module, lzs_get_error(n));
    return nullptr;
  }
  return PyLong_FromSize_t(n);
}

PyObject* LibraryVersion(PyObject*, PyObject*) {
  return PyUnicode_FromString(lzs_version_string());
}

// ---------------------------------------------------------------------------
// lzs.Encoder

struct Encoder {
  PyObject_HEAD lzs_encoder* encoder;
  bool busy;  // set and cleared with the GIL held
};

PyObject* EncoderNew(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  if (!PyArg_ParseTuple(args, ":Encoder") || (kwargs != nullptr && PyDict_GET_SIZE(kwargs) != 0)) {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "Encoder() takes no arguments");
    return nullptr;
  }
  auto* self = reinterpret_cast<Encoder*>(type->tp_alloc(type, 0));
  if (self == nullptr) return nullptr;
  self->encoder = lzs_encoder_create();
  self->busy = false;
  if (self->encoder == nullptr) {
    Py_DECREF(self);
    return PyErr_NoMemory();
  }
  return reinterpret_cast<PyObject*>(self);
}

void EncoderDealloc(PyObject* object) {
  auto* self = reinterpret_cast<Encoder*>(object);
  PyTypeObject* type = Py_TYPE(object);
  lzs_encoder_free(self->encoder);
  type->tp_free(object);
  Py_DECREF(type);
}

PyObject* EncoderCompress(PyObject* object, PyObject* args, PyObject* kwargs) {
  auto* self = reinterpret_cast<Encoder*>(object);
  PyObject* input = nullptr;
  int level = LZS_LEVEL_DEFAULT;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|i:compress", const_cast<char**>(levelKeywords),
                                   &input, &level)) {
    return nullptr;
  }
  Py_buffer data;
  if (!GetBytes(input, &data)) return nullptr;
  PyObject* image = nullptr;
  if (self->busy) {
    PyErr_SetString(PyExc_RuntimeError, "this Encoder is in use by another thread");
  } else {
    self->busy = true;
    image = Pack(PyType_GetModule(Py_TYPE(object)), self->encoder, data, level);
    self->busy = false;
  }
  PyBuffer_Release(&data);
  return image;
}

PyDoc_STRVAR(encoderCompressDoc,
             "compress(data, level=LEVEL_DEFAULT) -> bytes\n\n"
             "Pack data, as lzs.compress does, in this encoder's workspace.");

PyMethodDef encoderMethods[] = {
    {"compress", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(EncoderCompress)),
     METH_VARARGS | METH_KEYWORDS, encoderCompressDoc},
    {nullptr, nullptr, 0, nullptr}};

PyDoc_STRVAR(encoderDoc,
             "Encoder()\n\n"
             "A reusable packer: its workspace is kept from one compress() call to the\n"
             "next, so packing many inputs does not allocate it again.\n\n"
             "An Encoder is for one thread at a time: a call made while another thread\n"
             "is inside compress() of the same Encoder raises RuntimeError. Give each\n"
             "thread its own Encoder.");

PyType_Slot encoderSlots[] = {{Py_tp_new, reinterpret_cast<void*>(EncoderNew)},
                              {Py_tp_dealloc, reinterpret_cast<void*>(EncoderDealloc)},
                              {Py_tp_methods, encoderMethods},
                              {Py_tp_doc, const_cast<char*>(encoderDoc)},
                              {0, nullptr}};

PyType_Spec encoderSpec = {"lzs.Encoder", sizeof(Encoder), 0,
                           Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, encoderSlots};

// ---------------------------------------------------------------------------
// The module

PyDoc_STRVAR(compressDoc,
             "compress(data, level=LEVEL_DEFAULT) -> bytes\n\n"
             "Pack data (any bytes-like object of 1 byte to 2 GiB) into an LZS image,\n"
             "its 4-byte header included. LEVEL_OPTIMAL (9) makes the smallest image the\n"
             "format allows, as LEVEL_DEFAULT (0) does; LEVEL_FAST (1) packs greedily,\n"
             "for large batches.\n"
             "Raises LzsError for empty or too large data and for an unknown level.");

PyDoc_STRVAR(decompressDoc,
             "decompress(image) -> bytes\n\n"
             "Unpack exactly one LZS image (header included) from a bytes-like object.\n"
             "Raises LzsError when it is not an image or yields no byte.");

PyDoc_STRVAR(decodedSizeDoc,
             "decoded_size(image) -> int\n\n"
             "The size decompress(image) would return, from a scan that writes\n"
             "nothing. Raises LzsError as decompress does.");

PyDoc_STRVAR(imageLengthDoc,
             "image_length(buffer, offset=0) -> int\n\n"
             "The length of the image that starts at offset in buffer: 4 plus the\n"
             "value of its header. Raises LzsError when fewer than 4 bytes are left at\n"
             "offset (ERROR_NOT_AN_IMAGE) or the image would run past the end\n"
             "(ERROR_TRUNCATED). With it an image inside a larger blob decodes\n"
             "without a copy:\n\n"
             "    n = lzs.image_length(blob, off)\n"
             "    data = lzs.decompress(memoryview(blob)[off:off + n])");

PyDoc_STRVAR(libraryVersionDoc,
             "library_version() -> str\n\n"
             "The version of the liblzs linked into this module, as \"major.minor.patch\".");

PyMethodDef moduleMethods[] = {
    {"compress", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Compress)),
     METH_VARARGS | METH_KEYWORDS, compressDoc},
    {"decompress", Decompress, METH_O, decompressDoc},
    {"decoded_size", DecodedSize, METH_O, decodedSizeDoc},
    {"image_length", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(ImageLength)),
     METH_VARARGS | METH_KEYWORDS, imageLengthDoc},
    {"library_version", LibraryVersion, METH_NOARGS, libraryVersionDoc},
    {nullptr, nullptr, 0, nullptr}};

PyDoc_STRVAR(lzsErrorDoc,
             "A call of liblzs failed. str(error) is the library's description and\n"
             ".code the library's error number: lzs.ERROR_* (LZS_ERROR_* in lzs.h).");

// The library's levels and error codes, by their names in lzs.h less LZS_.
const struct {
  const char* name;
  int value;
} intConstants[] = {{"LEVEL_DEFAULT", LZS_LEVEL_DEFAULT},
                    {"LEVEL_FAST", LZS_LEVEL_FAST},
                    {"LEVEL_OPTIMAL", LZS_LEVEL_OPTIMAL},
                    {"ERROR_NOT_AN_IMAGE", LZS_ERROR_NOT_AN_IMAGE},
                    {"ERROR_TRUNCATED", LZS_ERROR_TRUNCATED},
                    {"ERROR_NO_OUTPUT", LZS_ERROR_NO_OUTPUT},
                    {"ERROR_DST_TOO_SMALL", LZS_ERROR_DST_TOO_SMALL},
                    {"ERROR_INPUT_TOO_LARGE", LZS_ERROR_INPUT_TOO_LARGE},
                    {"ERROR_OUT_OF_MEMORY", LZS_ERROR_OUT_OF_MEMORY},
                    {"ERROR_EMPTY_INPUT", LZS_ERROR_EMPTY_INPUT},
                    {"ERROR_BAD_ARGUMENT", LZS_ERROR_BAD_ARGUMENT},
                    {"ERROR_TRAILING_DATA", LZS_ERROR_TRAILING_DATA},
                    {"ERROR_BAD_LEVEL", LZS_ERROR_BAD_LEVEL}};

int ModuleExec(PyObject* module) {
  ModuleState* state = StateOf(module);
  PyObject* attributes = Py_BuildValue("{s:i}", "code", 0);
  if (attributes == nullptr) return -1;
  state->lzsError =
      PyErr_NewExceptionWithDoc("lzs.LzsError", lzsErrorDoc, PyExc_ValueError, attributes);
  Py_DECREF(attributes);
  if (state->lzsError == nullptr) return -1;
  state->encoderType = PyType_FromModuleAndSpec(module, &encoderSpec, nullptr);
  if (state->encoderType == nullptr) return -1;
  if (PyModule_AddObjectRef(module, "LzsError", state->lzsError) != 0 ||
      PyModule_AddObjectRef(module, "Encoder", state->encoderType) != 0 ||
      PyModule_AddStringConstant(module, "__version__", LZS_MODULE_VERSION) != 0) {
    return -1;
  }
  for (const auto& constant : intConstants) {
    if (PyModule_AddIntConstant(module, constant.name, constant.value) != 0) return -1;
  }
  return 0;
}

int ModuleTraverse(PyObject* module, visitproc visit, void* arg) {
  ModuleState* state = StateOf(module);
  Py_VISIT(state->lzsError);
  Py_VISIT(state->encoderType);
  return 0;
}

int ModuleClear(PyObject* module) {
  ModuleState* state = StateOf(module);
  Py_CLEAR(state->lzsError);
  Py_CLEAR(state->encoderType);
  return 0;
}

void ModuleFree(void* module) { ModuleClear(static_cast<PyObject*>(module)); }

PyModuleDef_Slot moduleSlots[] = {{Py_mod_exec, reinterpret_cast<void*>(ModuleExec)}, {0, nullptr}};

PyModuleDef moduleDef = {
    PyModuleDef_HEAD_INIT, "lzs._lzs",    "The codec calls of liblzs; import lzs instead.",
    sizeof(ModuleState),   moduleMethods, moduleSlots,
    ModuleTraverse,        ModuleClear,   ModuleFree};

}  // namespace

// The name Python looks for when it imports lzs._lzs.
PyMODINIT_FUNC PyInit__lzs(void) { return PyModuleDef_Init(&moduleDef); }  // NOLINT
