// lzs.html: takes files from the chooser or from a drop (folders walked,
// relative paths kept), hands them to the worker in the mode chosen, and
// shows one row per file with its download or its error.
"use strict";

// The largest image that lzs-unpack.exe takes (8 MiB).
const UNPACK_IMAGE_MAX = 8 << 20;
const SUFFIX = ".lzs";

const $ = (id) => document.getElementById(id);
const filesInput = $("files");
const folderInput = $("folder");
const dropZone = $("drop");
const progress = $("progress");
const status = $("status");
const cancel = $("cancel");
const downloadAll = $("download-all");
const rows = $("rows");
let modeChosen = false;

let worker = null;
// The current batch (the files since the page was last idle): its jobs by
// id and its counts: files ended (done, failed or skipped), failed and
// skipped.
let batch = null;
// Every finished row with an output, for "Download all".
let outputs = [];
let nextId = 1;

function startWorker() {
  const source = $("worker-source").textContent;
  const url = URL.createObjectURL(new Blob([source], { type: "text/javascript" }));
  worker = new Worker(url);
  URL.revokeObjectURL(url);
  worker.onmessage = onWorkerMessage;
}

function chosenMode() { return document.querySelector('input[name="mode"]:checked').value; }

// The output's name, as lzs gives it, for `mode` ("unpack", or a packing
// mode): packing appends .lzs, and gives null for a name that already ends
// in it (it is not packed again); unpacking takes .lzs off, and gives any
// other name .DeLZS. A name ends in .lzs (any case) only with something
// before the suffix that is not a folder separator (a slash or a
// backslash).
function hasSuffix(path) {
  if (path.length <= SUFFIX.length) return false;
  const start = path.length - SUFFIX.length;
  return !"/\\".includes(path[start - 1]) && path.slice(start).toLowerCase() === SUFFIX;
}

function outputName(path, mode) {
  if (mode !== "unpack") return hasSuffix(path) ? null : path + SUFFIX;
  return hasSuffix(path) ? path.slice(0, -SUFFIX.length) : path + ".DeLZS";
}

function baseName(path) { return path.slice(path.lastIndexOf("/") + 1); }

// An output path safe as a zip entry and as a download's name: an empty
// component or "." becomes "_", ".." becomes "__", and a backslash "_".
const UNSAFE = new Map([["", "_"], [".", "_"], ["..", "__"]]);
function safePath(path) {
  return path.split("/").map((part) => UNSAFE.get(part) ?? part.replaceAll("\\", "_")).join("/");
}

function count(n) { return n.toLocaleString("en-US"); }

// A row's cells after the name, each labelled for the narrow layout, where
// the table's head is not shown.
const LABELS = ["Packed bytes", "Unpacked bytes", "Ratio", "Result"];

function addCell(row, text, className) {
  const cell = row.insertCell();
  cell.textContent = text;
  if (className) cell.className = className;
  if (row.cells.length > 1) cell.dataset.label = LABELS[row.cells.length - 2];
  return cell;
}

// A note in a row's result cell.
function addNote(cell, className, text) {
  const note = document.createElement("span");
  note.className = className;
  note.textContent = text;
  cell.append(" ", note);
}

// A new batch: its jobs by id, and its counts.
function newBatch() {
  return { jobs: new Map(), total: 0, done: 0, failed: 0, skipped: 0, bytes: 0, started: performance.now() };
}

