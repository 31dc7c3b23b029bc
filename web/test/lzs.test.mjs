// lzs.mjs in Node: packs as native lzs does, byte for byte, at every level;
// unpacks as lzs -d does; tells every error apart; and the stream gives the
// one-shot call's bytes and errors for any split of the input.
//
// Environment (ctest sets it): as fixtures.mjs, and LZS_MODULE (the
// package's lzs.mjs).
import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import { mkdirSync, readFileSync, writeFileSync } from "node:fs";
import { dirname, join } from "node:path";
import { Readable, Writable } from "node:stream";
import { pipeline } from "node:stream/promises";
import { before, test } from "node:test";
import { pathToFileURL } from "node:url";
import { MODULE_SIZE_MAX, count, env, largeImage, makeFiles, native, openParseBytes, seededRandom, unpackCases, variedBytes,
         work } from "./fixtures.mjs";

const lzs = await import(pathToFileURL(env("LZS_MODULE")).href);
// lzs/node, the Node stream, beside the package's lzs.mjs.
const { createCompress, createDecompress } = await import(pathToFileURL(join(dirname(env("LZS_MODULE")), "node.mjs")).href);
const { ErrorCode, LzsError } = lzs;

const read = (name) => readFileSync(join(work, name));

// The workbench's images (workbenchImages, below).
let workbench = [];

before(async () => {
  makeFiles({ large: false });
  workbench = workbenchImages();
  await lzs.ready;
});

const inputs = ["tree/sub/text.bin", "tree/sub/binary.bin", "tree/sub/deeper/one.txt"];

test("packs as lzs does at every level, and unpacks what it packs", () => {
  const levels = [
    { level: lzs.LEVEL_OPTIMAL, args: [] },
    { level: lzs.LEVEL_DEFAULT, args: [] },
    { level: lzs.LEVEL_FAST, args: ["-1"] },
    { level: undefined, args: [] },
  ];
  for (const name of inputs) {
    const data = read(name);
    for (const { level, args } of levels) {
      const image = lzs.compress(data, level === undefined ? undefined : { level });
      assert.ok(image instanceof Uint8Array && !Buffer.isBuffer(image));
      assert.ok(Buffer.from(image).equals(native(args, join(work, name))), `${name} at level ${level}`);
      assert.ok(Buffer.from(lzs.decompress(image)).equals(data), `${name} at level ${level} comes back`);
    }
  }
});

test("takes a Uint8Array, a Buffer, an ArrayBuffer or a view, and refuses anything else", () => {
  const data = read("tree/sub/text.bin");
  const image = native([], join(work, "tree/sub/text.bin"));
  // The same bytes in the middle of a larger buffer.
  const inner = new Uint8Array(image.length + 10);
  inner.set(image, 5);
  const forms = [image, new Uint8Array(image), image.buffer.slice(image.byteOffset, image.byteOffset + image.length),
                 inner.subarray(5, 5 + image.length), new DataView(inner.buffer, 5, image.length)];
  for (const form of forms) {
    assert.ok(Buffer.from(lzs.decompress(form)).equals(data));
    assert.equal(lzs.decodedSize(form), data.length);
  }
  for (const wrong of ["text", [1, 2, 3], null, 42]) {
    assert.throws(() => lzs.decompress(wrong), TypeError);
    assert.throws(() => lzs.compress(wrong), TypeError);
  }
});

// Every piece of `image`, split at `cuts`, through LzsDecompressionStream:
// its output, or the error it ends with.
async function streamed(image, cuts) {
  const points = [0, ...cuts, image.length];
  const source = new ReadableStream({
    start(controller) {
      for (let k = 1; k < points.length; ++k) controller.enqueue(image.subarray(points[k - 1], points[k]));
      controller.close();
    },
  });
  const chunks = [];
  try {
    for await (const chunk of source.pipeThrough(new lzs.LzsDecompressionStream())) chunks.push(chunk);
  } catch (e) {
    return e;
  }
  return Buffer.concat(chunks);
}

