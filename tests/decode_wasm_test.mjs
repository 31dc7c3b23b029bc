// The decoder compiled to WebAssembly, on every path the module has (the
// portable loop and the SIMD128 loop), against the reference decoder in the
// same module: the fuzz targets' seeds, random payloads, images built item
// by item to hit every short distance and length, and images the module's
// own encoder makes. Each image goes through DecodeLzs (an output area of 9
// bytes per payload byte, filled beforehand so that a read of a byte not yet
// written shows), lzs_decode at capacities around the decoded length, and
// lzs_decode_stream in pieces.
//
// Environment (ctest sets it): LZS_TEST_WASM, the test module
// (web/decode_test.wasm in the build folder); LZS_FUZZ_CORPUS_DIR.
import assert from "node:assert/strict";
import { readFileSync, readdirSync } from "node:fs";
import { join } from "node:path";
import { test } from "node:test";
import { namedImages } from "./support/images.mjs";

const { exports: lzs } = (await WebAssembly.instantiate(readFileSync(process.env.LZS_TEST_WASM), {})).instance;
lzs._initialize();

const HeaderSize = 4;
const WindowSize = 4096;
const WindowBias = 18;
const MinCopy = 3;
const MaxExpansion = 9;
const DstTooSmall = 4;

const heap = () => new Uint8Array(lzs.memory.buffer);
const cString = (at) => {
  const bytes = heap();
  let end = at;
  while (bytes[end] !== 0) ++end;
  return new TextDecoder().decode(bytes.subarray(at, end));
};

// A block of the module's memory, freed by the caller.
function Put(bytes, size = bytes.length) {
  const at = lzs.malloc(Math.max(size, 1));
  assert.notEqual(at, 0, "malloc");
  heap().set(bytes, at);
  return at;
}

function WithHeader(payload) {
  const image = new Uint8Array(HeaderSize + payload.length);
  new DataView(image.buffer).setUint32(0, payload.length, true);
  image.set(payload, HeaderSize);
  return image;
}

// A small seeded generator (xorshift32), so that every run sees the same data.
function Random(seed) {
  let x = seed >>> 0 || 1;
  return (n) => {
    x ^= x << 13;
    x ^= x >>> 17;
    x ^= x << 5;
    return (x >>> 0) % n;
  };
}

// The reference decoder's output, or null for an image it rejects.
function Reference(image) {
  const area = MaxExpansion * Math.max(image.length - HeaderSize, 1);
  const input = Put(image);
  const out = lzs.malloc(area);
  const n = lzs.lzs_test_reference(input, image.length, out) >>> 0;
  const result = n === 0 ? null : heap().slice(out, out + n);
  lzs.free(input);
  lzs.free(out);
  return result;
}

// Paths by number, those this module can take.
const pathCount = lzs.lzs_test_path_count();
const chosenByItself = lzs.lzs_test_current_path();
const paths = [];
for (let p = 0; p < pathCount; ++p) {
  if (lzs.lzs_test_force_path(p)) paths.push(p);
}
lzs.lzs_test_force_path(chosenByItself);
const pathName = (p) => cString(lzs.lzs_test_path_name(p));

// lzs_decode_stream over the image in pieces of the sizes given (repeated),
// into `room` bytes at a time: the output, or null on an error.
function Stream(image, pieces, room) {
  const ds = lzs.lzs_dstream_create();
  const src = Put(image);
  const dst = lzs.malloc(room);
  const positions = lzs.malloc(8);  // dstPos, srcPos
  const view = () => new DataView(lzs.memory.buffer);
  const output = [];
  let taken = 0;
  let failed = false;
  for (let piece = 0; !failed && (taken < image.length || piece === 0); ++piece) {
    const size = Math.min(pieces[piece % pieces.length], image.length - taken);
    view().setUint32(positions + 4, 0, true);
    for (;;) {
      view().setUint32(positions, 0, true);
      const r = lzs.lzs_decode_stream(ds, dst, room, positions, src + taken, size, positions + 4) >>> 0;
      const made = view().getUint32(positions, true);
      output.push(heap().slice(dst, dst + made));
      if (lzs.lzs_is_error(r)) failed = true;
      if (failed || (made < room && view().getUint32(positions + 4, true) === size)) break;
    }
    taken += view().getUint32(positions + 4, true);
  }
  const verdict = lzs.lzs_dstream_end(ds, 0) >>> 0;
  for (const block of [src, dst, positions]) lzs.free(block);
  lzs.lzs_dstream_free(ds);
  if (failed || lzs.lzs_is_error(verdict)) return null;
  return Buffer.concat(output);
}

