// plix-codec: PLIX pictures in browsers, workers and Node, through the
// library's own C functions (plix_read_info, plix_decode, plix_encode)
// compiled to WebAssembly. Pixels are RGBA, 4 bytes each, rows top-down.
import createPlixModule from "./plix-wasm.mjs";

const PLIX_OK = 0;
const PLIX_TRUNCATED = 1;
const PLIX_ERROR_LIMIT = -3;
const PLIX_ERROR_MEMORY = -4;
const PLIX_RGBA = 1;

const DEFAULT_MAX_PIXELS = 2 ** 28;
// The heap can only grow: when it is past this size and the module has been
// idle for a moment, the instance is replaced by a fresh one, so one large
// picture does not keep its memory for good. Calls in a row keep the grown
// heap: fresh memory costs its first touch of every page again.
const KEEP_HEAP_BYTES = 64 * 1024 * 1024;
const GIVE_BACK_AFTER_MS = 1000;
// wasm32 addresses; one buffer must leave room for the rest of the heap.
const MAX_BUFFER_BYTES = 2 ** 32 - 64 * 1024 * 1024;

const MATRICES = { plix: 0, jpeg: 1, cg: 2 };
const MODES = { yuv: 0, rgb: 1 };

/** An error of the library (code: its result, as in <plix/codec.h>) or of an argument. */
export class PlixError extends Error {
  constructor(message, code) {
    super(message);
    this.name = "PlixError";
    this.code = code;
  }
}

let compiled = null; // WebAssembly.Module
let loading = null; // the promise of init()
let wasm = null; // the emscripten module object of the current instance
let giveBack = null; // the timer that replaces a grown instance
let lastCall = 0;

function instantiate() {
  const m = {
    print() {},
    printErr() {},
    // The instance is made here, at once, from the module compiled by init():
    // emscripten's own loader never looks for the .wasm.
    instantiateWasm(imports, receive) {
      const instance = new WebAssembly.Instance(compiled, imports);
      receive(instance, compiled);
      return instance.exports;
    },
  };
  // Resolves at once; the object is complete when the factory returns.
  createPlixModule(m);
  if (typeof m._plix_decode !== "function") throw new PlixError("the WebAssembly module did not start", -4);
  wasm = m;
}

async function loadBytes(source) {
  if (source instanceof WebAssembly.Module) return source;
  if (source instanceof ArrayBuffer || ArrayBuffer.isView(source)) return WebAssembly.compile(source);
  if (typeof Response !== "undefined" && source instanceof Response) {
    return WebAssembly.compile(await source.arrayBuffer());
  }
  const url = source === undefined ? new URL("./plix-wasm.wasm", import.meta.url) : new URL(String(source), import.meta.url);
  if (url.protocol === "file:") {
    // Node: fetch() takes no file URLs.
    const { readFile } = await import(/* webpackIgnore: true */ "node:fs/promises");
    return WebAssembly.compile(await readFile(url));
  }
  const response = await fetch(url);
  if (!response.ok) throw new PlixError(`cannot load ${url}: HTTP ${response.status}`, -1);
  return WebAssembly.compile(await response.arrayBuffer());
}

/**
 * Loads the module: by default plix-wasm.wasm beside this file; or from a URL,
 * a Response, bytes or a compiled WebAssembly.Module. Later calls return the
 * first call's promise.
 */
export function init(source) {
  if (!loading) {
    loading = (async () => {
      compiled = await loadBytes(source);
      instantiate();
    })();
    loading.catch(() => {
      loading = null;
    });
  }
  return loading;
}

function ready() {
  if (!wasm) throw new PlixError("plix-codec: call and await init() first", -1);
  return wasm;
}

function reason(m, code) {
  const p = m._plix_error_string(code) >>> 0;
  const heap = m.HEAPU8;
  let end = p;
  while (heap[end] !== 0) end++;
  return new TextDecoder().decode(heap.subarray(p, end));
}

function fail(m, code) {
  return new PlixError(reason(m, code), code);
}

