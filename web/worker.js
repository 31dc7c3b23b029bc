// The page's worker: packs or unpacks one file after another with the codec
// and makes the zip of the outputs, so that the page itself never waits on
// either. The build puts before this script fflate (the zip writer, as
// `fflate`) and lzs.mjs (the codec, as `lzs`, the object that
// `import * as lzs` gives).
"use strict";

// The largest file the page takes, and the largest output of an image: the
// module holds a file whole, in at most 4 GiB.
const PAGE_MAX = 2 ** 31;
// Outputs are typed as bytes, so that no browser sniffs a type and adds its
// own extension to a download's name.
const OUTPUT_TYPE = "application/octet-stream";

const count = (n) => n.toLocaleString("en-US");

function tooLarge(what) {
  return `too large for this page: ${what}; the page takes up to ${count(PAGE_MAX)}`;
}

// The words for a failure: the codec's, or memory the browser would not
// give.
function words(e) {
  if (e instanceof RangeError) return new lzs.LzsError(lzs.ErrorCode.OUT_OF_MEMORY).message;
  if (!(e instanceof lzs.LzsError)) return String(e.message || e);
  if (e.maxOutputSize !== undefined) return tooLarge(`it would unpack to more than ${count(e.maxOutputSize)} bytes`);
  return e.message;
}

// Unpacks an image: its size from a scan first, so that a bad image or one
// too large for the page fails before anything is unpacked; then its output
// through the streaming decoder, in pieces straight into a Blob, never whole
// in the module's memory and never copied out whole.
async function unpack(bytes) {
  const size = lzs.decodedSize(bytes);
  if (size > PAGE_MAX) return { error: tooLarge(`it would unpack to ${count(size)} bytes`) };
  const input = new ReadableStream({
    start(controller) {
      controller.enqueue(bytes);
      controller.close();
    },
  });
  const output = input.pipeThrough(new lzs.LzsDecompressionStream());
  return { output: await new Response(output, { headers: { "content-type": OUTPUT_TYPE } }).blob() };
}

function pack(bytes, mode) {
  const image = lzs.compress(bytes, { level: mode === "pack-fast" ? lzs.LEVEL_FAST : lzs.LEVEL_OPTIMAL });
  return { output: new Blob([image], { type: OUTPUT_TYPE }) };
}

// Unpacks or packs one file. Returns { output: Blob } or { error: words }.
async function runFile(job, mode) {
  if (job.file.size > PAGE_MAX) return { error: tooLarge(`the file has ${count(job.file.size)} bytes`) };
  let bytes;
  try {
    bytes = new Uint8Array(await job.file.arrayBuffer());
  } catch (e) {
    return { error: e instanceof RangeError ? words(e) : `could not be read (${e.name}); choose it again` };
  }
  try {
    return mode === "unpack" ? await unpack(bytes) : pack(bytes, mode);
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

// The zip of the outputs, each under its relative path: deflated when it is
// unpacked data, stored when it is an LZS image already.
async function makeZip(message) {
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
  if (message.type === "run") queue = queue.then(() => runBatch(message));
  else if (message.type === "zip") queue = queue.then(() => makeZip(message));
};