// Every path must give the reference's result: DecodeLzs whatever the area
// held, lzs_decode at each capacity near the decoded length, and the stream.
function ExpectSameAsReference(image, what) {
  const expected = Reference(image);
  const n = expected?.length ?? 0;
  const input = Put(image);
  const areaSize = MaxExpansion * Math.max(image.length - HeaderSize, 1);
  const area = lzs.malloc(areaSize);
  const bounded = lzs.malloc(n + 200);
  try {
    for (const p of paths) {
      assert.ok(lzs.lzs_test_force_path(p));
      const on = `${what}, path ${pathName(p)}`;
      heap().fill(0xa5, area, area + areaSize);
      const length = lzs.lzs_test_decode(input, image.length, area) >>> 0;
      assert.equal(length, n, on);
      if (expected) assert.ok(Buffer.from(heap().subarray(area, area + n)).equals(expected), `${on}: bytes`);
      const capacities = [n, n + 1, n + 200, ...(n > 0 ? [n - 1, Math.max(n - 100, 0), 0] : [])];
      for (const capacity of capacities) {
        const r = lzs.lzs_decode(bounded, capacity, input, image.length) >>> 0;
        const where = `${on}, capacity ${capacity}`;
        if (!expected) {
          assert.ok(lzs.lzs_is_error(r) && lzs.lzs_get_error(r) !== DstTooSmall, where);
        } else if (capacity < n) {
          assert.equal(lzs.lzs_get_error(r), DstTooSmall, where);
        } else {
          assert.equal(r, n, where);
          assert.ok(Buffer.from(heap().subarray(bounded, bounded + n)).equals(expected), `${where}: bytes`);
        }
      }
      const streamed = Stream(image, [1 + (image.length % 700), 5000], 1 + (image.length % 9000));
      assert.equal(streamed === null, expected === null, `${on}, stream`);
      if (expected) assert.ok(streamed.equals(expected), `${on}, stream: bytes`);
    }
  } finally {
    lzs.lzs_test_force_path(chosenByItself);
    for (const block of [input, area, bounded]) lzs.free(block);
  }
}

// Builds a payload item by item; back-references are given by distance and
// length and encoded for the output index they will be decoded at.
class PayloadBuilder {
  bytes = [];
  flagIndex = 0;
  item = 8;
  length = 0;
  literal(byte) {
    this.start(true);
    this.bytes.push(byte & 0xff);
    ++this.length;
    return this;
  }
  literals(count, first = 0x61) {
    for (let k = 0; k < count; ++k) this.literal(first + 7 * k);
    return this;
  }
  reference(distance, length) {
    this.start(false);
    const position = (this.length - distance - WindowBias) & (WindowSize - 1);
    this.bytes.push(position & 0xff, ((position >> 8) << 4) | (length - MinCopy));
    this.length += length;
    return this;
  }
  image() {
    return WithHeader(Uint8Array.from(this.bytes));
  }
  start(literal) {
    if (this.item === 8) {
      this.flagIndex = this.bytes.length;
      this.bytes.push(0);
      this.item = 0;
    }
    if (literal) this.bytes[this.flagIndex] |= 1 << this.item;
    ++this.item;
  }
}

test("the SIMD128 loop is built and taken by default", () => {
  assert.deepEqual(paths.map(pathName), ["scalar", "simd128"]);
  assert.equal(pathName(chosenByItself), "simd128");
});

