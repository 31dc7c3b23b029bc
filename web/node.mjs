// lzs/node: lzs's streams as Node stream.Transforms, for pipe() and
// stream.pipeline(), as zlib.createGunzip() and zlib.createGzip() are for
// gzip:
//
//   import { pipeline } from "node:stream/promises";
//   import { createCompress, createDecompress } from "lzs/node";
//   await pipeline(createReadStream("map.lzs"), createDecompress(), createWriteStream("map"));
//   await pipeline(createReadStream("map"), createCompress(), createWriteStream("map.lzs"));
//
// They run LzsDecompressionStream and LzsCompressionStream, so they give
// the same bytes for any split of the input and fail with the same
// LzsError, at the latest when the input ends. The build makes node.cjs of
// it, requiring lzs.cjs.
import { Transform } from "node:stream";
import { LzsCompressionStream, LzsDecompressionStream } from "./lzs.mjs";

// A Transform over one of lzs's TransformStreams: what is written goes to
// its writable side, and what its readable side gives is pushed on.
class WebTransform extends Transform {
  // `options`: Node's Transform options (highWaterMark, signal, ...).
  constructor(stream, options) {
    super(options);
    this.writer = stream.writable.getWriter();
    // The output is handed on as the stream gives it; its error, or its
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

// From an image's bytes to its output.
class LzsDecompress extends WebTransform {
  constructor(options) {
    super(new LzsDecompressionStream(), options);
  }
}

// From data to its image. `level` and `headerLast` are
// LzsCompressionStream's (with `headerLast`, `header` resolves to the 4
// bytes to write at the image's start); the other options the Transform's.
class LzsCompress extends WebTransform {
  constructor(options) {
    const { level, headerLast, ...rest } = options ?? {};
    const stream = new LzsCompressionStream({ level, headerLast });
    super(stream, rest);
    this.header = stream.header;
  }
}

// A new LzsDecompress.
function createDecompress(options) {
  return new LzsDecompress(options);
}

// A new LzsCompress.
function createCompress(options) {
  return new LzsCompress(options);
}

export { LzsCompress, LzsDecompress, createCompress, createDecompress };
