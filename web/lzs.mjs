// lzs: packs and unpacks LZS images (a 4-byte little-endian length of the
// rest, then an LZSS stream into a 4,096-byte window) in JavaScript. The
// codec is liblzs compiled to WebAssembly; the module's bytes are in this
// file (the build puts them in place of the marker below), so nothing needs
// to be served or read beside it.
//
//   import { ready, compress, decompress } from "lzs";
//   await ready;
//   const image = compress(data);  // Uint8Array, header included
//
// Every call is synchronous. The module is compiled once (`ready`, or
// `init()`); a call made before that compiles it on the spot, where the
// platform allows a synchronous compile (Node, workers).
//
// The build makes lzs.cjs of this file for require(), and the page's worker
// holds it as a plain script: each turns its one `export` statement, at the
// end, into its own form, and nothing else in it may import or export.

const wasmBase64 = "@LZS_WASM_BASE64@";

// The library's error codes (lzs.h's lzs_error) and levels.
const ErrorCode = Object.freeze({
  // lzs_header.py: begin errors (made from include/lzs.h by tools/lzs_header.py write)
  NOT_AN_IMAGE: 1,
  TRUNCATED: 2,
  NO_OUTPUT: 3,
  DST_TOO_SMALL: 4,
  INPUT_TOO_LARGE: 5,
  OUT_OF_MEMORY: 6,
  EMPTY_INPUT: 7,
  BAD_ARGUMENT: 8,
  TRAILING_DATA: 9,
  BAD_LEVEL: 10,
  // lzs_header.py: end errors
});
const LEVEL_DEFAULT = 0;
const LEVEL_FAST = 1;
const LEVEL_OPTIMAL = 9;

// lzs_info as wasm32 lays it out: size_t decodedSize, int lastItemCut, then
// the 8-byte aligned unsigned long long imageSize, inputSize and sizeLimit,
// the pointer limitName and unsigned flags.
const INFO_SIZE = 40;
const INFO_IMAGE_SIZE = 8;
const INFO_INPUT_SIZE = 16;

// The largest size the module returns: a 32-bit size_t, less the values
// that are its error codes.
const SIZE_MAX = 2 ** 32 - 1 - Math.max(...Object.values(ErrorCode));

// An instance whose memory grew past this for one call is dropped after it,
// so that one large input does not keep its memory for good.
const MEMORY_KEPT = 64 << 20;
// decompress() unpacks an image in one pass, into room for the most it can
// unpack to (lzs_decode_bound), where that room and the image take no more
// than this; the rest of MEMORY_KEPT is for the module's own memory and an
// encoder. A larger image is first scanned for its exact size.
const BOUND_ROOM_MAX = MEMORY_KEPT - (16 << 20);

const count = (n) => n.toLocaleString("en-US");

let compiled = null;
// The library's words for each error, read from the first instance, so that
// an error can be told when no instance can be made any more.
let errorNames = null;

function moduleBytes() {
  const binary = atob(wasmBase64);
  const bytes = new Uint8Array(binary.length);
  for (let k = 0; k < binary.length; ++k) bytes[k] = binary.charCodeAt(k);
  return bytes;
}

let compiling = null;
function init() {
  compiling ??= Promise.resolve()
    .then(() => compiled ?? WebAssembly.compile(moduleBytes()))
    .then((module) => {
      compiled = module;
    });
  return compiling;
}
const ready = init();
// A failed compile is reported to whoever awaits `ready`, not as a rejection
// nobody handled at import.
ready.catch(() => {});

// The code and the library's name of an error, with the sizes that tell it
// apart: `imageSize` and `inputSize` for TRUNCATED and TRAILING_DATA;
// `maxOutputSize` for an image that would unpack to more (INPUT_TOO_LARGE),
// the caller's or the most the module returns, and `decodedSize` with the
// caller's; `decodedSize` and `outputSize` for an image that would unpack
// to more than decompressInto's `out` holds (DST_TOO_SMALL).
class LzsError extends Error {
  constructor(code, details = {}) {
    super(describe(code, details));
    this.name = "LzsError";
    this.code = code;
    this.reason = errorName(code);
    Object.assign(this, details);
  }
}

function errorName(code) {
  return errorNames?.get(code) ?? `error ${code}`;
}

