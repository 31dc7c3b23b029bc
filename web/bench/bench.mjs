// lzs.mjs and lzs.wasm against the native codec, in one run: decoding (MB/s
// of output) of images of 1 to 20 MB packed optimally, beside native
// lzs_decode into a buffer made once (lzs_web_bench_native, "decode"), in
// Node and in headless Chromium:
//   raw         the module's lzs_decode itself, into a buffer made once in
//               its memory (what the decode loop reaches in WebAssembly);
//   decompress  decompress(), as the package's users call it: the image
//               copied in, lzs_decode_alloc, and a new Uint8Array of the
//               output;
//   into        decompressInto() into the same Uint8Array every time;
//   stream      LzsDecompressionStream, the output's pieces taken and
//               dropped, as the page unpacks;
//   new output  decompress() again, beside native lzs_decode_alloc into new
//               memory each time ("alloc"): both pay for memory the process
//               has not touched yet;
//   before      with LZS_BENCH_BEFORE=path/to/other/lzs.mjs, that module's
//               decompress(), taking turns with this one's;
// and the fast pack level (MB/s of input) of the 8 MiB files, beside native
// lzs_encode_with at that level.
//
// Node's figures are of CPU time, and are compared with native CPU time;
// Chromium's are of wall time (a page has no CPU clock), compared with
// native wall time. Each figure is the best of LZS_BENCH_WINDOWS
// measurements of LZS_BENCH_SECONDS (default 8 of 0.25 s), over
// LZS_BENCH_ROUNDS rounds (default 2) in which native, Node and Chromium
// take turns, so that a machine busy for a while weighs on all.
//
//   bench/corpora.sh && node web/bench/bench.mjs [BUILD_DIR]
//
// BUILD_DIR defaults to build/native. The images: make-corpus's text and
// binary files of 1 MiB and of 8 MiB (BUILD_DIR/corpus), and
// build/corpora's headers.tar (20 MiB) and libs.bin (12 MiB) where
// bench/corpora.sh has made them.
import { execFileSync } from "node:child_process";
import { existsSync, mkdtempSync, readFileSync, rmSync, symlinkSync, writeFileSync } from "node:fs";
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

// Where an image (kind "lzs") or an input ("bin") of the table lies for
// the native program.
const scratchFile = (name, kind) => join(scratch, `${name.replaceAll(" ", "_")}.${kind}`);

// The native program's rates on the images and the inputs named: each
// { key: "name what", cpu, wall } (MB/s of CPU and of wall time), what
// being "decode", "alloc" or "pack-fast".
function nativeRates(imageNames, inputNames) {
  const names = new Map([...imageNames.map((name) => [scratchFile(name, "lzs"), name]),
                         ...inputNames.map((name) => [scratchFile(name, "bin"), name])]);
  const out = execFileSync(join(build, "web/lzs_web_bench_native"),
                           [String(seconds), String(windows), "decode", ...imageNames.map((name) => scratchFile(name, "lzs")),
                            "pack", ...inputNames.map((name) => scratchFile(name, "bin"))], { encoding: "utf8" });
  return out.split("\n").filter(Boolean).map((line) => {
    const { file, what, cpu, wall } = JSON.parse(line);
    return { key: `${names.get(file)} ${what === "pack" ? "pack-fast" : what}`, cpu, wall };
  });
}

// Runs in the page and in Node: the best MB/s of each way to decode each
// image (and to pack each input), on `clock` ("cpu" in Node, else the wall).
// V8 runs a new module's code in its baseline tier at first and optimizes
// what turns out hot in the background: a warm-up and a pause come first.
async function measure({ wasm, images, inputs, seconds, windows, clock }) {
  const lzs = globalThis.lzsUnderTest;
  const before = globalThis.lzsBefore;
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
    if (before) result[`${name} before`] = n / 1e6 / await timed(() => before.decompress(image));
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
    const image = execFileSync(lzsCli, ["-c", file], { maxBuffer: 1 << 28 });
    images[name] = image.toString("base64");
    writeFileSync(scratchFile(name, "lzs"), image);
    if (!set.pack) continue;
    const input = readFileSync(file);
    inputs[name] = input.toString("base64");
    writeFileSync(scratchFile(name, "bin"), input);
  }
}

// The best of every round: native rates by "cpu name what" and "wall name
// what"; the module's by "node name what" and "chromium name what".
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
  const calls = "{ compress, decompress, decompressInto, decodedSize, LEVEL_FAST, LzsDecompressionStream }";
  const modules = [["lzsUnderTest", module], ...(process.env.LZS_BENCH_BEFORE ? [["lzsBefore", process.env.LZS_BENCH_BEFORE]] : [])];
  for (const [name, path] of modules) {
    await page.addScriptTag({ type: "module", content: `${readFileSync(path, "utf8")}\nglobalThis.${name} = ${calls};` });
    await page.waitForFunction((name) => globalThis[name], name);
    globalThis[name] = await import(pathToFileURL(resolve(path)).href);
    await globalThis[name].ready;
  }
  for (let round = 0; round < rounds; ++round) {
    for (const { key, cpu, wall } of nativeRates(Object.keys(images), Object.keys(inputs))) {
      keep(`cpu ${key}`, cpu);
      keep(`wall ${key}`, wall);
    }
    for (const [name, rate] of Object.entries(await measure({ wasm, images, inputs, seconds, windows, clock: "cpu" }))) {
      keep(`node ${name}`, rate);
    }
    const rates = await page.evaluate(measure, { wasm, images, inputs, seconds, windows, clock: "wall" });
    for (const [name, rate] of Object.entries(rates)) keep(`chromium ${name}`, rate);
  }
  console.log(`Node ${process.version} (CPU time) and Chromium ${browser.version()} (wall time) beside native ` +
              `lzs_decode (lzs_decode_alloc for "new output") and the fast pack level, the best of ${rounds} rounds of ` +
              `${windows} measurements of ${seconds} s`);
  console.log(`${"image".padEnd(20)}  ${"what".padEnd(10)}  ${"native".padStart(7)}  ${"Node".padStart(7)}  ${"ratio".padStart(5)}  ` +
              `${"native".padStart(7)}  ${"Chromium".padStart(8)}  ${"ratio".padStart(5)}   (MB/s; native CPU, then wall)`);
  // Each row: the module's measure, and the native one beside it.
  const rows = [["raw", "raw", "decode"], ["decompress", "decompress", "decode"], ["before", "before", "decode"],
                ["into", "into", "decode"], ["stream", "stream", "decode"], ["new output", "decompress", "alloc"],
                ["pack-fast", "pack-fast", "pack-fast"]];
  for (const name of Object.keys(images)) {
    for (const [label, what, nativeWhat] of rows) {
      const node = best[`node ${name} ${what}`];
      if (node === undefined) continue;
      const nativeKey = `${name} ${nativeWhat}`;
      const [cpu, wall, page] = [best[`cpu ${nativeKey}`], best[`wall ${nativeKey}`], best[`chromium ${name} ${what}`]];
      console.log(`${name.padEnd(20)}  ${label.padEnd(10)}  ${cpu.toFixed(0).padStart(7)}  ${node.toFixed(0).padStart(7)}  ` +
                  `${(node / cpu).toFixed(2).padStart(5)}  ${wall.toFixed(0).padStart(7)}  ${page.toFixed(0).padStart(8)}  ` +
                  `${(page / wall).toFixed(2).padStart(5)}`);
    }
  }
} finally {
  await browser.close();
  rmSync(scratch, { recursive: true, force: true });
}
