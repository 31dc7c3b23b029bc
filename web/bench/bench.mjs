// lzs.wasm in headless Chromium against the native codec, in one run:
// decoding (MB/s of output) of the corpus packed optimally, as
// decode_bench's fast/ rows measure lzs::DecodeLzs, and the fast pack level
// (MB/s of input), as pack_bench's BM_Level/.../1 rows measure it.
//
//   node web/bench/bench.mjs [BUILD_DIR] [LZS_WASM...]
//   (LZS_BENCH_ROUNDS, default 3; LZS_BENCH_SECONDS a measurement, default 1)
//
// BUILD_DIR defaults to build/native; the module to BUILD_DIR/web/lzs.wasm.
// More modules (say, one built without -msimd128) are measured beside it.
import { execFileSync } from "node:child_process";
import { readFileSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { dirname, join, resolve } from "node:path";
import { fileURLToPath } from "node:url";
import { chromium } from "playwright-core";

const here = dirname(fileURLToPath(import.meta.url));
const build = resolve(process.argv[2] ?? join(here, "../../build/native"));
const modules = process.argv.length > 3 ? process.argv.slice(3) : [join(build, "web/lzs.wasm")];
const corpora = ["text", "binary"];
const seconds = Number(process.env.LZS_BENCH_SECONDS ?? 1);
const rounds = Number(process.env.LZS_BENCH_ROUNDS ?? 3);

// Google Benchmark's JSON file: bytes per second by run name, in MB/s.
function Native(program, filter) {
  const json = join(tmpdir(), `lzs-web-bench-${process.pid}.json`);
  execFileSync(join(build, "bench", program),
               [`--benchmark_filter=${filter}`, `--benchmark_out=${json}`, "--benchmark_out_format=json",
                `--benchmark_min_time=${seconds}`],
               { stdio: "ignore", env: { ...process.env, LZS_CORPUS_DIR: join(build, "corpus") } });
  const rates = {};
  for (const run of JSON.parse(readFileSync(json, "utf8")).benchmarks) rates[run.name] = run.bytes_per_second / 1e6;
  rmSync(json);
  return rates;
}

// Runs in the page: decodes each image and packs each input at the fast
// level for about `seconds` each, returning MB/s.
// Each module is instantiated once, in the first round: V8 runs a new
// module's code in its baseline tier at first and optimizes what turns out
// hot, so the later rounds measure the optimized code.
async function InPage({ path, wasm, images, inputs, seconds }) {
  globalThis.instances ??= {};
  if (!globalThis.instances[path]) {
    const bytes = Uint8Array.from(atob(wasm), (c) => c.charCodeAt(0));
    globalThis.instances[path] = (await WebAssembly.instantiate(bytes, {})).instance;
    globalThis.instances[path].exports._initialize();
  }
  const { exports } = globalThis.instances[path];
  const heap = () => new Uint8Array(exports.memory.buffer);
  const put = (base64) => {
    const data = Uint8Array.from(atob(base64), (c) => c.charCodeAt(0));
    const at = exports.malloc(data.length);
    heap().set(data, at);
    return [at, data.length];
  };
  const timed = (work) => {
    let runs = 0;
    const start = performance.now();
    while (performance.now() - start < seconds * 1000 || runs < 3) {
      work();
      ++runs;
    }
    return (performance.now() - start) / 1000 / runs;
  };
  const result = {};
  const blocks = [];
  for (const [name, base64] of Object.entries(images)) {
    const [image, size] = put(base64);
    const n = exports.lzs_decoded_size(image, size) >>> 0;
    const out = exports.malloc(n);
    const each = timed(() => {
      if (exports.lzs_decode(out, n, image, size) >>> 0 !== n) throw new Error(`decode of ${name} failed`);
    });
    result[`decode/${name}`] = n / 1e6 / each;
    blocks.push(image, out);
  }
  const encoder = exports.lzs_encoder_create();
  for (const [name, base64] of Object.entries(inputs)) {
    const [input, size] = put(base64);
    const capacity = exports.lzs_encode_bound(size) >>> 0;
    const out = exports.malloc(capacity);
    const each = timed(() => {
      if (exports.lzs_is_error(exports.lzs_encode_with(encoder, out, capacity, input, size, 1))) throw new Error("pack failed");
    });
    result[`pack-fast/${name}`] = size / 1e6 / each;
    blocks.push(input, out);
  }
  exports.lzs_encoder_free(encoder);
  for (const block of blocks) exports.free(block);
  return result;
}

const lzs = join(build, "cli/lzs");
const images = {};
const inputs = {};
for (const name of corpora) {
  const file = join(build, "corpus", `${name}.bin`);
  inputs[name] = readFileSync(file).toString("base64");
  images[name] = execFileSync(lzs, ["-c", file], { maxBuffer: 1 << 26 }).toString("base64");
}

const browser = await chromium.launch({
  executablePath: process.env.LZS_CHROMIUM ?? "/usr/bin/chromium",
  args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
         "--disable-component-update", "--disable-sync"],
});
// Rounds of native and wasm runs in turn; the best of each is kept, the
// one least disturbed by whatever else the machine runs.
const best = {};
const keep = (key, rate) => { best[key] = Math.max(best[key] ?? 0, rate); };
try {
  const page = await browser.newPage();
  for (let round = 0; round < rounds; ++round) {
    for (const [name, rate] of Object.entries(Native("decode_bench", "^fast/(text|binary)$"))) keep(`native ${name}`, rate);
    for (const [name, rate] of Object.entries(Native("pack_bench", "^BM_Level/(text|binary)/1$"))) keep(`native ${name}`, rate);
    for (const path of modules) {
      const wasm = readFileSync(path).toString("base64");
      const rates = await page.evaluate(InPage, { path, wasm, images, inputs, seconds });
      for (const [name, rate] of Object.entries(rates)) keep(`${path} ${name}`, rate);
    }
  }
  console.log(`Chromium ${browser.version()}, best of ${rounds} rounds of ${seconds} s a measurement`);
  console.log("module                          what              wasm MB/s  native MB/s  wasm/native");
  for (const path of modules) {
    for (const name of corpora) {
      for (const [what, native] of [[`decode/${name}`, `fast/${name}`], [`pack-fast/${name}`, `BM_Level/${name}/1`]]) {
        const wasmRate = best[`${path} ${what}`];
        const nativeRate = best[`native ${native}`];
        console.log(`${path.slice(-30).padEnd(30)}  ${what.padEnd(16)}  ${wasmRate.toFixed(0).padStart(9)}  ` +
                    `${nativeRate.toFixed(0).padStart(11)}  ${((wasmRate / nativeRate) * 100).toFixed(0).padStart(10)} %`);
      }
    }
  }
} finally {
  await browser.close();
}
