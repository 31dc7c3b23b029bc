// lzs.html in headless Chromium, opened from file://: every download is
// compared byte for byte with what the native lzs writes for the same input.
//
// Environment (ctest sets it): as fixtures.mjs, and LZS_CHROMIUM; the
// screenshot lzs-page.png is left in LZS_WEB_WORK.
import assert from "node:assert/strict";
import { closeSync, ftruncateSync, openSync, readFileSync, rmSync, writeSync } from "node:fs";
import { join } from "node:path";
import { after, before, test } from "node:test";
import { unzipSync } from "fflate";
import { chromium } from "playwright-core";
import { BaseName, Count, Env, MakeFiles, ModeCases, ModeFiles, Native, UnpackCases, pageUrl, work } from "./fixtures.mjs";


// Every request the browser sees, from the pages and their workers.
const requests = [];
let browser;
let context;

// Headless, as root, and quiet: no background requests of its own.
const BrowserFlags = ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                      "--disable-background-networking", "--disable-component-update", "--disable-sync"];

before(async () => {
  MakeFiles({ large: true });
  browser = await chromium.launch({ executablePath: Env("LZS_CHROMIUM"), args: BrowserFlags });
  context = await browser.newContext({ acceptDownloads: true });
  context.on("request", (request) => requests.push(request));
});

after(async () => {
  await browser?.close();
});

async function OpenPage() {
  const page = await context.newPage();
  const errors = [];
  page.on("pageerror", (error) => errors.push(error.message));
  await page.goto(pageUrl);
  page.errors = errors;
  return page;
}

async function WaitIdle(page, rowCount) {
  await page.waitForFunction((n) => document.body.dataset.state === "idle" &&
                                    document.querySelectorAll("#rows tr").length === n, rowCount,
                             { timeout: 120000 });
}

// The rows as { name, packed, unpacked, result } with the link's download
// name.
async function Rows(page) {
  return page.$$eval("#rows tr", (rows) => rows.map((row) => ({
    name: row.dataset.name,
    className: row.className,
    packed: row.cells[1].textContent,
    unpacked: row.cells[2].textContent,
    result: row.cells[4].textContent,
    download: row.querySelector("a[download]")?.download ?? null,
  })));
}

async function Download(page, selector) {
  const [download] = await Promise.all([page.waitForEvent("download"), page.click(selector)]);
  const path = join(work, "downloads", `${Date.now()}-${download.suggestedFilename()}`);
  await download.saveAs(path);
  return { name: download.suggestedFilename(), bytes: readFileSync(path) };
}

test("unpacks images as lzs -d does, and a bad image fails alone with the library's words", async () => {
  const cases = UnpackCases;
  const page = await OpenPage();
  await page.setInputFiles("#files", cases.map((c) => join(work, c.file)));
  await WaitIdle(page, cases.length);
  // Every name ends in .lzs: the mode followed the files.
  assert.equal(await page.$eval('input[name="mode"]:checked', (radio) => radio.value), "unpack");
  const rows = await Rows(page);
  for (const c of cases) {
    const base = BaseName(c.file);
    const row = rows.find((r) => r.name === base);
    assert.ok(row, `no row for ${base}`);
    if (c.error) {
      assert.equal(row.result, `error: ${c.error}`, base);
      assert.throws(() => Native(["-d"], join(work, c.file)), `native lzs takes ${base}`);
      continue;
    }
    const expected = Native(["-d"], join(work, c.file));
    assert.equal(row.download, c.output);
    assert.equal(row.unpacked, Count(expected.length), base);
    assert.equal(row.result.includes("larger than 8 MiB"), Boolean(c.warning), `${base}: ${row.result}`);
    const got = await Download(page, `tr[data-name="${base}"] a[download]`);
    assert.equal(got.name, c.output);
    assert.ok(got.bytes.equals(expected), `${base} unpacks to other bytes than lzs -d gives`);
  }
  assert.deepEqual(page.errors, []);
  await page.screenshot({ path: join(work, "lzs-page.png"), fullPage: true });
  await page.close();
});

