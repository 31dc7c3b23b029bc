// lzs.html in headless Chromium, opened from file://: every download is
// compared byte for byte with what the native lzs writes for the same input.
//
// Environment (ctest sets it): as fixtures.mjs, and LZS_CHROMIUM; the
// screenshots lzs-page-390.png and lzs-page-1280.png (a phone's width and a
// desktop's) are left in LZS_WEB_WORK.
import assert from "node:assert/strict";
import { closeSync, ftruncateSync, mkdirSync, openSync, readFileSync, rmSync, writeFileSync, writeSync } from "node:fs";
import { join } from "node:path";
import { after, before, test } from "node:test";
import { unzipSync } from "fflate";
import { chromium } from "playwright-core";
import { BaseName, Count, Env, LargeImage, Ratio, MakeFiles, ModeCases, ModeFiles, Native, UnpackCases, pageUrl, work } from "./fixtures.mjs";


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

async function OpenPage(viewport) {
  const page = await context.newPage();
  if (viewport) await page.setViewportSize(viewport);
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
    ratio: row.cells[3].textContent,
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
    const packed = readFileSync(join(work, c.file)).length;
    assert.equal(row.download, c.output);
    assert.deepEqual([row.packed, row.unpacked, row.ratio], [Count(packed), Count(expected.length), Ratio(packed, expected.length)], base);
    assert.equal(row.result.includes("larger than 8 MiB"), Boolean(c.warning), `${base}: ${row.result}`);
    const got = await Download(page, `tr[data-name="${base}"] a[download]`);
    assert.equal(got.name, c.output);
    assert.ok(got.bytes.equals(expected), `${base} unpacks to other bytes than lzs -d gives`);
  }
  assert.deepEqual(page.errors, []);
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

test("packs what lzs packs: an image and an empty file are left, an image larger than its input is told", async () => {
  const [image, one, text] = ["deeper/one.txt.lzs", "deeper/one.txt", "text.bin"].map((name) => join(work, "tree/sub", name));
  const empty = join(work, "empty.txt");
  writeFileSync(empty, "");
  assert.throws(() => Native([], image), /already has the \.lzs suffix/);
  const page = await OpenPage();
  await page.setInputFiles("#files", [image, empty, one, text]);
  await WaitIdle(page, 4);
  const packed = Native([], text).length;
  assert.deepEqual((await Rows(page)).map((row) => [row.className, row.packed, row.unpacked, row.ratio, row.result]), [
    ["skipped", "", "", "", "skipped: already has the .lzs suffix; not packed again (choose Unpack to unpack it)"],
    ["skipped", "", "", "", "skipped: empty; no LZS image holds zero bytes"],
    ["ok", "6", "1", "600.00 %", "Download one.txt.lzs warning: the image, 6 bytes, is larger than its input, 1 bytes"],
    ["ok", Count(packed), "200,000", Ratio(packed, 200000), "Download text.bin.lzs"],
  ]);
  await page.close();
});