// The same through lzs/node's Transform, in Node's pipeline.
async function nodeStreamed(image, cuts) {
  const points = [0, ...cuts, image.length];
  const pieces = points.slice(1).map((end, k) => Buffer.from(image.subarray(points[k], end)));
  const chunks = [];
  try {
    await pipeline(Readable.from(pieces), createDecompress(), new Writable({
      write(chunk, encoding, done) {
        chunks.push(chunk);
        done();
      },
    }));
  } catch (e) {
    return e;
  }
  return Buffer.concat(chunks);
}

// decompressInto on `image`, into room for the most any image of its size
// unpacks to: its output, or its error.
function into(image) {
  const out = new Uint8Array(9 * image.length + 64);
  try {
    return Buffer.from(out.subarray(0, lzs.decompressInto(image, out)));
  } catch (e) {
    return e;
  }
}

// decompress on `image`: its output, or its error.
function oneShot(image) {
  try {
    return Buffer.from(lzs.decompress(image));
  } catch (e) {
    return e;
  }
}

// Good and bad images, the bad ones as the page's tests have them.
const images = () => unpackCases.map((c) => ({ name: c.file, image: read(c.file), error: c.error }));

test("tells every error apart, in the library's words with the sizes, alike in all calls", async () => {
  for (const { name, image, error } of images()) {
    const want = error ?? null;
    for (const result of [oneShot(image), await streamed(image, []), await nodeStreamed(image, []), into(image)]) {
      assert.equal(result instanceof Error ? result.message : null, want, name);
    }
    if (!error) {
      assert.ok(oneShot(image).equals(native(["-d"], join(work, name))), `${name} unpacks as lzs -d does`);
      continue;
    }
    const e = oneShot(image);
    assert.ok(e instanceof LzsError && e.name === "LzsError", name);
    assert.throws(() => lzs.decodedSize(image), { message: error });
    // The header alone tells the same where it is at fault.
    if ([ErrorCode.NOT_AN_IMAGE, ErrorCode.TRUNCATED, ErrorCode.TRAILING_DATA].includes(e.code)) {
      assert.throws(() => lzs.checkHeader(image.subarray(0, 4), image.length), { message: error });
    } else {
      assert.equal(lzs.checkHeader(image.subarray(0, 4), image.length), undefined, name);
    }
  }
  const codes = [
    [() => lzs.decompress(new Uint8Array(3)), ErrorCode.NOT_AN_IMAGE, {}],
    [() => lzs.decompress(read("bad/cut.lzs")), ErrorCode.TRUNCATED, { imageSize: 10004, inputSize: 5000 }],
    [() => lzs.decompress(read("bad/after.lzs")), ErrorCode.TRAILING_DATA, { imageSize: 10004, inputSize: 10010 }],
    [() => lzs.decompress(read("bad/nothing.lzs")), ErrorCode.NO_OUTPUT, {}],
    [() => lzs.compress(new Uint8Array(0)), ErrorCode.EMPTY_INPUT, {}],
    ...[2, 5, 8, 10, -1, 1.5, "9"].map((level) => [() => lzs.compress(read("tree/sub/text.bin"), { level }), ErrorCode.BAD_LEVEL, {}]),
  ];
  for (const [call, code, sizes] of codes) assert.throws(call, (e) => e instanceof LzsError && e.code === code &&
                                                       Object.entries(sizes).every(([key, value]) => e[key] === value));
});

test("maxOutputSize refuses a larger output before unpacking it", () => {
  const image = native([], join(work, "tree/sub/text.bin"));
  assert.equal(lzs.decompress(image, { maxOutputSize: 200000 }).length, 200000);
  assert.throws(() => lzs.decompress(image, { maxOutputSize: NaN }), RangeError);
  assert.throws(() => lzs.decompress(image, { maxOutputSize: 199999 }), {
    name: "LzsError", code: ErrorCode.INPUT_TOO_LARGE, decodedSize: 200000, maxOutputSize: 199999,
    message: `${new LzsError(ErrorCode.INPUT_TOO_LARGE).reason}: it would unpack to 200,000 bytes, above maxOutputSize (199,999)`,
  });
});

