// Types of lzs: packs and unpacks LZS images in WebAssembly.

/** What the calls take: a Uint8Array (Node's Buffer is one), an ArrayBuffer or any other view. */
export type Bytes = Uint8Array | ArrayBuffer | ArrayBufferView;
/** What they give: a Uint8Array over an ArrayBuffer of its own (TypeScript 5.7 or later). */
export type Output = Uint8Array<ArrayBuffer>;

/** Resolves once the WebAssembly module is compiled; every call is synchronous after it. */
export const ready: Promise<void>;
/** Compiles the module (once); the same promise as `ready`. */
export function init(): Promise<void>;

/** Level 0: the default, the smallest image (as LEVEL_OPTIMAL). */
export const LEVEL_DEFAULT: 0;
/** Level 1: greedy over a bounded search, for large batches. */
export const LEVEL_FAST: 1;
/** Level 9: the smallest image the format allows. */
export const LEVEL_OPTIMAL: 9;

/** The library's error codes (lzs.h). */
export const ErrorCode: Readonly<{
  // lzs_header.py: begin errors (made from include/lzs.h by tools/lzs_header.py write)
  NOT_AN_IMAGE: 1;
  TRUNCATED: 2;
  NO_OUTPUT: 3;
  DST_TOO_SMALL: 4;
  INPUT_TOO_LARGE: 5;
  OUT_OF_MEMORY: 6;
  EMPTY_INPUT: 7;
  BAD_ARGUMENT: 8;
  TRAILING_DATA: 9;
  BAD_LEVEL: 10;
  // lzs_header.py: end errors
}>;

/** A failure of the codec: its code and the library's words for it. */
export class LzsError extends Error {
  name: "LzsError";
  /** One of ErrorCode's values. */
  code: number;
  /** The library's name of the error, without the sizes `message` adds. */
  reason: string;
  /** TRUNCATED and TRAILING_DATA: the size the header gives the image, header included. */
  imageSize?: number;
  /** TRUNCATED and TRAILING_DATA: the size of the input. */
  inputSize?: number;
  /** INPUT_TOO_LARGE of an image that would unpack to more: the limit, decompress's maxOutputSize or the most the module returns (4,294,967,285). */
  maxOutputSize?: number;
  /** INPUT_TOO_LARGE above decompress's maxOutputSize: the size the image would unpack to. */
  decodedSize?: number;
}

/** Packs data into an LZS image, header included. Throws LzsError (EMPTY_INPUT, INPUT_TOO_LARGE above 2 GiB, BAD_LEVEL, OUT_OF_MEMORY). */
export function compress(data: Bytes, options?: { level?: number }): Output;

/** Unpacks a whole image. Throws LzsError for a bad image, and INPUT_TOO_LARGE (with decodedSize) before unpacking one that would give more than maxOutputSize bytes. */
export function decompress(image: Bytes, options?: { maxOutputSize?: number }): Output;

/** The size the image unpacks to, from a scan of it; throws its LzsError. */
export function decodedSize(image: Bytes): number;

/** The length of the image at `offset` in buffer (its header's value plus 4), which may hold more after it; reads the header only. */
export function imageLength(buffer: Bytes, offset?: number): number;

/** The version of liblzs inside, "major.minor.patch". */
export function libraryVersion(): string;

/** A TransformStream from an image's bytes to its output, for `body.pipeThrough(...)`; it errors with an LzsError for a bad image, at the latest when its input ends. */
export class LzsDecompressionStream extends TransformStream<Bytes, Output> {
  constructor();
}
