// lzs.html in headless Chromium, opened from file://: every download is
// compared byte for byte with what the native lzs writes for the same input.
//
// Environment (ctest sets it): as fixtures.mjs, and LZS_CHROMIUM; the
// screenshots lzs-page-390.png and lzs-page-1280.png (a phone's width and a
// desktop's) are left in LZS_WEB_WORK.
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { mkdirSync, readFileSync, writeFileSync } from "node:fs";
import { dirname, join } from "node:path";
import { test } from "node:test";
import { fileURLToPath } from "node:url";
import { unzipSync } from "fflate";
import { openPageIn, readRows, saveDownload, useBrowser, waitIdle } from "./chromium.mjs";
import { baseName, count, env, makeVariedImages, modeCases, modeFiles, native, openParseBytes, ratio, readZipBack,
         seededRandom, unpackCases, pageUrl, work } from "./fixtures.mjs";


// Every request the browser sees, from the pages and their workers.
const requests = [];
const launched = useBrowser({ large: true }, (context) => context.on("request", (request) => requests.push(request)));

const openPage = (viewport) => openPageIn(launched.context, viewport);

test("unpacks images as lzs -d does, and a bad image fails alone with the library's words", async () => {
  const cases = unpackCases;
  const page = await openPage();
  await page.setInputFiles("#files", cases.map((c) => join(work, c.file)));
  await waitIdle(page, cases.length);
  // Every name ends in .lzs: the mode followed the files.
  assert.equal(await page.$eval('input[name="mode"]:checked', (radio) => radio.value), "unpack");
  // A batch with failures is not "done": the status counts them.
  const failed = cases.filter((c) => c.error).length;
  assert.match(await page.textContent("#status"), new RegExp(`^${cases.length} of ${cases.length} files, [0-9.]+ MB/s, ${failed} failed$`));
  assert.equal(await page.getAttribute("#status", "class"), "failed");
  const rows = await readRows(page);
  for (const c of cases) {
    const base = baseName(c.file);
    const row = rows.find((r) => r.name === base);
    assert.ok(row, `no row for ${base}`);
    if (c.error) {
      assert.equal(row.result, `error: ${c.error}${c.salvage ? " Save what is there" : ""}`, base);
      assert.throws(() => native(["-d"], join(work, c.file)), `native lzs takes ${base}`);
      continue;
    }
    const expected = native(["-d"], join(work, c.file));
    const packed = readFileSync(join(work, c.file)).length;
    assert.equal(row.download, c.output);
    assert.deepEqual([row.packed, row.unpacked, row.ratio], [count(packed), count(expected.length), ratio(packed, expected.length)], base);
    assert.equal(row.result.includes("larger than 8 MiB"), Boolean(c.warning), `${base}: ${row.result}`);
    const got = await saveDownload(page, `tr[data-name="${base}"] a[download]`);
    assert.equal(got.name, c.output);
    assert.ok(got.bytes.equals(expected), `${base} unpacks to other bytes than lzs -d gives`);
  }
  assert.deepEqual(page.errors, []);
  await page.close();
});

test("packs as lzs and lzs -1 do; a name not ending in .lzs unpacks to NAME.DeLZS", async () => {
  const cases = modeCases;
  for (const c of cases) {
    const page = await openPage();
    // Files that do not all end in .lzs choose Pack until a mode is picked.
    await page.setInputFiles("#files", join(work, "tree/sub/deeper/one.txt"));
    await waitIdle(page, 1);
    assert.equal(await page.$eval('input[name="mode"]:checked', (radio) => radio.value), "pack");
    await page.click("#clear");
    await page.check(`input[name="mode"][value="${c.mode}"]`);
    const files = modeFiles(c);
    await page.setInputFiles("#files", files);
    await waitIdle(page, files.length);
    for (const file of files) {
      const base = baseName(file);
      const got = await saveDownload(page, `tr[data-name="${base}"] a[download]`);
      assert.equal(got.name, base + c.suffix);
      assert.ok(got.bytes.equals(native(c.args, file)), `${c.mode} of ${base} differs from lzs ${c.args.join(" ")}`);
    }
    assert.deepEqual(page.errors, []);
    await page.close();
  }
});