test("decompressInto writes into the caller's array from its start, and leaves it as it was when the image needs more", () => {
  const image = native([], join(work, "tree/sub/text.bin"));
  const data = read("tree/sub/text.bin");
  const tooSmall = {
    name: "LzsError", code: ErrorCode.DST_TOO_SMALL, decodedSize: 200000, outputSize: 199999,
    message: new RegExp(`^${new LzsError(ErrorCode.DST_TOO_SMALL).reason}`),
  };
  // Each `out` inside a larger array filled with 0xee, to see what is written.
  const rows = [
    { room: 200000, written: 200000 },
    { room: 250000, written: 200000 },
    { room: 199999, error: tooSmall },
    { room: 0, error: { code: ErrorCode.DST_TOO_SMALL, decodedSize: 200000, outputSize: 0 } },
    { room: 300000, image: read("bad/cut.lzs"), error: { code: ErrorCode.TRUNCATED, imageSize: 10004, inputSize: 5000 } },
    { room: 300000, image: new Uint8Array(3), error: { code: ErrorCode.NOT_AN_IMAGE } },
    { room: 200000, buffer: true, written: 200000 },
  ];
  for (const { room, written, error, buffer, image: other } of rows) {
    const whole = buffer ? Buffer.alloc(room + 20, 0xee) : new Uint8Array(room + 20).fill(0xee);
    const out = whole.subarray(10, 10 + room);
    const call = () => lzs.decompressInto(other ?? image, out);
    if (error) {
      assert.throws(call, error, `room ${room}`);
      assert.ok(whole.every((b) => b === 0xee), `room ${room}: out was written`);
      continue;
    }
    assert.equal(call(), written);
    assert.ok(Buffer.from(out.subarray(0, written)).equals(data), `room ${room}`);
    assert.ok(whole.subarray(0, 10).every((b) => b === 0xee) && whole.subarray(10 + written).every((b) => b === 0xee), `room ${room}`);
  }
  for (const wrong of [[0, 0], new ArrayBuffer(10), new Uint16Array(10), null]) assert.throws(() => lzs.decompressInto(image, wrong), TypeError);
  // decompress gives a plain Uint8Array over an ArrayBuffer of its own.
  const output = lzs.decompress(image);
  assert.ok(!Buffer.isBuffer(output) && output.byteOffset === 0 && output.buffer.byteLength === output.length);
});

test("imageLength walks images put one after another, reading only their headers", () => {
  const parts = ["tree/sub/text.bin.lzs", "tree/sub/deeper/one.txt.lzs", "tree/sub/binary.bin.lzs"].map(read);
  const all = Buffer.concat(parts);
  let offset = 0;
  for (const part of parts) {
    assert.equal(lzs.imageLength(all, offset), part.length);
    offset += part.length;
  }
  assert.throws(() => lzs.imageLength(all.subarray(0, parts[0].length - 1)), { code: ErrorCode.TRUNCATED });
  assert.throws(() => lzs.imageLength(all, all.length - 3), { code: ErrorCode.NOT_AN_IMAGE });
  assert.throws(() => lzs.imageLength(all, all.length + 1), RangeError);
});

