// What the tests of lzs.html in headless Chromium share (page.test.mjs,
// large.test.mjs): the browser, the page opened in it, a batch waited for,
// its rows read and a download saved.
import { readFileSync } from "node:fs";
import { join } from "node:path";
import { after, before } from "node:test";
import { chromium } from "playwright-core";
import { env, makeFiles, pageUrl, work } from "./fixtures.mjs";

// Headless, as root, and quiet: no background requests of its own.
export const BROWSER_FLAGS = ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                              "--disable-background-networking", "--disable-component-update", "--disable-sync"];

// Debian's chromium with those flags and `extra` ones.
export const launch = (extra = []) => chromium.launch({ executablePath: env("LZS_CHROMIUM"), args: [...BROWSER_FLAGS, ...extra] });

// The browser of one test file, made before its tests (after the files of
// makeFiles(files)) with a context that takes downloads and is handed to
// `withContext`, and closed after them: the object returned holds both
// (`browser`, `context`).
export function useBrowser(files, withContext = () => {}) {
  const session = {};
  before(async () => {
    makeFiles(files);
    session.browser = await launch();
    session.context = await session.browser.newContext({ acceptDownloads: true });
    withContext(session.context);
  });
  after(async () => {
    await session.browser?.close();
  });
  return session;
}

// The page in a new tab of `context`; the tab's `errors` gathers the page's
// uncaught errors.
export async function openPageIn(context, viewport) {
  const page = await context.newPage();
  if (viewport) await page.setViewportSize(viewport);
  const errors = [];
  page.on("pageerror", (error) => errors.push(error.message));
  await page.goto(pageUrl);
  page.errors = errors;
  return page;
}

export async function waitIdle(page, rowCount) {
  await page.waitForFunction((n) => document.body.dataset.state === "idle" &&
                                    document.querySelectorAll("#rows tr").length === n, rowCount,
                             { timeout: 240000 });
}

// The rows as { name, packed, unpacked, result } with the link's download
// name.
export async function readRows(page) {
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

export async function saveDownload(page, selector) {
  const [download] = await Promise.all([page.waitForEvent("download"), page.click(selector)]);
  const path = join(work, "downloads", `${Date.now()}-${download.suggestedFilename()}`);
  await download.saveAs(path);
  return { name: download.suggestedFilename(), bytes: readFileSync(path) };
}
