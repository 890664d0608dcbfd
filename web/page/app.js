// The page: opens a picture, shows it at 100 %, converts it to PLIX in a
// worker as the settings change and shows the result beside the original.
const $ = (id) => document.getElementById(id);
const picture = $("picture");
const encoded = $("encoded");
const stage = $("stage");
const viewer = $("viewer");
const divider = $("divider");
const qfactor = $("qfactor");
const matrix = $("matrix");
const mode = $("mode");

const LARGE_PIXELS = 4_000_000; // from here on, work shows its progress
const ZOOMS = [0.125, 0.25, 0.5, 1, 2, 4, 8];
const MATRIX_NAMES = ["PLIX", "JPEG", "CG"];

let current = null; // { name, width, height, plix: info or null, fileSize }
let result = null; // { bytes, settings }
let zoom = 1;
let split = 0.5;
let jobs = 0;
let encodeTimer = 0;
let encodeRunning = false;
let encodeWanted = false;

// ---- State and messages ----

function setState(state) {
  document.body.dataset.state = state;
}

function settle() {
  if (jobs === 0 && !encodeRunning && !encodeWanted && !encodeTimer) setState(current ? "ready" : "idle");
}

function showError(message) {
  const e = $("error");
  e.textContent = message;
  e.hidden = false;
  setState("error");
}

function clearError() {
  $("error").hidden = true;
  $("error").textContent = "";
}

function showProgress(percent, text) {
  const large = current && current.width * current.height >= LARGE_PIXELS;
  $("busy").hidden = !large || percent === null;
  if (percent !== null) {
    $("progress").value = percent;
    $("progress-text").textContent = text;
  }
}

// ---- The worker ----

let worker = null;
const waiting = new Map();
let nextId = 1;

function startWorker() {
  worker = new Worker(new URL("./worker.js", import.meta.url), { type: "module" });
  worker.onmessage = ({ data }) => {
    const job = waiting.get(data.id);
    if (!job) return;
    if (data.type === "progress") {
      job.progress(data.percent, data.text);
      return;
    }
    waiting.delete(data.id);
    if (data.type === "done") job.resolve(data);
    else job.reject(new Error(data.message));
  };
  worker.onerror = (e) => {
    e.preventDefault();
    for (const job of waiting.values()) job.reject(new Error("the codec could not start" + (e.message ? `: ${e.message}` : "")));
    waiting.clear();
  };
}

function ask(message, transfer = [], progress = () => {}) {
  const id = nextId++;
  return new Promise((resolve, reject) => {
    waiting.set(id, { resolve, reject, progress });
    worker.postMessage({ ...message, id }, transfer);
  });
}

// ---- Showing pictures ----

function draw(canvas, { width, height, data }) {
  canvas.width = width;
  canvas.height = height;
  canvas.getContext("2d").putImageData(new ImageData(data, width, height), 0, 0);
}

function fitScale() {
  if (!current) return 1;
  const w = viewer.clientWidth;
  const h = viewer.clientHeight;
  return Math.min(w / current.width, h / current.height);
}

function applyZoom() {
  if (!current) return;
  const scale = zoom === "fit" ? fitScale() : zoom;
  stage.style.width = `${current.width * scale}px`;
  stage.style.height = `${current.height * scale}px`;
  stage.classList.toggle("pixelated", scale > 1);
  $("zoom-level").textContent = zoom === "fit" ? `fit (${Math.round(scale * 100)} %)` : `${Math.round(scale * 100)} %`;
}

function setZoom(z) {
  zoom = z;
  applyZoom();
}

function stepZoom(direction) {
  const scale = zoom === "fit" ? fitScale() : zoom;
  const next = direction > 0 ? ZOOMS.find((z) => z > scale + 1e-9) : [...ZOOMS].reverse().find((z) => z < scale - 1e-9);
  if (next) setZoom(next);
}

function setSplit(f) {
  split = Math.min(1, Math.max(0, f));
  divider.style.left = `${split * 100}%`;
  encoded.style.clipPath = `inset(0 0 0 ${split * 100}%)`;
  divider.setAttribute("aria-valuenow", String(Math.round(split * 100)));
}

function formatBytes(n) {
  if (n < 1024) return `${n} bytes`;
  if (n < 1024 * 1024) return `${(n / 1024).toFixed(1)} KiB`;
  return `${(n / 1024 / 1024).toFixed(2)} MiB`;
}

