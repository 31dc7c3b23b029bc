// The zip of lzs.html's "Download all": every output under its relative
// path, each entry deflated where that makes it smaller and stored
// otherwise. A deflated entry is offered only after it has been inflated
// again by another inflater than the one that made it, and has given the
// original's size and CRC-32; an entry that fails this check is stored.
// Sizes, offsets and entry counts past the classic format's 32 and 16 bits
// are written as ZIP64.
//
//   const blob = await makeZip([{ path, blob, mtime }, ...], { Inflate });
//
// The page's worker holds this file as a plain script, as it holds lzs.mjs:
// the build drops its one `export` statement, at the end, and nothing else
// in it may import or export.

// The signatures and fixed sizes of the records (PKWARE's APPNOTE.TXT).
const LOCAL_HEADER = 0x04034b50;
const LOCAL_HEADER_SIZE = 30;
const CENTRAL_HEADER = 0x02014b50;
const CENTRAL_HEADER_SIZE = 46;
const END_OF_CENTRAL = 0x06054b50;
const END_OF_CENTRAL_SIZE = 22;
const ZIP64_END = 0x06064b50;
const ZIP64_END_SIZE = 56;
const ZIP64_LOCATOR = 0x07064b50;
const ZIP64_LOCATOR_SIZE = 20;
const ZIP64_EXTRA = 0x0001;
// A field that holds this value has its real value in the ZIP64 extra field.
const FIELD32_FULL = 0xffffffff;
const FIELD16_FULL = 0xffff;
const STORED = 0;
const DEFLATED = 8;
// Versions needed to extract: 1.0 stored, 2.0 deflated, 4.5 ZIP64; "made
// by" a Unix system, so that the mode below is read.
const VERSION_STORED = 10;
const VERSION_DEFLATED = 20;
const VERSION_ZIP64 = 45;
const MADE_BY_UNIX = 3 << 8;
// A regular file, rw-r--r--, in the high half of the external attributes.
const REGULAR_FILE_MODE = 0o100644;
// General purpose flag bit 11: the name is UTF-8.
const FLAG_UTF8 = 1 << 11;

const CRC_TABLE = (() => {
  const table = new Int32Array(256);
  for (let n = 0; n < 256; ++n) {
    let c = n;
    for (let k = 0; k < 8; ++k) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    table[n] = c;
  }
  return table;
})();

// A running CRC-32 (the zip's and gzip's) with the count of bytes it has seen.
class Crc32 {
  constructor() {
    this.state = -1;
    this.size = 0;
  }

  update(bytes) {
    let c = this.state;
    for (let k = 0; k < bytes.length; ++k) c = CRC_TABLE[(c ^ bytes[k]) & 0xff] ^ (c >>> 8);
    this.state = c;
    this.size += bytes.length;
  }

  get value() { return ~this.state >>> 0; }
}

async function forEachChunk(stream, use) {
  const reader = stream.getReader();
  for (let next = await reader.read(); !next.done; next = await reader.read()) use(next.value);
}

// The browser's own deflate (zlib in Chromium and Firefox), where it has
// one; null where it has none.
function browserDeflate() {
  if (typeof CompressionStream === "undefined") return null;
  return (stream) => stream.pipeThrough(new CompressionStream("deflate-raw"));
}

// Whether `deflated` (a Blob) inflates, by `Inflate` (fflate's streaming
// inflater, or one with its interface), to exactly `size` bytes of CRC
// `crc`: the whole stream, no byte more or less.
async function inflatesTo(deflated, crc, size, Inflate) {
  const check = new Crc32();
  let ended = false;
  const inflater = new Inflate((chunk, final) => {
    check.update(chunk);
    ended ||= final;
  });
  try {
    await forEachChunk(deflated.stream(), (chunk) => inflater.push(chunk, false));
    inflater.push(new Uint8Array(0), true);
  } catch {
    return false;
  }
  return ended && check.size === size && check.value === crc;
}

// An entry's data and how it is kept: deflated when `deflate` gives fewer
// bytes that `Inflate` reads back as the original, else stored as it is.
async function entryData(blob, deflate, Inflate) {
  const original = new Crc32();
  await forEachChunk(blob.stream(), (chunk) => original.update(chunk));
  const stored = { method: STORED, data: blob, crc: original.value, size: blob.size };
  if (!deflate || blob.size === 0) return stored;
  let deflated;
  try {
    const chunks = [];
    await forEachChunk(deflate(blob.stream()), (chunk) => chunks.push(chunk));
    deflated = new Blob(chunks);
  } catch {
    return stored;
  }
  if (deflated.size >= blob.size || !(await inflatesTo(deflated, stored.crc, blob.size, Inflate))) return stored;
  return { ...stored, method: DEFLATED, data: deflated };
}

// MS-DOS time and date of a time in milliseconds (local time, two-second
// steps; before 1980, the format's first day).
function dosTime(mtime) {
  const date = new Date(mtime);
  if (!Number.isFinite(mtime) || date.getFullYear() < 1980) return { time: 0, date: (1 << 5) | 1 };
  return {
    time: (date.getHours() << 11) | (date.getMinutes() << 5) | (date.getSeconds() >> 1),
    date: ((Math.min(date.getFullYear(), 2107) - 1980) << 9) | ((date.getMonth() + 1) << 5) | date.getDate(),
  };
}