test("a name that would climb out of its folder, or name no file, gets a safe one, and its row says so", async () => {
  const top = join(work, "unsafe/top");
  mkdirSync(join(top, "sub"), { recursive: true });
  // In the order of their paths. Chromium gives a name's backslashes as
  // slashes in the file's path.
  const cases = [
    { file: "..\\..\\evil.bat.lzs", row: "top/../../evil.bat.lzs", output: "top/__/__/evil.bat", unsafe: "top/../../evil.bat" },
    { file: "sub/...lzs", row: "top/sub/...lzs", output: "top/sub/__", unsafe: "top/sub/.." },
    { file: "sub/..lzs", row: "top/sub/..lzs", output: "top/sub/_", unsafe: "top/sub/." },
    { file: "sub/_.lzs", row: "top/sub/_.lzs", output: "top/sub/_", skipped: "its output top/sub/_ is already that of top/sub/..lzs; rename one of them, or Clear the list" },
    { file: "sub/ok.lzs", row: "top/sub/ok.lzs", output: "top/sub/ok" },
  ];
  const image = join(work, "tree/sub/deeper/one.txt.lzs");
  for (const c of cases) writeFileSync(join(top, c.file), readFileSync(image));
  const page = await OpenPage();
  await page.setInputFiles("#folder", top);
  await WaitIdle(page, cases.length);
  const rows = await Rows(page);
  assert.deepEqual(rows.map((row) => [row.name, row.download, row.result]), cases.map((c) => [
    c.row, c.skipped ? null : BaseName(c.output),
    c.skipped ? `skipped: ${c.skipped}`
              : `Download ${c.output}${c.unsafe ? ` (renamed from ${c.unsafe}, which is not a safe name for a file)` : ""}`,
  ]));
  const zip = unzipSync(new Uint8Array((await Download(page, "#download-all")).bytes));
  assert.deepEqual(Object.keys(zip).sort(), cases.filter((c) => !c.skipped).map((c) => c.output).sort());
  const expected = Native(["-d"], image);
  for (const entry of Object.values(zip)) assert.ok(Buffer.from(entry).equals(expected));
  await page.close();
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

test("files dropped on the page are taken as chosen ones, in the box or beside it", async () => {
  for (const beside of [false, true]) {
    const page = await OpenPage();
    const box = await page.locator("#drop").boundingBox();
    const [x, y] = beside ? [5, 5] : [box.x + 20, box.y + 20];
    const session = await context.newCDPSession(page);
    const files = ["tree/sub/text.bin.lzs", "tree/sub/deeper/one.txt.lzs"].map((name) => join(work, name));
    const data = { items: [], files, dragOperationsMask: 1 };
    for (const type of ["dragEnter", "dragOver", "drop"]) await session.send("Input.dispatchDragEvent", { type, x, y, data });
    await WaitIdle(page, 2);
    const rows = await Rows(page);
    assert.deepEqual(rows.map((row) => [row.name, row.download]),
                     [["text.bin.lzs", "text.bin"], ["one.txt.lzs", "one.txt"]]);
    await page.close();
  }
});

test("at a phone's width, each file's name, result and download fit the screen", async () => {
  for (const width of [390, 1280]) {
    const page = await OpenPage({ width, height: 800 });
    // The folder's chooser reads as its own button, not as the browser's "Choose File".
    assert.equal(await page.textContent('label[for="folder"]'), "Choose a folder");
    const chooser = await page.locator("#folder").boundingBox();
    assert.ok(chooser.width <= 1 && chooser.height <= 1, `the folder's input shows, ${chooser.width} px wide`);
    await page.setInputFiles("#files", UnpackCases.map((c) => join(work, c.file)));
    await WaitIdle(page, UnpackCases.length);
    const cells = await page.$$eval("#rows td.result", (all) => all.map((cell) => cell.getBoundingClientRect().toJSON()));
    assert.equal(cells.length, UnpackCases.length);
    for (const cell of cells) assert.ok(cell.left >= 0 && cell.right <= width, `a result lies at ${cell.left}-${cell.right} px of ${width}`);
    assert.ok(await page.evaluate(() => document.documentElement.scrollWidth) <= width, "the page scrolls sideways");
    await page.screenshot({ path: join(work, `lzs-page-${width}.png`), fullPage: true });
    await page.close();
  }
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
  // A timer on the page's own thread, counting its ticks.
  await page.evaluate(() => {
    window.gaps = { ticks: 0 };
    setInterval(() => {
      window.gaps.ticks += 1;
    }, 20);
  });
  const files = ["tree/sub/deeper/one.txt", "large/huge.bin", "large/text.bin"].map((name) => join(work, name));
  await page.setInputFiles("#files", files);
  await page.waitForFunction(() => document.querySelector("#rows tr.ok") !== null, null, { timeout: 60000 });
  // While the worker packs 64 MiB the timer keeps ticking: 30 ticks come
  // before the job ends, however busy the machine, since a tick needs the
  // page's thread only for a moment and the job needs a processor for
  // seconds. (No bound in milliseconds: a loaded machine stretches both.)
  const before = await page.evaluate(() => window.gaps.ticks);
  const seen = await (await page.waitForFunction((n) => {
    const state = document.body.dataset.state;
    return (window.gaps.ticks >= n || state !== "busy") && { ticks: window.gaps.ticks, state };
  }, before + 30, { timeout: 120000 })).jsonValue();
  assert.equal(seen.state, "busy", `the job ended after ${seen.ticks - before} ticks of the page's timer`);
  assert.match(await page.textContent("#status"), /^1 of 3 files, [0-9.]+ MB\/s$/);
  assert.equal(await page.$eval("#progress", (bar) => [bar.value, bar.max].join(" of ")), "1 of 3");
  await page.click("#cancel");
  const rows = await Rows(page);
  assert.deepEqual(rows.map((row) => row.className), ["ok", "cancelled", "cancelled"]);
  // A new batch after the cancel runs in a new worker; a file whose output
  // is already in the list is left, not overwritten, also in a batch of
  // such files alone.
  await page.setInputFiles("#files", [join(work, "tree/sub/text.bin"), join(work, "tree/sub/deeper/one.txt")]);
  await WaitIdle(page, 5);
  await page.setInputFiles("#files", join(work, "tree/sub/deeper/one.txt"));
  await WaitIdle(page, 6);
  const added = (await Rows(page)).slice(3);
  assert.deepEqual(added.map((row) => [row.className, row.result]), [
    ["ok", "Download text.bin.lzs"],
    ["skipped", "skipped: one.txt is already in the list; Clear the list to add it again"],
    ["skipped", "skipped: one.txt is already in the list; Clear the list to add it again"],
  ]);
  assert.deepEqual(page.errors, []);
  await page.click("#clear");
  assert.equal(await page.$eval("#progress", (bar) => bar.value), 0);
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

test("a file too large for the page fails alone, in words that say so, and the next one is done", async () => {
  // A browser whose WebAssembly memories stop at 128 MiB instead of 4 GiB,
  // so that running out takes little time: an image of 130 MiB (of zeros,
  // all back-references) does not fit. 2 GiB and a byte are more than the page
  // takes, refused from the size alone; so are images of 243 MiB and 484
  // MiB that would unpack to 2 GiB and a byte and to 4 GiB less 2 bytes
  // (more than the module's 32-bit sizes give), refused from their size
  // scans before any memory is taken for their outputs.
  const small = await chromium.launch({ executablePath: Env("LZS_CHROMIUM"),
                                        args: [...BrowserFlags, "--js-flags=--wasm-max-mem-pages=2048"] });
  const imageSize = 130 << 20;
  const header = Buffer.alloc(4);
  header.writeUInt32LE(imageSize - 4);
  Sparse(join(work, "huge.lzs"), imageSize, header);
  Sparse(join(work, "huge.raw"), 2 ** 31 + 1, Buffer.alloc(0));
  writeFileSync(join(work, "2gib.lzs"), LargeImage(2 ** 31 + 1));
  writeFileSync(join(work, "4gib.lzs"), LargeImage(2 ** 32 - 2));
  const cases = [
    { files: ["huge.lzs", "tree/sub/deeper/one.txt.lzs"], results: ["error: out of memory", "Download one.txt"], browser: small },
    { files: ["huge.raw", "tree/sub/deeper/one.txt"], browser: small, results: [
      "error: too large for this page: the file has 2,147,483,649 bytes; the page takes up to 2,147,483,648",
      "Download one.txt.lzs warning: the image, 6 bytes, is larger than its input, 1 bytes"] },
    { files: ["2gib.lzs", "4gib.lzs", "tree/sub/deeper/one.txt.lzs"], browser: context, results: [
      "error: too large for this page: it would unpack to 2,147,483,649 bytes; the page takes up to 2,147,483,648",
      "error: too large for this page: it would unpack to more than 4,294,967,285 bytes; the page takes up to 2,147,483,648",
      "Download one.txt"] },
  ];
  try {
    for (const c of cases) {
      const page = await c.browser.newPage();
      const errors = [];
      page.on("pageerror", (error) => errors.push(error.message));
      await page.goto(pageUrl);
      await page.setInputFiles("#files", c.files.map((name) => join(work, name)));
      await WaitIdle(page, c.files.length);
      assert.deepEqual((await Rows(page)).map((row) => row.result), c.results);
      assert.deepEqual(errors, []);
      await page.close();
    }
  } finally {
    await small.close();
    for (const name of ["huge.lzs", "huge.raw", "2gib.lzs", "4gib.lzs"]) rmSync(join(work, name));
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
    // The reports come as events, later: both are waited for (a busy
    // machine can take its time), and a missing one fails below.
    for (let wait = 0; wait < 1500 && violations.length < 2; ++wait) {
      await new Promise((resolve) => setTimeout(resolve, 20));
    }
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