test("the stream gives the one-shot call's bytes and errors for any split of the input", async () => {
  let seed = 7;
  const random = (n) => {
    seed = (seed * 1103515245 + 12345) >>> 0;
    return seed % n;
  };
  // Small images beside the table's: back-references, a header of 0 with
  // and without a byte after it, one byte after the end and one short, and
  // a back-reference cut off by the end.
  const small = Buffer.from(lzs.compress(Buffer.from("abcabcabcabcab-".repeat(20))));
  const extra = [small, [0, 0, 0, 0], [0, 0, 0, 0, 1], [...small, 0], small.subarray(0, -1), [2, 0, 0, 0, 0, 0x12]];
  for (const { name, image } of [...images(), ...extra.map((bytes, k) => ({ name: `extra ${k}`, image: Buffer.from(bytes) }))]) {
    const want = oneShot(image);
    const splits = [];
    if (image.length <= 200) {
      // Every split in two, and one byte at a time.
      for (let at = 0; at <= image.length; ++at) splits.push([at]);
      splits.push([...image.keys()]);
    } else {
      for (let k = 0; k < 8; ++k) {
        const cuts = Array.from({ length: 1 + random(20) }, () => random(image.length)).sort((a, b) => a - b);
        splits.push(cuts);
      }
    }
    for (const cuts of splits) {
      for (const got of [await streamed(image, cuts), await nodeStreamed(image, cuts)]) {
        if (want instanceof Error) assert.equal(got.message, want.message, `${name} split at ${cuts}`);
        else assert.ok(Buffer.isBuffer(got) && got.equals(want), `${name} split at ${cuts}`);
      }
    }
  }
});

test("a size the module's 32-bit size_t cannot give is refused, never wrapped into an error code", () => {
  // 4 GiB less 2 bytes, as a size_t, is the code of TRUNCATED.
  const image = largeImage(2 ** 32 - 2);
  for (const call of [lzs.decodedSize, lzs.decompress, (i) => lzs.decompress(i, { maxOutputSize: 1000 })]) {
    assert.throws(() => call(image), {
      code: ErrorCode.INPUT_TOO_LARGE, maxOutputSize: MODULE_SIZE_MAX,
      message: `input too large: it would unpack to more than ${count(MODULE_SIZE_MAX)} bytes, the most a 32-bit module returns`,
    });
  }
});

test("checkHeader tells from the first bytes and the size alone what decompress would of the header", () => {
  const image = native([], join(work, "tree/sub/text.bin"));
  const head = image.subarray(0, 4);
  const rows = [
    [head, image.length, null],
    [head, image.length + 6, { code: ErrorCode.TRAILING_DATA, imageSize: image.length, inputSize: image.length + 6 }],
    [head, 5000, { code: ErrorCode.TRUNCATED, imageSize: image.length, inputSize: 5000 }],
    // Sizes past what a 32-bit size_t holds; bytes that are no image.
    [head, 5e9, { code: ErrorCode.TRAILING_DATA, message: `bytes after the end of the image (5,000,000,000 bytes; the image is ${count(image.length)})` }],
    [new Uint8Array([0xff, 0xff, 0xff, 0x7f]), 3e6,
     { code: ErrorCode.TRUNCATED, message: "probably not an LZS image (its header promises 2,147,483,651 bytes; there are 3,000,000)" }],
    [image.subarray(0, 3), 3, { code: ErrorCode.NOT_AN_IMAGE }],
    [new Uint8Array(0), 0, { code: ErrorCode.NOT_AN_IMAGE }],
    [new Uint8Array([0, 0, 0, 0]), 4, { code: ErrorCode.NOT_AN_IMAGE }],
    [head, -1, RangeError],
    [head, 1.5, RangeError],
    [image.subarray(0, 3), 10, RangeError],
  ];
  for (const [bytes, size, error] of rows) {
    if (error === null) assert.equal(lzs.checkHeader(bytes, size), undefined);
    else assert.throws(() => lzs.checkHeader(bytes, size), error, `${bytes.length} bytes of ${size}`);
  }
});