// A little-endian record writer over a new buffer of `size` bytes.
class Record {
  constructor(size) {
    this.bytes = new Uint8Array(size);
    this.view = new DataView(this.bytes.buffer);
    this.at = 0;
  }

  u16(value) {
    this.view.setUint16(this.at, value, true);
    this.at += 2;
    return this;
  }

  u32(value) {
    this.view.setUint32(this.at, value, true);
    this.at += 4;
    return this;
  }

  u64(value) {
    this.view.setBigUint64(this.at, BigInt(value), true);
    this.at += 8;
    return this;
  }

  put(bytes) {
    this.bytes.set(bytes, this.at);
    this.at += bytes.length;
    return this;
  }
}

// The ZIP64 extra field holding `values` (each 8 bytes), or nothing.
function zip64Extra(values) {
  if (values.length === 0) return new Uint8Array(0);
  const extra = new Record(4 + 8 * values.length).u16(ZIP64_EXTRA).u16(8 * values.length);
  for (const value of values) extra.u64(value);
  return extra.bytes;
}

// The zip of `entries` ({ path, blob, mtime, deflate }), as a Blob. An entry
// with `deflate` is tried deflated (with `options.deflate`, the browser's
// own by default) and checked by `options.Inflate`; `options.zip64: true`
// writes ZIP64 fields whether or not the sizes need them.
async function makeZip(entries, options = {}) {
  const { deflate = browserDeflate(), Inflate, zip64 = false } = options;
  const encoder = new TextEncoder();
  const parts = [];
  const central = [];
  let offset = 0;
  for (const entry of entries) {
    const name = encoder.encode(entry.path);
    if (name.length > FIELD16_FULL) throw new Error(`a path of ${name.length} bytes is too long for a zip`);
    const { method, data, crc, size } = await entryData(entry.blob, entry.deflate && Inflate ? deflate : null, Inflate);
    const { time, date } = dosTime(entry.mtime);
    const large = zip64 || size >= FIELD32_FULL || data.size >= FIELD32_FULL;
    const version = large ? VERSION_ZIP64 : method === DEFLATED ? VERSION_DEFLATED : VERSION_STORED;
    // A local header's ZIP64 field holds both sizes, or is absent.
    const localExtra = zip64Extra(large ? [size, data.size] : []);
    const local = new Record(LOCAL_HEADER_SIZE + name.length + localExtra.length)
      .u32(LOCAL_HEADER).u16(version).u16(FLAG_UTF8).u16(method).u16(time).u16(date).u32(crc)
      .u32(large ? FIELD32_FULL : data.size).u32(large ? FIELD32_FULL : size)
      .u16(name.length).u16(localExtra.length).put(name).put(localExtra);
    parts.push(local.bytes, data);
    central.push({ name, method, crc, size, packed: data.size, time, date, version, offset });
    offset += local.bytes.length + data.size;
  }

  const directoryStart = offset;
  for (const e of central) {
    // The central header's ZIP64 field holds only the values too large for
    // their own fields, in this order.
    const full = (value) => zip64 || value >= FIELD32_FULL;
    const wide = [e.size, e.packed, e.offset].filter(full);
    const extra = zip64Extra(wide);
    const record = new Record(CENTRAL_HEADER_SIZE + e.name.length + extra.length)
      .u32(CENTRAL_HEADER).u16(MADE_BY_UNIX | VERSION_ZIP64).u16(e.version).u16(FLAG_UTF8).u16(e.method)
      .u16(e.time).u16(e.date).u32(e.crc)
      .u32(full(e.packed) ? FIELD32_FULL : e.packed).u32(full(e.size) ? FIELD32_FULL : e.size)
      .u16(e.name.length).u16(extra.length).u16(0).u16(0).u16(0).u32((REGULAR_FILE_MODE << 16) >>> 0)
      .u32(full(e.offset) ? FIELD32_FULL : e.offset).put(e.name).put(extra);
    parts.push(record.bytes);
    offset += record.bytes.length;
  }

  const directorySize = offset - directoryStart;
  const count = central.length;
  if (zip64 || count >= FIELD16_FULL || directoryStart >= FIELD32_FULL || directorySize >= FIELD32_FULL) {
    parts.push(new Record(ZIP64_END_SIZE)
      .u32(ZIP64_END).u64(ZIP64_END_SIZE - 12).u16(MADE_BY_UNIX | VERSION_ZIP64).u16(VERSION_ZIP64)
      .u32(0).u32(0).u64(count).u64(count).u64(directorySize).u64(directoryStart).bytes);
    parts.push(new Record(ZIP64_LOCATOR_SIZE).u32(ZIP64_LOCATOR).u32(0).u64(offset).u32(1).bytes);
  }
  parts.push(new Record(END_OF_CENTRAL_SIZE)
    .u32(END_OF_CENTRAL).u16(0).u16(0).u16(Math.min(count, FIELD16_FULL)).u16(Math.min(count, FIELD16_FULL))
    .u32(Math.min(directorySize, FIELD32_FULL)).u32(Math.min(directoryStart, FIELD32_FULL)).u16(0).bytes);
  return new Blob(parts, { type: "application/zip" });
}

export { Crc32, makeZip };