// Runs f on the module, gives memory back afterwards, and turns a trap (the
// module ran out of memory where it could not say so) into an Error with a
// fresh instance for the next call.
function withModule(f) {
  const m = ready();
  try {
    return f(m);
  } catch (e) {
    if (e instanceof PlixError) throw e;
    instantiate();
    throw new PlixError(`not enough memory (${e && e.message ? e.message : e})`, PLIX_ERROR_MEMORY);
  } finally {
    lastCall = Date.now();
    if (wasm === m && m.HEAPU8.length > KEEP_HEAP_BYTES && !giveBack) scheduleGiveBack(GIVE_BACK_AFTER_MS);
  }
}

function scheduleGiveBack(delay) {
  giveBack = setTimeout(() => {
    const idle = Date.now() - lastCall;
    if (idle < GIVE_BACK_AFTER_MS) {
      scheduleGiveBack(GIVE_BACK_AFTER_MS - idle);
      return;
    }
    giveBack = null;
    if (wasm && wasm.HEAPU8.length > KEEP_HEAP_BYTES) instantiate();
  }, delay);
  // A pending give-back does not keep Node running.
  if (typeof giveBack === "object" && giveBack && typeof giveBack.unref === "function") giveBack.unref();
}

function bytesOf(input, what) {
  if (input instanceof Uint8Array || input instanceof Uint8ClampedArray) return input;
  if (input instanceof ArrayBuffer) return new Uint8Array(input);
  if (ArrayBuffer.isView(input)) return new Uint8Array(input.buffer, input.byteOffset, input.byteLength);
  throw new PlixError(`${what} must be a Uint8Array, an ArrayBuffer or a typed array`, -1);
}

function malloc(m, bytes) {
  if (bytes > MAX_BUFFER_BYTES) throw fail(m, PLIX_ERROR_MEMORY);
  const p = m._malloc(Math.max(bytes, 1)) >>> 0;
  if (p === 0) throw fail(m, PLIX_ERROR_MEMORY);
  return p;
}

function copyIn(m, bytes) {
  const p = malloc(m, bytes.length);
  m.HEAPU8.set(bytes, p);
  return p;
}

function u64(m, p) {
  const words = new Uint32Array(m.HEAPU8.buffer, p, 2);
  return words[0] + words[1] * 2 ** 32;
}

// plix_info: width, height, mode, matrix, qfactor (uint32 at 0..16), blocks
// and blocks_present (uint64 at 24 and 32); layout_check.cpp holds it.
const INFO_BYTES = 40;

function infoAt(m, p) {
  const w = new Uint32Array(m.HEAPU8.buffer, p, 5);
  return {
    width: w[0],
    height: w[1],
    mode: w[2],
    matrix: w[3],
    qfactor: w[4],
    blocks: u64(m, p + 24),
    blocksPresent: u64(m, p + 32),
  };
}

/** The header's facts: { width, height, mode, matrix, qfactor, blocks }. */
export function readInfo(bytes) {
  const data = bytesOf(bytes, "bytes");
  return withModule((m) => {
    // The header is all it reads.
    const head = data.subarray(0, 16);
    const info = malloc(m, INFO_BYTES);
    const p = copyIn(m, head);
    try {
      const r = m._plix_read_info(p, head.length, info);
      if (r < 0) throw fail(m, r);
      const { width, height, mode, matrix, qfactor, blocks } = infoAt(m, info);
      return { width, height, mode, matrix, qfactor, blocks };
    } finally {
      m._free(p);
      m._free(info);
    }
  });
}

function integer(value, name, min, max) {
  if (!Number.isInteger(value) || value < min || value > max) {
    throw new PlixError(`${name} out of range: ${value} (an integer from ${min} to ${max})`, -1);
  }
  return value;
}

function named(value, names, name) {
  if (typeof value === "string") {
    const v = names[value.toLowerCase()];
    if (v === undefined) {
      throw new PlixError(`${name} out of range: "${value}" (one of ${Object.keys(names).join(", ")})`, -1);
    }
    return v;
  }
  return integer(value, name, 0, Object.keys(names).length - 1);
}