// Adds the rows of newly chosen files and hands them to the worker; files
// chosen while others are at work join the same batch. In Inspect, the
// first file is inspected instead.
function addFiles(items) {
  if (items.length === 0) return;
  if (chosenMode() === "inspect") {
    inspectFile(items[0]);
    return;
  }
  if (!modeChosen) {
    const allImages = items.every((item) => hasSuffix(item.path));
    document.querySelector(`input[name="mode"][value="${allImages ? "unpack" : "pack"}"]`).checked = true;
  }
  const mode = chosenMode();
  batch ??= newBatch();
  batch.total += items.length;
  // Each output in the list, by the input that gives it.
  const taken = new Map(outputs.map((o) => [o.path, o.input]));
  for (const job of batch.jobs.values()) if (job.output !== null) taken.set(job.output, job.path);
  const jobs = [];
  for (const { file, path } of items) {
    const id = nextId++;
    const row = rows.insertRow(-1);
    row.dataset.name = path;
    addCell(row, path, "name");
    const named = outputName(path, mode);
    const output = named === null ? null : safePath(named);
    const job = { id, file, path, output, renamed: output !== named ? named : null, mode, row, ended: false };
    batch.jobs.set(id, job);
    // As lzs does, an image or an empty file is not packed; and two inputs
    // with one output would overwrite each other in the zip: the later one
    // is left.
    const other = taken.get(output);
    if (named === null) {
      finish(job, { skipped: `already has the ${SUFFIX} suffix; not packed again (choose Unpack to unpack it)` });
    } else if (mode !== "unpack" && file.size === 0) {
      finish(job, { skipped: "empty; no LZS image holds zero bytes" });
    } else if (other === path) {
      finish(job, { skipped: `${path} is already in the list; Clear the list to add it again` });
    } else if (other !== undefined) {
      finish(job, { skipped: `its output ${output} is already that of ${other}; rename one of them, or Clear the list` });
    } else {
      taken.set(output, path);
      for (const label of LABELS) addCell(row, label === "Result" ? "waiting" : "", label === "Result" ? "result" : "size");
      jobs.push({ id, file });
    }
  }
  settle();
  if (jobs.length === 0) return;
  document.body.dataset.state = "busy";
  cancel.disabled = false;
  if (worker === null) startWorker();
  worker.postMessage({ type: "run", mode, jobs });
}

// Fills a row with the file's result: its output, its error, or why it was
// skipped.
function finish(job, result) {
  const { row } = job;
  job.ended = true;
  batch.done += 1;
  while (row.cells.length > 1) row.deleteCell(1);
  const unpacking = job.mode === "unpack" || job.mode === "salvage";
  const inSize = result.skipped ? null : job.file.size;
  const outSize = result.output ? result.output.size : null;
  const packed = unpacking ? inSize : outSize;
  const unpacked = unpacking ? outSize : inSize;
  addCell(row, packed === null ? "" : count(packed), "size");
  addCell(row, unpacked === null ? "" : count(unpacked), "size");
  addCell(row, packed !== null && unpacked ? `${((100 * packed) / unpacked).toFixed(2)} %` : "", "size");
  const cell = addCell(row, "", "result");
  if (result.skipped) {
    cell.textContent = `skipped: ${result.skipped}`;
    row.className = "skipped";
    batch.skipped += 1;
    return;
  }
  batch.bytes += inSize;
  if (!result.output) {
    cell.textContent = `error: ${result.error}`;
    row.className = "error";
    batch.failed += 1;
    if (result.damaged) addSalvage(job, cell);
    return;
  }
  const link = document.createElement("a");
  link.href = URL.createObjectURL(result.output);
  link.download = baseName(job.output);
  link.textContent = `Download ${job.output}`;
  cell.append(link);
  outputs.push({ path: job.output, input: job.path, blob: result.output, mtime: job.file.lastModified,
                 mode: unpacking ? "unpack" : job.mode });
  row.className = "ok";
  if (result.warning) addNote(cell, "warning", `warning: ${result.warning}; the rest is lost`);
  if (job.renamed) addNote(cell, "warning", `(renamed from ${job.renamed}, which is not a safe name for a file)`);
  if (packed > UNPACK_IMAGE_MAX) {
    addNote(cell, "warning", `warning: the image, ${count(packed)} bytes, is larger than 8 MiB: lzs-unpack.exe refuses it (lzs -d takes it)`);
  }
  if (!unpacking && packed > unpacked) {
    addNote(cell, "warning", `warning: the image, ${count(packed)} bytes, is larger than its input, ${count(unpacked)} bytes`);
  }
}

// A large file's progress in its row, in bytes, with its rate and share,
// and in the bar as a part of a file.
function showFileProgress(job, { verb, done, total, seconds }) {
  const rate = seconds > 0 ? done / 1e6 / seconds : 0;
  const share = Math.floor((100 * done) / total);
  job.row.cells[LABELS.indexOf("Result") + 1].textContent =
    `${verb}: ${count(done)} of ${count(total)} bytes (${share} %), ${rate.toFixed(1)} MB/s`;
  progress.value = batch.done + done / total;
}

