// The page's worker: packs or unpacks one file after another with the codec
// and makes the zip of the outputs, so that the page itself never waits on
// either. The build puts before this script fflate (whose inflater checks
// the zip's entries, as `fflate`), lzs.mjs (the codec, as `lzs`, the object
// that `import * as lzs` gives) and zip.mjs (the zip writer, as `zip`).
"use strict";

// The largest file the page takes, and the largest output of an image: the
// module holds a file whole, in at most 4 GiB.
const PAGE_MAX = 2 ** 31;
// Outputs are typed as bytes, so that no browser sniffs a type and adds its
// own extension to a download's name.
const OUTPUT_TYPE = "application/octet-stream";

const count = (n) => n.toLocaleString("en-US");

// The library's words for a size above the page's limit: `sizes` are the
// file's (inputSize, maxInputSize) or its output's (decodedSize,
// maxOutputSize).
function tooLarge(sizes) {
  return new lzs.LzsError(lzs.ErrorCode.INPUT_TOO_LARGE, { ...sizes, limitName: "the page's limit" }).message;
}

// The words for a failure: the codec's, memory the browser would not give,
// or a file it could not read.
const outOfMemory = () => new lzs.LzsError(lzs.ErrorCode.OUT_OF_MEMORY).message;

function words(e) {
  if (e instanceof RangeError) return outOfMemory();
  return String(e.message || e);
}

// The words for an output (`what`) the browser would not keep: it holds
// outputs in memory or, in a window that is not private, also on the disk.
function notKept(what, size) {
  return `${outOfMemory()}: the browser would not keep ${what} (${count(size)} bytes); Clear the list to free the ` +
         "memory of earlier outputs (a private window keeps every output in memory)";
}

// `blob` once the browser has shown it keeps all of its `size` bytes (its
// last byte read back); null when it has not. A browser may take a Blob it
// cannot store, and fail only when it is read.
async function kept(blob, size) {
  if (blob.size !== size) return null;
  try {
    if (size > 0) await blob.slice(size - 1).arrayBuffer();
    return blob;
  } catch {
    return null;
  }
}

// A file of this size or more shows its progress in bytes, told at every
// hundredth of it (and at least every PROGRESS_STEP bytes apart); a smaller
// one is packed in one call.
const PROGRESS_FROM = 4 << 20;
const PROGRESS_STEP = 1 << 20;

// A function to be told the bytes done of `total` (read when packing,
// written when unpacking), which tells the page at each step.
function progress(id, total, verb) {
  const started = performance.now();
  const step = Math.max(PROGRESS_STEP, Math.ceil(total / 100));
  let next = total >= PROGRESS_FROM ? step : Infinity;
  return (done) => {
    if (done < next || done >= total) return;
    next = done + step;
    postMessage({ type: "progress", id, verb, done, total, seconds: (performance.now() - started) / 1000 });
  };
}

// Unpacks an image: its size from a scan first, so that a bad image or one
// too large for the page fails before anything is unpacked; then its output
// through the streaming decoder, in pieces straight into a Blob, never whole
// in the module's memory and never copied out whole. The Blob is made by a
// Response, which tells a failure of its stream only as "Failed to fetch":
// the decoder's own error is kept aside.
async function unpack(bytes, id) {
  const size = lzs.decodedSize(bytes);
  const report = progress(id, size, "unpacking");
  let written = 0;
  if (size > PAGE_MAX) return { error: tooLarge({ decodedSize: size, maxOutputSize: PAGE_MAX }) };
  const decoded = new ReadableStream({
    start(controller) {
      controller.enqueue(bytes);
      controller.close();
    },
  }).pipeThrough(new lzs.LzsDecompressionStream()).getReader();
  let failure = null;
  const body = new ReadableStream({
    async pull(controller) {
      try {
        const { done, value } = await decoded.read();
        if (done) {
          controller.close();
        } else {
          controller.enqueue(value);
          report((written += value.length));
        }
      } catch (e) {
        failure = e;
        controller.error(e);
      }
    },
  });
  let blob = null;
  try {
    blob = await new Response(body, { headers: { "content-type": OUTPUT_TYPE } }).blob();
  } catch (e) {
    if (failure) throw failure;
  }
  blob &&= await kept(blob, size);
  return blob ? { output: blob } : { error: notKept("this output", size) };
}

// The image of a large file through the compression stream, in pieces,
// telling its progress: the pieces of the image.
async function packStream(bytes, level, id) {
  const report = progress(id, bytes.length, "packing");
  const stream = new lzs.LzsCompressionStream({ level });
  const writer = stream.writable.getWriter();
  const made = [];
  const reading = (async () => {
    for await (const piece of stream.readable) made.push(piece);
  })();
  reading.catch(() => {});
  for (let at = 0; at < bytes.length; at += PROGRESS_STEP) {
    await writer.write(bytes.subarray(at, at + PROGRESS_STEP));
    report(at + PROGRESS_STEP);
  }
  await writer.close();
  await reading;
  return made;
}

