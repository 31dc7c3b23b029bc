// Types of lzs/node: lzs's streams as Node stream.Transforms.
import type { Transform, TransformOptions } from "node:stream";

/** lzs's Level and Output, repeated here so that this file stands alone in ES modules and CommonJS. */
type Level = 0 | 1 | 9;
type Output = ReturnType<Uint8Array["slice"]>;

/** A Transform from an LZS image's bytes to its output, for pipe() and stream.pipeline(), as zlib's Gunzip is for gzip; it fails with lzs's LzsError for a bad image, at the latest when its input ends. */
export class LzsDecompress extends Transform {
  constructor(options?: TransformOptions);
}

/** A new LzsDecompress, as zlib.createGunzip() gives a Gunzip. */
export function createDecompress(options?: TransformOptions): LzsDecompress;

/** LzsCompressionStream's options and Node's Transform options. */
export type CompressOptions = TransformOptions & { level?: Level; headerLast?: boolean };

/** A Transform from data to its LZS image, as LzsCompressionStream (`headerLast` and `header` as there), as zlib's Gzip is for gzip. */
export class LzsCompress extends Transform {
  constructor(options?: CompressOptions);
  /** The image's 4 header bytes, once the input has ended. */
  readonly header: Promise<Output>;
}

/** A new LzsCompress, as zlib.createGzip() gives a Gzip. */
export function createCompress(options?: CompressOptions): LzsCompress;
