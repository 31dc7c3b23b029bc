// The npm package as its users get it: installed from its tarball into a
// fresh folder outside the tree, used from a Node script and from a page
// that headless Chromium loads from a local HTTP server, its types checked
// by TypeScript; every output compared with native lzs.
//
// Environment (ctest sets it): as fixtures.mjs, and LZS_PACKAGE (the
// tarball), LZS_CHROMIUM.
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { cpSync, mkdirSync, mkdtempSync, readFileSync, rmSync, symlinkSync, writeFileSync } from "node:fs";
import { createServer } from "node:http";
import { tmpdir } from "node:os";
import { dirname, extname, join, resolve } from "node:path";
import { after, before, test } from "node:test";
import { fileURLToPath } from "node:url";
import { chromium } from "playwright-core";
import { count, env, makeFiles, native, work } from "./fixtures.mjs";

const here = dirname(fileURLToPath(import.meta.url));
const consumer = mkdtempSync(join(tmpdir(), "lzs-package-"));
const input = () => join(work, "tree/sub/text.bin");
const image = () => join(work, "tree/sub/text.bin.lzs");
const modules = join(here, "../node_modules");

// The Node programs the scripts run on: this one, and Node 18 where
// tools/setup.sh has put it.
const nodes = [process.execPath, process.env.LZS_NODE18].filter(Boolean);

// A project in `folder` under the consumer's folder (a CommonJS one, as
// `npm init -y` makes, unless `type` says "module"), with the package
// installed; the package has no dependencies, so nothing is fetched.
function project(folder, type) {
  const path = join(consumer, folder);
  mkdirSync(path, { recursive: true });
  writeFileSync(join(path, "package.json"), JSON.stringify({ name: folder, version: "1.0.0", private: true, type }));
  execFileSync("npm", ["install", "--offline", "--no-audit", "--no-fund", env("LZS_PACKAGE")], { cwd: path, stdio: "ignore" });
  return path;
}

before(() => {
  makeFiles({ large: false });
  project("esm", "module");
  project("cjs");
});

after(() => rmSync(consumer, { recursive: true, force: true }));

test("the tarball holds the modules, their types, the README and the licence, and needs nothing else", () => {
  const listing = execFileSync("tar", ["tzf", env("LZS_PACKAGE")], { encoding: "utf8" }).split("\n").filter(Boolean);
  const files = ["LICENSE", "README.md", "lzs.cjs", "lzs.d.cts", "lzs.d.ts", "lzs.mjs", "node.cjs", "node.d.cts", "node.d.ts",
                 "node.mjs", "package.json"];
  assert.deepEqual(listing.sort(), files.map((f) => `package/${f}`));
  const manifest = JSON.parse(readFileSync(join(consumer, "esm/node_modules/lzs/package.json"), "utf8"));
  const entry = (name) => ({ import: { types: `./${name}.d.ts`, default: `./${name}.mjs` },
                             require: { types: `./${name}.d.cts`, default: `./${name}.cjs` } });
  assert.deepEqual([manifest.name, manifest.dependencies, manifest.exports],
                   ["lzs", undefined, { ".": entry("lzs"), "./node": entry("node"), "./package.json": "./package.json" }]);
});

// What the scripts below print for `image`, cut short at 5,000 bytes.
const cutShort = () => `true 2 cut short: the image is shorter than its header says (5,000 of ${count(readFileSync(image()).length)} bytes)\n`;

// The outputs the scripts below write at `out`, against native lzs.
function checkOutputs(out, what) {
  assert.ok(readFileSync(`${out}.fast`).equals(native(["-1"], input())), `${what}: packed`);
  const unpacked = native(["-d"], image());
  for (const kind of ["whole", "into", "stream", "node"]) assert.ok(readFileSync(`${out}.${kind}`).equals(unpacked), `${what}: ${kind}`);
}

