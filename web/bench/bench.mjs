// lzs.mjs and lzs.wasm against the native codec, in one run: decoding (MB/s
// of output) of images of 1 to 20 MB packed optimally, as decode_bench's
// lib/ rows measure lzs_decode into a buffer made once, in Node and in
// headless Chromium:
//   raw         the module's lzs_decode itself, into a buffer made once in
//               its memory (what the decode loop reaches in WebAssembly);
//   decompress  decompress(), as the package's users call it: the image
//               copied in, the decode, and a new Uint8Array of the output;
//   into        decompressInto() into the same Uint8Array every time;
//   stream      LzsDecompressionStream, the output's pieces taken and
//               dropped, as the page unpacks;
// and the fast pack level (MB/s of input) of the 8 MiB files, as
// pack_bench's BM_Level/.../1 rows measure it.
//
// Node's figures are of CPU time, as Google Benchmark's, and are compared
// with native CPU time; Chromium's are of wall time (a page has no CPU
// clock), compared with native wall time. Each figure is the best of
// LZS_BENCH_WINDOWS measurements of LZS_BENCH_SECONDS (default 8 of 0.25 s),
// over LZS_BENCH_ROUNDS rounds (default 2) in which native, Node and
// Chromium take turns, so that a machine busy for a while weighs on all.
//
//   bench/corpora.sh && node web/bench/bench.mjs [BUILD_DIR]
//
// BUILD_DIR defaults to build/native. The images: make-corpus's text and
// binary files of 1 MiB and of 8 MiB (BUILD_DIR/corpus), and
// build/corpora's headers.tar (20 MiB) and libs.bin (12 MiB) where
// bench/corpora.sh has made them.
import { execFileSync } from "node:child_process";
import { existsSync, mkdtempSync, readFileSync, rmSync, symlinkSync } from "node:fs";
import { tmpdir } from "node:os";
import { dirname, join, resolve } from "node:path";
import { fileURLToPath, pathToFileURL } from "node:url";
import { chromium } from "playwright-core";

const here = dirname(fileURLToPath(import.meta.url));
const build = resolve(process.argv[2] ?? join(here, "../../build/native"));
const seconds = Number(process.env.LZS_BENCH_SECONDS ?? 0.25);
const windows = Number(process.env.LZS_BENCH_WINDOWS ?? 8);
const rounds = Number(process.env.LZS_BENCH_ROUNDS ?? 2);
const scratch = mkdtempSync(join(tmpdir(), "lzs-web-bench-"));

// Folders of a text.bin and a binary.bin each, as decode_bench reads them
// (LZS_CORPUS_DIR), with the names the table gives them.
const sets = [];
execFileSync(join(build, "tools/make-corpus"), [join(scratch, "1mib"), String(1 << 20)]);
sets.push({ dir: join(scratch, "1mib"), names: { text: "text 1 MiB", binary: "binary 1 MiB" } });
sets.push({ dir: join(build, "corpus"), names: { text: "text 8 MiB", binary: "binary 8 MiB" }, pack: true });
const corpora = resolve(build, "../corpora");
if (existsSync(join(corpora, "headers.tar")) && existsSync(join(corpora, "libs.bin"))) {
  symlinkSync(join(corpora, "headers.tar"), join(scratch, "text.bin"));
  symlinkSync(join(corpora, "libs.bin"), join(scratch, "binary.bin"));
  sets.push({ dir: scratch, names: { text: "headers.tar 20 MiB", binary: "libs.bin 12 MiB" } });
} else {
  console.log(`(no ${corpora}/headers.tar and libs.bin: bench/corpora.sh makes them)`);
}

// Google Benchmark's JSON file: each run's bytes per second of CPU time and
// of wall time, in MB/s.
function nativeRates(program, filter, dir) {
  const json = join(scratch, "native.json");
  execFileSync(join(build, "bench", program),
               [`--benchmark_filter=${filter}`, `--benchmark_out=${json}`, "--benchmark_out_format=json",
                `--benchmark_min_time=${seconds}`, `--benchmark_repetitions=${windows}`],
               { stdio: "ignore", env: { ...process.env, LZS_CORPUS_DIR: dir } });
  const rates = [];
  for (const run of JSON.parse(readFileSync(json, "utf8")).benchmarks) {
    if (run.run_type !== "iteration") continue;
    const cpu = run.bytes_per_second / 1e6;
    rates.push({ name: run.run_name, cpu, wall: (cpu * run.cpu_time) / run.real_time });
  }
  rmSync(json);
  return rates;
}

