// The page's worker: runs the codec (lzs.wasm, embedded below by the build as
// LZS_WASM_BASE64) on one file after another and makes the zip of the
// outputs, so that the page itself never waits on either. fflate (the zip
// writer) is put before this script by the build.
"use strict";

// The library's error codes (lzs.h), as the negative numbers a 32-bit size_t
// reads as in JavaScript.
const ErrorInputTooLarge = -5;
const ErrorOutOfMemory = -6;
const LevelFast = 1;
const LevelOptimal = 9;
// An image whose decoded size the module's 32-bit size_t cannot hold.
const TooLargeToUnpack = "unpacks to 4 GiB or more, too large for the page";
// The largest input the encoder takes, and the largest image taken here:
// the file is held whole in the module's memory beside its output.
const MaxInput = 2 ** 31;
// A module whose memory grew past this after a file is made anew, so that
// one large file does not keep its memory for the rest of the batch.
const MemoryKept = 64 << 20;

let compiled = null;
let codec = null;

function Bytes(text) {
  const binary = atob(text);
  const bytes = new Uint8Array(binary.length);
  for (let k = 0; k < binary.length; ++k) bytes[k] = binary.charCodeAt(k);
  return bytes;
}

// The library's words for its errors, read once from the first module, so
// that a failure can be told when no module can be had any more.
let errorNames = null;
const ErrorMaxCode = 10;

function ReadErrorNames(exports) {
  const names = [];
  const heap = new Uint8Array(exports.memory.buffer);
  for (let code = 0; code <= ErrorMaxCode; ++code) {
    const start = exports.lzs_error_name(-code);
    let end = start;
    while (heap[end] !== 0) ++end;
    names.push(new TextDecoder().decode(heap.subarray(start, end)));
  }
  return names;
}

function Instantiate() {
  if (compiled === null) compiled = new WebAssembly.Module(Bytes(LZS_WASM_BASE64));
  const exports = new WebAssembly.Instance(compiled, {}).exports;
  exports._initialize();
  if (errorNames === null) errorNames = ReadErrorNames(exports);
  const encoder = exports.lzs_encoder_create();
  codec = { exports, encoder };
}

function Codec() {
  if (codec === null) Instantiate();
  return codec;
}

// Drops the module when its memory has grown large; the next file makes a
// new one.
function ReleaseLargeMemory() {
  if (codec !== null && codec.exports.memory.buffer.byteLength > MemoryKept) codec = null;
}

function ErrorName(code) {
  if (errorNames === null) Instantiate();
  return errorNames[-code] ?? `error ${code}`;
}

function IsError(code) { return Codec().exports.lzs_is_error(code) !== 0; }

// Copies bytes into a new block of the module's memory; 0 when it cannot be
// had.
function CopyIn(bytes) {
  const { exports } = Codec();
  const at = exports.malloc(Math.max(bytes.length, 1));
  if (at !== 0) new Uint8Array(exports.memory.buffer, at, bytes.length).set(bytes);
  return at;
}

// Unpacks or packs one input. Returns { output: Blob } or { error: words }.
function Work(bytes, mode) {
  const { exports, encoder } = Codec();
  const input = CopyIn(bytes);
  if (input === 0) return { error: ErrorName(ErrorOutOfMemory) };
  let output = 0;
  try {
    let size;
    let capacity;
    if (mode === "unpack") {
      capacity = exports.lzs_decoded_size(input, bytes.length);
      if (capacity === ErrorInputTooLarge) return { error: TooLargeToUnpack };
      if (IsError(capacity)) return { error: ErrorName(capacity) };
      capacity >>>= 0;
    } else {
      capacity = exports.lzs_encode_bound(bytes.length) >>> 0;
    }
    output = exports.malloc(capacity);
    if (output === 0) return { error: ErrorName(ErrorOutOfMemory) };
    if (mode === "unpack") {
      size = exports.lzs_decode(output, capacity, input, bytes.length);
    } else {
      const level = mode === "pack-fast" ? LevelFast : LevelOptimal;
      size = encoder === 0 ? ErrorOutOfMemory
                           : exports.lzs_encode_with(encoder, output, capacity, input, bytes.length, level);
    }
    if (IsError(size)) return { error: ErrorName(size) };
    size >>>= 0;
    // Typed as bytes, so that no browser sniffs a type and adds its own
    // extension to the download's name.
    const type = "application/octet-stream";
    return { output: new Blob([new Uint8Array(exports.memory.buffer, output, size)], { type }) };
  } finally {
    exports.free(output);
    exports.free(input);
  }
}

async function RunFile(job, mode) {
  if (job.file.size > MaxInput) return { error: ErrorName(ErrorInputTooLarge) };
  let bytes;
  try {
    bytes = new Uint8Array(await job.file.arrayBuffer());
  } catch (e) {
    return { error: `could not be read (${e.name})` };
  }
  try {
    return Work(bytes, mode);
  } catch (e) {
    // A module that ran out of memory in a way malloc could not report
    // (the Blob, the browser's own limits) is left behind.
    codec = null;
    return { error: e instanceof RangeError ? ErrorName(ErrorOutOfMemory) : String(e) };
  } finally {
    ReleaseLargeMemory();
  }
}

async function RunBatch(message) {
  for (const job of message.jobs) {
    let result;
    try {
      result = await RunFile(job, message.mode);
    } catch (e) {
      // Whatever went wrong (no module could be made, say) ends this file,
      // never the batch.
      codec = null;
      result = { error: String(e.message || e) };
    }
    postMessage({ type: "file", id: job.id, ...result });
  }
}

// The zip of the outputs, each under its relative path: deflated when it is
// unpacked data, stored when it is an LZS image already.
async function MakeZip(message) {
  const parts = [];
  let failure = null;
  const zip = new fflate.Zip((error, chunk) => {
    if (error) failure = error;
    else parts.push(chunk);
  });
  try {
    for (const entry of message.entries) {
      const file = message.deflate ? new fflate.ZipDeflate(entry.path, { level: 1 })
                                   : new fflate.ZipPassThrough(entry.path);
      file.mtime = entry.mtime;
      zip.add(file);
      file.push(new Uint8Array(await entry.blob.arrayBuffer()), true);
      if (failure) break;
    }
    zip.end();
  } catch (e) {
    failure = e;
  }
  if (failure) postMessage({ type: "zip", error: String(failure.message || failure) });
  else postMessage({ type: "zip", blob: new Blob(parts, { type: "application/zip" }) });
}

// One message at a time, in the order they came: files chosen during a
// batch wait for it, and the zip waits for the files before it.
let queue = Promise.resolve();
onmessage = (event) => {
  const message = event.data;
  if (message.type === "run") queue = queue.then(() => RunBatch(message));
  else if (message.type === "zip") queue = queue.then(() => MakeZip(message));
};
