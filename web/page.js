// lzs.html: takes files from the chooser or from a drop (folders walked,
// relative paths kept), hands them to the worker in the mode chosen, and
// shows one row per file with its download or its error.
"use strict";

// The largest image that lzs-unpack.exe takes (8 MiB).
const UnpackImageMax = 8 << 20;
const Suffix = ".lzs";

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
// id and its counts.
let batch = null;
// Every finished row with an output, for "Download all".
let outputs = [];
let nextId = 1;

function StartWorker() {
  const source = $("worker-source").textContent;
  const url = URL.createObjectURL(new Blob([source], { type: "text/javascript" }));
  worker = new Worker(url);
  URL.revokeObjectURL(url);
  worker.onmessage = OnWorkerMessage;
}

function Mode() { return document.querySelector('input[name="mode"]:checked').value; }

// NAME.lzs (any case) unpacks to NAME, any other name to NAME.DeLZS;
// packing appends .lzs. A name that is only ".lzs" keeps it.
function HasSuffix(path) {
  if (path.length <= Suffix.length) return false;
  const start = path.length - Suffix.length;
  return path[start - 1] !== "/" && path.slice(start).toLowerCase() === Suffix;
}

function OutputPath(path, mode) {
  if (mode !== "unpack") return path + Suffix;
  return HasSuffix(path) ? path.slice(0, -Suffix.length) : path + ".DeLZS";
}

function BaseName(path) { return path.slice(path.lastIndexOf("/") + 1); }

function Count(n) { return n.toLocaleString("en-US"); }

function Cell(row, text, className) {
  const cell = row.insertCell();
  cell.textContent = text;
  if (className) cell.className = className;
  return cell;
}

// Adds the rows of newly chosen files and hands them to the worker; files
// chosen while others are at work join the same batch.
function Start(items) {
  if (items.length === 0) return;
  if (!modeChosen) {
    const allImages = items.every((item) => HasSuffix(item.path));
    document.querySelector(`input[name="mode"][value="${allImages ? "unpack" : "pack"}"]`).checked = true;
  }
  const mode = Mode();
  if (batch === null) batch = { jobs: new Map(), total: 0, done: 0, bytes: 0, started: performance.now() };
  batch.total += items.length;
  const taken = new Set(outputs.map((o) => o.path));
  for (const job of batch.jobs.values()) taken.add(job.output);
  const jobs = [];
  for (const { file, path } of items) {
    const id = nextId++;
    const row = rows.insertRow(-1);
    row.dataset.name = path;
    Cell(row, path, "name");
    const output = OutputPath(path, mode);
    const job = { id, file, path, output, mode, row, ended: false };
    batch.jobs.set(id, job);
    // Two inputs with one output name would overwrite each other in the
    // zip: the later one is refused.
    if (taken.has(output)) {
      Finish(job, { error: `its output ${output} is the output of another file`, refused: true });
      continue;
    }
    taken.add(output);
    Cell(row, "", "size");
    Cell(row, "", "size");
    Cell(row, "", "size");
    Cell(row, "waiting", "result");
    jobs.push({ id, file });
  }
  ShowProgress();
  if (jobs.length === 0) return;
  document.body.dataset.state = "busy";
  cancel.disabled = false;
  if (worker === null) StartWorker();
  worker.postMessage({ type: "run", mode, jobs });
}

function Finish(job, result) {
  const { row } = job;
  job.ended = true;
  while (row.cells.length > 1) row.deleteCell(1);
  const unpacking = job.mode === "unpack";
  const inSize = job.file.size;
  const outSize = result.output ? result.output.size : null;
  const packed = unpacking ? inSize : outSize;
  const unpacked = unpacking ? outSize : inSize;
  Cell(row, packed === null ? "" : Count(packed), "size");
  Cell(row, unpacked === null ? "" : Count(unpacked), "size");
  Cell(row, packed !== null && unpacked ? `${((100 * packed) / unpacked).toFixed(2)} %` : "", "size");
  const cell = Cell(row, "", "result");
  if (result.output) {
    const link = document.createElement("a");
    link.href = URL.createObjectURL(result.output);
    link.download = BaseName(job.output);
    link.textContent = `Download ${job.output}`;
    cell.append(link);
    outputs.push({ path: job.output, blob: result.output, mtime: job.file.lastModified, mode: job.mode });
    row.className = "ok";
    if (packed > UnpackImageMax) {
      const warning = document.createElement("span");
      warning.className = "warning";
      warning.textContent = "warning: the image is larger than 8 MiB; lzs-unpack.exe refuses it";
      cell.append(" ", warning);
    }
  } else {
    cell.textContent = `error: ${result.error}`;
    row.className = "error";
  }
  batch.done += 1;
  if (!result.refused) batch.bytes += inSize;
  ShowProgress();
  if (batch.done === batch.total) EndBatch();
}