test("packs as lzs and lzs -1 do; a name not ending in .lzs unpacks to NAME.DeLZS", async () => {
  const cases = ModeCases;
  for (const c of cases) {
    const page = await OpenPage();
    // Files that do not all end in .lzs choose Pack until a mode is picked.
    await page.setInputFiles("#files", join(work, "tree/sub/deeper/one.txt"));
    await WaitIdle(page, 1);
    assert.equal(await page.$eval('input[name="mode"]:checked', (radio) => radio.value), "pack");
    await page.click("#clear");
    await page.check(`input[name="mode"][value="${c.mode}"]`);
    const files = ModeFiles(c);
    await page.setInputFiles("#files", files);
    await WaitIdle(page, files.length);
    for (const file of files) {
      const base = BaseName(file);
      const got = await Download(page, `tr[data-name="${base}"] a[download]`);
      assert.equal(got.name, base + c.suffix);
      assert.ok(got.bytes.equals(Native(c.args, file)), `${c.mode} of ${base} differs from lzs ${c.args.join(" ")}`);
    }
    assert.deepEqual(page.errors, []);
    await page.close();
  }
});

test("a chosen folder keeps its paths, in the rows and in Download all", async () => {
  const page = await OpenPage();
  await page.setInputFiles("#folder", join(work, "tree"));
  const expected = {
    "tree/sub/binary.bin": "tree/sub/binary.bin.lzs",
    "tree/sub/deeper/one.txt": "tree/sub/deeper/one.txt.lzs",
    "tree/sub/text.bin": "tree/sub/text.bin.lzs",
  };
  await WaitIdle(page, 2 * Object.keys(expected).length);
  // The folder holds images and other files: the mode follows them to Pack.
  assert.equal(await page.$eval('input[name="mode"]:checked', (radio) => radio.value), "pack");
  const names = (await Rows(page)).map((row) => row.name);
  assert.deepEqual(names.filter((name) => name.endsWith(".lzs")), Object.values(expected).sort());
  await page.click("#clear");
  await page.check('input[name="mode"][value="unpack"]');
  await page.setInputFiles("#folder", join(work, "tree"));
  await WaitIdle(page, 6);
  const rows = await Rows(page);
  for (const [output, image] of Object.entries(expected)) {
    assert.equal(rows.find((row) => row.name === image)?.className, "ok", image);
  }
  const zip = await Download(page, "#download-all");
  assert.equal(zip.name, "lzs-files.zip");
  const entries = unzipSync(new Uint8Array(zip.bytes));
  // The images unpack; the other files are no images and fail, so only
  // the three outputs are in the zip.
  assert.deepEqual(Object.keys(entries).sort(), Object.keys(expected));
  for (const [output, image] of Object.entries(expected)) {
    assert.ok(Buffer.from(entries[output]).equals(Native(["-d"], join(work, image))), `zip entry ${output}`);
  }
  await page.close();
});

test("files dropped on the page are taken as chosen ones", async () => {
  const page = await OpenPage();
  const box = await page.locator("#drop").boundingBox();
  const session = await context.newCDPSession(page);
  const files = ["tree/sub/text.bin.lzs", "tree/sub/deeper/one.txt.lzs"].map((name) => join(work, name));
  const data = { items: [], files, dragOperationsMask: 1 };
  for (const type of ["dragEnter", "dragOver", "drop"]) {
    await session.send("Input.dispatchDragEvent", { type, x: box.x + 20, y: box.y + 20, data });
  }
  await WaitIdle(page, 2);
  const rows = await Rows(page);
  assert.deepEqual(rows.map((row) => [row.name, row.download]),
                   [["text.bin.lzs", "text.bin"], ["one.txt.lzs", "one.txt"]]);
  await page.close();
});