test("an ES module script imports it by name and packs, unpacks and streams as lzs does, in Node 18 and later", async () => {
  const script = join(consumer, "esm/use.mjs");
  writeFileSync(script, `
    import { createReadStream, createWriteStream, readFileSync, writeFileSync } from "node:fs";
    import { Readable } from "node:stream";
    import { pipeline } from "node:stream/promises";
    import { LEVEL_FAST, LzsDecompressionStream, LzsError, compress, decodedSize, decompress, decompressInto, ready } from "lzs";
    import { createDecompress } from "lzs/node";
    const [input, image, out] = process.argv.slice(2);
    await ready;
    writeFileSync(out + ".fast", compress(readFileSync(input), { level: LEVEL_FAST }));
    writeFileSync(out + ".whole", decompress(readFileSync(image)));
    const room = new Uint8Array(decodedSize(readFileSync(image)) + 10);
    writeFileSync(out + ".into", room.subarray(0, decompressInto(readFileSync(image), room)));
    const pieces = [];
    for await (const piece of Readable.toWeb(createReadStream(image, { highWaterMark: 1000 })).pipeThrough(new LzsDecompressionStream())) {
      pieces.push(piece);
    }
    writeFileSync(out + ".stream", Buffer.concat(pieces));
    await pipeline(createReadStream(image, { highWaterMark: 1000 }), createDecompress(), createWriteStream(out + ".node"));
    try {
      decompress(readFileSync(image).subarray(0, 5000));
    } catch (e) {
      console.log(e instanceof LzsError, e.code, e.message);
    }`);
  for (const node of nodes) {
    const out = join(consumer, `esm-out-${nodes.indexOf(node)}`);
    assert.equal(execFileSync(node, [script, input(), image(), out], { cwd: consumer, encoding: "utf8" }), cutShort(), node);
    checkOutputs(out, node);
  }
});

test("a CommonJS script requires it, as a project of npm init -y does, in Node 18 and later", () => {
  const script = join(consumer, "cjs/index.js");
  writeFileSync(script, `
    const { createReadStream, createWriteStream, readFileSync, writeFileSync } = require("node:fs");
    const { pipeline } = require("node:stream/promises");
    const { LEVEL_FAST, LzsError, compress, decompress, decompressInto } = require("lzs");
    const { createDecompress } = require("lzs/node");
    const [input, image, out] = process.argv.slice(2);
    // Without waiting for ready: the module is compiled on the first call.
    writeFileSync(out + ".fast", compress(readFileSync(input), { level: LEVEL_FAST }));
    const whole = decompress(readFileSync(image));
    writeFileSync(out + ".whole", whole);
    const room = new Uint8Array(whole.length);
    writeFileSync(out + ".into", room.subarray(0, decompressInto(readFileSync(image), room)));
    writeFileSync(out + ".stream", whole);
    pipeline(createReadStream(image, { highWaterMark: 1000 }), createDecompress(), createWriteStream(out + ".node")).then(() => {
      try {
        decompress(readFileSync(image).subarray(0, 5000));
      } catch (e) {
        console.log(e instanceof LzsError, e.code, e.message);
      }
    });`);
  for (const node of nodes) {
    const out = join(consumer, `cjs-out-${nodes.indexOf(node)}`);
    assert.equal(execFileSync(node, [script, input(), image(), out], { cwd: consumer, encoding: "utf8" }), cutShort(), node);
    checkOutputs(out, node);
  }
});

// Each TypeScript the types are checked with, and the @types/node of its
// time (for lzs/node).
const typeScripts = [
  { name: "4.7", tsc: "typescript-4.7/bin/tsc", types: "types-node-18.15" },
  { name: "5.0", tsc: "typescript-5.0/bin/tsc", types: "types-node-18.15" },
  { name: "newest", tsc: "typescript/bin/tsc", types: "@types/node" },
];

// Runs a TypeScript's tsc in `folder` (its @types/node linked in first):
// whether it passed, and what it said.
function tsc({ tsc: program, types }, folder, args) {
  const link = join(folder, "node_modules/@types/node");
  rmSync(link, { recursive: true, force: true });
  mkdirSync(dirname(link), { recursive: true });
  symlinkSync(join(modules, types), link);
  try {
    execFileSync(process.execPath, [join(modules, program), ...args], { cwd: folder, encoding: "utf8" });
    return "";
  } catch (e) {
    return `${e.stdout}${e.stderr}` || "failed";
  }
}

