// lzs.html in headless Firefox ESR, driven by puppeteer-core over WebDriver
// BiDi: the unpacking and mode cases of the Chromium test, every download
// compared byte for byte with native lzs. (Firefox reports no request for
// file:// pages over BiDi, so the request count is the Chromium test's.)
//
// Environment (ctest sets it): as fixtures.mjs, and LZS_FIREFOX.
import assert from "node:assert/strict";
import { existsSync, readFileSync, readdirSync, rmSync, writeFileSync } from "node:fs";
import { join } from "node:path";
import { after, before, test } from "node:test";
import puppeteer from "puppeteer-core";
import { baseName, env, makeFiles, makeVariedImages, modeCases, modeFiles, native, readZipBack, unpackCases, pageUrl,
         work } from "./fixtures.mjs";

const downloads = join(work, "downloads");
let browser;
let context;

before(async () => {
  makeFiles({ large: false });
  browser = await puppeteer.launch({ browser: "firefox", executablePath: env("LZS_FIREFOX"), headless: true });
  context = await browser.createBrowserContext({ downloadBehavior: { policy: "allow", downloadPath: downloads } });
});

after(async () => {
  await browser?.close();
});

async function openPage() {
  const page = await context.newPage();
  await page.goto(pageUrl);
  return page;
}

async function waitIdle(page, rowCount) {
  await page.waitForFunction((n) => document.body.dataset.state === "idle" &&
                                    document.querySelectorAll("#rows tr").length === n, { timeout: 60000 }, rowCount);
}

// Clicks a row's link (or another element, by `selector`) and reads the
// file the browser saved under its name.
async function saveDownload(page, name, saved, selector = `tr[data-name="${name}"] a[download]`) {
  const path = join(downloads, saved);
  rmSync(path, { force: true });
  await page.click(selector);
  // Up to a minute: a busy machine saves slowly.
  for (let wait = 0; wait < 1200 && !(existsSync(path) && !readdirSync(downloads).some((f) => f.endsWith(".part"))); ++wait) {
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
  return readFileSync(path);
}

test("unpacks images as lzs -d does, and a bad image fails alone", async () => {
  const page = await openPage();
  const input = await page.$("#files");
  await input.uploadFile(...unpackCases.map((c) => join(work, c.file)));
  await waitIdle(page, unpackCases.length);
  const results = await page.$$eval("#rows tr", (rows) => rows.map((row) => [row.dataset.name, row.cells[4].textContent]));
  for (const c of unpackCases) {
    const [, result] = results.find(([name]) => name === baseName(c.file));
    if (c.error) {
      assert.equal(result, `error: ${c.error}${c.salvage ? " Save what is there" : ""}`);
      continue;
    }
    assert.equal(result.includes("larger than 8 MiB"), Boolean(c.warning), result);
    const got = await saveDownload(page, baseName(c.file), c.output);
    assert.ok(got.equals(native(["-d"], join(work, c.file))), `${c.file} unpacks to other bytes than lzs -d gives`);
  }
  await page.close();
});

test("packs as lzs and lzs -1 do, and unpacks any other name to NAME.DeLZS", async () => {
  for (const c of modeCases) {
    const page = await openPage();
    // A click on the mode shown (Unpack at first) is a choice too: the
    // mode no longer follows the files.
    await page.click(`input[name="mode"][value="${c.mode}"]`);
    const files = modeFiles(c);
    await (await page.$("#files")).uploadFile(...files);
    await waitIdle(page, files.length);
    for (const file of files) {
      const got = await saveDownload(page, baseName(file), baseName(file) + c.suffix);
      assert.ok(got.equals(native(c.args, file)), `${c.mode} of ${file} differs from lzs ${c.args.join(" ")}`);
    }
    await page.close();
  }
});

test("Download all of hundreds of images reads back with Python's zipfile and zlib", async () => {
  // WebDriver BiDi sets no folder on a chooser: the files are chosen.
  const { paths, expected } = makeVariedImages("zip-firefox", 300, 40, true);
  const page = await openPage();
  await (await page.$("#files")).uploadFile(...paths);
  await waitIdle(page, 300);
  const status = await page.$eval("#status", (s) => s.textContent);
  assert.match(status, /^300 of 300 files, [0-9.]+ MB\/s, done$/);
  writeFileSync(join(work, "zip-firefox.zip"), await saveDownload(page, null, "lzs-files.zip", "#download-all"));
  const counts = readZipBack(join(work, "zip-firefox.zip"), expected);
  assert.ok(counts.deflated > 100 && counts.stored > 30, JSON.stringify(counts));
  await page.close();
});
