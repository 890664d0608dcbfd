// The package plix-codec in Node, timed as bench/api_bench.cpp times the
// native library: RGBA pixels of a 24-bit BMP, encode() and decode() through
// the package's API (copies into and out of the module's heap included), the
// median of several runs after a warm-up. Prints one line per setting:
// q-factor, bytes, encode ms, decode ms.
// Usage: node bench/wasm.mjs PACKAGE_DIR PICTURE.bmp REPS QFACTOR...
import { readFileSync } from "node:fs";
import { join, resolve } from "node:path";
import { pathToFileURL } from "node:url";

const [dir, picture, repsText, ...qfactors] = process.argv.slice(2);
const { init, encode, decode } = await import(pathToFileURL(join(resolve(dir), "plix-codec.js")));
const { readBmp } = await import(new URL("../tests/web/images.mjs", import.meta.url));

function medianMs(reps, fn) {
  fn();
  const t = [];
  for (let i = 0; i < reps; i++) {
    const a = performance.now();
    fn();
    t.push(performance.now() - a);
  }
  t.sort((a, b) => a - b);
  return t[t.length >> 1];
}

await init();
const image = readBmp(readFileSync(picture));
const reps = Number(repsText);
for (const q of qfactors) {
  let bytes;
  const encodeMs = medianMs(reps, () => {
    bytes = encode(image, { qfactor: Number(q) });
  });
  const decodeMs = medianMs(reps, () => decode(bytes));
  console.log(`${q} ${bytes.length} ${encodeMs.toFixed(2)} ${decodeMs.toFixed(2)}`);
}
