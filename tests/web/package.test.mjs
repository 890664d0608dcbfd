// The package plix-codec as a user gets it: scripts/test_wasm.sh installs the
// packed .tgz into a scratch folder and runs this file from there with
// node --test. Expected values come from the conformance vectors and from the
// native library (the plix tool, PLIX_NATIVE_BIN).
import { test } from "node:test";
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { mkdtempSync, readFileSync, readdirSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";

import { init, readInfo, decode, encode, heapSize, PlixError } from "plix-codec";
import { readBmp, readPpm } from "./images.mjs";

const root = process.env.PLIX_ROOT;
const nativeBin = process.env.PLIX_NATIVE_BIN;
assert.ok(root, "PLIX_ROOT names the project");
const conf = join(root, "tests/data/conformance");
const cases = readFileSync(join(conf, "cases.tsv"), "utf8")
  .split("\n")
  .filter((l) => l && !l.startsWith("#"))
  .map((l) => {
    const [name, kind, mode, qfactor, matrix, width, height, paddedWidth, , plx, , buf, input] = l.split("\t");
    return { name, kind, mode: +mode, qfactor: +qfactor, matrix: +matrix, width: +width, height: +height, paddedWidth: +paddedWidth, plx, buf, input };
  });

await init();

// A file's name without its extension, as the plix tool names its outputs.
const stem = (f) => f.replace(/^.*\//, "").replace(/\.[^.]*$/, "");

// The native plix tool decodes each file to PPM: the library's pixels.
function nativeDecode(files, maxPixels) {
  const out = mkdtempSync(join(tmpdir(), "plix-native-"));
  try {
    execFileSync(join(nativeBin, "plix"), ["decode", "--quiet", "--format", "ppm", "--max-pixels", String(maxPixels), "-j", "1", "-o", out + "/", ...files], { stdio: ["ignore", "ignore", "ignore"] });
  } catch {
    // Exit status 1: some file failed; those have no output.
  }
  const result = new Map();
  for (const f of readdirSync(out)) result.set(stem(f), readPpm(readFileSync(join(out, f))));
  rmSync(out, { recursive: true });
  return result;
}

function rgbOf(picture) {
  const rgb = Buffer.alloc(picture.width * picture.height * 3);
  for (let i = 0, j = 0; i < rgb.length; i += 3, j += 4) {
    rgb[i] = picture.data[j];
    rgb[i + 1] = picture.data[j + 1];
    rgb[i + 2] = picture.data[j + 2];
  }
  return rgb;
}

test("every conformance file decodes to its expected pixels", () => {
  assert.equal(cases.length, 131);
  for (const c of cases) {
    const bytes = readFileSync(join(conf, c.plx));
    const p = decode(bytes);
    assert.equal(p.width, c.width, c.name);
    assert.equal(p.height, c.height, c.name);
    assert.ok(p.data instanceof Uint8ClampedArray);
    assert.equal(p.data.length, c.width * c.height * 4);
    // The expected buffer: padded rows of blue, green, red, unused.
    const expected = readFileSync(join(conf, c.buf));
    let differ = 0;
    for (let y = 0; y < c.height; y++) {
      for (let x = 0; x < c.width; x++) {
        const e = (y * c.paddedWidth + x) * 4;
        const g = (y * c.width + x) * 4;
        if (p.data[g] !== expected[e + 2] || p.data[g + 1] !== expected[e + 1] || p.data[g + 2] !== expected[e] || p.data[g + 3] !== 255) differ++;
      }
    }
    assert.equal(differ, 0, `${c.name}: ${differ} pixels differ`);
    const info = readInfo(bytes);
    assert.deepEqual([info.width, info.height, info.mode, info.matrix, info.qfactor], [c.width, c.height, c.mode ? 1 : 0, c.matrix, c.qfactor], c.name);
    assert.equal(p.truncated, p.blocksPresent < info.blocks, c.name);
  }
});

test("every encode case gives the expected bytes", () => {
  const encodes = cases.filter((c) => c.kind === "encode");
  assert.equal(encodes.length, 122);
  for (const c of encodes) {
    const image = readBmp(readFileSync(join(conf, c.input)));
    const got = encode(image, { qfactor: c.qfactor, matrix: c.matrix, mode: c.mode });
    assert.ok(got instanceof Uint8Array);
    assert.ok(Buffer.from(got).equals(readFileSync(join(conf, c.plx))), c.name);
  }
});

test("settings by name give the bytes of settings by number", () => {
  const image = readBmp(readFileSync(join(conf, "images/mix_100x75.bmp")));
  const names = { plix: 0, jpeg: 1, cg: 2 };
  for (const [name, number] of Object.entries(names)) {
    for (const [mode, m] of [["yuv", 0], ["rgb", 1]]) {
      const a = encode(image, { qfactor: 3, matrix: name, mode });
      const b = encode(image, { qfactor: 3, matrix: number, mode: m });
      assert.ok(Buffer.from(a).equals(Buffer.from(b)), `${name} ${mode}`);
    }
  }
  // The defaults: q-factor 0, matrix 0, YUV.
  const expected = readFileSync(join(conf, "cases/mix_100x75_m0_q0_x0.plx"));
  assert.ok(Buffer.from(encode(image)).equals(expected));
  // Alpha is ignored.
  const clear = { ...image, data: Uint8Array.from(image.data, (v, i) => (i % 4 === 3 ? 0 : v)) };
  assert.ok(Buffer.from(encode(clear)).equals(expected));
});

test("a round trip through decode and encode is stable", () => {
  const bytes = readFileSync(join(conf, "cases/mix_100x75_m0_q4_x1.plx"));
  const once = decode(bytes);
  const again = decode(encode(once, { qfactor: 4, matrix: "jpeg" }));
  let worst = 0;
  for (let i = 0; i < once.data.length; i++) worst = Math.max(worst, Math.abs(once.data[i] - again.data[i]));
  assert.ok(worst < 64, `largest difference ${worst}`);
});

function throwsPlix(f, pattern) {
  assert.throws(f, (e) => e instanceof Error && e instanceof PlixError && pattern.test(e.message), String(pattern));
}

test("junk, short files and bad arguments throw Errors that say why", () => {
  throwsPlix(() => decode(new Uint8Array(0)), /not a PLIX file/);
  throwsPlix(() => decode(new TextEncoder().encode("GIF89a, not a picture of ours")), /not a PLIX file/);
  throwsPlix(() => readInfo(new Uint8Array(15)), /not a PLIX file/);
  throwsPlix(() => decode("a string"), /Uint8Array/);
  throwsPlix(() => decode(new Uint8Array(64), { maxPixels: 0 }), /maxPixels out of range/);
  const image = { width: 2, height: 2, data: new Uint8Array(16) };
  throwsPlix(() => encode(image, { qfactor: 16 }), /qfactor out of range/);
  throwsPlix(() => encode(image, { qfactor: 1.5 }), /qfactor out of range/);
  throwsPlix(() => encode(image, { matrix: 3 }), /matrix out of range/);
  throwsPlix(() => encode(image, { matrix: "png" }), /matrix out of range/);
  throwsPlix(() => encode(image, { mode: 2 }), /mode out of range/);
  throwsPlix(() => encode(image, { mode: "cmyk" }), /mode out of range/);
  throwsPlix(() => encode({ width: -1, height: 2, data: new Uint8Array(16) }), /width out of range/);
  throwsPlix(() => encode({ width: 3, height: 2, data: new Uint8Array(16) }), /need 24/);
  throwsPlix(() => encode(null), /width, height, data/);
  // The module is still well after all of these.
  assert.equal(decode(readFileSync(join(conf, "cases/pixel_1x1_m0_q0_x0.plx"))).width, 1);
});

test("the 20000 x 20000 header is refused at once, nothing allocated", () => {
  const header = readFileSync(join(conf, "cases/mix_100x75_m0_q0_x0.plx")).subarray(0, 16);
  const big = Buffer.from(header);
  big.writeUInt32LE(20000, 8); // height
  big.writeUInt32LE(20000, 12); // width
  const info = readInfo(big);
  assert.equal(info.width, 20000);
  assert.equal(info.height, 20000);
  const before = heapSize();
  const start = performance.now();
  throwsPlix(() => decode(big), /larger than the pixel limit/);
  assert.ok(performance.now() - start < 200);
  assert.equal(heapSize(), before);
  // A smaller limit of the caller's.
  throwsPlix(() => decode(readFileSync(join(conf, "cases/mix_100x75_m0_q0_x0.plx")), { maxPixels: 7499 }), /larger than the pixel limit/);
  assert.equal(decode(readFileSync(join(conf, "cases/mix_100x75_m0_q0_x0.plx")), { maxPixels: 7500 }).width, 100);
});

test("every truncation of one file decodes as the native library decodes it", (t) => {
  if (!nativeBin) return t.skip("PLIX_NATIVE_BIN not set");
  const whole = readFileSync(join(conf, "cases/edges_17x9_m0_q0_x0.plx"));
  const dir = mkdtempSync(join(tmpdir(), "plix-cuts-"));
  const files = [];
  for (let n = 16; n < whole.length; n++) {
    const f = join(dir, `cut${n}.plx`);
    writeFileSync(f, whole.subarray(0, n));
    files.push(f);
  }
  const native = nativeDecode(files, 2 ** 28);
  const counts = JSON.parse(execFileSync(join(nativeBin, "plix"), ["info", "--json", ...files], { encoding: "utf8", stdio: ["ignore", "pipe", "ignore"] }));
  rmSync(dir, { recursive: true });
  const byName = new Map(counts.map((c) => [stem(c.file), c]));
  let previous = 0;
  for (let n = 0; n < whole.length; n++) {
    const cut = whole.subarray(0, n);
    if (n < 16) {
      throwsPlix(() => decode(cut), /not a PLIX file/);
      continue;
    }
    const p = decode(cut);
    const expected = native.get(`cut${n}`);
    assert.ok(expected, `native output for ${n} bytes`);
    assert.ok(rgbOf(p).equals(expected.rgb), `pixels after ${n} bytes`);
    const facts = byName.get(`cut${n}`);
    assert.equal(p.blocksPresent, facts.whole_blocks, `blocks after ${n} bytes`);
    assert.equal(p.truncated, !facts.complete, `truncated after ${n} bytes`);
    assert.ok(p.blocksPresent >= previous);
    previous = p.blocksPresent;
  }
  const p = decode(whole);
  assert.equal(p.truncated, false);
  assert.equal(p.blocksPresent, readInfo(whole).blocks);
});

test("the decode fuzz corpus: nothing but thrown Errors, and the native pixels", (t) => {
  const dir = join(root, "fuzz/corpus/decode");
  const files = readdirSync(dir).sort();
  assert.ok(files.length > 100);
  const limit = 2 ** 22;
  const native = nativeBin ? nativeDecode(files.map((f) => join(dir, f)), limit) : null;
  let decoded = 0;
  let refused = 0;
  for (const f of files) {
    const bytes = readFileSync(join(dir, f));
    let p = null;
    try {
      p = decode(bytes, { maxPixels: limit });
      decoded++;
    } catch (e) {
      assert.ok(e instanceof PlixError, `${f}: ${e}`);
      refused++;
    }
    if (native && p && p.width > 0 && p.height > 0) {
      const expected = native.get(stem(f));
      assert.ok(expected, `${f}: no native output`);
      assert.ok(rgbOf(p).equals(expected.rgb), `${f}: pixels differ`);
    }
  }
  t.diagnostic(`${decoded} decoded, ${refused} refused`);
  assert.ok(decoded > 0);
});

test("the heap is given back after a large picture", async () => {
  const width = 4200;
  const height = 4100;
  const small = 32 * 1024 * 1024;
  const idle = () => new Promise((resolve) => setTimeout(resolve, 1200));
  await idle();
  assert.ok(heapSize() <= small, `heap ${heapSize()}`);
  // A header alone: the whole picture is filler, 69 MB of pixels.
  const header = Buffer.from(readFileSync(join(conf, "cases/mix_100x75_m0_q0_x0.plx")).subarray(0, 16));
  header.writeUInt32LE(height, 8);
  header.writeUInt32LE(width, 12);
  const p = decode(header);
  assert.equal(p.width, width);
  assert.equal(p.truncated, true);
  assert.ok(heapSize() > 64 * 1024 * 1024, `heap ${heapSize()} while working`);
  await idle();
  assert.ok(heapSize() <= small, `heap ${heapSize()} a second after decoding`);
  // The same the other way, and the fresh instance works as the first did.
  const plx = encode(p, { qfactor: 15 });
  await idle();
  assert.ok(heapSize() <= small, `heap ${heapSize()} a second after encoding`);
  const again = decode(plx);
  assert.equal(again.truncated, false);
  assert.equal(again.width, width);
});