test("ErrorCode and the library's words are the module's own list, read from it", async () => {
  // The module's exports: each code from 1 on, until lzs_get_error gives
  // LZS_OK, with its name in lzs_error and its words.
  const { instance } = await WebAssembly.instantiate(readFileSync(env("LZS_WASM")), {});
  const x = instance.exports;
  x._initialize();
  const text = (at) => new TextDecoder().decode(new Uint8Array(x.memory.buffer, at, new Uint8Array(x.memory.buffer).indexOf(0, at) - at));
  const listed = {};
  for (let code = 1; x.lzs_get_error(-code) !== 0; ++code) {
    listed[text(x.lzs_error_symbol(-code)).replace(/^LZS_ERROR_/, "")] = code;
    assert.equal(new LzsError(code).reason, text(x.lzs_error_name(-code)));
  }
  assert.deepEqual(ErrorCode, listed);
});

// native lzs with `args`: its standard output and error, and its status.
function cli(args) {
  const run = spawnSync(env("LZS_CLI"), args, { maxBuffer: 1 << 30 });
  return { out: run.stdout, err: run.stderr.toString(), status: run.status };
}

// Whole images of both levels, images cut short and with bytes after
// them, and bytes that are none, each written beside the others: their
// paths.
function workbenchImages() {
  const text = read("tree/sub/text.bin.lzs");
  const made = {
    "wb/fast.lzs": native(["-1"], join(work, "tree/sub/text.bin")),
    "wb/cut-5.lzs": text.subarray(0, 5),
    "wb/cut-100.lzs": text.subarray(0, 100),
    "wb/cut-half.lzs": text.subarray(0, text.length >> 1),
    "wb/cut-1.lzs": text.subarray(0, -1),
    "wb/after-7.lzs": Buffer.concat([text, Buffer.from("garbage")]),
    "wb/after-1.lzs": Buffer.concat([read("tree/sub/deeper/one.txt.lzs"), Buffer.from([0])]),
    "wb/zero.lzs": Buffer.alloc(4),
  };
  mkdirSync(join(work, "wb"), { recursive: true });
  for (const [name, bytes] of Object.entries(made)) writeFileSync(join(work, name), bytes);
  const kept = ["tree/sub/text.bin.lzs", "tree/sub/binary.bin.lzs", "tree/sub/deeper/one.txt.lzs", "bad/nothing.lzs",
                "bad/junk.lzs", "bad/short.lzs", "bad/empty.lzs"];
  return [...kept, ...Object.keys(made)];
}

test("inspect and inspectText give what lzs --inspect and --inspect --json print, whole, cut and trailing images", () => {
  const statuses = new Set();
  for (const name of workbench) {
    const path = join(work, name);
    const image = read(name);
    const json = JSON.parse(cli(["--inspect", "--json", path]).out.toString());
    statuses.add(json.status);
    assert.deepEqual(lzs.inspect(image, { name: path }), json, name);
    const { file, ...unnamed } = json;
    assert.deepEqual(lzs.inspect(image), unnamed, name);
    assert.equal(lzs.inspectText(image, { name: path }), cli(["--inspect", path]).out.toString(), name);
  }
  assert.deepEqual([...statuses].sort(), ["not-an-image", "ok", "trailing", "truncated"]);
  assert.throws(() => lzs.inspect(new Uint8Array(9), { name: 5 }), TypeError);
});

test("decompress with salvage keeps what lzs -d --salvage keeps, and says what it says", () => {
  for (const name of workbench) {
    const path = join(work, name);
    const image = read(name);
    const run = cli(["-d", "--salvage", "-c", path]);
    // lzs says "lzs: PATH: words"; the array's warning and the error are the words.
    const words = run.err.replace(`lzs: ${path}: `, "").trimEnd();
    let got;
    try {
      got = lzs.decompress(image, { salvage: true });
    } catch (e) {
      assert.equal(run.status, 1, `${name}: ${e.message}`);
      assert.equal(e.message, words, name);
      continue;
    }
    assert.ok(Buffer.from(got).equals(run.out), name);
    assert.equal(got.warning, run.status === 2 ? words : undefined, name);
    assert.equal(run.status === 2, Boolean(got.warning), name);
    // Without salvage, a damaged image fails as ever.
    if (run.status === 2) assert.throws(() => lzs.decompress(image), LzsError, name);
  }
  // Every cut of a small image.
  const small = Buffer.from(lzs.compress(Buffer.from("abcabcabcabc-defdefdefdef-".repeat(8))));
  // A flag byte alone yields nothing; from the first literal on, each cut keeps a beginning.
  assert.throws(() => lzs.decompress(small.subarray(0, 5), { salvage: true }), { code: ErrorCode.NO_OUTPUT });
  for (let at = 6; at < small.length; ++at) {
    const cut = small.subarray(0, at);
    const kept = lzs.decompress(cut, { salvage: true });
    assert.ok(kept.warning.startsWith(`cut short: the image is shorter than its header says (${at} of ${small.length} bytes)`), kept.warning);
    assert.ok(Buffer.from(lzs.decompress(small)).subarray(0, kept.length).equals(kept), `cut at ${at}`);
  }
});

