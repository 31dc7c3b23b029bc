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

// lzs_info as wasm32 lays it out (the byte offsets of its fields): size_t
// decodedSize, int lastItemCut, then the 8-byte aligned unsigned long long
// imageSize, inputSize and sizeLimit, the pointer limitName and unsigned
// flags, of which LZS_INFO_INPUT_LIMIT says that sizeLimit limits the input.
const INFO = Object.freeze({ size: 40, decodedSize: 0, imageSize: 8, inputSize: 16, sizeLimit: 24, limitName: 32, flags: 36 });
const INFO_INPUT_LIMIT = 4;
const INFO_SALVAGED = 8;
// Room for an lzs_inspection (1,864 bytes on wasm32) and an lzs_finding
// (32), with some to spare.
const INSPECTION_SIZE = 2048;
const FINDING_SIZE = 64;
// lzs_cstream_op.
const CSTREAM_CONTINUE = 0;
const CSTREAM_END = 1;

// The largest size the module returns: a 32-bit size_t, less the values
// that are its error codes. Its own largest value asks for no limit.
const SIZE_MAX = 2 ** 32 - 1 - Math.max(...Object.values(ErrorCode));
const NO_LIMIT = 2 ** 32 - 1;

// An instance whose memory grew past this for one call is dropped after it,
// so that one large input does not keep its memory for good.
const MEMORY_KEPT = 64 << 20;

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

// An error of the codec: its code, the library's name for it (`reason`)
// and, as `message`, the library's words for it with the sizes that tell it
// apart (lzs_describe), which are fields too:
//  - imageSize and inputSize: TRUNCATED and TRAILING_DATA (the size the
//    header gives the image, and the input's);
//  - maxOutputSize: INPUT_TOO_LARGE of an image that would unpack to more,
//    with decodedSize, the size it would unpack to, for a limit of the
//    caller's; without it, the most the module returns;
//  - inputSize and maxInputSize: INPUT_TOO_LARGE of an input above a limit;
//  - decodedSize and outputSize: DST_TOO_SMALL of decompressInto's `out`.
// `limitName` (not kept) names the limit in the words ("maxOutputSize").
class LzsError extends Error {
  constructor(code, details = {}) {
    super(describe(code, details));
    const { limitName, ...sizes } = details;
    this.name = "LzsError";
    this.code = code;
    this.reason = errorName(code);
    Object.assign(this, sizes);
  }
}

// The library's name of an error (lzs_error_name).
function errorName(code) {
  if (errorNames === null) instance();
  return errorNames?.get(code) ?? `error ${code}`;
}

