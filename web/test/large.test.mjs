// lzs.html in headless Chromium at the edges of its sizes: files and
// outputs too large for the page or for the browser's memory fail alone in
// words that say so; outputs of 2 GiB and 2 GiB less a byte are unpacked.
// Apart from page.test.mjs, as these take a while.
//
// Environment (ctest sets it): as fixtures.mjs, and LZS_CHROMIUM.
import assert from "node:assert/strict";
import { closeSync, ftruncateSync, openSync, rmSync, writeFileSync, writeSync } from "node:fs";
import { join } from "node:path";
import { test } from "node:test";
import { chromium } from "playwright-core";
import { BROWSER_FLAGS, launch, openPageIn, readRows, useBrowser, waitIdle } from "./chromium.mjs";
import { MODULE_SIZE_MAX, count, env, largeImage, work } from "./fixtures.mjs";

const launched = useBrowser({ large: false });

// A file of `size` bytes that starts with `head` and holds zeros after it,
// made sparse, so that it takes no room on the disk.
function makeSparse(path, size, head) {
  const fd = openSync(path, "w");
  writeSync(fd, head);
  ftruncateSync(fd, size);
  closeSync(fd);
}

test("a file too large for the page fails alone, in words that say so, and the next one is done", async () => {
  // A browser whose WebAssembly memories stop at 128 MiB instead of 4 GiB,
  // so that running out takes little time: an image of 130 MiB (of zeros,
  // all back-references) does not fit. 2 GiB and a byte are more than the page
  // takes, refused from the size alone; so are images of 243 MiB and 484
  // MiB that would unpack to 2 GiB and a byte and to 4 GiB less 2 bytes
  // (more than the module's 32-bit sizes give), refused from their size
  // scans before any memory is taken for their outputs.
  const small = await launch(["--js-flags=--wasm-max-mem-pages=2048"]);
  const imageSize = 130 << 20;
  const header = Buffer.alloc(4);
  header.writeUInt32LE(imageSize - 4);
  makeSparse(join(work, "huge.lzs"), imageSize, header);
  makeSparse(join(work, "huge.raw"), 2 ** 31 + 1, Buffer.alloc(0));
  writeFileSync(join(work, "2gib.lzs"), largeImage(2 ** 31 + 1));
  writeFileSync(join(work, "4gib.lzs"), largeImage(2 ** 32 - 2));
  const cases = [
    { files: ["huge.lzs", "tree/sub/deeper/one.txt.lzs"], results: ["error: out of memory", "Download one.txt"], browser: small },
    { files: ["huge.raw", "tree/sub/deeper/one.txt"], browser: small, results: [
      "error: input too large: 2,147,483,649 bytes, above the page's limit (2,147,483,648)",
      "Download one.txt.lzs warning: the image, 6 bytes, is larger than its input, 1 bytes"] },
    { files: ["2gib.lzs", "4gib.lzs", "tree/sub/deeper/one.txt.lzs"], browser: launched.context, results: [
      "error: input too large: it would unpack to 2,147,483,649 bytes, above the page's limit (2,147,483,648)",
      `error: input too large: it would unpack to more than ${count(MODULE_SIZE_MAX)} bytes, the most a 32-bit module returns`,
      "Download one.txt"] },
  ];
  try {
    for (const c of cases) {
      const page = await openPageIn(c.browser);
      await page.setInputFiles("#files", c.files.map((name) => join(work, name)));
      await waitIdle(page, c.files.length);
      assert.deepEqual((await readRows(page)).map((row) => row.result), c.results);
      assert.deepEqual(page.errors, []);
      await page.close();
    }
  } finally {
    await small.close();
    for (const name of ["huge.lzs", "huge.raw", "2gib.lzs", "4gib.lzs"]) rmSync(join(work, name));
  }
});

// Each output's size and its last bytes (largeImage's: zeros, then the
// literals 0xff of the last size % 144 bytes), read from the Blob the page
// keeps for its download link.
async function outputEnds(page) {
  return page.evaluate(() => Promise.all(outputs.map(async ({ blob }) => [blob.size, [...new Uint8Array(await blob.slice(-200).arrayBuffer())]])));
}
const largeImageEnd = (size) => [...Array(200 - (size % 144)).fill(0), ...Array(size % 144).fill(0xff)];

test("outputs of 2 GiB and 2 GiB less a byte are unpacked; a browser that cannot keep one says out of memory", async () => {
  const sizes = [2 ** 31 - 1, 2 ** 31];
  const files = sizes.map((size) => join(work, `${size}.lzs`));
  sizes.forEach((size, k) => writeFileSync(files[k], largeImage(size)));
  // A window of a profile on the disk keeps large outputs there.
  const profile = join(work, "profile");
  const normal = await chromium.launchPersistentContext(profile, { executablePath: env("LZS_CHROMIUM"), args: BROWSER_FLAGS });
  try {
    const page = await openPageIn(normal);
    await page.setInputFiles("#files", files);
    await waitIdle(page, 2);
    assert.deepEqual((await readRows(page)).map((row) => [row.className, row.unpacked]), sizes.map((size) => ["ok", count(size)]));
    assert.deepEqual(await outputEnds(page), sizes.map((size) => [size, largeImageEnd(size)]));
    assert.deepEqual(page.errors, []);
    await page.close();
  } finally {
    await normal.close();
    rmSync(profile, { recursive: true, force: true });
  }
  // A private window keeps its outputs in memory, as far as the browser
  // allows: an output it would not keep fails in words that say so.
  const page = await openPageIn(launched.context);
  await page.setInputFiles("#files", files[1]);
  await waitIdle(page, 1);
  const [row] = await readRows(page);
  if (row.className === "ok") {
    assert.deepEqual(await outputEnds(page), [[sizes[1], largeImageEnd(sizes[1])]]);
  } else {
    assert.equal(row.result, "error: out of memory: the browser would not keep this output (2,147,483,648 bytes); " +
                             "Clear the list to free the memory of earlier outputs (a private window keeps every output in memory)");
  }
  await page.close();
  for (const file of files) rmSync(file);
});