test("scan finds what lzs --scan --json finds, among random bytes and among the bytes of files", () => {
  const random = seededRandom(91);
  const images = ["tree/sub/text.bin.lzs", "tree/sub/binary.bin.lzs", "wb/fast.lzs"].map(read);
  const containers = {
    "wb/noise.dat": [variedBytes("noise", 3000, random), images[0], variedBytes("noise", 777, random), images[2],
                     variedBytes("noise", 20000, random), images[1], variedBytes("noise", 5, random)],
    "wb/files.dat": [read("tree/sub/binary.bin").subarray(0, 4321), images[1], variedBytes("text", 9000, random), images[0]],
    "wb/none.dat": [variedBytes("noise", 200000, random)],
  };
  for (const [name, parts] of Object.entries(containers)) {
    const path = join(work, name);
    writeFileSync(path, Buffer.concat(parts));
    const listed = cli(["--scan", "--json", path]).out.toString().split("\n").filter(Boolean).map((line) => JSON.parse(line));
    assert.deepEqual(lzs.scan(read(name), { name: path }), listed, name);
    // Every image put in is found where it was put, whole.
    let offset = 0;
    for (const part of parts) {
      if (images.includes(part)) {
        assert.ok(listed.some((f) => f.offset === offset && f.image_size === part.length && f.confidence === "high"), `${name} at ${offset}`);
      }
      offset += part.length;
    }
  }
  assert.deepEqual(lzs.scan(new Uint8Array(0)), []);
});

test("compress with like packs as lzs --like does: the original's bytes again, and near them after an edit", () => {
  const data = read("tree/sub/text.bin");
  const edited = Buffer.from(data);
  edited.fill(0x41, 100000, 100100);
  const longer = Buffer.concat([data.subarray(0, 5000), Buffer.from("inserted"), data.subarray(5000)]);
  writeFileSync(join(work, "wb/edited.bin"), edited);
  writeFileSync(join(work, "wb/longer.bin"), longer);
  const rows = [
    { orig: "tree/sub/text.bin.lzs", file: "tree/sub/text.bin", same: true },
    { orig: "wb/fast.lzs", file: "tree/sub/text.bin", same: true },
    { orig: "wb/fast.lzs", file: "wb/edited.bin" },
    { orig: "tree/sub/text.bin.lzs", file: "wb/edited.bin" },
    { orig: "wb/fast.lzs", file: "wb/longer.bin" },
    { orig: "wb/cut-half.lzs", file: "tree/sub/text.bin", error: ErrorCode.TRUNCATED },
    { orig: "wb/after-7.lzs", file: "tree/sub/text.bin", error: ErrorCode.TRAILING_DATA },
  ];
  for (const { orig, file, same, error } of rows) {
    const run = cli(["-c", `--like=${join(work, orig)}`, join(work, file)]);
    const call = () => lzs.compress(read(file), { like: read(orig), level: lzs.LEVEL_FAST });
    if (error) {
      // lzs names the file, then the original, then the library's words.
      assert.throws(call, { code: error, message: run.err.replace(`lzs: ${join(work, file)}: ${join(work, orig)}: `, "").trimEnd() });
      continue;
    }
    const image = call();
    assert.ok(Buffer.from(image).equals(run.out), `${file} like ${orig}`);
    if (same) assert.ok(Buffer.from(image).equals(read(orig)), `${file} like ${orig}`);
    assert.ok(Buffer.from(lzs.decompress(image)).equals(read(file)));
  }
  assert.throws(() => lzs.compress(data, { like: "image" }), TypeError);
  assert.throws(() => lzs.compress(new Uint8Array(0), { like: read("wb/fast.lzs") }), { code: ErrorCode.EMPTY_INPUT });
});