function ShowProgress() {
  progress.max = Math.max(batch.total, 1);
  progress.value = batch.done;
  const seconds = (performance.now() - batch.started) / 1000;
  const rate = seconds > 0 ? batch.bytes / 1e6 / seconds : 0;
  status.textContent = `${batch.done} of ${batch.total} files, ${rate.toFixed(1)} MB/s`;
  downloadAll.disabled = outputs.length === 0;
}

// The batch is over when every file has ended (done, failed or
// cancelled); the next file chosen starts a new one.
function EndBatch() {
  cancel.disabled = true;
  status.textContent += batch.done === batch.total ? ", done" : "";
  document.body.dataset.state = "idle";
  batch = null;
}

function OnWorkerMessage(event) {
  const message = event.data;
  if (message.type === "file") {
    const job = batch === null ? undefined : batch.jobs.get(message.id);
    if (job) Finish(job, message);
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

// Cancel: the worker is stopped where it is (a new one takes the next
// batch); files not done yet are marked as cancelled.
function Cancel() {
  if (batch === null) return;
  if (worker !== null) worker.terminate();
  worker = null;
  for (const job of batch.jobs.values()) {
    if (job.ended) continue;
    while (job.row.cells.length > 1) job.row.deleteCell(1);
    Cell(job.row, "", "size");
    Cell(job.row, "", "size");
    Cell(job.row, "", "size");
    Cell(job.row, "cancelled", "result");
    job.row.className = "cancelled";
  }
  downloadAll.textContent = "Download all";
  downloadAll.disabled = outputs.length === 0;
  status.textContent = `${batch.done} of ${batch.total} files, cancelled`;
  cancel.disabled = true;
  document.body.dataset.state = "idle";
  batch = null;
}

function DownloadAll() {
  if (outputs.length === 0) return;
  if (worker === null) StartWorker();
  $("zip-error").textContent = "";
  downloadAll.disabled = true;
  downloadAll.textContent = "Making the zip…";
  const deflate = outputs.every((o) => o.mode === "unpack");
  worker.postMessage({ type: "zip", deflate, entries: outputs.map(({ path, blob, mtime }) => ({ path, blob, mtime })) });
}

// A dropped folder is walked through the entries API; relative paths start
// at the dropped item ("folder/sub/file").
function ReadEntries(reader) {
  return new Promise((resolve, reject) => reader.readEntries(resolve, reject));
}

async function Walk(entry, items) {
  if (entry.isFile) {
    const file = await new Promise((resolve, reject) => entry.file(resolve, reject));
    items.push({ file, path: entry.fullPath.replace(/^\/+/, "") });
  } else if (entry.isDirectory) {
    const reader = entry.createReader();
    const children = [];
    for (let some = await ReadEntries(reader); some.length > 0; some = await ReadEntries(reader)) children.push(...some);
    children.sort((a, b) => (a.name < b.name ? -1 : a.name > b.name ? 1 : 0));
    for (const child of children) await Walk(child, items);
  }
}

async function OnDrop(event) {
  event.preventDefault();
  dropZone.classList.remove("over");
  // Both lists are taken now: the drop's data are gone after the first wait.
  const entries = [...event.dataTransfer.items].map((item) => item.webkitGetAsEntry && item.webkitGetAsEntry());
  const files = [...event.dataTransfer.files].map((file) => ({ file, path: file.name }));
  let items = [];
  if (entries.length > 0 && entries.every((entry) => entry)) {
    try {
      for (const entry of entries) await Walk(entry, items);
    } catch (e) {
      // Entries that cannot be read (some browsers' drops from other
      // programs) leave the plain list of the files dropped.
      items = [];
    }
  }
  if (items.length === 0) items = files;
  Start(items);
}

function FromChooser(input) {
  const items = [...input.files].map((file) => ({ file, path: file.webkitRelativePath || file.name }));
  // A folder's files come in no set order: by path, as a dropped folder's.
  if (input.webkitdirectory) items.sort((a, b) => (a.path < b.path ? -1 : a.path > b.path ? 1 : 0));
  input.value = "";
  Start(items);
}

filesInput.addEventListener("change", () => FromChooser(filesInput));
folderInput.addEventListener("change", () => FromChooser(folderInput));
for (const radio of document.querySelectorAll('input[name="mode"]')) {
  // A click counts as a choice also on the mode already shown.
  radio.addEventListener("click", () => { modeChosen = true; });
}
dropZone.addEventListener("dragover", (event) => {
  event.preventDefault();
  dropZone.classList.add("over");
});
dropZone.addEventListener("dragleave", () => dropZone.classList.remove("over"));
dropZone.addEventListener("drop", OnDrop);
// A drop beside the zone does not open the file in the tab.
window.addEventListener("dragover", (event) => event.preventDefault());
window.addEventListener("drop", (event) => event.preventDefault());
cancel.addEventListener("click", Cancel);
downloadAll.addEventListener("click", DownloadAll);
$("clear").addEventListener("click", () => {
  Cancel();
  for (const link of rows.querySelectorAll("a[href]")) URL.revokeObjectURL(link.href);
  rows.replaceChildren();
  outputs = [];
  downloadAll.disabled = true;
  status.textContent = "";
});