function describe(code, { imageSize, inputSize, decodedSize, maxOutputSize, outputSize }) {
  const name = errorName(code);
  if (outputSize !== undefined) {
    return `${name}: the image unpacks to ${count(decodedSize)} bytes; out holds ${count(outputSize)}`;
  }
  if (decodedSize !== undefined) {
    return `${name}: it would unpack to ${count(decodedSize)} bytes, above maxOutputSize (${count(maxOutputSize)})`;
  }
  if (maxOutputSize !== undefined) {
    return `${name}: it would unpack to more than ${count(maxOutputSize)} bytes, the most a 32-bit module returns`;
  }
  if (code === ErrorCode.TRUNCATED && imageSize !== undefined) {
    return `${name} (${count(inputSize)} of ${count(imageSize)} bytes)`;
  }
  if (code === ErrorCode.TRAILING_DATA && imageSize !== undefined) {
    return `${name} (${count(inputSize)} bytes; the image is ${count(imageSize)})`;
  }
  return name;
}

// One instance of the module: its exports, the memory a call has taken in
// it (`taken`, given back by release()), and, once packing needs it, a
// reusable encoder.
class Codec {
  constructor() {
    compiled ??= new WebAssembly.Module(moduleBytes());
    this.exports = new WebAssembly.Instance(compiled, {}).exports;
    this.exports._initialize();
    this.encoder = 0;
    this.taken = [];
    errorNames ??= new Map(Object.values(ErrorCode).map((code) => [code, this.readString(this.exports.lzs_error_name(-code))]));
  }

  get heap() { return new Uint8Array(this.exports.memory.buffer); }

  readString(at) {
    const heap = this.heap;
    const end = heap.indexOf(0, at);
    return new TextDecoder().decode(heap.subarray(at, end));
  }

  // A size_t result as a number, or the LzsError it names; `info`, when
  // given, is the lzs_info the call filled, whose sizes tell a cut-short
  // image and bytes after the end (the input's, `inputSize` when the caller
  // counted more of it than the library took).
  check(result, info = 0, inputSize = undefined) {
    if (!this.exports.lzs_is_error(result)) return result >>> 0;
    const code = this.exports.lzs_get_error(result);
    if (info === 0 || (code !== ErrorCode.TRUNCATED && code !== ErrorCode.TRAILING_DATA)) throw new LzsError(code);
    const view = new DataView(this.exports.memory.buffer, info, INFO_SIZE);
    throw new LzsError(code, {
      imageSize: Number(view.getBigUint64(INFO_IMAGE_SIZE, true)),
      inputSize: inputSize ?? Number(view.getBigUint64(INFO_INPUT_SIZE, true)),
    });
  }

  // `size` bytes of the module's memory, or 0 where it has no more.
  tryAlloc(size) {
    const at = this.exports.malloc(Math.max(size, 1));
    if (at !== 0) this.taken.push(at);
    return at;
  }

  alloc(size) {
    const at = this.tryAlloc(size);
    if (at === 0) throw new LzsError(ErrorCode.OUT_OF_MEMORY);
    return at;
  }

  // Gives back the memory at `at`, or, without it, all the memory taken.
  release(at = undefined) {
    const given = at === undefined ? this.taken : [at];
    for (const block of given) this.exports.free(block);
    this.taken = at === undefined ? [] : this.taken.filter((block) => block !== at);
  }

  copyIn(bytes) {
    const at = this.alloc(bytes.length);
    this.heap.set(bytes, at);
    return at;
  }

  // A new Uint8Array of the `size` bytes at `at`.
  copyOut(at, size) {
    return this.heap.slice(at, at + size);
  }

  // lzs_image_info on an image at `at`: its decoded size, or its LzsError.
  imageInfo(at, size) {
    const info = this.alloc(INFO_SIZE);
    const result = this.exports.lzs_image_info(at, size, info);
    if (this.exports.lzs_get_error(result) === ErrorCode.INPUT_TOO_LARGE) {
      throw new LzsError(ErrorCode.INPUT_TOO_LARGE, { maxOutputSize: SIZE_MAX });
    }
    return this.check(result, info);
  }
}

// The instance the one-shot calls share; made anew after one whose memory
// grew large, or that failed in a way the library could not report.
let shared = null;

// `work(codec)` on the shared instance; the memory it took there is given
// back after it, however it ends.
function withCodec(work) {
  shared ??= new Codec();
  const codec = shared;
  try {
    return work(codec);
  } catch (e) {
    if (!(e instanceof LzsError)) shared = null;
    if (e instanceof RangeError) throw new LzsError(ErrorCode.OUT_OF_MEMORY);
    throw e;
  } finally {
    codec.release();
    if (codec.exports.memory.buffer.byteLength > MEMORY_KEPT) shared = null;
  }
}