function bpp(bytes, width, height) {
  return width && height ? ((bytes * 8) / (width * height)).toFixed(2) : "0";
}

function showInfo() {
  const info = $("info");
  info.textContent = "";
  const parts = [current.name, `${current.width} × ${current.height}`];
  const p = current.plix;
  if (p) {
    parts.push(p.mode ? "RGB" : "YUV", `matrix ${MATRIX_NAMES[p.matrix]}`, `q-factor ${p.qfactor}`, `${bpp(current.fileSize, current.width, current.height)} bpp`);
  }
  info.append(parts.join(" · "));
  if (p && p.truncated) {
    const w = document.createElement("span");
    w.className = "warning";
    w.textContent = `data ends after ${p.blocksPresent} of ${p.blocks} blocks`;
    info.append(" · ", w);
  }
}

function baseName(name) {
  return name.replace(/\.[^./\\]*$/, "") || "picture";
}

// ---- Opening ----

async function decodeInBrowser(file) {
  let bitmap;
  try {
    bitmap = await createImageBitmap(file, { colorSpaceConversion: "none", premultiplyAlpha: "none" });
  } catch {
    throw new Error(`${file.name} is neither a PLIX file nor a picture this browser can read`);
  }
  const canvas = document.createElement("canvas");
  canvas.width = bitmap.width;
  canvas.height = bitmap.height;
  const context = canvas.getContext("2d", { willReadFrequently: true });
  context.drawImage(bitmap, 0, 0);
  bitmap.close();
  const { data } = context.getImageData(0, 0, canvas.width, canvas.height);
  return { width: canvas.width, height: canvas.height, data };
}

async function openFile(file) {
  if (!file) return;
  clearError();
  setState("busy");
  jobs++;
  try {
    const bytes = new Uint8Array(await file.arrayBuffer());
    const size = bytes.length;
    const opened = await ask({ type: "open", bytes }, [bytes.buffer]);
    let pixels;
    let plix = null;
    if (opened.plix) {
      pixels = opened.picture;
      plix = { ...opened.info, blocksPresent: pixels.blocksPresent, truncated: pixels.truncated };
    } else {
      pixels = await decodeInBrowser(file);
      const copy = pixels.data.slice();
      await ask({ type: "source", width: pixels.width, height: pixels.height, data: copy }, [copy.buffer]);
    }
    current = { name: file.name, width: pixels.width, height: pixels.height, plix, fileSize: size };
    result = null;
    $("save-plix").disabled = true;
    $("save-png").disabled = false;
    draw(picture, pixels);
    encoded.hidden = true;
    divider.hidden = true;
    stage.hidden = false;
    $("drop-hint").hidden = true;
    setZoom(1);
    viewer.scrollTo(0, 0);
    showInfo();
    $("result").textContent = "";
    scheduleEncode(0);
  } catch (e) {
    showError(`Could not open ${file.name}: ${e.message}`);
  } finally {
    jobs--;
    if (document.body.dataset.state !== "error") settle();
  }
}

// ---- Converting ----

function settings() {
  return { qfactor: Number(qfactor.value), matrix: matrix.value, mode: mode.value };
}

function scheduleEncode(delay = 250) {
  if (!current) return;
  clearTimeout(encodeTimer);
  setState("busy");
  encodeTimer = setTimeout(() => {
    encodeTimer = 0;
    encodeWanted = true;
    runEncode();
  }, delay);
}

// One encode at a time; settings changed meanwhile start one more after it.
async function runEncode() {
  if (encodeRunning || !encodeWanted) return;
  encodeRunning = true;
  encodeWanted = false;
  const chosen = settings();
  const opened = current;
  try {
    const done = await ask({ type: "encode", settings: chosen }, [], (percent, text) => showProgress(percent, `${text}…`));
    if (opened === current) {
      result = { bytes: done.bytes, settings: chosen };
      draw(encoded, done.picture);
      encoded.hidden = false;
      divider.hidden = false;
      setSplit(split);
      const q = done.psnr === Infinity ? "∞" : done.psnr.toFixed(2);
      $("result").textContent = `PLIX ${formatBytes(done.bytes.length)} · ${bpp(done.bytes.length, current.width, current.height)} bpp · PSNR ${q} dB`;
      divider.querySelector(".label.right").textContent = `PLIX q${chosen.qfactor} ${chosen.matrix} ${chosen.mode}`;
      $("save-plix").disabled = false;
      clearError();
    }
  } catch (e) {
    showError(`Could not convert: ${e.message}`);
  } finally {
    encodeRunning = false;
    showProgress(null);
    if (encodeWanted) runEncode();
    else if (document.body.dataset.state !== "error") settle();
  }
}