// Packs a file: a small one in one call, a large one through the stream
// (the same image). Input built to keep the smallest level's choices open
// takes the stream past its memory limit: it is packed in one call then,
// as compress has no such limit.
async function pack(bytes, mode, id) {
  const level = mode === "pack-fast" ? lzs.LEVEL_FAST : lzs.LEVEL_OPTIMAL;
  let pieces = null;
  try {
    if (bytes.length >= PROGRESS_FROM) pieces = await packStream(bytes, level, id);
  } catch (e) {
    if (!(e instanceof lzs.LzsError && e.code === lzs.ErrorCode.OUT_OF_MEMORY)) throw e;
  }
  pieces ??= [lzs.compress(bytes, { level })];
  const size = pieces.reduce((sum, piece) => sum + piece.length, 0);
  const blob = await kept(new Blob(pieces, { type: OUTPUT_TYPE }), size);
  return blob ? { output: blob } : { error: notKept("this output", size) };
}

// The bytes of a file, or of a part of it (a Blob); a failure to read it
// is told as such, and memory the browser would not give as RangeError.
async function readBytes(blob) {
  try {
    return new Uint8Array(await blob.arrayBuffer());
  } catch (e) {
    throw e instanceof RangeError ? e : new Error(`could not be read (${e.name}); choose it again`);
  }
}

// What an image's damage lets be saved: an image cut short, or with bytes
// after its end, still holds output.
const DAMAGED = [lzs.ErrorCode.TRUNCATED, lzs.ErrorCode.TRAILING_DATA];

// What an image still holds (decompress with salvage): { output: Blob,
// warning: the library's words for the damage and what was kept }.
async function salvage(bytes) {
  const data = lzs.decompress(bytes, { salvage: true, maxOutputSize: PAGE_MAX });
  const blob = await kept(new Blob([data], { type: OUTPUT_TYPE }), data.length);
  return blob ? { output: blob, warning: data.warning } : { error: notKept("this output", data.length) };
}

// Unpacks or packs one file, or saves what a damaged image holds. Returns {
// output: Blob }, or { error: words, damaged: whether salvage can save
// some of it }. An image's header is checked first, from its first bytes
// and the file's size, so that a file that is no image of its size fails
// before it is read whole, whatever its size.
async function runFile(job, mode) {
  const { file } = job;
  try {
    if (mode === "unpack") lzs.checkHeader(await readBytes(file.slice(0, 4)), file.size);
    if (file.size > PAGE_MAX) return { error: tooLarge({ inputSize: file.size, maxInputSize: PAGE_MAX }) };
    const bytes = await readBytes(file);
    if (mode === "salvage") return await salvage(bytes);
    return mode === "unpack" ? await unpack(bytes, job.id) : await pack(bytes, mode, job.id);
  } catch (e) {
    return { error: words(e), damaged: mode === "unpack" && e instanceof lzs.LzsError && DAMAGED.includes(e.code) };
  }
}

// What an image holds, in the library's words and numbers (lzs --inspect):
// { text, inspection }, or { error: words }.
async function inspectFile(message) {
  const { file, path } = message;
  try {
    if (file.size > PAGE_MAX) return { error: tooLarge({ inputSize: file.size, maxInputSize: PAGE_MAX }) };
    const bytes = await readBytes(file);
    return { text: lzs.inspectText(bytes, { name: path }), inspection: lzs.inspect(bytes, { name: path }) };
  } catch (e) {
    return { error: words(e) };
  }
}

async function runBatch(message) {
  for (const job of message.jobs) {
    let result;
    try {
      result = await runFile(job, message.mode);
    } catch (e) {
      // Whatever went wrong ends this file, never the batch.
      result = { error: words(e) };
    }
    postMessage({ type: "file", id: job.id, ...result });
  }
}

// The zip of the outputs, each under its relative path: unpacked data
// deflated by the browser and checked by fflate's inflater, LZS images
// stored as they are (zip.mjs).
async function makeZip(message) {
  try {
    const entries = message.entries.map((entry) => ({ ...entry, deflate: entry.mode === "unpack" }));
    const made = await zip.makeZip(entries, { Inflate: fflate.Inflate });
    const blob = await kept(made, made.size);
    postMessage(blob ? { type: "zip", blob } : { type: "zip", error: notKept("the zip", made.size) });
  } catch (e) {
    postMessage({ type: "zip", error: words(e) });
  }
}

// One message at a time, in the order they came: files chosen during a
// batch wait for it, and the zip waits for the files before it.
let queue = Promise.resolve();
onmessage = (event) => {
  const message = event.data;
  if (message.type === "run") queue = queue.then(() => runBatch(message));
  else if (message.type === "inspect") queue = queue.then(async () => postMessage({ type: "inspection", ...(await inspectFile(message)) }));
  else if (message.type === "zip") queue = queue.then(() => makeZip(message));
};