// A damaged image's row offers to save what the image still holds: its
// whole items before a cut, or the image without the bytes after it.
function addSalvage(job, cell) {
  const button = document.createElement("button");
  button.type = "button";
  button.className = "salvage";
  button.textContent = "Save what is there";
  button.addEventListener("click", () => {
    batch ??= newBatch();
    batch.total += 1;
    const again = { ...job, mode: "salvage", ended: false };
    batch.jobs.set(job.id, again);
    while (job.row.cells.length > 1) job.row.deleteCell(1);
    for (const label of LABELS) addCell(job.row, label === "Result" ? "waiting" : "", label === "Result" ? "result" : "size");
    job.row.className = "";
    settle();
    document.body.dataset.state = "busy";
    cancel.disabled = false;
    if (worker === null) startWorker();
    worker.postMessage({ type: "run", mode: "salvage", jobs: [{ id: job.id, file: job.file }] });
  });
  cell.append(" ", button);
}

// Inspect: one image as a picture (its items along the payload, the copy
// lengths and the distances as bar charts) and the library's words for it.
const SVG = "http://www.w3.org/2000/svg";
const inspection = $("inspection");

function svgElement(parent, name, attributes, text) {
  const element = document.createElementNS(SVG, name);
  for (const [key, value] of Object.entries(attributes)) element.setAttribute(key, value);
  if (text !== undefined) element.textContent = text;
  parent.append(element);
  return element;
}

// A rectangle with its count told on hover.
function countedRect(parent, attributes, tip) {
  svgElement(svgElement(parent, "rect", attributes), "title", {}, tip);
}

// Whether an inspection is under way: the page is busy until it comes, or
// until Cancel.
let inspecting = false;

function inspectFile(item) {
  if (worker === null) startWorker();
  inspecting = true;
  cancel.disabled = false;
  inspection.hidden = false;
  $("inspect-name").textContent = item.path;
  $("inspect-error").textContent = "";
  $("inspect-text").textContent = "inspecting…";
  for (const id of ["inspect-strip", "inspect-lengths", "inspect-distances"]) $(id).replaceChildren();
  document.body.dataset.state = "busy";
  worker.postMessage({ type: "inspect", file: item.file, path: item.path });
}

// The strip: a column for each of the payload's 64 pieces, as tall as its
// items are many, literals below and back-references above; beneath it, the
// zero references of each piece, the darker the more.
function drawStrip(found) {
  const svg = $("inspect-strip");
  const pieces = found.strip_literals.length;
  const width = 640 / pieces;
  const items = found.strip_literals.map((literals, k) => literals + found.strip_references[k]);
  const most = Math.max(1, ...items);
  const zeros = Math.max(1, ...found.strip_zero_references);
  const stride = Math.ceil(Math.max(found.image_size - 4, 0) / pieces);
  for (let k = 0; k < pieces; ++k) {
    const x = k * width;
    const piece = `payload bytes from ${count(k * stride)}`;
    const literalHeight = (70 * found.strip_literals[k]) / most;
    const referenceHeight = (70 * found.strip_references[k]) / most;
    countedRect(svg, { class: "literal", x, y: 72 - literalHeight, width: width - 1, height: literalHeight,
                       "data-count": found.strip_literals[k] }, `${piece}: ${count(found.strip_literals[k])} literals`);
    countedRect(svg, { class: "reference", x, y: 72 - literalHeight - referenceHeight, width: width - 1, height: referenceHeight,
                       "data-count": found.strip_references[k] }, `${piece}: ${count(found.strip_references[k])} back-references`);
    const zero = found.strip_zero_references[k];
    countedRect(svg, { class: "zero", x, y: 76, width: width - 1, height: 12, "fill-opacity": zero === 0 ? 0.05 : 0.3 + (0.7 * zero) / zeros,
                       "data-count": zero }, `${piece}: ${count(zero)} zero references`);
  }
  svgElement(svg, "text", { x: 0, y: 100 }, "payload byte 0");
  svgElement(svg, "text", { x: 640, y: 100, "text-anchor": "end" }, count(found.stopped_at));
}

// A histogram's buckets in the library's words: the line of `text` that
// starts with `title` ("copy lengths: 3:1,562 4:959 ..."), as [label,
// count] pairs.
function bucketWords(text, title) {
  const line = text.split("\n").map((l) => l.trim()).find((l) => l.startsWith(`${title}: `)) ?? "";
  return line.slice(title.length + 2).split(" ").filter(Boolean).map((pair) => {
    const colon = pair.lastIndexOf(":");
    return [pair.slice(0, colon), pair.slice(colon + 1)];
  });
}