// ---- Saving ----

function download(blob, name) {
  const a = document.createElement("a");
  a.href = URL.createObjectURL(blob);
  a.download = name;
  document.body.append(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(a.href), 60_000);
}

$("save-plix").addEventListener("click", () => {
  if (result) download(new Blob([result.bytes], { type: "image/x-plix" }), `${baseName(current.name)}.plx`);
});

$("save-png").addEventListener("click", () => {
  if (!current) return;
  picture.toBlob((blob) => {
    if (blob) download(blob, `${baseName(current.name)}.png`);
    else showError("Could not make the PNG file");
  }, "image/png");
});

// ---- Controls ----

$("open").addEventListener("change", (e) => {
  openFile(e.target.files[0]);
  e.target.value = "";
});

qfactor.addEventListener("input", () => {
  $("qfactor-value").textContent = qfactor.value;
  scheduleEncode();
});
matrix.addEventListener("change", () => scheduleEncode());
mode.addEventListener("change", () => scheduleEncode());

for (const b of document.querySelectorAll("[data-zoom]")) {
  b.addEventListener("click", () => setZoom(b.dataset.zoom === "fit" ? "fit" : Number(b.dataset.zoom)));
}
window.addEventListener("resize", () => zoom === "fit" && applyZoom());

document.addEventListener("keydown", (e) => {
  if (!(e.ctrlKey || e.metaKey) || e.altKey) return;
  if (e.key === "=" || e.key === "+") stepZoom(1);
  else if (e.key === "-") stepZoom(-1);
  else if (e.key === "0") setZoom(1);
  else if (e.key === "o" || e.key === "O") $("open").click();
  else return;
  e.preventDefault();
});

// The divider: dragged, clicked into place, or moved by keys.
function splitAt(clientX) {
  const r = stage.getBoundingClientRect();
  setSplit((clientX - r.left) / r.width);
}
stage.addEventListener("pointerdown", (e) => {
  if (divider.hidden || e.button !== 0) return;
  stage.setPointerCapture(e.pointerId);
  splitAt(e.clientX);
  e.preventDefault();
});
stage.addEventListener("pointermove", (e) => {
  if (stage.hasPointerCapture(e.pointerId)) splitAt(e.clientX);
});
divider.addEventListener("keydown", (e) => {
  const step = e.shiftKey ? 0.01 : 0.05;
  if (e.key === "ArrowLeft" || e.key === "ArrowDown") setSplit(split - step);
  else if (e.key === "ArrowRight" || e.key === "ArrowUp") setSplit(split + step);
  else if (e.key === "Home") setSplit(0);
  else if (e.key === "End") setSplit(1);
  else return;
  e.preventDefault();
});

// Dropping a file anywhere on the page.
let dragDepth = 0;
window.addEventListener("dragenter", (e) => {
  e.preventDefault();
  dragDepth++;
  document.body.classList.add("dragging");
});
window.addEventListener("dragleave", () => {
  if (--dragDepth <= 0) {
    dragDepth = 0;
    document.body.classList.remove("dragging");
  }
});
window.addEventListener("dragover", (e) => e.preventDefault());
window.addEventListener("drop", (e) => {
  e.preventDefault();
  dragDepth = 0;
  document.body.classList.remove("dragging");
  const file = e.dataTransfer && e.dataTransfer.files[0];
  if (file) openFile(file);
});

window.addEventListener("error", (e) => showError(`Something went wrong: ${e.message}`));
window.addEventListener("unhandledrejection", (e) => showError(`Something went wrong: ${e.reason && e.reason.message ? e.reason.message : e.reason}`));

// ---- Start ----

try {
  startWorker();
} catch (e) {
  showError(`The codec could not start (${e.message}); open this page through a web server, not as a file.`);
}
setSplit(0.5);
// Offline after the first visit: the files of this folder are kept.
if ("serviceWorker" in navigator && location.protocol.startsWith("http")) {
  navigator.serviceWorker.register("sw.js").catch(() => {});
}