test("packs what lzs packs: an image and an empty file are left, an image larger than its input is told", async () => {
  const [image, one, text] = ["deeper/one.txt.lzs", "deeper/one.txt", "text.bin"].map((name) => join(work, "tree/sub", name));
  const empty = join(work, "empty.txt");
  writeFileSync(empty, "");
  assert.throws(() => native([], image), /already has the \.lzs suffix/);
  const page = await openPage();
  await page.setInputFiles("#files", [image, empty, one, text]);
  await waitIdle(page, 4);
  const packed = native([], text).length;
  assert.match(await page.textContent("#status"), /^4 of 4 files, [0-9.]+ MB\/s, 2 skipped, done$/);
  assert.deepEqual((await readRows(page)).map((row) => [row.className, row.packed, row.unpacked, row.ratio, row.result]), [
    ["skipped", "", "", "", "skipped: already has the .lzs suffix; not packed again (choose Unpack to unpack it)"],
    ["skipped", "", "", "", "skipped: empty; no LZS image holds zero bytes"],
    ["ok", "6", "1", "600.00 %", "Download one.txt.lzs warning: the image, 6 bytes, is larger than its input, 1 bytes"],
    ["ok", count(packed), "200,000", ratio(packed, 200000), "Download text.bin.lzs"],
  ]);
  await page.close();
});

// tests/naming.tsv: every face names its outputs so (mode, input, output,
// "-" where packing is refused).
const namingTable = readFileSync(join(dirname(fileURLToPath(import.meta.url)), "../../tests/naming.tsv"), "utf8")
  .split("\n").filter((line) => line && !line.startsWith("#")).slice(1).map((line) => line.split("\t"));

test("names outputs as lzs does, every row of the shared naming table", async () => {
  assert.ok(namingTable.length > 10);
  const page = await openPage();
  // The page's one rule, as its rows use it: null where it does not pack.
  const got = await page.evaluate((rows) => rows.map(([mode, input]) => outputName(input, mode) ?? "-"), namingTable);
  assert.deepEqual(namingTable.map(([mode, input], k) => [mode, input, got[k]]), namingTable);
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
  const page = await openPage();
  await page.setInputFiles("#folder", top);
  await waitIdle(page, cases.length);
  const rows = await readRows(page);
  assert.deepEqual(rows.map((row) => [row.name, row.download, row.result]), cases.map((c) => [
    c.row, c.skipped ? null : baseName(c.output),
    c.skipped ? `skipped: ${c.skipped}`
              : `Download ${c.output}${c.unsafe ? ` (renamed from ${c.unsafe}, which is not a safe name for a file)` : ""}`,
  ]));
  const zip = unzipSync(new Uint8Array((await saveDownload(page, "#download-all")).bytes));
  assert.deepEqual(Object.keys(zip).sort(), cases.filter((c) => !c.skipped).map((c) => c.output).sort());
  const expected = native(["-d"], image);
  for (const entry of Object.values(zip)) assert.ok(Buffer.from(entry).equals(expected));
  await page.close();
});

test("a chosen folder keeps its paths, in the rows and in Download all", async () => {
  const page = await openPage();
  await page.setInputFiles("#folder", join(work, "tree"));
  const expected = {
    "tree/sub/binary.bin": "tree/sub/binary.bin.lzs",
    "tree/sub/deeper/one.txt": "tree/sub/deeper/one.txt.lzs",
    "tree/sub/text.bin": "tree/sub/text.bin.lzs",
  };
  await waitIdle(page, 2 * Object.keys(expected).length);
  // The folder holds images and other files: the mode follows them to Pack.
  assert.equal(await page.$eval('input[name="mode"]:checked', (radio) => radio.value), "pack");
  const names = (await readRows(page)).map((row) => row.name);
  assert.deepEqual(names.filter((name) => name.endsWith(".lzs")), Object.values(expected).sort());
  await page.click("#clear");
  await page.check('input[name="mode"][value="unpack"]');
  await page.setInputFiles("#folder", join(work, "tree"));
  await waitIdle(page, 6);
  const rows = await readRows(page);
  for (const [output, image] of Object.entries(expected)) {
    assert.equal(rows.find((row) => row.name === image)?.className, "ok", image);
  }
  const zip = await saveDownload(page, "#download-all");
  assert.equal(zip.name, "lzs-files.zip");
  const entries = unzipSync(new Uint8Array(zip.bytes));
  // The images unpack; the other files are no images and fail, so only
  // the three outputs are in the zip.
  assert.deepEqual(Object.keys(entries).sort(), Object.keys(expected));
  for (const [output, image] of Object.entries(expected)) {
    assert.ok(Buffer.from(entries[output]).equals(native(["-d"], join(work, image))), `zip entry ${output}`);
  }
  await page.close();
});

