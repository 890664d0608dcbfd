// The page in headless Chromium (Debian's, through puppeteer-core): served
// from build-wasm/web on 127.0.0.1, driven as a person would. Expected pixels
// come from the conformance vectors, expected bytes from the native library
// (the plix tool, PLIX_NATIVE_BIN). Screenshots go to build-wasm/screenshots/.
import { test, before, after } from "node:test";
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { createServer } from "node:http";
import { mkdirSync, mkdtempSync, readFileSync, readdirSync, rmSync, writeFileSync, existsSync } from "node:fs";
import { tmpdir } from "node:os";
import { extname, join, normalize } from "node:path";
import puppeteer from "puppeteer-core";

import { readBmp, writePng } from "./images.mjs";

const root = process.env.PLIX_ROOT;
const nativeBin = process.env.PLIX_NATIVE_BIN;
assert.ok(root && nativeBin, "PLIX_ROOT and PLIX_NATIVE_BIN are set");
const site = join(root, "build-wasm/web");
const shots = join(root, "build-wasm/screenshots");
const conf = join(root, "tests/data/conformance");
const work = mkdtempSync(join(tmpdir(), "plix-browser-"));
const downloads = join(work, "downloads");
mkdirSync(downloads);
mkdirSync(shots, { recursive: true });

const TYPES = {
  ".html": "text/html",
  ".js": "text/javascript",
  ".mjs": "text/javascript",
  ".css": "text/css",
  ".wasm": "application/wasm",
  ".svg": "image/svg+xml",
  ".webmanifest": "application/manifest+json",
};

let server;
let base;
let browser;
let page;
const requested = [];

before(async () => {
  server = createServer((req, res) => {
    const path = normalize(decodeURIComponent(new URL(req.url, "http://x").pathname)).replace(/^(\.\.[/\\])+/, "");
    let file = join(site, path);
    if (file.endsWith("/")) file = join(file, "index.html");
    if (!file.startsWith(site) || !existsSync(file)) {
      res.writeHead(404).end();
      return;
    }
    res.writeHead(200, { "Content-Type": TYPES[extname(file)] || "application/octet-stream" });
    res.end(readFileSync(file));
  });
  await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));
  base = `http://127.0.0.1:${server.address().port}`;
  browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
    headless: true,
    userDataDir: join(work, "profile"),
    args: [
      "--headless",
      "--no-sandbox",
      "--disable-gpu",
      "--disable-quic",
      "--no-first-run",
      "--disable-background-networking",
      "--disable-component-update",
      "--disable-sync",
    ],
  });
  page = await browser.newPage();
  await page.setViewport({ width: 1100, height: 760 });
  page.on("request", (r) => requested.push(r.url()));
  page.on("pageerror", (e) => console.error("page error:", e.message));
  const session = await browser.target().createCDPSession();
  await session.send("Browser.setDownloadBehavior", { behavior: "allow", downloadPath: downloads, eventsEnabled: true });
  await page.goto(`${base}/`, { waitUntil: "load" });
});

after(async () => {
  if (browser) await browser.close();
  if (server) server.close();
  rmSync(work, { recursive: true, force: true });
});

async function state(expected, timeout = 30_000) {
  await page.waitForFunction((s) => document.body.dataset.state === s, { timeout }, expected);
}

async function openFile(path) {
  const input = await page.$("#open");
  await input.uploadFile(path);
}

async function canvasPixels(id) {
  const b64 = await page.$eval(`#${id}`, (c) => {
    const d = c.getContext("2d").getImageData(0, 0, c.width, c.height).data;
    let s = "";
    for (let i = 0; i < d.length; i += 0x8000) s += String.fromCharCode(...d.subarray(i, i + 0x8000));
    return btoa(s);
  });
  return Buffer.from(b64, "base64");
}

async function waitForDownload(name, timeout = 30_000) {
  const file = join(downloads, name);
  const start = Date.now();
  while (Date.now() - start < timeout) {
    if (existsSync(file) && !readdirSync(downloads).some((f) => f.endsWith(".crdownload"))) return readFileSync(file);
    await new Promise((r) => setTimeout(r, 100));
  }
  throw new Error(`${name} was not downloaded; the folder holds ${readdirSync(downloads).join(", ")}`);
}

async function shot(name) {
  await page.screenshot({ path: join(shots, name) });
}

