// Types of lzs/node: lzs's decompression as a Node stream.Transform.
import type { Transform, TransformOptions } from "node:stream";

/** A Transform from an LZS image's bytes to its output, for pipe() and stream.pipeline(), as zlib's Gunzip is for gzip; it fails with lzs's LzsError for a bad image, at the latest when its input ends. */
export class LzsDecompress extends Transform {
  constructor(options?: TransformOptions);
}

/** A new LzsDecompress, as zlib.createGunzip() gives a Gunzip. */
export function createDecompress(options?: TransformOptions): LzsDecompress;