// A browser's drag from another program cannot be made here (the drops
// above carry files whose entries cannot be read), so the folder walk gets
// a drop event holding entries as the entries API gives them: a folder
// whose reader hands out its children in two parts, then none.
test("a dropped folder is walked, keeping its paths", async () => {
  const page = await OpenPage();
  const image = [...readFileSync(join(work, "tree/sub/text.bin.lzs"))];
  await page.evaluate((bytes) => {
    const file = (path) => ({ isFile: true, isDirectory: false, name: path.split("/").pop(), fullPath: `/${path}`,
                              file: (resolve) => resolve(new File([new Uint8Array(bytes)], path.split("/").pop())) });
    const folder = (path, parts) => ({
      isFile: false, isDirectory: true, name: path.split("/").pop(), fullPath: `/${path}`,
      createReader: () => ({ readEntries: (resolve) => resolve(parts.shift() ?? []) }),
    });
    const inner = folder("game/maps", [[file("game/maps/b.lzs")], [file("game/maps/a.lzs")]]);
    const top = folder("game", [[inner, file("game/start.lzs")]]);
    const drop = new Event("drop", { bubbles: true, cancelable: true });
    drop.dataTransfer = { items: [{ webkitGetAsEntry: () => top }], files: [] };
    document.getElementById("drop").dispatchEvent(drop);
  }, image);
  await WaitIdle(page, 3);
  const rows = await Rows(page);
  assert.deepEqual(rows.map((row) => [row.name, row.download]),
                   [["game/maps/a.lzs", "a"], ["game/maps/b.lzs", "b"], ["game/start.lzs", "start"]]);
  const expected = Native(["-d"], join(work, "tree/sub/text.bin.lzs"));
  const zip = unzipSync(new Uint8Array((await Download(page, "#download-all")).bytes));
  assert.deepEqual(Object.keys(zip).sort(), ["game/maps/a", "game/maps/b", "game/start"]);
  for (const entry of Object.values(zip)) assert.ok(Buffer.from(entry).equals(expected));
  await page.close();
});

test("stays responsive during a large job, and Cancel stops it", async () => {
  const page = await OpenPage();
  await page.check('input[name="mode"][value="pack"]');
  // A timer on the page's own thread: the longest gap between its ticks.
  await page.evaluate(() => {
    window.gaps = { last: performance.now(), longest: 0, ticks: 0 };
    setInterval(() => {
      const now = performance.now();
      window.gaps.longest = Math.max(window.gaps.longest, now - window.gaps.last);
      window.gaps.last = now;
      window.gaps.ticks += 1;
    }, 20);
  });
  const files = ["tree/sub/deeper/one.txt", "large/huge.bin", "large/text.bin"].map((name) => join(work, name));
  await page.setInputFiles("#files", files);
  await page.waitForFunction(() => document.querySelector("#rows tr.ok") !== null, null, { timeout: 60000 });
  // A second of the worker packing 64 MiB, while the timer runs.
  const before = await page.evaluate(() => ({ ...window.gaps }));
  await page.waitForTimeout(1000);
  const gaps = await page.evaluate(() => window.gaps);
  assert.equal(await page.getAttribute("body", "data-state"), "busy", "the job ended within the second");
  assert.ok(gaps.ticks - before.ticks >= 30, `the page's timer ticked ${gaps.ticks - before.ticks} times in 1 s`);
  assert.ok(gaps.longest < 250, `the page's timer stood still for ${gaps.longest} ms`);
  assert.match(await page.textContent("#status"), /^1 of 3 files, [0-9.]+ MB\/s$/);
  assert.equal(await page.$eval("#progress", (bar) => [bar.value, bar.max].join(" of ")), "1 of 3");
  await page.click("#cancel");
  const rows = await Rows(page);
  assert.deepEqual(rows.map((row) => row.className), ["ok", "cancelled", "cancelled"]);
  // A new batch after the cancel runs in a new worker; a file whose output
  // is already in the list is refused, not overwritten.
  await page.setInputFiles("#files", [join(work, "tree/sub/text.bin"), join(work, "tree/sub/deeper/one.txt")]);
  await WaitIdle(page, 5);
  const added = (await Rows(page)).slice(3);
  assert.deepEqual(added.map((row) => [row.className, row.result]),
                   [["ok", "Download text.bin.lzs"], ["error", "error: its output one.txt.lzs is the output of another file"]]);
  await page.close();
});