// Every call as a TypeScript user makes it, in an ES module and in
// CommonJS, with the errors a wrong call must give.
const typedUse = (from) => `
    ${from}
    const image = compress(new ArrayBuffer(8), { level: LEVEL_OPTIMAL });
    const size: number = decodedSize(image) + imageLength(image, 0);
    checkHeader(image.subarray(0, 4), image.length);
    const data = decompress(image, { maxOutputSize: size });
    const written: number = decompressInto(image, new Uint8Array(size));
    const blob = new Blob([data, image]);
    const stream: ReadableStream<Uint8Array> = blob.stream().pipeThrough(new LzsDecompressionStream());
    try {
      decompress(data);
    } catch (e) {
      if (e instanceof LzsError && e.code === ErrorCode.TRUNCATED) console.log(e.imageSize, e.inputSize, e.reason, stream);
      if (e instanceof LzsError && e.code === ErrorCode.DST_TOO_SMALL) console.log(e.decodedSize, e.outputSize, written);
    }
    const transform: Transform = createDecompress();
    pipeline(createReadStream("a.lzs"), transform, createWriteStream("a")).then(() => console.log(libraryVersion()));
    const saved = decompress(image, { salvage: true });
    const warning: string | undefined = saved.warning;
    const again: Uint8Array = compress(saved, { like: image });
    const shown = inspect(image, { name: "a.lzs" });
    const zeros: number | null = shown.first_zero_reference;
    const found: string[] = scan(again).map((finding) => \`\${finding.offset} \${finding.confidence} \${inspectText(image)}\`);
    const packing = new LzsCompressionStream({ level: LEVEL_OPTIMAL, headerLast: true });
    const packed: ReadableStream<Uint8Array> = blob.stream().pipeThrough(packing);
    const header: Promise<Uint8Array> = packing.header;
    const packer = createCompress({ level: LEVEL_OPTIMAL, highWaterMark: 1 << 16 });
    packer.header.then((bytes) => console.log(warning, zeros, found, packed, header, shown.status === "truncated", bytes.length));`;
const ESM_USE = typedUse(`
    import { createReadStream, createWriteStream } from "node:fs";
    import type { Transform } from "node:stream";
    import { pipeline } from "node:stream/promises";
    import { ErrorCode, LEVEL_OPTIMAL, LzsCompressionStream, LzsDecompressionStream, LzsError, checkHeader, compress, decodedSize,
             decompress, decompressInto, imageLength, inspect, inspectText, libraryVersion, scan } from "lzs";
    import { createCompress, createDecompress } from "lzs/node";`);
const CJS_USE = typedUse(`
    import { createReadStream, createWriteStream } from "node:fs";
    import type { Transform } from "node:stream";
    import { pipeline } from "node:stream/promises";
    import lzs = require("lzs");
    import lzsNode = require("lzs/node");
    const { ErrorCode, LEVEL_OPTIMAL, LzsCompressionStream, LzsDecompressionStream, LzsError, checkHeader, compress, decodedSize,
            decompress, decompressInto, imageLength, inspect, inspectText, libraryVersion, scan } = lzs;
    const { createCompress, createDecompress } = lzsNode;`);
const STRICT = ["--noEmit", "--strict", "--module", "nodenext", "--target", "es2022", "--lib", "es2022,dom", "--types", "node"];