// A bar chart of `counts`, each bar under its count and above its label
// as `words` (bucketWords) write them.
function drawBars(svg, title, words, counts) {
  // Room at both ends for the widest label, 2,048-4,095, under a bar.
  const margin = 16;
  const width = (640 - 2 * margin) / counts.length;
  const most = Math.max(1, ...counts);
  svgElement(svg, "text", { x: 0, y: 12 }, `back-references by ${title}`);
  svgElement(svg, "line", { class: "axis", x1: 0, x2: 640, y1: 120.5, y2: 120.5 });
  counts.forEach((n, k) => {
    const [label, written] = words[k] ?? ["", count(n)];
    const height = (90 * n) / most;
    const x = margin + k * width;
    countedRect(svg, { class: "bar", x: x + 2, y: 120 - height, width: width - 4, height, "data-count": n }, `${label}: ${written}`);
    svgElement(svg, "text", { x: x + width / 2, y: 116 - height, "text-anchor": "middle", class: "count" }, written);
    svgElement(svg, "text", { x: x + width / 2, y: 134 + (k % 2) * 12, "text-anchor": "middle", class: "label" }, label);
  });
}

// The page is idle once nothing is under way.
function settleInspection() {
  inspecting = false;
  if (batch === null) {
    document.body.dataset.state = "idle";
    cancel.disabled = true;
  }
}

function showInspection(message) {
  settleInspection();
  if (message.error) {
    $("inspect-error").textContent = `error: ${message.error}`;
    $("inspect-text").textContent = "";
    return;
  }
  const found = message.inspection;
  $("inspect-text").textContent = message.text;
  drawStrip(found);
  drawBars($("inspect-lengths"), "copy length", bucketWords(message.text, "copy lengths"), found.length_histogram);
  drawBars($("inspect-distances"), "distance", bucketWords(message.text, "distances"), found.distance_histogram);
}

// Shows the batch's progress, and ends it when every file has ended (done,
// failed or skipped).
function settle() {
  showProgress();
  if (batch.done === batch.total) endBatch();
}

function showProgress() {
  progress.max = Math.max(batch.total, 1);
  progress.value = batch.done;
  const seconds = (performance.now() - batch.started) / 1000;
  const rate = seconds > 0 ? batch.bytes / 1e6 / seconds : 0;
  showSummary(`${rate.toFixed(1)} MB/s`);
  downloadAll.disabled = outputs.length === 0;
}

// The batch's line in the status: files ended of the total, then `words`,
// how many failed and were skipped, and `ending`. A batch is "done" only
// when no file failed.
function showSummary(words, ending = "") {
  const parts = [`${count(batch.done)} of ${count(batch.total)} files`, words];
  if (batch.failed > 0) parts.push(`${count(batch.failed)} failed`);
  if (batch.skipped > 0) parts.push(`${count(batch.skipped)} skipped`);
  parts.push(ending);
  status.textContent = parts.filter(Boolean).join(", ");
  status.classList.toggle("failed", batch.failed > 0);
}

// The next file chosen starts a new batch.
function endBatch() {
  if (batch.failed === 0) status.textContent += ", done";
  batch = null;
  if (!inspecting) {
    cancel.disabled = true;
    document.body.dataset.state = "idle";
  }
}

function onWorkerMessage(event) {
  const message = event.data;
  if (message.type === "file") {
    const job = batch === null ? undefined : batch.jobs.get(message.id);
    if (job) {
      finish(job, message);
      settle();
    }
  } else if (message.type === "progress") {
    const job = batch === null ? undefined : batch.jobs.get(message.id);
    if (job && !job.ended) showFileProgress(job, message);
  } else if (message.type === "inspection") {
    showInspection(message);
  } else if (message.type === "zip") {
    downloadAll.disabled = false;
    downloadAll.textContent = "Download all";
    if (message.error) {
      $("zip-error").textContent = `The zip could not be made: ${message.error}`;
      return;
    }
    const link = document.createElement("a");
    link.href = URL.createObjectURL(message.blob);
    link.download = "lzs-files.zip";
    document.body.append(link);
    link.click();
    link.remove();
  }
}