test("Download all of a folder of thousands of images reads back with Python's zipfile and zlib", async () => {
  const { images, expected } = makeVariedImages("zip-many", 2000, 35);
  const page = await openPage();
  await page.setInputFiles("#folder", images);
  await waitIdle(page, 2000);
  assert.match(await page.textContent("#status"), /^2,000 of 2,000 files, [0-9.]+ MB\/s, done$/);
  const zip = await saveDownload(page, "#download-all");
  writeFileSync(join(work, "zip-many.zip"), zip.bytes);
  const counts = readZipBack(join(work, "zip-many.zip"), expected);
  assert.ok(counts.deflated > 1000 && counts.stored > 300, JSON.stringify(counts));
  assert.deepEqual(page.errors, []);
  await page.close();
});

test("files dropped on the page are taken as chosen ones, in the box or beside it", async () => {
  for (const beside of [false, true]) {
    const page = await openPage();
    const box = await page.locator("#drop").boundingBox();
    const [x, y] = beside ? [5, 5] : [box.x + 20, box.y + 20];
    const session = await launched.context.newCDPSession(page);
    const files = ["tree/sub/text.bin.lzs", "tree/sub/deeper/one.txt.lzs"].map((name) => join(work, name));
    const data = { items: [], files, dragOperationsMask: 1 };
    for (const type of ["dragEnter", "dragOver", "drop"]) await session.send("Input.dispatchDragEvent", { type, x, y, data });
    await waitIdle(page, 2);
    const rows = await readRows(page);
    assert.deepEqual(rows.map((row) => [row.name, row.download]),
                     [["text.bin.lzs", "text.bin"], ["one.txt.lzs", "one.txt"]]);
    await page.close();
  }
});

test("at a phone's width, each file's name, result and download fit the screen", async () => {
  for (const width of [390, 1280]) {
    const page = await openPage({ width, height: 800 });
    // The folder's chooser reads as its own button, not as the browser's "Choose File".
    assert.equal(await page.textContent('label[for="folder"]'), "Choose a folder");
    const chooser = await page.locator("#folder").boundingBox();
    assert.ok(chooser.width <= 1 && chooser.height <= 1, `the folder's input shows, ${chooser.width} px wide`);
    await page.setInputFiles("#files", unpackCases.map((c) => join(work, c.file)));
    await waitIdle(page, unpackCases.length);
    const cells = await page.$$eval("#rows td.result", (all) => all.map((cell) => cell.getBoundingClientRect().toJSON()));
    assert.equal(cells.length, unpackCases.length);
    for (const cell of cells) assert.ok(cell.left >= 0 && cell.right <= width, `a result lies at ${cell.left}-${cell.right} px of ${width}`);
    assert.ok(await page.evaluate(() => document.documentElement.scrollWidth) <= width, "the page scrolls sideways");
    // The count of failures is in view, before the list is scrolled and
    // after, at the list's end.
    for (const end of [false, true]) {
      if (end) await page.evaluate(() => window.scrollTo(0, document.documentElement.scrollHeight));
      const shown = await page.$eval("#status", (s) => ({ text: s.textContent, ...s.getBoundingClientRect().toJSON() }));
      assert.match(shown.text, new RegExp(`, ${unpackCases.filter((c) => c.error).length} failed$`));
      assert.ok(shown.top >= 0 && shown.bottom <= 800 && shown.right <= width, `the status lies at ${JSON.stringify(shown)}`);
    }
    await page.evaluate(() => window.scrollTo(0, 0));
    await page.screenshot({ path: join(work, `lzs-page-${width}.png`), fullPage: true });
    await page.close();
  }
});

// A browser's drag from another program cannot be made here (the drops
// above carry files whose entries cannot be read), so the folder walk gets
// a drop event holding entries as the entries API gives them: a folder
// whose reader hands out its children in two parts, then none.
test("a dropped folder is walked, keeping its paths", async () => {
  const page = await openPage();
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
  await waitIdle(page, 3);
  const rows = await readRows(page);
  assert.deepEqual(rows.map((row) => [row.name, row.download]),
                   [["game/maps/a.lzs", "a"], ["game/maps/b.lzs", "b"], ["game/start.lzs", "start"]]);
  const expected = native(["-d"], join(work, "tree/sub/text.bin.lzs"));
  const zip = unzipSync(new Uint8Array((await saveDownload(page, "#download-all")).bytes));
  assert.deepEqual(Object.keys(zip).sort(), ["game/maps/a", "game/maps/b", "game/start"]);
  for (const entry of Object.values(zip)) assert.ok(Buffer.from(entry).equals(expected));
  await page.close();
});