test("its types pass tsc --strict on TypeScript 4.7, 5.0 and the newest, in ES modules and CommonJS", () => {
  const folder = join(consumer, "esm");
  writeFileSync(join(folder, "use.mts"), ESM_USE);
  writeFileSync(join(folder, "use.cts"), CJS_USE);
  // Calls the types do not allow, one a line: each line must have its
  // error, and no other file any.
  const wrong = [`compress("text");`, `compress(new Uint8Array(1), { level: 5 });`, `decompressInto(new Uint8Array(1), [0]);`,
                 `inspect(new Uint8Array(1)).status === "cut";`, `compress(new Uint8Array(1), { like: "orig" });`];
  writeFileSync(join(folder, "wrong.mts"), [`import { compress, decompressInto, inspect } from "lzs";`, ...wrong].join("\n"));
  for (const typeScript of typeScripts) {
    const said = tsc(typeScript, folder, [...STRICT, "use.mts", "use.cts", "wrong.mts"]);
    const lines = said.split("\n").filter((line) => /error TS/.test(line));
    assert.deepEqual(lines.filter((line) => !line.startsWith("wrong.mts(")), [], `TypeScript ${typeScript.name}`);
    wrong.forEach((call, k) => assert.ok(lines.some((line) => line.startsWith(`wrong.mts(${k + 2},`)), `TypeScript ${typeScript.name}: ${call}`));
  }
  // The newest with a bundler's resolution, and in the project tsc --init
  // makes beside npm init -y's package.json.
  const newest = typeScripts.at(-1);
  const bundler = ["--noEmit", "--strict", "--module", "esnext", "--moduleResolution", "bundler", "--lib", "es2022,dom", "--types", "node", "use.mts"];
  assert.equal(tsc(newest, folder, bundler), "");
  const init = join(consumer, "cjs-init");
  mkdirSync(init);
  cpSync(join(consumer, "cjs/node_modules"), join(init, "node_modules"), { recursive: true });
  writeFileSync(join(init, "package.json"), JSON.stringify({ name: "init", version: "1.0.0" }));
  writeFileSync(join(init, "index.ts"), `import lzs = require("lzs");\nconsole.log(lzs.decompress(lzs.compress(new Uint8Array([1]))));\n`);
  tsc(newest, init, ["--init"]);
  assert.equal(tsc(newest, init, ["-p", "."]), "");
  assert.equal(execFileSync(process.execPath, ["index.js"], { cwd: init, encoding: "utf8" }), "Uint8Array(1) [ 1 ]\n");
});

test("esbuild bundles it for a browser, from import and from require, and for Node", async () => {
  const { build } = await import(join(modules, "esbuild/lib/main.js"));
  const folder = join(consumer, "esm");
  writeFileSync(join(folder, "app.mjs"), `import { compress, decompress } from "lzs";\nwindow.viaImport = [...decompress(compress(new TextEncoder().encode("imported")))];\n`);
  writeFileSync(join(folder, "app.cjs"), `const lzs = require("lzs");\nwindow.viaRequire = [...lzs.decompress(lzs.compress(new TextEncoder().encode("required")))];\n`);
  writeFileSync(join(folder, "app-node.mjs"), `import { compress, decompress } from "lzs";\nimport { createDecompress } from "lzs/node";\nconsole.log(new TextDecoder().decode(decompress(compress(new TextEncoder().encode("bundled")))), typeof createDecompress);\n`);
  const bundles = [["app.mjs", "browser", "iife", "bundle-import.js"], ["app.cjs", "browser", "iife", "bundle-require.js"],
                   ["app-node.mjs", "node", "cjs", "bundle-node.cjs"]];
  for (const [entry, platform, format, outfile] of bundles) {
    await build({ entryPoints: [join(folder, entry)], bundle: true, platform, format, outfile: join(folder, outfile), logLevel: "error" });
  }
  assert.equal(execFileSync(process.execPath, [join(folder, "bundle-node.cjs")], { encoding: "utf8" }), "bundled function\n");
  browserBundles.push("bundle-import.js", "bundle-require.js");
});

// The browser bundles esbuild made, for the page below.
const browserBundles = [];

test("a page served over HTTP imports it and unpacks a fetched image in pieces as lzs -d does; esbuild's bundles run", async () => {
  writeFileSync(join(consumer, "text.bin.lzs"), readFileSync(image()));
  writeFileSync(join(consumer, "index.html"), `<!DOCTYPE html>
    ${browserBundles.map((bundle) => `<script src="esm/${bundle}"></script>`).join("\n")}
    <script type="module">
      import { LzsDecompressionStream, compress, ready } from "./esm/node_modules/lzs/lzs.mjs";
      await ready;
      const response = await fetch("text.bin.lzs");
      const data = await new Response(response.body.pipeThrough(new LzsDecompressionStream())).arrayBuffer();
      window.result = { data: [...new Uint8Array(data)], image: [...compress(new Uint8Array(data))] };
    </script>`);
  const types = { ".html": "text/html", ".mjs": "text/javascript", ".js": "text/javascript" };
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
    const bundled = await page.evaluate(() => [window.viaImport, window.viaRequire].map((bytes) => String.fromCharCode(...bytes)));
    assert.deepEqual(bundled, ["imported", "required"]);
  } finally {
    await browser.close();
    server.close();
  }
});
