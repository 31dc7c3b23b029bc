// Makes, from lzs.wasm and the sources beside this script:
//  - OUTPUT_DIR/npm/: the npm package lzs (lzs.mjs with the module's bytes
//    in it and lzs.cjs, the same as CommonJS; node.mjs and node.cjs, the
//    Node stream; their types; package.json, README.md, LICENSE), for
//    `npm pack`;
//  - OUTPUT_DIR/lzs.html: one self-contained page, the style, the page
//    script and the worker inline, the worker holding fflate, lzs.mjs and
//    zip.mjs.
//    The page's Content-Security-Policy allows only these inline parts (by
//    their hashes), workers from blob: URLs and the compiling of
//    WebAssembly; nothing can be loaded from anywhere else.
//
//   node web/build.mjs LZS_WASM OUTPUT_DIR VERSION
import { createHash } from "node:crypto";
import { chmodSync, mkdirSync, readFileSync, writeFileSync } from "node:fs";
import { dirname, join } from "node:path";
import { fileURLToPath } from "node:url";

const here = dirname(fileURLToPath(import.meta.url));
const [wasmPath, outputDir, version] = process.argv.slice(2);
if (!wasmPath || !outputDir || !version) {
  console.error("usage: node build.mjs LZS_WASM OUTPUT_DIR VERSION");
  process.exit(2);
}

function fail(message) {
  console.error(`build.mjs: ${message}`);
  process.exit(1);
}

const read = (name) => readFileSync(join(here, name), "utf8");

// The module: the marker replaced by lzs.wasm in base64.
const marker = '"@LZS_WASM_BASE64@"';
const source = read("lzs.mjs");
if (source.split(marker).length !== 2) fail(`lzs.mjs must hold ${marker} once`);
const module = source.replace(marker, `"${readFileSync(wasmPath).toString("base64")}"`);

// A module's body without its one export statement, which ends it, and
// the fields of the object that `import * as` would give (`b: a` for
// `a as b`). Only imports of the form `import { a, b } from "x";` are
// taken, and only where `imports` allows.
function moduleParts(text, name, imports = false) {
  const exportList = /\nexport \{([^}]*)\};\n$/;
  const exported = text.match(exportList);
  const body = text.replace(exportList, "\n");
  const others = imports ? body.replace(/^import \{[^}]*\} from "[^"]+";$/gm, "") : body;
  if (!exported || /^\s*(import|export)\b|import\.meta/m.test(others)) {
    fail(`${name} must end in its one export statement, and import ${imports ? "only { names } from a module" : "nothing"}`);
  }
  const fields = exported[1].split(",").map((field) => field.trim()).filter(Boolean)
    .map((field) => field.replace(/^(\w+) as (\w+)$/, "$2: $1"));
  return { body, fields };
}

// The module as CommonJS: its imports as requires (of `renames[x]` for
// module x where given), its exports as module.exports.
function commonJs(text, name, renames = {}) {
  const { body, fields } = moduleParts(text, name, true);
  const requires = body.replace(/^import \{([^}]*)\} from "([^"]+)";$/gm,
                                (_, names, from) => `const {${names}} = require("${renames[from] ?? from}");`);
  return `"use strict";\n${requires}\nmodule.exports = { ${fields.join(", ")} };\n`;
}

// The package: lzs.mjs for import and lzs.cjs for require (the same
// module: a program that takes both gets two instances, each with its own
// LzsError), and lzs/node, the Node stream, the same way; types for both.
const npm = join(outputDir, "npm");
mkdirSync(npm, { recursive: true });
const entry = (name) => ({
  import: { types: `./${name}.d.ts`, default: `./${name}.mjs` },
  require: { types: `./${name}.d.cts`, default: `./${name}.cjs` },
});
const manifest = {
  name: "lzs",
  version,
  description: "Packs and unpacks LZS images (LZSS, 4,096-byte window) in WebAssembly, for Node and browsers",
  keywords: ["lzs", "lzss", "compression", "decompression", "webassembly", "wasm"],
  license: "MIT",
  type: "module",
  exports: { ".": entry("lzs"), "./node": entry("node"), "./package.json": "./package.json" },
  main: "./lzs.cjs",
  module: "./lzs.mjs",
  types: "./lzs.d.ts",
  files: ["lzs.mjs", "lzs.cjs", "lzs.d.ts", "lzs.d.cts", "node.mjs", "node.cjs", "node.d.ts", "node.d.cts"],
  sideEffects: false,
  engines: { node: ">=18" },
};
const node = read("node.mjs");
// npm keeps the files' modes in the tarball: they are set, whatever the
// umask.
const files = {
  "package.json": `${JSON.stringify(manifest, null, 2)}\n`,
  "lzs.mjs": module,
  "lzs.cjs": commonJs(module, "lzs.mjs"),
  "lzs.d.ts": read("lzs.d.ts"),
  "lzs.d.cts": read("lzs.d.ts"),
  "node.mjs": node,
  "node.cjs": commonJs(node, "node.mjs", { "./lzs.mjs": "./lzs.cjs" }),
  "node.d.ts": read("node.d.ts"),
  "node.d.cts": read("node.d.ts"),
  "README.md": read("README.md"),
  LICENSE: read("../LICENSE"),
};
for (const [name, text] of Object.entries(files)) {
  writeFileSync(join(npm, name), text);
  chmodSync(join(npm, name), 0o644);
}

// The worker: fflate (which sets `fflate`), then the modules as the objects
// `lzs` and `zip` that `import * as lzs` and `import * as zip` would give,
// then worker.js. A worker from a blob: URL can be no module in a page
// opened from file://, so a module's one export statement, at its end,
// becomes the object's fields.
function asScript(text, name) {
  const { body, fields } = moduleParts(text, name);
  return `const ${name} = (() => {\n${body}\nreturn { ${fields.join(", ")} };\n})();`;
}
const worker = [
  read("node_modules/fflate/umd/index.js"),
  asScript(module, "lzs"),
  asScript(read("zip.mjs"), "zip"),
  read("worker.js"),
].join("\n");
const script = read("page.js");
const style = read("page.css");

// An inline part must not end its element early.
for (const [name, text] of [["worker", worker], ["page script", script], ["style", style]]) {
  if (/<\/(script|style)|<!--/i.test(text)) fail(`the ${name} holds a sequence that would end its element`);
}

const hash = (text) => `'sha256-${createHash("sha256").update(text, "utf8").digest("base64")}'`;
const csp = [
  "default-src 'none'",
  `script-src ${hash(script)} 'wasm-unsafe-eval'`,
  `style-src ${hash(style)}`,
  "worker-src blob:",
  "img-src 'none'",
  "connect-src 'none'",
  "form-action 'none'",
  "base-uri 'none'",
].join("; ");

const parts = { "@CSP@": csp, "@VERSION@": version, "@STYLE@": style, "@WORKER@": worker, "@SCRIPT@": script };
let page = read("page.html");
for (const [key, text] of Object.entries(parts)) page = page.split(key).join(text);
writeFileSync(join(outputDir, "lzs.html"), page);
