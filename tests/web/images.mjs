// Small readers for the tests: BMP (16, 24 and 32 bits, uncompressed) and
// binary PPM, to RGBA or RGB; and a PNG writer (8-bit RGB or RGBA, no
// filters) for the browser test.
import { deflateSync } from "node:zlib";

// A BMP's pixels as { width, height, data: RGBA }. 16-bit pixels are 5-5-5
// widened with zeros below (31 gives 0xF8); the fourth byte of 32-bit pixels
// becomes 255.
export function readBmp(file) {
  const b = Buffer.from(file);
  if (b.toString("latin1", 0, 2) !== "BM") throw new Error("not a BMP file");
  const offset = b.readUInt32LE(10);
  const width = b.readInt32LE(18);
  const rawHeight = b.readInt32LE(22);
  const bpp = b.readUInt16LE(28);
  const compression = b.readUInt32LE(30);
  if (compression !== 0 || ![16, 24, 32].includes(bpp)) throw new Error(`BMP of ${bpp} bits, compression ${compression}: not read here`);
  const height = Math.abs(rawHeight);
  const rowBytes = Math.ceil((width * bpp) / 32) * 4;
  const data = new Uint8Array(width * height * 4);
  for (let y = 0; y < height; y++) {
    const row = offset + (rawHeight > 0 ? height - 1 - y : y) * rowBytes;
    for (let x = 0; x < width; x++) {
      const o = (y * width + x) * 4;
      if (bpp === 16) {
        const v = b.readUInt16LE(row + 2 * x);
        data[o] = ((v >> 10) & 31) << 3;
        data[o + 1] = ((v >> 5) & 31) << 3;
        data[o + 2] = (v & 31) << 3;
      } else {
        const p = row + x * (bpp / 8);
        data[o] = b[p + 2];
        data[o + 1] = b[p + 1];
        data[o + 2] = b[p];
      }
      data[o + 3] = 255;
    }
  }
  return { width, height, data };
}

// A binary PPM of maximum value 255: { width, height, rgb }.
export function readPpm(file) {
  const b = Buffer.from(file);
  const fields = [];
  let i = 0;
  while (fields.length < 4) {
    while (/\s/.test(String.fromCharCode(b[i]))) i++;
    if (b[i] === 0x23) {
      while (b[i] !== 0x0a) i++;
      continue;
    }
    let s = "";
    while (!/\s/.test(String.fromCharCode(b[i]))) s += String.fromCharCode(b[i++]);
    fields.push(s);
  }
  i++;
  const [magic, width, height, max] = fields;
  if (magic !== "P6" || max !== "255") throw new Error(`PPM ${magic} ${max}: not read here`);
  return { width: +width, height: +height, rgb: b.subarray(i, i + width * height * 3) };
}

const crcTable = new Int32Array(256).map((_, n) => {
  let c = n;
  for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  return c;
});

function crc32(bytes) {
  let c = -1;
  for (const v of bytes) c = crcTable[(c ^ v) & 255] ^ (c >>> 8);
  return (c ^ -1) >>> 0;
}

function chunk(type, body) {
  const head = Buffer.alloc(8);
  head.writeUInt32BE(body.length, 0);
  head.write(type, 4, "latin1");
  const crc = Buffer.alloc(4);
  crc.writeUInt32BE(crc32(Buffer.concat([head.subarray(4), body])), 0);
  return Buffer.concat([head, body, crc]);
}

// RGBA pixels to a PNG of 8-bit RGBA, or RGB when every alpha is 255.
export function writePng({ width, height, data }) {
  const opaque = data.every((v, i) => i % 4 !== 3 || v === 255);
  const channels = opaque ? 3 : 4;
  const raw = Buffer.alloc((width * channels + 1) * height);
  for (let y = 0, o = 0; y < height; y++) {
    raw[o++] = 0; // no filter
    for (let x = 0; x < width; x++) {
      const p = (y * width + x) * 4;
      for (let k = 0; k < channels; k++) raw[o++] = data[p + k];
    }
  }
  const ihdr = Buffer.alloc(13);
  ihdr.writeUInt32BE(width, 0);
  ihdr.writeUInt32BE(height, 4);
  ihdr[8] = 8;
  ihdr[9] = opaque ? 2 : 6;
  return Buffer.concat([
    Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
    chunk("IHDR", ihdr),
    chunk("IDAT", deflateSync(raw)),
    chunk("IEND", Buffer.alloc(0)),
  ]);
}