// A file of `size` bytes that starts with `head` and holds zeros after it,
// made sparse, so that it takes no room on the disk.
function Sparse(path, size, head) {
  const fd = openSync(path, "w");
  writeSync(fd, head);
  ftruncateSync(fd, size);
  closeSync(fd);
}

test("a file too large for the page fails alone, and the next one is done", async () => {
  // A browser whose WebAssembly memories stop at 128 MiB instead of 4 GiB,
  // so that running out takes little time: an image of 64 MiB whose zeros
  // are all back-references (3 bytes out of every 2) unpacks to 96 MiB,
  // which does not fit beside it. 2 GiB and a byte are more than the
  // encoder takes, refused from the size alone.
  const small = await chromium.launch({ executablePath: Env("LZS_CHROMIUM"),
                                        args: [...BrowserFlags, "--js-flags=--wasm-max-mem-pages=2048"] });
  const imageSize = 64 << 20;
  const header = Buffer.alloc(4);
  header.writeUInt32LE(imageSize - 4);
  Sparse(join(work, "huge.lzs"), imageSize, header);
  Sparse(join(work, "huge.raw"), 2 ** 31 + 1, Buffer.alloc(0));
  const cases = [
    { files: ["huge.lzs", "tree/sub/deeper/one.txt.lzs"], results: ["error: out of memory", "Download one.txt"] },
    { files: ["huge.raw", "tree/sub/deeper/one.txt"], results: ["error: input too large", "Download one.txt.lzs"] },
  ];
  try {
    for (const c of cases) {
      const page = await small.newPage();
      const errors = [];
      page.on("pageerror", (error) => errors.push(error.message));
      await page.goto(pageUrl);
      await page.setInputFiles("#files", c.files.map((name) => join(work, name)));
      await WaitIdle(page, c.files.length);
      assert.deepEqual((await Rows(page)).map((row) => row.result), c.results);
      assert.deepEqual(errors, []);
    }
  } finally {
    await small.close();
    rmSync(join(work, "huge.lzs"));
    rmSync(join(work, "huge.raw"));
  }
});

test("makes no network request, and its policy blocks one", async () => {
  // Every earlier test's pages, workers and downloads: the page itself and
  // blob: URLs, nothing else.
  const outside = requests.filter((request) => request.url() !== pageUrl && !request.url().startsWith("blob:"));
  assert.deepEqual(outside.map((request) => request.url()), []);
  assert.ok(requests.some((request) => request.url() === pageUrl));
  // A script put into the page (as by a change to it) is stopped by the
  // page's policy before anything is sent.
  const page = await OpenPage();
  const probe = await page.evaluate(async () => {
    const violations = [];
    document.addEventListener("securitypolicyviolation", (event) => violations.push(event.violatedDirective));
    const fetched = await fetch("http://127.0.0.1:9/").then(() => "fetched", () => "refused");
    const image = document.createElement("img");
    image.src = "http://127.0.0.1:9/x.png";
    document.body.append(image);
    await new Promise((resolve) => setTimeout(resolve, 200));
    return { fetched, violations };
  });
  assert.equal(probe.fetched, "refused");
  assert.deepEqual(probe.violations.sort(), ["connect-src", "img-src"]);
  for (const request of requests.filter((r) => r.url().startsWith("http"))) {
    assert.equal(await request.response(), null, request.url());
    assert.match(request.failure()?.errorText ?? "", /csp/i, request.url());
  }
  await page.close();
});
