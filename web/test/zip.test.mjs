// zip.mjs, the zip writer of lzs.html's "Download all", in Node: thousands
// of files of varied content made here, zipped, and read back by Python's
// zipfile and zlib (read_zip.py); deflaters that break their output, the
// fflate streaming deflate among them, give stored entries, never damaged
// ones.
//
// Environment (ctest sets it): as fixtures.mjs, and LZS_PYTHON.
import assert from "node:assert/strict";
import { mkdirSync, rmSync, writeFileSync } from "node:fs";
import { dirname, join } from "node:path";
import { test } from "node:test";
import { fileURLToPath } from "node:url";
import { deflateRawSync, inflateRawSync } from "node:zlib";
import { Deflate, Inflate } from "fflate";
import { readZipBack, seededRandom, variedBytes, variedFiles, work } from "./fixtures.mjs";

const here = dirname(fileURLToPath(import.meta.url));
const { makeZip } = await import(join(here, "../zip.mjs"));
const random = seededRandom(2024);
const content = (kind, size) => variedBytes(kind, size, random);

// Files under a fresh folder `name`, as entries of the zip and on the disk,
// where read_zip.py finds what each entry must hold.
function makeFiles(name, specs) {
  const folder = join(work, name);
  rmSync(folder, { recursive: true, force: true });
  const made = new Set();
  const entries = specs.map(({ path, bytes, deflate = true }) => {
    const parent = dirname(join(folder, path));
    if (!made.has(parent)) mkdirSync(parent, { recursive: true });
    made.add(parent);
    writeFileSync(join(folder, path), bytes);
    return { path, blob: new Blob([bytes]), mtime: Date.UTC(2024, 4, 17, 12, 30, 10), deflate };
  });
  return { folder, entries };
}

// The zip written next to the folder, read back by Python: its counts.
async function readBack(folder, blob) {
  writeFileSync(`${folder}.zip`, new Uint8Array(await blob.arrayBuffer()));
  return readZipBack(`${folder}.zip`, folder);
}

// A deflater that takes its input whole and gives the chunks of
// `deflate(bytes)`.
const wholeDeflater = (deflate) => (stream) => {
  const chunks = [];
  return stream.pipeThrough(new TransformStream({
    transform(chunk) { chunks.push(chunk); },
    flush(controller) {
      for (const chunk of deflate(new Uint8Array(Buffer.concat(chunks)))) controller.enqueue(chunk);
    },
  }));
};

// fflate's streaming deflate, the input pushed in two pieces.
function fflateDeflate(bytes) {
  const chunks = [];
  const deflater = new Deflate({ level: 6 }, (chunk) => chunks.push(chunk));
  const cut = Math.floor(bytes.length * 0.4);
  deflater.push(bytes.subarray(0, cut), false);
  deflater.push(bytes.subarray(cut), true);
  return chunks;
}

test("thousands of files of every kind read back with Python's zipfile and zlib, each deflated or stored", async () => {
  const specs = variedFiles(3000, random).map((file, k) => ({ ...file, deflate: k % 11 !== 0 }));
  const { folder, entries } = makeFiles("zip-many", specs);
  const counts = await readBack(folder, await makeZip(entries, { Inflate }));
  assert.equal(counts.stored + counts.deflated, specs.length);
  assert.ok(counts.deflated > 1000 && counts.stored > 500, JSON.stringify(counts));
  assert.equal(counts.zip64, 0);
});

test("an entry its deflater breaks is stored: the fflate streaming deflate, a changed byte, a cut end, an error", async () => {
  const specs = Array.from({ length: 24 }, (_, k) => ({ path: `copies-${k}.bin`, bytes: content("copies", 150000 + random(150000)) }));
  // Which of them the fflate streaming deflate breaks, by zlib.
  const broken = specs.filter(({ bytes }) => {
    try {
      return !inflateRawSync(Buffer.concat(fflateDeflate(bytes))).equals(Buffer.from(bytes));
    } catch {
      return true;
    }
  }).length;
  assert.ok(broken > 0, "the fflate streaming deflate broke none of the inputs");
  const changed = (bytes) => {
    const deflated = deflateRawSync(bytes);
    deflated[deflated.length >> 1] ^= 0x10;
    return [deflated];
  };
  const deflaters = [
    { name: "fflate", stored: broken, deflate: wholeDeflater(fflateDeflate) },
    { name: "byte", stored: specs.length, deflate: wholeDeflater(changed) },
    { name: "end", stored: specs.length, deflate: wholeDeflater((bytes) => [deflateRawSync(bytes).subarray(0, -3)]) },
    { name: "error", stored: specs.length, deflate: () => { throw new Error("no deflate"); } },
    { name: "zlib", stored: 0, deflate: wholeDeflater((bytes) => [deflateRawSync(bytes)]) },
  ];
  for (const { name, stored, deflate } of deflaters) {
    const { folder, entries } = makeFiles(`zip-${name}`, specs);
    const counts = await readBack(folder, await makeZip(entries, { Inflate, deflate }));
    assert.deepEqual([counts.stored, counts.deflated], [stored, specs.length - stored], name);
  }
});

test("ZIP64 fields and records read back, also past 65,535 entries", async () => {
  const few = makeFiles("zip-64", [{ path: "text.txt", bytes: content("text", 5000) }, { path: "noise", bytes: content("noise", 100) }]);
  assert.deepEqual(await readBack(few.folder, await makeZip(few.entries, { Inflate, zip64: true })), { stored: 1, deflated: 1, zip64: 2 });
  // Entries that hold their names' last part, which read_zip.py checks
  // without files to compare with.
  const entries = Array.from({ length: 65537 }, (_, k) => ({ path: `${k >> 8}/${k & 0xff}`, blob: new Blob([String(k & 0xff)]), mtime: 0 }));
  const path = join(work, "zip-65537.zip");
  writeFileSync(path, new Uint8Array(await (await makeZip(entries)).arrayBuffer()));
  assert.deepEqual(readZipBack(path, "-"), { stored: 65537, deflated: 0, zip64: 0 });
});