// The library's words for an error with its sizes; its name alone where no
// instance of the module can be had (out of memory, say).
function describe(code, details) {
  const codec = Object.keys(details).length > 0 ? instance() : null;
  return codec?.describe(code, details) ?? errorName(code);
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

  // A size_t result as a number, or the LzsError it names. `info`, when
  // given, is the lzs_info the call filled, whose sizes the error tells;
  // `sizes` adds the caller's: `inputSize` when it counted more input than
  // the library took, `limitName` for its limit.
  check(result, info = 0, sizes = {}) {
    if (!this.exports.lzs_is_error(result)) return result >>> 0;
    const code = this.exports.lzs_get_error(result);
    throw new LzsError(code, info === 0 ? {} : this.sizesOf(code, info, sizes));
  }

  // What the lzs_info at `info` tells of the error `code`, as LzsError's
  // fields, with the caller's `inputSize` and `limitName`.
  sizesOf(code, info, { inputSize, limitName }) {
    const view = new DataView(this.exports.memory.buffer, info, INFO.size);
    const imageSize = Number(view.getBigUint64(INFO.imageSize, true));
    if ((code === ErrorCode.TRUNCATED || code === ErrorCode.TRAILING_DATA) && imageSize !== 0) {
      return { imageSize, inputSize: inputSize ?? Number(view.getBigUint64(INFO.inputSize, true)) };
    }
    if (code !== ErrorCode.INPUT_TOO_LARGE) return {};
    const decodedSize = view.getUint32(INFO.decodedSize, true);
    const limit = Number(view.getBigUint64(INFO.sizeLimit, true));
    return decodedSize !== 0 && limit !== 0 ? { decodedSize, maxOutputSize: limit, limitName } : { maxOutputSize: SIZE_MAX };
  }

  // lzs_describe of the error `code` with LzsError's `details`: the
  // library's words; null when the module has no memory for them.
  describe(code, { imageSize = 0, inputSize = 0, decodedSize = 0, maxOutputSize, maxInputSize, limitName }) {
    const { exports } = this;
    const name = limitName === undefined ? null : new TextEncoder().encode(`${limitName}\0`);
    const cap = 1024;
    const at = exports.malloc(INFO.size + cap + (name?.length ?? 0));
    if (at === 0) return null;
    try {
      const info = new DataView(exports.memory.buffer, at, INFO.size);
      info.setUint32(INFO.decodedSize, decodedSize, true);
      info.setUint32(INFO.limitName, name === null ? 0 : at + INFO.size + cap, true);
      info.setBigUint64(INFO.imageSize, BigInt(imageSize), true);
      info.setBigUint64(INFO.inputSize, BigInt(inputSize), true);
      info.setBigUint64(INFO.sizeLimit, BigInt(maxOutputSize ?? maxInputSize ?? 0), true);
      info.setUint32(INFO.flags, maxInputSize === undefined ? 0 : INFO_INPUT_LIMIT, true);
      if (name !== null) this.heap.set(name, at + INFO.size + cap);
      exports.lzs_describe(-code, at, at + INFO.size, cap);
      return this.readString(at + INFO.size);
    } finally {
      exports.free(at);
    }
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

  // A text the library writes as snprintf does (`write(buf, cap)` gives
  // its whole length): its length asked for first, then the text written.
  text(write) {
    const room = (write(0, 0) >>> 0) + 1;
    const at = this.alloc(room);
    write(at, room);
    const text = this.readString(at);
    this.release(at);
    return text;
  }

  // A name for the library's texts (lzs --inspect's file name), NUL ended;
  // 0 for none.
  copyName(name) {
    if (name === undefined) return 0;
    if (typeof name !== "string") throw new TypeError("lzs: name must be a string");
    return this.copyIn(new TextEncoder().encode(`${name}\0`));
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
    const info = this.alloc(INFO.size);
    return this.check(this.exports.lzs_image_info(at, size, info), info);
  }
}

// The instance the one-shot calls share; made anew after one whose memory
// grew large, or that failed in a way the library could not report.
let shared = null;

// The shared instance, made where there is none; null where none can be.
function instance() {
  try {
    shared ??= new Codec();
  } catch {
    return null;
  }
  return shared;
}

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

// A level as the library takes it: one that is no integer is no level the
// library knows.
const levelOf = (level) => (Number.isInteger(level) && level >= 0 && level <= 0x7fffffff ? level : -1);

// Packs data into an LZS image (header included). level: LEVEL_OPTIMAL (9,
// the smallest image; LEVEL_DEFAULT, 0, is the same) or LEVEL_FAST (1).
// With `like`, an image, packs data as that image was packed (level is not
// used then): see compressLike.
function compress(data, options) {
  const { level = LEVEL_DEFAULT, like } = options ?? {};
  const bytes = asBytes(data, "data");
  if (like !== undefined) return compressLike(bytes, asBytes(like, "like"));
  return withCodec((codec) => {
    const { exports } = codec;
    if (codec.encoder === 0) codec.encoder = exports.lzs_encoder_create();
    if (codec.encoder === 0) throw new LzsError(ErrorCode.OUT_OF_MEMORY);
    const known = levelOf(level);
    const capacity = exports.lzs_encode_bound(bytes.length) >>> 0;
    const input = codec.copyIn(bytes);
    const output = codec.alloc(capacity);
    const size = codec.check(exports.lzs_encode_with(codec.encoder, output, capacity, input, bytes.length, known));
    return codec.copyOut(output, size);
  });
}

// lzs_encode_like: data packed reusing orig's items wherever they still
// decode to data's bytes, parsed anew only where data differs from what
// orig unpacks to; data that is orig's output gives orig's bytes. orig must
// be a whole image: one that is not fails with its LzsError, as decompress
// gives it.
function compressLike(bytes, orig) {
  return withCodec((codec) => {
    const { exports } = codec;
    // Room for the largest image, and the two bytes orig may end in that
    // decode to nothing (a flag byte without items, a back-reference cut
    // in two), which the new image keeps.
    const capacity = (exports.lzs_encode_bound(bytes.length) >>> 0) + 2;
    const input = codec.copyIn(bytes);
    const original = codec.copyIn(orig);
    const output = codec.alloc(capacity);
    const result = exports.lzs_encode_like(output, capacity, input, bytes.length, original, orig.length, 0, 0);
    // orig's own error is told with orig's sizes.
    const info = codec.alloc(INFO.size);
    if (exports.lzs_is_error(result)) exports.lzs_image_info(original, orig.length, info);
    return codec.copyOut(output, codec.check(result, info));
  });
}

// Unpacks a whole image. An image that would unpack to more than
// maxOutputSize bytes fails (INPUT_TOO_LARGE, with decodedSize) before any
// memory is taken for its output. With `salvage`, an image cut short gives
// what its whole items give, and one with bytes after its end gives its own
// output: the array then has `warning`, the library's words for the damage
// and what was kept.
function decompress(image, options) {
  const { maxOutputSize = Infinity, salvage = false } = options ?? {};
  const bytes = asBytes(image, "image");
  if (typeof maxOutputSize !== "number" || !(maxOutputSize >= 0)) {
    throw new RangeError(`lzs: maxOutputSize must be a number of bytes, not ${maxOutputSize}`);
  }
  // The library decides how (one pass, or the size scan first) and asks for
  // the output's room itself: its address comes back in `slot`, beside the
  // lzs_info.
  const limit = Math.min(Math.floor(maxOutputSize), NO_LIMIT);
  return withCodec((codec) => {
    const { exports } = codec;
    const input = codec.copyIn(bytes);
    const slot = codec.alloc(8 + INFO.size);
    const call = salvage ? exports.lzs_salvage_alloc : exports.lzs_decode_alloc;
    const result = call(slot, input, bytes.length, limit, 0, 0, slot + 8);
    const output = new DataView(exports.memory.buffer, slot, 4).getUint32(0, true);
    if (output !== 0) codec.taken.push(output);
    const data = codec.copyOut(output, codec.check(result, slot + 8, { limitName: "maxOutputSize" }));
    const flags = new DataView(exports.memory.buffer, slot + 8, INFO.size).getUint32(INFO.flags, true);
    if (flags & INFO_SALVAGED) {
      data.warning = codec.text((buf, cap) => exports.lzs_describe(result, slot + 8, buf, cap));
    }
    return data;
  });
}

// lzs_inspect's findings on any bytes, in lzs_inspection_text's words: as
// JSON (`json`) or as the summary lzs --inspect prints, naming `name`.
function inspection(image, name, json) {
  const bytes = asBytes(image, "image");
  return withCodec((codec) => {
    const { exports } = codec;
    const label = codec.copyName(name);
    const found = codec.alloc(INSPECTION_SIZE);
    codec.check(exports.lzs_inspect(codec.copyIn(bytes), bytes.length, found));
    return codec.text((buf, cap) => exports.lzs_inspection_text(found, label, json ? 1 : 0, buf, cap));
  });
}

// What an image holds, item by item: the object of lzs --inspect --json,
// the same keys and values (`file` only with a name).
function inspect(image, options) {
  return JSON.parse(inspection(image, options?.name, true));
}

// The same as the summary lzs --inspect prints, lines ended by "\n".
function inspectText(image, options) {
  return inspection(image, options?.name, false);
}

// The images found inside buffer, in order, each the object of lzs --scan
// --json: offset, image_size, decoded_size, confidence ("high" or "low"),
// and `file` with a name.
function scan(buffer, options) {
  const bytes = asBytes(buffer, "buffer");
  return withCodec((codec) => {
    const { exports } = codec;
    const label = codec.copyName(options?.name);
    const input = codec.copyIn(bytes);
    // The size_t position, then the lzs_finding.
    const pos = codec.alloc(8 + FINDING_SIZE);
    new DataView(exports.memory.buffer, pos, 4).setUint32(0, 0, true);
    const findings = [];
    while (codec.check(exports.lzs_scan_next(input, bytes.length, pos, pos + 8)) === 1) {
      findings.push(JSON.parse(codec.text((buf, cap) => exports.lzs_finding_text(pos + 8, label, 1, buf, cap))));
    }
    return findings;
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
    throw new RangeError(`lzs: offset ${offset} is outside the buffer`);
  }
  const rest = Math.min(bytes.length - offset, 0xffffffff);
  return withCodec((codec) => codec.check(codec.exports.lzs_image_length(codec.copyIn(bytes.subarray(offset, offset + 4)), rest)));
}

// The header's rule alone, for an input of `inputSize` bytes that starts
// with `head` (its first 4 bytes, or all of it when it is shorter): throws
// the LzsError decompress gives for any such input whatever its other bytes
// (NOT_AN_IMAGE, TRUNCATED or TRAILING_DATA, with their sizes). For a file
// whose size is known before it is read.
function checkHeader(head, inputSize) {
  const bytes = asBytes(head, "head");
  if (!Number.isSafeInteger(inputSize) || inputSize < 0) {
    throw new RangeError(`lzs: inputSize must be a number of bytes, not ${inputSize}`);
  }
  if (bytes.length < Math.min(inputSize, 4)) {
    throw new RangeError(`lzs: head must hold the input's first ${Math.min(inputSize, 4)} bytes, not ${bytes.length}`);
  }
  withCodec((codec) => {
    const info = codec.alloc(INFO.size);
    const result = codec.exports.lzs_check_header(codec.copyIn(bytes.subarray(0, 4)), BigInt(inputSize), info);
    codec.check(result, info);
  });
}

// What both streams stand on: an instance of the module of their own
// (dropped with the stream, whatever becomes of it), the library's stream
// (`kind` "dstream" or "cstream"), buffers of its recommended sizes for a
// piece of input and of output, and the positions in them.
class StreamState {
  constructor(kind) {
    this.codec = new Codec();
    const { exports } = this.codec;
    this.inSize = exports[`lzs_${kind}_in_size`]() >>> 0;
    this.outSize = exports[`lzs_${kind}_out_size`]() >>> 0;
    this.stream = exports[`lzs_${kind}_create`]();
    if (this.stream === 0) throw new LzsError(ErrorCode.OUT_OF_MEMORY);
    this.input = this.codec.alloc(this.inSize);
    this.output = this.codec.alloc(this.outSize);
    this.positions = this.codec.alloc(8); // size_t dstPos, then srcPos
  }
}

// lzs_decode_stream: pieces of input in, pieces of output out, and at the
// end the verdict on the whole input, which is lzs_decode's on the same
// bytes. An error met on the way can still change with more input (the end
// of an image, then more bytes), so it waits for the end too; the input the
// library no longer takes is only counted.
class StreamDecoder extends StreamState {
  constructor() {
    super("dstream");
    this.info = this.codec.alloc(INFO.size);
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
        const result = exports.lzs_decode_stream(this.stream, this.output, this.outSize, this.positions,
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
    return this.codec.check(this.codec.exports.lzs_dstream_end(this.stream, this.info), this.info, { inputSize: this.inputSize });
  }
}

// lzs_encode_stream: pieces of input in, pieces of the image out, its
// header in their first 4 bytes as zeros; end() returns it once the input
// has ended.
class StreamEncoder extends StreamState {
  constructor(level) {
    super("cstream");
    this.codec.check(this.codec.exports.lzs_cstream_reset(this.stream, levelOf(level)));
  }

  // Packs `bytes`, the last of the input when `end`, handing each piece of
  // the image to `give`. Pieces of the recommended size go in; each is
  // taken whole before the next (the library packs what it has room for
  // and keeps the rest of its output for the next call).
  push(bytes, give, end = false) {
    const { exports } = this.codec;
    let start = 0;
    do {
      const piece = bytes.subarray(start, start + this.inSize);
      start += piece.length;
      const op = end && start >= bytes.length ? CSTREAM_END : CSTREAM_CONTINUE;
      this.codec.heap.set(piece, this.input);
      // The memory may grow in a call: its views are made anew after each.
      const positions = () => new Uint32Array(exports.memory.buffer, this.positions, 2);
      positions()[1] = 0;
      let left = 0;
      do {
        positions()[0] = 0;
        left = this.codec.check(exports.lzs_encode_stream(this.stream, this.output, this.outSize, this.positions,
                                                          this.input, piece.length, this.positions + 4, op));
        const made = positions()[0];
        if (made > 0) give(this.codec.copyOut(this.output, made));
      } while (positions()[1] < piece.length || (op === CSTREAM_END && left !== 0));
    } while (start < bytes.length);
  }

  // Ends the input, handing the rest of the image to `give`; returns the
  // image's header.
  end(give) {
    this.push(new Uint8Array(0), give, true);
    const header = this.codec.alloc(4);
    this.codec.check(this.codec.exports.lzs_cstream_header(this.stream, header));
    return this.codec.copyOut(header, 4);
  }
}

// A TransformStream from data to its LZS image, the same bytes as
// compress(data, { level }) for any split of the input. The image's header
// holds the size of the rest, known only at the end, so by default the
// stream holds the image (in pieces, as much memory as the image takes) and
// gives it all once the input ends, header first. With `headerLast`, it
// gives 4 zero bytes in the header's place, then the rest as it is made, in
// bounded memory (the encoder's few hundred KiB), and `header` resolves to
// the 4 bytes to write at the image's start once the input has ended: for
// a file that can be written at its start afterwards.
class LzsCompressionStream extends TransformStream {
  constructor(options) {
    const { level = LEVEL_DEFAULT, headerLast = false } = options ?? {};
    let encoder = null;
    let held = [];
    let settle = null;
    const header = new Promise((resolve, reject) => {
      settle = { resolve, reject };
    });
    header.catch(() => {});
    const failing = (work) => {
      try {
        work();
      } catch (e) {
        encoder = null;
        held = [];
        const error = e instanceof RangeError ? new LzsError(ErrorCode.OUT_OF_MEMORY) : e;
        settle.reject(error);
        throw error;
      }
    };
    super({
      start: () => failing(() => {
        encoder = new StreamEncoder(level);
      }),
      transform: (chunk, controller) => failing(() => {
        encoder.push(asBytes(chunk, "a chunk"), (piece) => (headerLast ? controller.enqueue(piece) : held.push(piece)));
      }),
      flush: (controller) => failing(() => {
        const give = (piece) => (headerLast ? controller.enqueue(piece) : held.push(piece));
        const bytes = encoder.end(give);
        encoder = null;
        if (!headerLast) {
          // The header in place of the first 4 bytes, wherever the pieces split them.
          let k = 0;
          for (const piece of held) for (let at = 0; at < piece.length && k < 4; ++at) piece[at] = bytes[k++];
          for (const piece of held) controller.enqueue(piece);
          held = [];
        }
        settle.resolve(bytes);
      }),
      cancel: (reason) => {
        encoder = null;
        held = [];
        settle.reject(reason);
      },
    });
    this.header = header;
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
  LzsCompressionStream,
  LzsDecompressionStream,
  LzsError,
  checkHeader,
  compress,
  decodedSize,
  decompress,
  decompressInto,
  imageLength,
  init,
  inspect,
  inspectText,
  libraryVersion,
  ready,
  scan,
};