test("a PLIX file opened through #open shows its exact pixels at 100 %", async () => {
  const c = { name: "mix_100x75_m1_q4_x2", width: 100, height: 75, paddedWidth: 104 };
  // The keyboard reaches the open button first.
  await page.keyboard.press("Tab");
  assert.equal(await page.evaluate(() => document.activeElement.id), "open");
  const path = join(work, "mix.plx");
  writeFileSync(path, readFileSync(join(conf, `cases/${c.name}.plx`)));
  await openFile(path);
  await state("ready");
  const size = await page.$eval("#picture", (el) => [el.width, el.height, el.getBoundingClientRect().width, el.getBoundingClientRect().height]);
  assert.deepEqual(size, [100, 75, 100, 75]);
  const got = await canvasPixels("picture");
  const expected = readFileSync(join(conf, `cases/${c.name}.expected.buf`));
  for (let y = 0; y < c.height; y++) {
    for (let x = 0; x < c.width; x++) {
      const e = (y * c.paddedWidth + x) * 4;
      const g = (y * c.width + x) * 4;
      assert.deepEqual([...got.subarray(g, g + 4)], [expected[e + 2], expected[e + 1], expected[e], 255], `pixel ${x}, ${y}`);
    }
  }
  const info = await page.$eval("#info", (el) => el.textContent);
  assert.match(info, /mix\.plx · 100 × 75 · RGB · matrix CG · q-factor 4 · [\d.]+ bpp/);
  await shot("plix-100.png");
  // Zoom by key: 200 % doubles the display size, not the canvas.
  await page.keyboard.down("Control");
  await page.keyboard.press("Equal");
  await page.keyboard.up("Control");
  const zoomed = await page.$eval("#picture", (el) => [el.width, el.getBoundingClientRect().width]);
  assert.deepEqual(zoomed, [100, 200]);
  await shot("plix-200.png");
  await page.keyboard.down("Control");
  await page.keyboard.press("Digit0");
  await page.keyboard.up("Control");
  assert.equal(await page.$eval("#picture", (el) => el.getBoundingClientRect().width), 100);
});

test("a truncated PLIX file opens with a warning", async () => {
  const path = join(work, "cut.plx");
  writeFileSync(path, readFileSync(join(conf, "cases/crafted_truncated_mid.plx")));
  await openFile(path);
  await state("ready");
  const info = await page.$eval("#info", (el) => el.textContent);
  assert.match(info, /data ends after \d+ of 390 blocks/);
  const got = await canvasPixels("picture");
  const expected = readFileSync(join(conf, "cases/crafted_truncated_mid.expected.buf"));
  let differ = 0;
  for (let y = 0; y < 75; y++) {
    for (let x = 0; x < 100; x++) {
      const e = (y * 104 + x) * 4;
      const g = (y * 100 + x) * 4;
      if (got[g] !== expected[e + 2] || got[g + 1] !== expected[e + 1] || got[g + 2] !== expected[e]) differ++;
    }
  }
  assert.equal(differ, 0);
  await shot("plix-truncated.png");
});

test("a PNG converted with the chosen settings saves the native library's bytes", async () => {
  const photo = readBmp(readFileSync(join(root, "samples/coffee_600x400.bmp")));
  const png = join(work, "coffee.png");
  writeFileSync(png, writePng(photo));
  await openFile(png);
  await state("ready");
  assert.deepEqual(await page.$eval("#picture", (el) => [el.width, el.height]), [600, 400]);
  assert.ok((await canvasPixels("picture")).equals(Buffer.from(photo.data)), "the browser's PNG pixels");
  // By keyboard: six steps up the q-factor slider, then the JPEG matrix set.
  await page.focus("#qfactor");
  for (let i = 0; i < 6; i++) await page.keyboard.press("ArrowRight");
  await page.select("#matrix", "jpeg");
  await page.waitForFunction(() => document.body.dataset.state === "busy" || /q6 jpeg/.test(document.querySelector("#divider .right").textContent));
  await state("ready");
  assert.equal(await page.$eval("#qfactor-value", (el) => el.textContent), "6");
  const label = await page.$eval("#divider .right", (el) => el.textContent);
  assert.equal(label, "PLIX q6 jpeg yuv");
  const summary = await page.$eval("#result", (el) => el.textContent);
  assert.match(summary, /PLIX [\d.]+ KiB · [\d.]+ bpp · PSNR [\d.]+ dB/);
  // The divider by keys, then by dragging.
  await page.focus("#divider");
  await page.keyboard.press("Home");
  assert.equal(await page.$eval("#divider", (el) => el.getAttribute("aria-valuenow")), "0");
  await page.keyboard.press("End");
  assert.equal(await page.$eval("#divider", (el) => el.getAttribute("aria-valuenow")), "100");
  const box = await (await page.$("#stage")).boundingBox();
  await page.mouse.move(box.x + 300, box.y + 200);
  await page.mouse.down();
  await page.mouse.move(box.x + 240, box.y + 200, { steps: 4 });
  await page.mouse.up();
  assert.equal(await page.$eval("#divider", (el) => el.getAttribute("aria-valuenow")), "40");
  await shot("png-split-q6.png");

  await page.click("#save-plix");
  const saved = await waitForDownload("coffee.plx");
  const expected = join(work, "expected.plx");
  execFileSync(join(nativeBin, "plix"), ["encode", "--quiet", "-q", "6", "--matrix", "jpeg", "-f", "-o", expected, png]);
  assert.ok(saved.equals(readFileSync(expected)), "the saved PLIX file is the native encode of the PNG's pixels");

  await page.click("#save-png");
  const savedPng = await waitForDownload("coffee.png");
  assert.equal(savedPng.toString("latin1", 1, 4), "PNG");
  assert.deepEqual([savedPng.readUInt32BE(16), savedPng.readUInt32BE(20)], [600, 400]);
});

