// lzs.wasm in headless Chromium against the native codec, in one run:
// decoding (MB/s of output) of the corpus packed optimally, as
// decode_bench's lib/ rows measure lzs_decode, and the fast pack level
// (MB/s of input), as pack_bench's BM_Level/.../1 rows measure it; then the
// same through lzs.mjs's decompress() and compress(), as the npm package's
// users call them (the bytes copied into the module and out, and the size
// scan before decoding), and through its LzsDecompressionStream (stream/
// rows, the output's pieces taken and dropped), as the page unpacks, and
// the same calls of lzs.mjs in Node (rows of module "node"). Most of
// what decompress() adds to the module's own decode is the first touch of
// the new ArrayBuffer it returns (for 8 MiB in Chromium, about as long as
// the decode); copying the image in costs a few percent.
//
//   node web/bench/bench.mjs [BUILD_DIR] [LZS_WASM...]
//   (LZS_BENCH_WINDOWS measurements of LZS_BENCH_SECONDS each, default 8 of
//   0.25 s; the best of them is reported, native and wasm alike, the one
//   least disturbed by whatever else the machine runs)
//
// BUILD_DIR defaults to build/native; the module to BUILD_DIR/web/lzs.wasm,
// lzs.mjs to BUILD_DIR/web/npm/lzs.mjs. More modules (say, one built
// without -msimd128) are measured beside it.
import { execFileSync } from "node:child_process";
import { readFileSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { dirname, join, resolve } from "node:path";
import { fileURLToPath, pathToFileURL } from "node:url";
import { chromium } from "playwright-core";

const here = dirname(fileURLToPath(import.meta.url));
const build = resolve(process.argv[2] ?? join(here, "../../build/native"));
const modules = process.argv.length > 3 ? process.argv.slice(3) : [join(build, "web/lzs.wasm")];
const corpora = ["text", "binary"];
const seconds = Number(process.env.LZS_BENCH_SECONDS ?? 0.25);
const windows = Number(process.env.LZS_BENCH_WINDOWS ?? 8);

// Google Benchmark's JSON file: the best repetition's bytes per second by
// run name, in MB/s.
function nativeRates(program, filter) {
  const json = join(tmpdir(), `lzs-web-bench-${process.pid}.json`);
  execFileSync(join(build, "bench", program),
               [`--benchmark_filter=${filter}`, `--benchmark_out=${json}`, "--benchmark_out_format=json",
                `--benchmark_min_time=${seconds}`, `--benchmark_repetitions=${windows}`],
               { stdio: "ignore", env: { ...process.env, LZS_CORPUS_DIR: join(build, "corpus") } });
  const rates = {};
  for (const run of JSON.parse(readFileSync(json, "utf8")).benchmarks) {
    if (run.run_type !== "iteration") continue;
    rates[run.run_name] = Math.max(rates[run.run_name] ?? 0, run.bytes_per_second / 1e6);
  }
  rmSync(json);
  return rates;
}

// Runs in the page: decodes each image and packs each input at the fast
// level, returning the best MB/s of `windows` measurements of `seconds`.
// V8 runs a new module's code in its baseline tier at first and optimizes
// what turns out hot in the background: a warm-up and a pause come first.
async function inPage({ wasm, images, inputs, seconds, windows, viaModule }) {
  const bytes = (base64) => Uint8Array.from(atob(base64), (c) => c.charCodeAt(0));
  const once = async (work, milliseconds) => {
    let runs = 0;
    const start = performance.now();
    while (performance.now() - start < milliseconds || runs < 2) {
      await work();
      ++runs;
    }
    return (performance.now() - start) / 1000 / runs;
  };
  const timed = async (work) => {
    await once(work, 300);
    await new Promise((resolve) => setTimeout(resolve, 500));
    let best = Infinity;
    for (let k = 0; k < windows; ++k) best = Math.min(best, await once(work, seconds * 1000));
    return best;
  };
  const result = {};
  if (viaModule) {
    const { compress, decompress, LEVEL_FAST, LzsDecompressionStream } = window.lzs;
    for (const [name, base64] of Object.entries(images)) {
      const image = bytes(base64);
      const n = decompress(image).length;
      result[`decode/${name}`] = n / 1e6 / await timed(() => decompress(image));
      const stream = () => new ReadableStream({
        start(controller) {
          controller.enqueue(image);
          controller.close();
        },
      }).pipeThrough(new LzsDecompressionStream()).pipeTo(new WritableStream());
      result[`stream/${name}`] = n / 1e6 / await timed(stream);
    }
    for (const [name, base64] of Object.entries(inputs)) {
      const input = bytes(base64);
      result[`pack-fast/${name}`] = input.length / 1e6 / await timed(() => compress(input, { level: LEVEL_FAST }));
    }
    return result;
  }
  const { exports } = (await WebAssembly.instantiate(bytes(wasm), {})).instance;
  exports._initialize();
  const put = (base64) => {
    const data = bytes(base64);
    const at = exports.malloc(data.length);
    new Uint8Array(exports.memory.buffer).set(data, at);
    return [at, data.length];
  };
  const blocks = [];
  for (const [name, base64] of Object.entries(images)) {
    const [image, size] = put(base64);
    const n = exports.lzs_decoded_size(image, size) >>> 0;
    const out = exports.malloc(n);
    const each = await timed(() => {
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
    const each = await timed(() => {
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
  // LZS_BENCH_JS_FLAGS: V8's flags, e.g. --no-liftoff for optimized code
  // from the start.
  args: [...(process.env.LZS_BENCH_JS_FLAGS ? [`--js-flags=${process.env.LZS_BENCH_JS_FLAGS}`] : []),
         "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
         "--disable-component-update", "--disable-sync"],
});
const best = {};
try {
  const page = await browser.newPage();
  // Native decoding: lzs_decode, on the widest loop this processor runs.
  for (const [name, rate] of Object.entries(nativeRates("decode_bench", "^lib/(text|binary)$"))) best[`native ${name}`] = rate;
  for (const [name, rate] of Object.entries(nativeRates("pack_bench", "^BM_Level/(text|binary)/1$"))) best[`native ${name}`] = rate;
  for (const path of modules) {
    const wasm = readFileSync(path).toString("base64");
    const rates = await page.evaluate(inPage, { wasm, images, inputs, seconds, windows });
    for (const [name, rate] of Object.entries(rates)) best[`${path} ${name}`] = rate;
  }
  // lzs.mjs, as a module script that leaves its calls on window.
  const module = join(build, "web/npm/lzs.mjs");
  await page.addScriptTag({ type: "module", content: `${readFileSync(module, "utf8")}\nwindow.lzs = { compress, decompress, LEVEL_FAST, LzsDecompressionStream };` });
  await page.waitForFunction(() => window.lzs);
  const rates = await page.evaluate(inPage, { images, inputs, seconds, windows, viaModule: true });
  for (const [name, rate] of Object.entries(rates)) best[`${module} ${name}`] = rate;
  modules.push(module);
  // The same calls in Node itself, as a Node script imports the package.
  const inNode = await import(pathToFileURL(module).href);
  await inNode.ready;
  globalThis.window = { lzs: inNode };
  const nodeRates = await inPage({ images, inputs, seconds, windows, viaModule: true });
  for (const [name, rate] of Object.entries(nodeRates)) best[`node ${name}`] = rate;
  modules.push("node");
  console.log(`Chromium ${browser.version()} and Node ${process.version}, the best of ${windows} measurements of ${seconds} s each`);
  console.log("module                          what              wasm MB/s  native MB/s  wasm/native");
  for (const path of modules) {
    for (const name of corpora) {
      const rows = [[`decode/${name}`, `lib/${name}`], [`stream/${name}`, `lib/${name}`], [`pack-fast/${name}`, `BM_Level/${name}/1`]];
      for (const [what, native] of rows) {
        const wasmRate = best[`${path} ${what}`];
        if (wasmRate === undefined) continue;
        const nativeRate = best[`native ${native}`];
        console.log(`${path.slice(-30).padEnd(30)}  ${what.padEnd(16)}  ${wasmRate.toFixed(0).padStart(9)}  ` +
                    `${nativeRate.toFixed(0).padStart(11)}  ${((wasmRate / nativeRate) * 100).toFixed(0).padStart(10)} %`);
      }
    }
  }
} finally {
  await browser.close();
}