test("the fuzz targets' seeds, as images and as payloads", () => {
  let files = 0;
  for (const target of ["fuzz_decode", "fuzz_decode_stream"]) {
    const folder = join(process.env.LZS_FUZZ_CORPUS_DIR, target);
    for (const name of readdirSync(folder)) {
      const bytes = readFileSync(join(folder, name));
      ExpectSameAsReference(bytes, `${target}/${name}`);
      ExpectSameAsReference(WithHeader(bytes), `${target}/${name} as a payload`);
      ++files;
    }
  }
  assert.ok(files >= 8, `${files} seeds`);
});

test("the named images: their output, or refused", () => {
  for (const { name, image, output } of namedImages) {
    ExpectSameAsReference(image, name);
    const reference = Reference(image);
    assert.ok(output ? Buffer.from(reference ?? []).equals(output) : reference === null, name);
  }
});

test("random payloads", () => {
  const random = Random(20090205);
  const lengths = [...Array(300).keys()].map((k) => k + 1).concat([4095, 4096, 4097, 10000, 65536]);
  for (const length of lengths) {
    const payload = Uint8Array.from({ length }, () => random(256));
    ExpectSameAsReference(WithHeader(payload), `random payload of ${length}`);
  }
});

// With enough items after the back-reference for the group loop, which the
// first window runs item after item and the path's own loop after it.
test("every distance up to 18 with every length, also after a window", () => {
  for (const before of [20, 5000]) {
    for (let distance = 0; distance <= 18; ++distance) {
      for (let length = MinCopy; length <= 18; ++length) {
        for (const tail of [0, 1, 100]) {
          const image = new PayloadBuilder().literals(before).reference(distance, length).literals(tail, 0x41).image();
          ExpectSameAsReference(image, `${before} literals, distance ${distance}, length ${length}, tail ${tail}`);
        }
      }
    }
  }
});

test("random items of short distances, and sources before the start", () => {
  const random = Random(4078);
  for (let round = 0; round < 150; ++round) {
    const builder = new PayloadBuilder();
    const literalShare = random(101);
    const maxDistance = 1 << random(13);
    const items = random(3000);
    for (let n = 0; n < items; ++n) {
      if (random(100) < literalShare) builder.literal(random(256));
      else builder.reference(random(maxDistance), MinCopy + random(16));
    }
    ExpectSameAsReference(builder.image(), `random items, round ${round}`);
  }
});

test("images of the module's encoder, both levels", () => {
  const random = Random(5);
  const words = ["the ", "LZS ", "window ", "of ", "and ", "file, ", "a ", "byte. ", "\n"];
  const inputs = (size) => [
    Uint8Array.from({ length: size }, () => random(256)),
    Uint8Array.from({ length: size }, () => random(3)),
    Uint8Array.from({ length: size }, (_, k) => (k >> 5) % 4),
    new TextEncoder().encode(Array.from({ length: size }, () => words[random(9)]).join("")).subarray(0, size),
    new Uint8Array(size),
  ];
  const encoder = lzs.lzs_encoder_create();
  for (const size of [1, 2, 17, 60, 4095, 4096, 4097, 20000, 100000]) {
    for (const [index, input] of inputs(size).entries()) {
      for (const level of [1, 9]) {
        const source = Put(input);
        const capacity = lzs.lzs_encode_bound(input.length) >>> 0;
        const out = lzs.malloc(capacity);
        const n = lzs.lzs_encode_with(encoder, out, capacity, source, input.length, level) >>> 0;
        assert.ok(!lzs.lzs_is_error(n), `encode: ${cString(lzs.lzs_error_name(n))}`);
        const image = heap().slice(out, out + n);
        lzs.free(source);
        lzs.free(out);
        const what = `size ${size}, input ${index}, level ${level}`;
        assert.ok(Buffer.from(Reference(image)).equals(Buffer.from(input)), `${what}: round trip`);
        ExpectSameAsReference(image, what);
      }
    }
  }
  lzs.lzs_encoder_free(encoder);
});