test("a picture of 4 megapixels shows its progress", async () => {
  const width = 2400;
  const height = 1800;
  const data = new Uint8Array(width * height * 4);
  for (let y = 0, o = 0; y < height; y++) {
    for (let x = 0; x < width; x++, o += 4) {
      data[o] = x & 255;
      data[o + 1] = y & 255;
      data[o + 2] = (x * y) >> 9;
      data[o + 3] = 255;
    }
  }
  const png = join(work, "large.png");
  writeFileSync(png, writePng({ width, height, data }));
  await page.evaluate(() => {
    window.progressSeen = [];
    new MutationObserver(() => {
      if (!document.getElementById("busy").hidden) window.progressSeen.push(document.getElementById("progress-text").textContent);
    }).observe(document.getElementById("busy"), { attributes: true, subtree: true, childList: true, characterData: true });
  });
  await openFile(png);
  await state("ready", 60_000);
  const seen = await page.evaluate(() => window.progressSeen);
  assert.ok(seen.some((t) => /encoding/.test(t)), `progress shown: ${seen.join(", ")}`);
  assert.equal(await page.$eval("#busy", (el) => el.hidden), true);
  await shot("large-4mp.png");
});

test("junk shows an error in words and keeps the previous picture", async () => {
  const junk = join(work, "notes.plx");
  writeFileSync(junk, "these are not the pixels you are looking for\n".repeat(20));
  await openFile(junk);
  await state("error");
  const error = await page.$eval("#error", (el) => (el.hidden ? "" : el.textContent));
  assert.match(error, /Could not open notes\.plx: notes\.plx is neither a PLIX file nor a picture this browser can read/);
  assert.deepEqual(await page.$eval("#picture", (el) => [el.width, el.height]), [2400, 1800]);
  await shot("error-junk.png");
  // A PLIX header of 20000 x 20000 is refused by the pixel limit.
  const header = Buffer.from(readFileSync(join(conf, "cases/mix_100x75_m0_q0_x0.plx")).subarray(0, 16));
  header.writeUInt32LE(20000, 8); // height
  header.writeUInt32LE(20000, 12); // width
  const big = join(work, "huge.plx");
  writeFileSync(big, header);
  await openFile(big);
  await state("error");
  assert.match(await page.$eval("#error", (el) => el.textContent), /larger than the pixel limit/);
});

test("fit, a narrow window, and nothing loaded from outside the folder", async () => {
  await page.click('[data-zoom="fit"]');
  await shot("fit.png");
  await page.setViewport({ width: 380, height: 740 });
  await page.click('[data-zoom="fit"]');
  const width = await page.$eval("#picture", (el) => el.getBoundingClientRect().width);
  assert.ok(width <= 380, `fitted width ${width}`);
  const overflow = await page.evaluate(() => document.documentElement.scrollWidth - document.documentElement.clientWidth);
  assert.ok(overflow <= 0, `the page is ${overflow} px wider than the window`);
  await shot("narrow.png");
  await page.setViewport({ width: 1100, height: 760 });
  for (const url of requested) {
    assert.ok(url.startsWith(`${base}/`) || url.startsWith("blob:") || url.startsWith("data:"), url);
  }
});

test("offline once loaded", async () => {
  await page.waitForFunction(async () => {
    const r = await navigator.serviceWorker.getRegistration();
    return r && r.active;
  });
  // Nothing answers any more: only the service worker's copies are left.
  await new Promise((resolve) => {
    server.close(resolve);
    server.closeAllConnections();
  });
  server = null;
  await page.reload({ waitUntil: "load" });
  const path = join(work, "again.plx");
  writeFileSync(path, readFileSync(join(conf, "cases/mix_100x75_m0_q4_x1.plx")));
  await openFile(path);
  await state("ready");
  assert.deepEqual(await page.$eval("#picture", (el) => [el.width, el.height]), [100, 75]);
  await shot("offline.png");
});