// The bytes of a Uint8Array (Node's Buffer is one), an ArrayBuffer or any
// other view.
function asBytes(data, what) {
  if (data instanceof Uint8Array) return data;
  if (data instanceof ArrayBuffer) return new Uint8Array(data);
  if (ArrayBuffer.isView(data)) return new Uint8Array(data.buffer, data.byteOffset, data.byteLength);
  throw new TypeError(`lzs: ${what} must be a Uint8Array, an ArrayBuffer or a Buffer`);
}

// Packs data into an LZS image (header included). level: LEVEL_OPTIMAL (9,
// the smallest image; LEVEL_DEFAULT, 0, is the same) or LEVEL_FAST (1).
function compress(data, options) {
  const { level = LEVEL_DEFAULT } = options ?? {};
  const bytes = asBytes(data, "data");
  return withCodec((codec) => {
    const { exports } = codec;
    if (codec.encoder === 0) codec.encoder = exports.lzs_encoder_create();
    if (codec.encoder === 0) throw new LzsError(ErrorCode.OUT_OF_MEMORY);
    // A level that is no integer is no level the library knows.
    const known = Number.isInteger(level) && level >= 0 && level <= 0x7fffffff ? level : -1;
    const capacity = exports.lzs_encode_bound(bytes.length) >>> 0;
    const input = codec.copyIn(bytes);
    const output = codec.alloc(capacity);
    const size = codec.check(exports.lzs_encode_with(codec.encoder, output, capacity, input, bytes.length, known));
    return codec.copyOut(output, size);
  });
}

// Unpacks a whole image. An image that would unpack to more than
// maxOutputSize bytes fails (INPUT_TOO_LARGE, with decodedSize) before any
// memory is taken for its output.
function decompress(image, options) {
  const { maxOutputSize = Infinity } = options ?? {};
  const bytes = asBytes(image, "image");
  if (typeof maxOutputSize !== "number" || !(maxOutputSize >= 0)) {
    throw new RangeError(`lzs: maxOutputSize must be a number of bytes, not ${maxOutputSize}`);
  }
  return withCodec((codec) => {
    const { exports } = codec;
    const input = codec.copyIn(bytes);
    // A bad image, or room that cannot be had, is told by the scan below.
    const bound = exports.lzs_decode_bound(bytes.length) >>> 0;
    if (bound !== 0 && bound <= maxOutputSize && bound + bytes.length <= BOUND_ROOM_MAX) {
      const room = codec.tryAlloc(bound);
      if (room !== 0) {
        const size = exports.lzs_decode(room, bound, input, bytes.length);
        if (!exports.lzs_is_error(size)) return codec.copyOut(room, size >>> 0);
        codec.release(room);
      }
    }
    const decodedSize = codec.imageInfo(input, bytes.length);
    if (decodedSize > maxOutputSize) throw new LzsError(ErrorCode.INPUT_TOO_LARGE, { decodedSize, maxOutputSize });
    const output = codec.alloc(decodedSize);
    const size = codec.check(exports.lzs_decode(output, decodedSize, input, bytes.length));
    return codec.copyOut(output, size);
  });
}

// Unpacks a whole image into `out`, a Uint8Array, from its start; returns
// the number of bytes written. The module decodes into room of the most
// out takes (or less, the most the image can unpack to) and copies into
// out. An image that would unpack to more than out holds fails
// (DST_TOO_SMALL, with decodedSize and outputSize) and leaves out as it was.
function decompressInto(image, out) {
  const bytes = asBytes(image, "image");
  if (!(out instanceof Uint8Array)) throw new TypeError("lzs: out must be a Uint8Array or a Buffer");
  return withCodec((codec) => {
    const { exports } = codec;
    const input = codec.copyIn(bytes);
    const room = Math.min(out.length, exports.lzs_decode_bound(bytes.length) >>> 0);
    const output = codec.alloc(room);
    const size = exports.lzs_decode(output, room, input, bytes.length);
    if (exports.lzs_is_error(size)) {
      // The image's own error, with its sizes, comes from the scan; an
      // image without one needs more room than out has.
      const decodedSize = codec.imageInfo(input, bytes.length);
      throw new LzsError(ErrorCode.DST_TOO_SMALL, { decodedSize, outputSize: out.length });
    }
    out.set(codec.heap.subarray(output, output + (size >>> 0)));
    return size >>> 0;
  });
}

// The size an image unpacks to, from a scan of it; the image's error when
// it has one.
function decodedSize(image) {
  const bytes = asBytes(image, "image");
  return withCodec((codec) => codec.imageInfo(codec.copyIn(bytes), bytes.length));
}

