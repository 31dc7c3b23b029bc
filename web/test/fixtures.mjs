// What the browser tests of lzs.html share: their files, made by our own
// make-corpus and native lzs, and the cases both browsers run.
//
// Environment (ctest sets it): LZS_PAGE (the page), LZS_CLI (native lzs),
// LZS_MAKE_CORPUS, LZS_WEB_WORK (a scratch folder for each test program),
// LZS_PYTHON.
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { mkdirSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { dirname, join } from "node:path";
import { fileURLToPath, pathToFileURL } from "node:url";
import { namedImage } from "../../tests/support/images.mjs";

export function env(name) {
  assert.ok(process.env[name], `${name} is not set`);
  return process.env[name];
}

export const pageUrl = pathToFileURL(env("LZS_PAGE")).href;
export const work = env("LZS_WEB_WORK");

// native lzs on one file, its output from standard output.
export const native = (args, file) => execFileSync(env("LZS_CLI"), [...args, "-c", file], { maxBuffer: 1 << 30 });

export const count = (n) => n.toLocaleString("en-US");
// The packed size as a share of the unpacked size, as every face writes it.
export const ratio = (packed, unpacked) => `${((100 * packed) / unpacked).toFixed(2)} %`;

// An image whose header gives `payload` bytes, holding `size` bytes in all:
// the payload's bytes are 0xff (flags of eight literals, and the literals).
const imageOf = (payload, size) => {
  const image = Buffer.alloc(size, 0xff);
  image.writeUInt32LE(payload);
  return [...image];
};

// A named image of tests/images/ that is refused, with its words.
const refused = (name) => {
  const { image, error } = namedImage(name);
  return { bytes: [...image], error };
};

// Images of every kind, good and bad, chosen together for unpacking: each
// good one gives `output`, each bad one its error, and a damaged one
// (`salvage`: cut short or with bytes after it) the page's offer to save
// what it holds.
export const unpackCases = [
  { file: "tree/sub/text.bin.lzs", output: "text.bin" },
  { file: "bad/short.lzs", ...refused("three-bytes") },
  { file: "tree/sub/binary.bin.lzs", output: "binary.bin" },
  { file: "bad/cut.lzs", bytes: imageOf(10000, 5000), salvage: true,
    error: "cut short: the image is shorter than its header says (5,000 of 10,004 bytes)" },
  { file: "bad/after.lzs", bytes: imageOf(10000, 10010), salvage: true,
    error: "bytes after the end of the image (10,010 bytes; the image is 10,004)" },
  { file: "bad/nothing.lzs", ...refused("flag-byte-alone") },
  // Bytes that are no image: their header promises far more than they hold.
  { file: "bad/junk.lzs", bytes: imageOf(0x7fffffff, 5000), salvage: true,
    error: "probably not an LZS image (its header promises 2,147,483,651 bytes; there are 5,000)" },
  { file: "bad/empty.lzs", ...refused("empty") },
  { file: "big.lzs", output: "big", warning: true },
  { file: "tree/sub/deeper/one.txt.lzs", output: "one.txt" },
];

// Each mode on its own batch, against native lzs with `args`.
export const modeCases = [
  { mode: "pack", args: [], files: ["tree/sub/text.bin", "tree/sub/binary.bin", "tree/sub/deeper/one.txt"], suffix: ".lzs" },
  { mode: "pack-fast", args: ["-1"], files: ["tree/sub/text.bin", "tree/sub/binary.bin"], suffix: ".lzs" },
  { mode: "unpack", args: ["-d"], files: ["tree/sub/text.bin.lzs"], rename: "text.image", suffix: ".DeLZS" },
];

// The folder tree/ (make-corpus files, a one-byte file and the images of
// all three), the bad images, big.lzs (the fast image of 9 MiB of noise,
// above 8 MiB), and with `large` the 8 MiB corpus and 64 MiB huge.bin.
export function makeFiles({ large }) {
  rmSync(work, { recursive: true, force: true });
  for (const folder of ["tree/sub/deeper", "bad", "downloads", "large"]) mkdirSync(join(work, folder), { recursive: true });
  execFileSync(env("LZS_MAKE_CORPUS"), [join(work, "tree/sub"), "200000"]);
  writeFileSync(join(work, "tree/sub/deeper/one.txt"), "x");
  let seed = 12345;
  const noise = Buffer.alloc(9 << 20);
  for (let k = 0; k < noise.length; ++k) {
    seed = (seed * 1103515245 + 12345) >>> 0;
    noise[k] = seed >>> 24;
  }
  writeFileSync(join(work, "noise.bin"), noise);
  if (large) {
    execFileSync(env("LZS_MAKE_CORPUS"), [join(work, "large")]);
    const binary = readFileSync(join(work, "large/binary.bin"));
    writeFileSync(join(work, "large/huge.bin"), Buffer.concat(Array(8).fill(binary)));
  }
  for (const name of ["tree/sub/text.bin", "tree/sub/binary.bin", "tree/sub/deeper/one.txt"]) {
    writeFileSync(join(work, `${name}.lzs`), native([], join(work, name)));
  }
  writeFileSync(join(work, "big.lzs"), native(["-1"], join(work, "noise.bin")));
  for (const c of unpackCases) {
    if (c.bytes) writeFileSync(join(work, c.file), Buffer.from(c.bytes));
  }
  for (const c of modeCases) {
    if (c.rename) writeFileSync(join(work, c.rename), readFileSync(join(work, c.files[0])));
  }
}

// The input files of a mode case.
export const modeFiles = (c) => (c.rename ? [c.rename] : c.files).map((name) => join(work, name));

export const baseName = (path) => path.slice(path.lastIndexOf("/") + 1);

// The largest size the WebAssembly module returns: a 32-bit size_t, less
// the values that are the library's error codes (ErrorCode, made from
// lzs.h), so that a new error kind moves it.
const { ErrorCode } = await import(pathToFileURL(env("LZS_MODULE")).href);
export const MODULE_SIZE_MAX = 2 ** 32 - 1 - Math.max(...Object.values(ErrorCode));

// An image that unpacks to `size` bytes from about a ninth of that: groups
// of eight back-references of 18 bytes (a flag byte of 0, then 00 0f eight
// times), then the rest as literals.
export function largeImage(size) {
  const groups = Math.floor(size / 144);
  const rest = size % 144;
  const refs = Buffer.from([0, ...Array(8).fill([0x00, 0x0f]).flat()]);
  const payload = groups * refs.length + rest + Math.ceil(rest / 8);
  const image = Buffer.alloc(4 + payload, 0xff);
  image.writeUInt32LE(payload);
  if (groups > 0) image.fill(refs, 4, 4 + groups * refs.length);
  return image;
}

// A function giving numbers below n from the high bits of a linear
// congruential generator started at `seed` (its low bits repeat within a
// few hundred steps).
export function seededRandom(seed) {
  let state = seed;
  return (n) => {
    state = (Math.imul(state, 1103515245) + 12345) >>> 0;
    return Math.floor((state / 2 ** 32) * n);
  };
}

const WORDS = ["lzs", "image", "the", "window", "back-reference", "literal", "flag", "4,096", "Größe", "窓"];

// `size` bytes of one kind: noise, text, runs of one byte, or bytes of four
// values that copy from up to 64 KiB back (the fflate streaming deflate
// breaks some of these).
export function variedBytes(kind, size, random) {
  const bytes = new Uint8Array(size);
  if (kind === "noise") {
    for (let k = 0; k < size; ++k) bytes[k] = random(256);
  } else if (kind === "text") {
    const encoder = new TextEncoder();
    for (let at = 0; at < size;) {
      const word = encoder.encode(WORDS[random(WORDS.length)] + (random(8) ? " " : "\n"));
      bytes.set(word.subarray(0, size - at), at);
      at += word.length;
    }
  } else if (kind === "runs") {
    for (let at = 0; at < size;) bytes.fill(random(256), at, (at += 1 + random(300)));
  } else {
    for (let at = 0; at < size;) {
      const far = at > 70000 && random(2);
      const length = far ? 3 + random(200) : 1 + random(4);
      const distance = 1 + random(Math.min(at, 65536));
      for (const end = Math.min(size, at + length); at < end; ++at) bytes[at] = far ? bytes[at - distance] : random(4);
    }
  }
  return bytes;
}

// `size` bytes built to keep the smallest level's parse open: blocks A and
// B of 1,000 bytes that begin alike, in an order with no run of more than
// three, so every position has a match of 18 bytes and the parse's choices
// run apart, but nothing repeats. The compression stream holds about 4
// bytes per byte of such a span, and past its memory limit (32 MiB) fails
// where compress packs it.
export function openParseBytes(size, random) {
  const a = Uint8Array.from({ length: 1000 }, () => random(256));
  const b = Uint8Array.from({ length: 1000 }, () => random(256));
  b.set(a.subarray(0, 40));
  const bytes = new Uint8Array(size);
  let run = 0;
  let lastA = true;
  for (let at = 0; at < size; at += 1000) {
    let useA = random(2) === 0;
    if (run === 3 && useA === lastA) useA = !useA;
    run = useA === lastA ? run + 1 : 1;
    lastA = useA;
    bytes.set((useA ? a : b).subarray(0, size - at), at);
  }
  return bytes;
}

// `count` files ({ path, bytes }) of every kind, under a few folders unless
// `flat`: most of a few KB, every 50th up to 200 KB, every 7th of a few
// bytes.
export function variedFiles(count, random, flat = false) {
  const kinds = ["noise", "text", "runs", "copies"];
  return Array.from({ length: count }, (_, k) => {
    const kind = kinds[k % kinds.length];
    const size = k % 50 === 0 ? 1 + random(200000) : k % 7 === 0 ? 1 + random(8) : 1 + random(4000);
    const folder = flat ? "" : ["", "a/", "a/b/", "deep/er/and/deeper/", "ünï/"][k % 5];
    return { path: `${folder}${kind}-${k}.bin`, bytes: variedBytes(kind, size, random) };
  });
}

// The zip at `path` read back by Python's zipfile and zlib against the files
// under `folder` (read_zip.py): its counts of stored, deflated and ZIP64
// entries; throws what differs.
export function readZipBack(path, folder) {
  const script = join(dirname(fileURLToPath(import.meta.url)), "read_zip.py");
  return JSON.parse(execFileSync(process.env.LZS_PYTHON || "python3", [script, path, folder], { encoding: "utf8" }));
}

// `count` files of varied content (variedFiles) under LZS_WEB_WORK/NAME:
// packed by native lzs at the fast level in images/, and as they are in
// expected/images/, where read_zip.py finds what a zip of the unpacked
// images/ must hold (with `flat`, in expected/: a zip of the files chosen).
// Returns those folders and the images' paths.
export function makeVariedImages(name, count, seed, flat = false) {
  const root = join(work, name);
  rmSync(root, { recursive: true, force: true });
  const files = variedFiles(count, seededRandom(seed), flat);
  for (const { path, bytes } of files) {
    for (const folder of ["images", flat ? "expected" : "expected/images"]) {
      mkdirSync(dirname(join(root, folder, path)), { recursive: true });
      writeFileSync(join(root, folder, path), bytes);
    }
  }
  execFileSync(env("LZS_CLI"), ["-r", "-1", "-q", "--rm", join(root, "images")]);
  return { images: join(root, "images"), expected: join(root, "expected"),
           paths: files.map(({ path }) => join(root, "images", `${path}.lzs`)) };
}
