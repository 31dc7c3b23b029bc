// Types of lzs: packs and unpacks LZS images in WebAssembly. They hold for
// TypeScript 4.7 and later, in ES modules (lzs.d.ts) and CommonJS
// (lzs.d.cts, the same text).

/** What the calls take: a Uint8Array (Node's Buffer is one), an ArrayBuffer or any other view. */
export type Bytes = Uint8Array | ArrayBuffer | ArrayBufferView;
/**
 * What they give: a Uint8Array over an ArrayBuffer of its own. This is what
 * Uint8Array's own slice() gives: Uint8Array<ArrayBuffer> where TypeScript
 * (5.7 and later) knows the kind of buffer, else Uint8Array.
 */
export type Output = ReturnType<Uint8Array["slice"]>;

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
/** The levels compress takes. */
export type Level = typeof LEVEL_DEFAULT | typeof LEVEL_FAST | typeof LEVEL_OPTIMAL;

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
/** One of ErrorCode's values. */
export type ErrorCodeValue = (typeof ErrorCode)[keyof typeof ErrorCode];

/** A failure of the codec: its code, and as `message` the library's words for it with the sizes that tell it apart (lzs_describe). */
export class LzsError extends Error {
  name: "LzsError";
  /** One of ErrorCode's values. */
  code: ErrorCodeValue;
  /** The library's name of the error, without the sizes `message` adds. */
  reason: string;
  /** TRUNCATED and TRAILING_DATA: the size the header gives the image, header included. */
  imageSize?: number;
  /** TRUNCATED and TRAILING_DATA: the size of the input. */
  inputSize?: number;
  /** INPUT_TOO_LARGE of an image that would unpack to more: the limit, decompress's maxOutputSize, or the most the module returns (2 ** 32 - 1 less the largest ErrorCode). */
  maxOutputSize?: number;
  /** INPUT_TOO_LARGE above decompress's maxOutputSize, and DST_TOO_SMALL of decompressInto: the size the image would unpack to. */
  decodedSize?: number;
  /** DST_TOO_SMALL of decompressInto: the size of `out`. */
  outputSize?: number;
}

/**
 * Packs data into an LZS image, header included. Throws LzsError (EMPTY_INPUT, INPUT_TOO_LARGE above 2 GiB, BAD_LEVEL, OUT_OF_MEMORY).
 * With `like`, an image, packs data as that image was packed, reusing its items wherever they still decode to data's bytes (`level` is not used): data that is like's output gives like's bytes. A `like` that is no whole image throws its LzsError.
 */
export function compress(data: Bytes, options?: { level?: Level; like?: Bytes }): Output;

/** What decompress gives with `salvage`: for a damaged image, `warning` holds the library's words for the damage and what was kept. */
export type Salvaged = Output & { warning?: string };

/**
 * Unpacks a whole image. Throws LzsError for a bad image, and INPUT_TOO_LARGE (with decodedSize) before unpacking one that would give more than maxOutputSize bytes.
 * With `salvage`, an image cut short gives what its whole items give, and one with bytes after its end its own output, with `warning` set.
 */
export function decompress(image: Bytes, options: { maxOutputSize?: number; salvage: true }): Salvaged;
export function decompress(image: Bytes, options?: { maxOutputSize?: number; salvage?: boolean }): Output;

/** What inspect gives: the object of `lzs --inspect --json`, its keys and values. */
export interface Inspection {
  /** The name given to inspect, when one was. */
  file?: string;
  status: "ok" | "truncated" | "trailing" | "not-an-image";
  /** The bytes given. */
  image_size: number;
  /** What the header promises, header included; 0 for fewer than 4 bytes. */
  promised_size: number;
  decoded_size: number;
  /** Flag bytes read. */
  groups: number;
  literals: number;
  references: number;
  /** The back-references by copy length, 3 to 18. */
  length_histogram: number[];
  /** The back-references by distance: 0, then [2^k, 2^(k+1)) for k from 0 to 11. */
  distance_histogram: number[];
  /** Back-references that read before the output's start or at distance 0. */
  zero_references: number;
  /** The output offset of the first of them, or null. */
  first_zero_reference: number | null;
  /** The image lzs -9 makes of the decoded bytes; 0 when nothing decodes. */
  smallest_image_size: number;
  /** The payload offset where decoding stopped. */
  stopped_at: number;
  last_item_cut: boolean;
  /** The items whose first byte lies in each of 64 equal pieces of the payload. */
  strip_literals: number[];
  strip_references: number[];
  strip_zero_references: number[];
}

/** What an image (or any bytes) holds, item by item: the object of `lzs --inspect --json`, `file` only with `name`. */
export function inspect(image: Bytes, options?: { name?: string }): Inspection;

/** The summary `lzs --inspect` prints of an image, lines ended by "\n", the first naming `name` when given. */
export function inspectText(image: Bytes, options?: { name?: string }): string;

/** An image found by scan: the object of `lzs --scan --json`. */
export interface Finding {
  /** The name given to scan, when one was. */
  file?: string;
  offset: number;
  /** From its header, header included. */
  image_size: number;
  decoded_size: number;
  confidence: "high" | "low";
}

/** The images found inside buffer, in order, as `lzs --scan --json` lists them. */
export function scan(buffer: Bytes, options?: { name?: string }): Finding[];

/** Unpacks a whole image into `out` from its start and returns the number of bytes written. Throws LzsError for a bad image, and DST_TOO_SMALL (with decodedSize and outputSize), `out` left as it was, for one that would unpack to more than `out` holds. */
export function decompressInto(image: Bytes, out: Uint8Array): number;

/** The header's rule alone, for an input of `inputSize` bytes that starts with `head` (its first 4 bytes, or all of it when shorter): throws the LzsError decompress gives any such input (NOT_AN_IMAGE, TRUNCATED or TRAILING_DATA, with their sizes). For a file whose size is known before it is read. */
export function checkHeader(head: Bytes, inputSize: number): void;

/** The size the image unpacks to, from a scan of it; throws its LzsError. */
export function decodedSize(image: Bytes): number;

/** The length of the image at `offset` in buffer (its header's value plus 4), which may hold more after it; reads the header only. */
export function imageLength(buffer: Bytes, offset?: number): number;

/** The version of liblzs inside, "major.minor.patch". */
export function libraryVersion(): string;

/**
 * A TransformStream from data to its image, the same bytes as compress(data, { level }) for any split.
 * By default it holds the image (as much memory as the image) and gives it all, header first, once its input ends.
 * With `headerLast` it gives 4 zero bytes in the header's place, then the rest as it is made, in bounded memory, and `header` resolves to the 4 bytes to write at the image's start.
 */
export class LzsCompressionStream extends TransformStream<Bytes, Output> {
  constructor(options?: { level?: Level; headerLast?: boolean });
  /** The image's 4 header bytes, once the input has ended; rejects with the stream's error. */
  readonly header: Promise<Output>;
}

/** A TransformStream from an image's bytes to its output, for `body.pipeThrough(...)`; it errors with an LzsError for a bad image, at the latest when its input ends. (lzs/node has a Node stream.Transform.) */
export class LzsDecompressionStream extends TransformStream<Bytes, Output> {
  constructor();
}
