// lzs.html in headless Firefox ESR, driven by puppeteer-core over WebDriver
// BiDi: the unpacking and mode cases of the Chromium test, every download
// compared byte for byte with native lzs. (Firefox reports no request for
// file:// pages over BiDi, so the request count is the Chromium test's.)
//
// Environment (ctest sets it): as fixtures.mjs, and LZS_FIREFOX.
import assert from "node:assert/strict";
import { existsSync, readFileSync, readdirSync, rmSync } from "node:fs";
import { join } from "node:path";
import { after, before, test } from "node:test";
import puppeteer from "puppeteer-core";
import { BaseName, Env, MakeFiles, ModeCases, ModeFiles, Native, UnpackCases, pageUrl, work } from "./fixtures.mjs";

const downloads = join(work, "downloads");
let browser;
let context;

before(async () => {
  MakeFiles({ large: false });
  browser = await puppeteer.launch({ browser: "firefox", executablePath: Env("LZS_FIREFOX"), headless: true });
  context = await browser.createBrowserContext({ downloadBehavior: { policy: "allow", downloadPath: downloads } });
});

after(async () => {
  await browser?.close();
});

async function OpenPage() {
  const page = await context.newPage();
  await page.goto(pageUrl);
  return page;
}

async function WaitIdle(page, rowCount) {
  await page.waitForFunction((n) => document.body.dataset.state === "idle" &&
                                    document.querySelectorAll("#rows tr").length === n, { timeout: 60000 }, rowCount);
}

// Clicks a row's link and reads the file the browser saved under its name.
async function Download(page, name, saved) {
  const path = join(downloads, saved);
  rmSync(path, { force: true });
  await page.click(`tr[data-name="${name}"] a[download]`);
  // Up to a minute: a busy machine saves slowly.
  for (let wait = 0; wait < 1200 && !(existsSync(path) && !readdirSync(downloads).some((f) => f.endsWith(".part"))); ++wait) {
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
  return readFileSync(path);
}

test("unpacks images as lzs -d does, and a bad image fails alone", async () => {
  const page = await OpenPage();
  const input = await page.$("#files");
  await input.uploadFile(...UnpackCases.map((c) => join(work, c.file)));
  await WaitIdle(page, UnpackCases.length);
  const results = await page.$$eval("#rows tr", (rows) => rows.map((row) => [row.dataset.name, row.cells[4].textContent]));
  for (const c of UnpackCases) {
    const [, result] = results.find(([name]) => name === BaseName(c.file));
    if (c.error) {
      assert.equal(result, `error: ${c.error}`);
      continue;
    }
    assert.equal(result.includes("larger than 8 MiB"), Boolean(c.warning), result);
    const got = await Download(page, BaseName(c.file), c.output);
    assert.ok(got.equals(Native(["-d"], join(work, c.file))), `${c.file} unpacks to other bytes than lzs -d gives`);
  }
  await page.close();
});

test("packs as lzs and lzs -1 do, and unpacks any other name to NAME.DeLZS", async () => {
  for (const c of ModeCases) {
    const page = await OpenPage();
    // A click on the mode shown (Unpack at first) is a choice too: the
    // mode no longer follows the files.
    await page.click(`input[name="mode"][value="${c.mode}"]`);
    const files = ModeFiles(c);
    await (await page.$("#files")).uploadFile(...files);
    await WaitIdle(page, files.length);
    for (const file of files) {
      const got = await Download(page, BaseName(file), BaseName(file) + c.suffix);
      assert.ok(got.equals(Native(c.args, file)), `${c.mode} of ${file} differs from lzs ${c.args.join(" ")}`);
    }
    await page.close();
  }
});