/**
 * Decodes a PLIX file: { width, height, data (RGBA, alpha 255), blocksPresent,
 * truncated }. Throws for what is not a PLIX file and for pictures of more
 * than maxPixels (default 2^28) pixels, before anything is allocated.
 */
export function decode(bytes, { maxPixels = DEFAULT_MAX_PIXELS } = {}) {
  const data = bytesOf(bytes, "bytes");
  integer(maxPixels, "maxPixels", 1, Number.MAX_SAFE_INTEGER);
  const facts = readInfo(data);
  return withModule((m) => {
    if (facts.width * facts.height > maxPixels) throw fail(m, PLIX_ERROR_LIMIT);
    const outBytes = facts.width * facts.height * 4;
    const info = malloc(m, INFO_BYTES);
    const options = malloc(m, 16);
    let input = 0;
    let out = 0;
    try {
      input = copyIn(m, data);
      out = malloc(m, outBytes);
      const o = new Uint32Array(m.HEAPU8.buffer, options, 4);
      o[0] = maxPixels % 2 ** 32;
      o[1] = Math.floor(maxPixels / 2 ** 32);
      o[2] = 1; // the caller's thread
      o[3] = 0;
      const r = m._plix_decode(input, data.length, options, PLIX_RGBA, out, facts.width * 4, info);
      if (r !== PLIX_OK && r !== PLIX_TRUNCATED) throw fail(m, r);
      const { width, height, blocksPresent } = infoAt(m, info);
      const pixels = new Uint8ClampedArray(outBytes);
      pixels.set(m.HEAPU8.subarray(out, out + outBytes));
      return { width, height, data: pixels, blocksPresent, truncated: r === PLIX_TRUNCATED };
    } finally {
      m._free(out);
      m._free(input);
      m._free(options);
      m._free(info);
    }
  });
}

/**
 * Encodes RGBA pixels (alpha ignored) to a PLIX file. Options: qfactor 0-15
 * (default 0), matrix 0-2 or "plix", "jpeg", "cg" (default 0), mode 0-1 or
 * "yuv", "rgb" (default YUV).
 */
export function encode(image, { qfactor = 0, matrix = 0, mode = 0 } = {}) {
  if (!image || typeof image !== "object") throw new PlixError("image must be { width, height, data }", -1);
  const width = integer(image.width, "width", 0, 2 ** 31 - 1);
  const height = integer(image.height, "height", 0, 2 ** 31 - 1);
  const data = bytesOf(image.data, "data");
  const settings = [
    named(mode, MODES, "mode"),
    integer(qfactor, "qfactor", 0, 15),
    named(matrix, MATRICES, "matrix"),
  ];
  const bytes = width * height * 4;
  if (data.length < bytes) {
    throw new PlixError(`data holds ${data.length} bytes; ${width} x ${height} RGBA pixels need ${bytes}`, -1);
  }
  return withModule((m) => {
    const options = malloc(m, 24);
    let input = 0;
    try {
      input = copyIn(m, data.subarray(0, bytes));
      const o = new Uint32Array(m.HEAPU8.buffer, options, 6);
      o.set([settings[0], settings[1], settings[2], 1, 0, 0]);
      // *data at options + 16, *size at options + 20.
      const r = m._plix_encode(input, width, height, width * 4, PLIX_RGBA, options, options + 16, options + 20);
      if (r !== PLIX_OK) throw fail(m, r);
      const words = new Uint32Array(m.HEAPU8.buffer, options + 16, 2);
      const p = words[0];
      const size = words[1];
      const out = m.HEAPU8.slice(p, p + size);
      m._plix_free(p);
      return out;
    } finally {
      m._free(input);
      m._free(options);
    }
  });
}

/**
 * Bytes the module's heap holds now (0 before init()). Above 64 MiB it is given
 * back once the module has been idle for a second.
 */
export function heapSize() {
  return wasm ? wasm.HEAPU8.length : 0;
}