// `data` split at `cuts` through LzsCompressionStream or lzs/node's
// LzsCompress with `options`: the image (its header put in place, with
// headerLast, as a caller that can seek puts it), or the error.
async function packed(data, cuts, options, node) {
  const points = [0, ...cuts, data.length];
  const pieces = points.slice(1).map((end, k) => data.subarray(points[k], end));
  const chunks = [];
  let header;
  try {
    if (node) {
      const transform = createCompress(options);
      await pipeline(Readable.from(pieces.map((piece) => Buffer.from(piece))), transform, new Writable({
        write(chunk, encoding, done) {
          chunks.push(chunk);
          done();
        },
      }));
      header = await transform.header;
    } else {
      const stream = new lzs.LzsCompressionStream(options);
      const source = new ReadableStream({
        start(controller) {
          for (const piece of pieces) controller.enqueue(piece);
          controller.close();
        },
      });
      for await (const chunk of source.pipeThrough(stream)) chunks.push(chunk);
      header = await stream.header;
    }
  } catch (e) {
    return e;
  }
  const image = Buffer.concat(chunks);
  if (options?.headerLast) {
    assert.ok(image.subarray(0, 4).equals(Buffer.alloc(4)), "the header's place holds zeros");
    image.set(header, 0);
  } else {
    assert.ok(image.subarray(0, 4).equals(header));
  }
  return image;
}

test("the compression streams give compress's image for any split, at both levels, header first or last", async () => {
  const random = seededRandom(5);
  const inputs = [read("tree/sub/text.bin"), read("tree/sub/binary.bin"), Buffer.from("x"),
                  Buffer.from(variedBytes("copies", 300000, random)), Buffer.from("abcabcabc-abcabc-".repeat(9))];
  for (const data of inputs) {
    const splits = [[], [1], [data.length >> 1]];
    if (data.length < 200) splits.push([...data.keys()].slice(1));
    for (let k = 0; k < 3; ++k) splits.push(Array.from({ length: 1 + random(30) }, () => random(data.length)).sort((a, b) => a - b));
    for (const level of [lzs.LEVEL_FAST, lzs.LEVEL_OPTIMAL]) {
      const want = Buffer.from(lzs.compress(data, { level }));
      for (const cuts of splits) {
        for (const [headerLast, node] of [[false, false], [true, false], [false, true], [true, true]]) {
          const got = await packed(data, cuts, { level, headerLast }, node);
          assert.ok(Buffer.isBuffer(got) && got.equals(want), `${data.length} bytes at level ${level}, split at ${cuts}, ${headerLast} ${node}: ${got}`);
        }
      }
    }
  }
  for (const node of [false, true]) {
    const rows = [[new Uint8Array(0), {}, ErrorCode.EMPTY_INPUT], [Buffer.from("x"), { level: 5 }, ErrorCode.BAD_LEVEL],
                  [Buffer.from("x"), { level: 1.5, headerLast: true }, ErrorCode.BAD_LEVEL],
                  [openParseBytes(10 << 20, seededRandom(3)), { headerLast: true }, ErrorCode.OUT_OF_MEMORY]];
    for (const [data, options, code] of rows) {
      const got = await packed(data, [], options, node);
      assert.ok(got instanceof LzsError && got.code === code, `${code}: ${got}`);
    }
  }
});
