// Makes lzs.html, one self-contained page: the style, the page script and the
// worker inline, the worker holding fflate and lzs.wasm (as base64). The
// page's Content-Security-Policy allows only these inline parts (by their
// hashes), workers from blob: URLs and the compiling of WebAssembly;
// nothing can be loaded from anywhere else.
//
//   node web/build.mjs LZS_WASM OUTPUT_HTML VERSION
import { createHash } from "node:crypto";
import { readFileSync, writeFileSync } from "node:fs";
import { dirname, join } from "node:path";
import { fileURLToPath } from "node:url";

const here = dirname(fileURLToPath(import.meta.url));
const [wasmPath, outputPath, version] = process.argv.slice(2);
if (!wasmPath || !outputPath || !version) {
  console.error("usage: node build.mjs LZS_WASM OUTPUT_HTML VERSION");
  process.exit(2);
}

const read = (name) => readFileSync(join(here, name), "utf8");
const wasm = readFileSync(wasmPath).toString("base64");
const worker = [
  read("node_modules/fflate/umd/index.js"),
  `const LZS_WASM_BASE64 = "${wasm}";`,
  read("worker.js"),
].join("\n");
const script = read("page.js");
const style = read("page.css");

// An inline part must not end its element early.
for (const [name, text] of [["worker", worker], ["page script", script], ["style", style]]) {
  if (/<\/(script|style)|<!--/i.test(text)) {
    console.error(`build.mjs: the ${name} holds a sequence that would end its element`);
    process.exit(1);
  }
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
for (const [marker, text] of Object.entries(parts)) page = page.split(marker).join(text);
writeFileSync(outputPath, page);
