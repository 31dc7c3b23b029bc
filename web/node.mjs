// lzs/node: lzs's decompression as a Node stream.Transform, for pipe() and
// stream.pipeline(), as zlib.createGunzip() is for gzip:
//
//   import { pipeline } from "node:stream/promises";
//   import { createDecompress } from "lzs/node";
//   await pipeline(createReadStream("map.lzs"), createDecompress(), createWriteStream("map"));
//
// It runs LzsDecompressionStream, so it gives the same bytes for any split
// of the input and fails with the same LzsError, at the latest when the
// input ends. The build makes node.cjs of it, requiring lzs.cjs.
import { Transform } from "node:stream";
import { LzsDecompressionStream } from "./lzs.mjs";

class LzsDecompress extends Transform {
  // `options`: Node's Transform options (highWaterMark, signal, ...).
  constructor(options) {
    super(options);
    const stream = new LzsDecompressionStream();
    this.writer = stream.writable.getWriter();
    // The output is handed on as the decoder gives it; its error, or its
    // end, settles `drained`.
    this.drained = (async () => {
      for await (const piece of stream.readable) this.push(piece);
    })();
    // An error seen by _transform or _flush is reported there; this keeps
    // it from counting as unhandled before they see it.
    this.drained.catch(() => {});
  }

  _transform(chunk, encoding, done) {
    this.writer.write(chunk).then(() => done(), (e) => this.drained.then(() => done(e), done));
  }

  _flush(done) {
    this.writer.close().then(() => this.drained).then(() => done(), (e) => this.drained.then(() => done(e), done));
  }

  _destroy(error, done) {
    this.writer.abort(error).catch(() => {});
    done(error);
  }
}

// A new LzsDecompress.
function createDecompress(options) {
  return new LzsDecompress(options);
}

export { LzsDecompress, createDecompress };