// Runs in the page and in Node: the best MB/s of each way to decode each
// image (and to pack each input), on `clock` ("cpu" in Node, else the wall).
// V8 runs a new module's code in its baseline tier at first and optimizes
// what turns out hot in the background: a warm-up and a pause come first.
async function measure({ wasm, images, inputs, seconds, windows, clock }) {
  const lzs = globalThis.lzsUnderTest;
  const now = clock === "cpu" ? () => {
    const { user, system } = process.cpuUsage();
    return (user + system) / 1000;
  } : () => performance.now();
  const bytes = (base64) => Uint8Array.from(atob(base64), (c) => c.charCodeAt(0));
  const once = async (work, milliseconds) => {
    let runs = 0;
    const start = now();
    while (now() - start < milliseconds || runs < 2) {
      await work();
      ++runs;
    }
    return (now() - start) / 1000 / runs;
  };
  const timed = async (work) => {
    await once(work, 300);
    await new Promise((done) => setTimeout(done, 500));
    let best = Infinity;
    for (let k = 0; k < windows; ++k) best = Math.min(best, await once(work, seconds * 1000));
    return best;
  };
  const { exports } = (await WebAssembly.instantiate(bytes(wasm), {})).instance;
  exports._initialize();
  const result = {};
  for (const [name, base64] of Object.entries(images)) {
    const image = bytes(base64);
    const n = lzs.decodedSize(image);
    const at = exports.malloc(image.length);
    new Uint8Array(exports.memory.buffer).set(image, at);
    const out = exports.malloc(n);
    result[`${name} raw`] = n / 1e6 / await timed(() => {
      if (exports.lzs_decode(out, n, at, image.length) >>> 0 !== n) throw new Error(`decode of ${name} failed`);
    });
    exports.free(out);
    exports.free(at);
    result[`${name} decompress`] = n / 1e6 / await timed(() => lzs.decompress(image));
    const room = new Uint8Array(n);
    result[`${name} into`] = n / 1e6 / await timed(() => lzs.decompressInto(image, room));
    const stream = () => new ReadableStream({
      start(controller) {
        controller.enqueue(image);
        controller.close();
      },
    }).pipeThrough(new lzs.LzsDecompressionStream()).pipeTo(new WritableStream());
    result[`${name} stream`] = n / 1e6 / await timed(stream);
  }
  for (const [name, base64] of Object.entries(inputs)) {
    const input = bytes(base64);
    result[`${name} pack-fast`] = input.length / 1e6 / await timed(() => lzs.compress(input, { level: lzs.LEVEL_FAST }));
  }
  return result;
}

const lzsCli = join(build, "cli/lzs");
const wasm = readFileSync(join(build, "web/lzs.wasm")).toString("base64");
const images = {};
const inputs = {};
for (const set of sets) {
  for (const [kind, name] of Object.entries(set.names)) {
    const file = join(set.dir, `${kind}.bin`);
    images[name] = execFileSync(lzsCli, ["-c", file], { maxBuffer: 1 << 28 }).toString("base64");
    if (set.pack) inputs[name] = readFileSync(file).toString("base64");
  }
}

// The best of every round: native rates by "name lib"/"name pack-fast", per
// clock; the module's by "node name what" and "chromium name what".
const best = {};
const keep = (key, rate) => {
  best[key] = Math.max(best[key] ?? 0, rate);
};
const module = join(build, "web/npm/lzs.mjs");
const browser = await chromium.launch({
  executablePath: process.env.LZS_CHROMIUM ?? "/usr/bin/chromium",
  args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
         "--disable-component-update", "--disable-sync"],
});
try {
  const page = await browser.newPage();
  // lzs.mjs as a module script that leaves its calls on the page.
  await page.addScriptTag({ type: "module", content: `${readFileSync(module, "utf8")}\nglobalThis.lzsUnderTest = { compress, decompress, decompressInto, decodedSize, LEVEL_FAST, LzsDecompressionStream };` });
  await page.waitForFunction(() => globalThis.lzsUnderTest);
  globalThis.lzsUnderTest = await import(pathToFileURL(module).href);
  await globalThis.lzsUnderTest.ready;
  for (let round = 0; round < rounds; ++round) {
    for (const set of sets) {
      for (const { name, cpu, wall } of nativeRates("decode_bench", "^lib/(text|binary)$", set.dir)) {
        const key = `${set.names[name.split("/")[1]]} lib`;
        keep(`cpu ${key}`, cpu);
        keep(`wall ${key}`, wall);
      }
      if (!set.pack) continue;
      for (const { name, cpu, wall } of nativeRates("pack_bench", "^BM_Level/(text|binary)/1$", set.dir)) {
        const key = `${set.names[name.split("/")[1]]} pack-fast`;
        keep(`cpu ${key}`, cpu);
        keep(`wall ${key}`, wall);
      }
    }
    for (const [name, rate] of Object.entries(await measure({ wasm, images, inputs, seconds, windows, clock: "cpu" }))) {
      keep(`node ${name}`, rate);
    }
    const rates = await page.evaluate(measure, { wasm, images, inputs, seconds, windows, clock: "wall" });
    for (const [name, rate] of Object.entries(rates)) keep(`chromium ${name}`, rate);
  }
  console.log(`Node ${process.version} (CPU time) and Chromium ${browser.version()} (wall time) beside native ` +
              `lzs_decode and the fast pack level, the best of ${rounds} rounds of ${windows} measurements of ${seconds} s`);
  console.log(`${"image".padEnd(20)}  ${"what".padEnd(10)}  ${"native".padStart(7)}  ${"Node".padStart(7)}  ${"ratio".padStart(5)}  ` +
              `${"native".padStart(7)}  ${"Chromium".padStart(8)}  ${"ratio".padStart(5)}   (MB/s; native CPU, then wall)`);
  for (const name of Object.keys(images)) {
    for (const what of ["raw", "decompress", "into", "stream", "pack-fast"]) {
      const node = best[`node ${name} ${what}`];
      if (node === undefined) continue;
      const nativeKey = `${name} ${what === "pack-fast" ? "pack-fast" : "lib"}`;
      const [cpu, wall, page] = [best[`cpu ${nativeKey}`], best[`wall ${nativeKey}`], best[`chromium ${name} ${what}`]];
      console.log(`${name.padEnd(20)}  ${what.padEnd(10)}  ${cpu.toFixed(0).padStart(7)}  ${node.toFixed(0).padStart(7)}  ` +
                  `${(node / cpu).toFixed(2).padStart(5)}  ${wall.toFixed(0).padStart(7)}  ${page.toFixed(0).padStart(8)}  ` +
                  `${(page / wall).toFixed(2).padStart(5)}`);
    }
  }
} finally {
  await browser.close();
  rmSync(scratch, { recursive: true, force: true });
}
