// The npm package as its users get it: installed from its tarball into a
// fresh folder outside the tree, used from a Node script and from a page
// that headless Chromium loads from a local HTTP server, its types checked
// by TypeScript; every output compared with native lzs.
//
// Environment (ctest sets it): as fixtures.mjs, and LZS_PACKAGE (the
// tarball), LZS_CHROMIUM.
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { createServer } from "node:http";
import { tmpdir } from "node:os";
import { dirname, extname, join, resolve } from "node:path";
import { after, before, test } from "node:test";
import { fileURLToPath } from "node:url";
import { chromium } from "playwright-core";
import { env, makeFiles, native, work } from "./fixtures.mjs";

const here = dirname(fileURLToPath(import.meta.url));
const consumer = mkdtempSync(join(tmpdir(), "lzs-package-"));
const input = () => join(work, "tree/sub/text.bin");
const image = () => join(work, "tree/sub/text.bin.lzs");

before(() => {
  makeFiles({ large: false });
  writeFileSync(join(consumer, "package.json"), JSON.stringify({ name: "consumer", private: true, type: "module" }));
  // The package has no dependencies, so nothing is fetched.
  execFileSync("npm", ["install", "--offline", "--no-audit", "--no-fund", env("LZS_PACKAGE")], { cwd: consumer, stdio: "ignore" });
});

after(() => rmSync(consumer, { recursive: true, force: true }));

test("the tarball holds the module, its types, the README and the licence, and needs nothing else", () => {
  const listing = execFileSync("tar", ["tzf", env("LZS_PACKAGE")], { encoding: "utf8" }).split("\n").filter(Boolean);
  assert.deepEqual(listing.sort(), ["LICENSE", "README.md", "lzs.d.ts", "lzs.mjs", "package.json"].map((f) => `package/${f}`));
  const manifest = JSON.parse(readFileSync(join(consumer, "node_modules/lzs/package.json"), "utf8"));
  assert.deepEqual([manifest.name, manifest.dependencies, manifest.exports["."]],
                   ["lzs", undefined, { types: "./lzs.d.ts", import: "./lzs.mjs" }]);
});

test("a Node script imports it by name and packs, unpacks and streams as lzs does", () => {
  const script = join(consumer, "use.mjs");
  writeFileSync(script, `
    import { createReadStream, readFileSync, writeFileSync } from "node:fs";
    import { Readable } from "node:stream";
    import { LEVEL_FAST, LzsDecompressionStream, LzsError, compress, decompress, ready } from "lzs";
    const [input, image, out] = process.argv.slice(2);
    await ready;
    writeFileSync(out + ".fast", compress(readFileSync(input), { level: LEVEL_FAST }));
    writeFileSync(out + ".whole", decompress(readFileSync(image)));
    const pieces = [];
    for await (const piece of Readable.toWeb(createReadStream(image, { highWaterMark: 1000 })).pipeThrough(new LzsDecompressionStream())) {
      pieces.push(piece);
    }
    writeFileSync(out + ".stream", Buffer.concat(pieces));
    try {
      decompress(readFileSync(image).subarray(0, 5000));
    } catch (e) {
      console.log(e instanceof LzsError, e.code, e.message);
    }`);
  const out = join(consumer, "out");
  const said = execFileSync("node", [script, input(), image(), out], { cwd: consumer, encoding: "utf8" });
  assert.equal(said, `true 2 cut short: the image is shorter than its header says (5,000 of ${readFileSync(image()).length.toLocaleString("en-US")} bytes)\n`);
  assert.ok(readFileSync(`${out}.fast`).equals(native(["-1"], input())));
  const unpacked = native(["-d"], image());
  assert.ok(readFileSync(`${out}.whole`).equals(unpacked));
  assert.ok(readFileSync(`${out}.stream`).equals(unpacked));
});

test("its types describe the calls as a TypeScript user makes them", () => {
  writeFileSync(join(consumer, "use.ts"), `
    import { ErrorCode, LEVEL_OPTIMAL, LzsDecompressionStream, LzsError, compress, decodedSize, decompress, imageLength, ready } from "lzs";
    await ready;
    const image = compress(new ArrayBuffer(8), { level: LEVEL_OPTIMAL });
    const size: number = decodedSize(image) + imageLength(image, 0);
    const data: Uint8Array = decompress(image, { maxOutputSize: size });
    const stream: ReadableStream<Uint8Array> = new Blob([image]).stream().pipeThrough(new LzsDecompressionStream());
    try {
      decompress(data);
    } catch (e) {
      if (e instanceof LzsError && e.code === ErrorCode.TRUNCATED) console.log(e.imageSize, e.inputSize, e.reason, stream);
    }`);
  const tsc = join(here, "../node_modules/typescript/bin/tsc");
  execFileSync("node", [tsc, "--noEmit", "--strict", "--module", "nodenext", "--target", "es2022", "--lib", "es2022,dom", "use.ts"],
               { cwd: consumer, stdio: "inherit" });
  // A call the types do not allow is refused.
  writeFileSync(join(consumer, "wrong.ts"), `import { compress } from "lzs"; compress("text");`);
  assert.throws(() => execFileSync("node", [tsc, "--noEmit", "--module", "nodenext", "--lib", "es2022,dom", "wrong.ts"],
                                   { cwd: consumer, stdio: "ignore" }));
});

test("a page served over HTTP imports it and unpacks a fetched image in pieces as lzs -d does", async () => {
  writeFileSync(join(consumer, "text.bin.lzs"), readFileSync(image()));
  writeFileSync(join(consumer, "index.html"), `<!DOCTYPE html>
    <script type="module">
      import { LzsDecompressionStream, compress, ready } from "./node_modules/lzs/lzs.mjs";
      await ready;
      const response = await fetch("text.bin.lzs");
      const data = await new Response(response.body.pipeThrough(new LzsDecompressionStream())).arrayBuffer();
      window.result = { data: [...new Uint8Array(data)], image: [...compress(new Uint8Array(data))] };
    </script>`);
  const types = { ".html": "text/html", ".mjs": "text/javascript" };
  const server = createServer((request, response) => {
    const path = resolve(consumer, `.${decodeURIComponent(new URL(request.url, "http://x").pathname)}`);
    try {
      if (!path.startsWith(`${consumer}/`)) throw new Error("outside the folder");
      const body = readFileSync(path);
      response.writeHead(200, { "content-type": types[extname(path)] ?? "application/octet-stream" }).end(body);
    } catch {
      response.writeHead(404).end();
    }
  });
  await new Promise((done) => server.listen(0, "127.0.0.1", done));
  const browser = await chromium.launch({ executablePath: env("LZS_CHROMIUM"), args: ["--no-sandbox", "--disable-gpu"] });
  try {
    const page = await browser.newPage();
    const errors = [];
    page.on("pageerror", (error) => errors.push(error.message));
    await page.goto(`http://127.0.0.1:${server.address().port}/index.html`);
    const result = await (await page.waitForFunction(() => window.result, null, { timeout: 30000 })).jsonValue();
    assert.deepEqual(errors, []);
    assert.ok(Buffer.from(result.data).equals(native(["-d"], image())));
    assert.ok(Buffer.from(result.image).equals(readFileSync(image())));
  } finally {
    await browser.close();
    server.close();
  }
});