// cancelBatch: the worker is stopped where it is (a new one takes the next
// batch); files not done yet are marked as cancelled.
function cancelBatch() {
  if (batch === null && !inspecting) return;
  if (worker !== null) worker.terminate();
  worker = null;
  if (inspecting) {
    $("inspect-text").textContent = "cancelled";
    settleInspection();
  }
  if (batch === null) return;
  for (const job of batch.jobs.values()) {
    if (job.ended) continue;
    while (job.row.cells.length > 1) job.row.deleteCell(1);
    for (const label of LABELS) addCell(job.row, label === "Result" ? "cancelled" : "", label === "Result" ? "result" : "size");
    job.row.className = "cancelled";
  }
  downloadAll.textContent = "Download all";
  downloadAll.disabled = outputs.length === 0;
  showSummary("", "cancelled");
  cancel.disabled = true;
  document.body.dataset.state = "idle";
  batch = null;
}

function downloadAllOutputs() {
  if (outputs.length === 0) return;
  if (worker === null) startWorker();
  $("zip-error").textContent = "";
  downloadAll.disabled = true;
  downloadAll.textContent = "Making the zip…";
  worker.postMessage({ type: "zip", entries: outputs.map(({ path, blob, mtime, mode }) => ({ path, blob, mtime, mode })) });
}

// A dropped folder is walked through the entries API; relative paths start
// at the dropped item ("folder/sub/file").
function readEntries(reader) {
  return new Promise((resolve, reject) => reader.readEntries(resolve, reject));
}

async function walk(entry, items) {
  if (entry.isFile) {
    const file = await new Promise((resolve, reject) => entry.file(resolve, reject));
    items.push({ file, path: entry.fullPath.replace(/^\/+/, "") });
  } else if (entry.isDirectory) {
    const reader = entry.createReader();
    const children = [];
    for (let some = await readEntries(reader); some.length > 0; some = await readEntries(reader)) children.push(...some);
    children.sort((a, b) => (a.name < b.name ? -1 : a.name > b.name ? 1 : 0));
    for (const child of children) await walk(child, items);
  }
}

async function onDrop(event) {
  event.preventDefault();
  dropZone.classList.remove("over");
  // Both lists are taken now: the drop's data are gone after the first wait.
  const entries = [...event.dataTransfer.items].map((item) => item.webkitGetAsEntry && item.webkitGetAsEntry());
  const files = [...event.dataTransfer.files].map((file) => ({ file, path: file.name }));
  let items = [];
  if (entries.length > 0 && entries.every((entry) => entry)) {
    try {
      for (const entry of entries) await walk(entry, items);
    } catch (e) {
      // Entries that cannot be read (some browsers' drops from other
      // programs) leave the plain list of the files dropped.
      items = [];
    }
  }
  if (items.length === 0) items = files;
  addFiles(items);
}

function fromChooser(input) {
  const items = [...input.files].map((file) => ({ file, path: file.webkitRelativePath || file.name }));
  // A folder's files come in no set order: by path, as a dropped folder's.
  if (input.webkitdirectory) items.sort((a, b) => (a.path < b.path ? -1 : a.path > b.path ? 1 : 0));
  input.value = "";
  addFiles(items);
}

filesInput.addEventListener("change", () => fromChooser(filesInput));
folderInput.addEventListener("change", () => fromChooser(folderInput));
for (const radio of document.querySelectorAll('input[name="mode"]')) {
  // A click counts as a choice also on the mode already shown.
  radio.addEventListener("click", () => { modeChosen = true; });
}
// A drop anywhere on the page is taken (and does not open the file in the
// tab); the box lights up while files are dragged over the page.
window.addEventListener("dragover", (event) => {
  event.preventDefault();
  dropZone.classList.add("over");
});
window.addEventListener("dragleave", (event) => {
  if (event.relatedTarget === null) dropZone.classList.remove("over");
});
window.addEventListener("drop", onDrop);
cancel.addEventListener("click", cancelBatch);
downloadAll.addEventListener("click", downloadAllOutputs);
$("clear").addEventListener("click", () => {
  cancelBatch();
  for (const link of rows.querySelectorAll("a[href]")) URL.revokeObjectURL(link.href);
  rows.replaceChildren();
  outputs = [];
  downloadAll.disabled = true;
  status.textContent = "";
  status.classList.remove("failed");
  progress.value = 0;
});