test("stays responsive during a large job, and Cancel stops it", async () => {
  const page = await openPage();
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
  // One file done, and a part of the large one.
  const [value, max] = await page.$eval("#progress", (bar) => [bar.value, bar.max]);
  assert.ok(value >= 1 && value < 2 && max === 3, `the bar at ${value} of ${max}`);
  await page.click("#cancel");
  const rows = await readRows(page);
  assert.deepEqual(rows.map((row) => row.className), ["ok", "cancelled", "cancelled"]);
  assert.equal(await page.textContent("#status"), "1 of 3 files, cancelled");
  // A new batch after the cancel runs in a new worker; a file whose output
  // is already in the list is left, not overwritten, also in a batch of
  // such files alone.
  await page.setInputFiles("#files", [join(work, "tree/sub/text.bin"), join(work, "tree/sub/deeper/one.txt")]);
  await waitIdle(page, 5);
  await page.setInputFiles("#files", join(work, "tree/sub/deeper/one.txt"));
  await waitIdle(page, 6);
  const added = (await readRows(page)).slice(3);
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

test("makes no network request, and its policy blocks one", async () => {
  // Every earlier test's pages, workers and downloads: the page itself and
  // blob: URLs, nothing else.
  const outside = requests.filter((request) => request.url() !== pageUrl && !request.url().startsWith("blob:"));
  assert.deepEqual(outside.map((request) => request.url()), []);
  assert.ok(requests.some((request) => request.url() === pageUrl));
  // A script put into the page (as by a change to it) is stopped by the
  // page's policy before anything is sent.
  const page = await openPage();
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

test("Inspect shows an image as lzs --inspect tells it: the strip, both histograms and the library's words", async () => {
  // An image of the fast level whose data start with zeros, which it copies
  // from before the start (zero references); and a cut one.
  const folder = join(work, "inspect");
  mkdirSync(folder, { recursive: true });
  writeFileSync(join(folder, "zeros.bin"), Buffer.concat([Buffer.alloc(3000), readFileSync(join(work, "tree/sub/text.bin"))]));
  writeFileSync(join(folder, "zeros.bin.lzs"), native(["-1"], join(folder, "zeros.bin")));
  writeFileSync(join(folder, "cut.lzs"), readFileSync(join(work, "tree/sub/binary.bin.lzs")).subarray(0, 30000));
  const page = await openPage({ width: 1280, height: 900 });
  await page.check('input[name="mode"][value="inspect"]');
  // Cancel stops an inspection before it comes (in the same turn of the
  // page's thread, so the worker cannot answer first), and the page is idle;
  // the inspections below run in a new worker.
  const stopped = await page.evaluate(() => {
    inspectFile({ file: new File([new Uint8Array(100)], "x.lzs"), path: "x.lzs" });
    const busy = [document.body.dataset.state, document.getElementById("cancel").disabled];
    document.getElementById("cancel").click();
    return [...busy, document.body.dataset.state, document.getElementById("inspect-text").textContent];
  });
  assert.deepEqual(stopped, ["busy", false, "idle", "cancelled"]);
  for (const name of ["cut.lzs", "zeros.bin.lzs"]) {
    // lzs names the file as it is given: its name alone, from its folder.
    const lzs = (args) => execFileSync(env("LZS_CLI"), [...args, name], { cwd: folder, encoding: "utf8" });
    const json = JSON.parse(lzs(["--inspect", "--json"]));
    await page.setInputFiles("#files", join(folder, name));
    await page.waitForFunction((n) => document.body.dataset.state === "idle" && document.getElementById("inspect-name").textContent === n &&
                                      document.querySelectorAll("#inspect-strip rect").length > 0, name, { timeout: 120000 });
    assert.equal(await page.textContent("#inspect-text"), lzs(["--inspect"]));
    const counts = (selector) => page.$$eval(selector, (rects) => rects.map((rect) => Number(rect.dataset.count)));
    assert.deepEqual(await counts("#inspect-lengths rect"), json.length_histogram, name);
    assert.deepEqual(await counts("#inspect-distances rect"), json.distance_histogram, name);
    assert.deepEqual(await counts("#inspect-strip rect.literal"), json.strip_literals, name);
    assert.deepEqual(await counts("#inspect-strip rect.reference"), json.strip_references, name);
    assert.deepEqual(await counts("#inspect-strip rect.zero"), json.strip_zero_references, name);
    // The counts above the bars are written as lzs --inspect writes them.
    const written = await page.$$eval("#inspect-distances text.count", (texts) => texts.map((text) => text.textContent));
    assert.deepEqual(written, json.distance_histogram.map(count), name);
  }
  assert.deepEqual(page.errors, []);
  assert.equal(await page.$$eval("#rows tr", (rows) => rows.length), 0, "Inspect adds no row");
  await page.evaluate(() => window.scrollTo(0, 0));
  await page.screenshot({ path: join(work, "inspect.png"), fullPage: true });
  await page.close();
});

test("Unpack offers to save what a damaged image holds, as lzs -d --salvage does", async () => {
  const folder = join(work, "salvage");
  mkdirSync(folder, { recursive: true });
  const image = readFileSync(join(work, "tree/sub/text.bin.lzs"));
  const cases = [
    { name: "cut.lzs", bytes: image.subarray(0, 7000) },
    { name: "after.lzs", bytes: Buffer.concat([image, Buffer.from("junk")]) },
  ];
  for (const c of cases) writeFileSync(join(folder, c.name), c.bytes);
  const page = await openPage();
  await page.setInputFiles("#files", cases.map((c) => join(folder, c.name)));
  await waitIdle(page, cases.length);
  for (const c of cases) {
    const run = (() => {
      try {
        execFileSync(env("LZS_CLI"), ["-d", "--salvage", "-c", c.name], { cwd: folder, stdio: "pipe" });
      } catch (e) {
        return { status: e.status, out: e.stdout, words: e.stderr.toString().replace(`lzs: ${c.name}: `, "").trimEnd() };
      }
      return null;
    })();
    assert.equal(run?.status, 2, `lzs salvages ${c.name}`);
    const row = `tr[data-name="${c.name}"]`;
    assert.equal(await page.getAttribute(row, "class"), "error");
    await page.click(`${row} button.salvage`);
    await page.waitForSelector(`${row}.ok a[download]`, { timeout: 60000 });
    const [got] = (await readRows(page)).filter((r) => r.name === c.name);
    assert.equal(got.result, `Download ${c.name.slice(0, -4)} warning: ${run.words}; the rest is lost`);
    assert.deepEqual([got.packed, got.unpacked], [count(c.bytes.length), count(run.out.length)]);
    const saved = await saveDownload(page, `${row} a[download]`);
    assert.ok(saved.bytes.equals(run.out), `${c.name}: what is saved differs from lzs -d --salvage`);
  }
  assert.equal(await page.$$eval("button.salvage", (buttons) => buttons.length), 0);
  assert.deepEqual(page.errors, []);
  await page.close();
});

test("a large file shows its progress in bytes, with its rate and share, packing and unpacking", async () => {
  // A file that takes the compression stream past its memory limit is
  // packed in one call, the same image.
  writeFileSync(join(work, "large/open.bin"), openParseBytes(10 << 20, seededRandom(3)));
  const cases = [
    { mode: "pack", file: "large/open.bin", args: [], verb: "packing", total: 10 << 20 },
    { mode: "pack-fast", file: "large/huge.bin", args: ["-1"], verb: "packing", total: readFileSync(join(work, "large/huge.bin")).length },
    { mode: "unpack", file: "big.lzs", args: ["-d"], verb: "unpacking", total: 9 << 20 },
  ];
  for (const c of cases) {
    const page = await openPage();
    await page.check(`input[name="mode"][value="${c.mode}"]`);
    // Every text the rows show, as it is shown, and the bar's value then.
    await page.evaluate(() => {
      window.shown = [];
      new MutationObserver((records) => {
        for (const record of records) {
          for (const node of record.addedNodes) {
            window.shown.push([node.textContent, document.getElementById("progress").value]);
          }
        }
      }).observe(document.getElementById("rows"), { childList: true, subtree: true });
    });
    await page.setInputFiles("#files", join(work, c.file));
    await waitIdle(page, 1);
    const shown = (await page.evaluate(() => window.shown)).filter(([text]) => text.startsWith(`${c.verb}:`));
    assert.ok(shown.length >= 5, `${c.file}: ${JSON.stringify(shown)}`);
    let last = 0;
    for (const [text, value] of shown) {
      const [, done, total, share] = text.match(/^\w+: ([\d,]+) of ([\d,]+) bytes \((\d+) %\), [\d.]+ MB\/s$/) ?? [];
      assert.ok(done, text);
      const bytes = Number(done.replaceAll(",", ""));
      assert.equal(total, count(c.total), text);
      assert.equal(Number(share), Math.floor((100 * bytes) / c.total), text);
      assert.ok(bytes > last && bytes < c.total, text);
      assert.ok(Math.abs(value - bytes / c.total) < 1e-6, `the bar at ${value} for ${text}`);
      last = bytes;
    }
    const name = baseName(c.file);
    const saved = await saveDownload(page, `tr[data-name="${name}"] a[download]`);
    assert.ok(saved.bytes.equals(native(c.args, join(work, c.file))), `${c.file}: the output differs from lzs ${c.args}`);
    assert.deepEqual(page.errors, []);
    await page.close();
  }
});