// The length of the image that starts at `offset` in buffer, as its header
// says (the header's value plus 4); buffer may hold more after it. Only the
// header is read, so it is the only part copied: the library is told the
// buffer's length and reads no further than the header.
function imageLength(buffer, offset = 0) {
  const bytes = asBytes(buffer, "buffer");
  if (!Number.isInteger(offset) || offset < 0 || offset > bytes.length) {
    throw new RangeError(`lzs: offset ${offset} is outside the buffer (${count(bytes.length)} bytes)`);
  }
  const rest = Math.min(bytes.length - offset, 0xffffffff);
  return withCodec((codec) => codec.check(codec.exports.lzs_image_length(codec.copyIn(bytes.subarray(offset, offset + 4)), rest)));
}

// lzs_decode_stream over an instance of its own (dropped with the decoder,
// whatever becomes of the stream): pieces of input in, pieces of output
// out, and at the end the verdict on the whole input, which is lzs_decode's
// on the same bytes. An error met on the way can still change with more
// input (the end of an image, then more bytes), so it waits for the end
// too; the input the library no longer takes is only counted.
class StreamDecoder {
  constructor() {
    this.codec = new Codec();
    const { exports } = this.codec;
    this.inSize = exports.lzs_dstream_in_size() >>> 0;
    this.outSize = exports.lzs_dstream_out_size() >>> 0;
    this.ds = exports.lzs_dstream_create();
    if (this.ds === 0) throw new LzsError(ErrorCode.OUT_OF_MEMORY);
    this.input = this.codec.alloc(this.inSize);
    this.output = this.codec.alloc(this.outSize);
    this.positions = this.codec.alloc(8); // size_t dstPos, then srcPos
    this.info = this.codec.alloc(INFO_SIZE);
    this.inputSize = 0;
    this.stopped = false;
  }

  // Decodes `bytes`, handing each piece of output to `give`.
  push(bytes, give) {
    const { exports } = this.codec;
    this.inputSize += bytes.length;
    for (let start = 0; start < bytes.length && !this.stopped; start += this.inSize) {
      const piece = bytes.subarray(start, start + this.inSize);
      this.codec.heap.set(piece, this.input);
      const positions = new Uint32Array(this.codec.exports.memory.buffer, this.positions, 2);
      positions[1] = 0;
      let more = true;
      while (more) {
        const taken = positions[1];
        positions[0] = 0;
        const result = exports.lzs_decode_stream(this.ds, this.output, this.outSize, this.positions,
                                                 this.input, piece.length, this.positions + 4);
        const made = positions[0];
        if (made > 0) give(this.codec.copyOut(this.output, made));
        // An error with input left over is final: the library takes no more.
        const failed = exports.lzs_is_error(result) !== 0;
        this.stopped = failed && positions[1] < piece.length;
        // On while input is left or the output was filled (more may be
        // waiting), and the call did something.
        more = !failed && (positions[1] < piece.length || made === this.outSize) && (made > 0 || positions[1] > taken);
      }
    }
  }

  // The verdict once the input has ended: the decoded size, or the error
  // (a cut-short image, bytes after its end, ...).
  end() {
    return this.codec.check(this.codec.exports.lzs_dstream_end(this.ds, this.info), this.info, this.inputSize);
  }
}

// A TransformStream from an LZS image's bytes to its output, as the
// platform's DecompressionStream is for gzip:
//   const output = response.body.pipeThrough(new LzsDecompressionStream());
// The stream errors with an LzsError when the image is bad, at the latest
// when the input ends (cut short, bytes after the end, ...). Chunks in:
// Uint8Array, ArrayBuffer or Buffer; out: Uint8Array.
class LzsDecompressionStream extends TransformStream {
  constructor() {
    let decoder = null;
    const failing = (work) => {
      try {
        work();
      } catch (e) {
        decoder = null;
        throw e instanceof RangeError ? new LzsError(ErrorCode.OUT_OF_MEMORY) : e;
      }
    };
    super({
      start: () => failing(() => {
        decoder = new StreamDecoder();
      }),
      transform: (chunk, controller) => failing(() => decoder.push(asBytes(chunk, "a chunk"), (piece) => controller.enqueue(piece))),
      flush: () => failing(() => {
        decoder.end();
        decoder = null;
      }),
      cancel: () => {
        decoder = null;
      },
    });
  }
}

// The version of liblzs inside, "major.minor.patch".
function libraryVersion() {
  return withCodec((codec) => codec.readString(codec.exports.lzs_version_string()));
}

export {
  ErrorCode,
  LEVEL_DEFAULT,
  LEVEL_FAST,
  LEVEL_OPTIMAL,
  LzsDecompressionStream,
  LzsError,
  libraryVersion,
  compress,
  decodedSize,
  decompress,
  decompressInto,
  imageLength,
  init,
  ready,
};
