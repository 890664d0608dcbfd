// The page's codec work, off the page's thread: opening PLIX files, and
// encoding the open picture with the chosen settings (then decoding the
// result to show it, and measuring it against the original).
import { init, readInfo, decode, encode } from "./plix-codec/plix-codec.js";

const ready = init();
let original = null; // { width, height, data: RGBA }

function progress(id, percent, text) {
  postMessage({ type: "progress", id, percent, text });
}

// Peak signal-to-noise ratio over red, green and blue, in dB.
function psnr(a, b) {
  let sum = 0;
  for (let i = 0; i < a.length; i += 4) {
    const r = a[i] - b[i];
    const g = a[i + 1] - b[i + 1];
    const bl = a[i + 2] - b[i + 2];
    sum += r * r + g * g + bl * bl;
  }
  const mse = sum / ((a.length / 4) * 3);
  return mse === 0 ? Infinity : 10 * Math.log10((255 * 255) / mse);
}

const handlers = {
  // A file's bytes: decoded when it is PLIX; otherwise { plix: false } and
  // the page tries the browser's decoders.
  async open({ id, bytes }) {
    let info;
    try {
      info = readInfo(bytes);
    } catch {
      return { plix: false };
    }
    progress(id, 10, "decoding");
    const picture = decode(bytes);
    original = { width: picture.width, height: picture.height, data: picture.data.slice() };
    return { plix: true, info, picture, transfer: [picture.data.buffer] };
  },
  // Pixels the browser decoded: kept for encoding.
  async source({ width, height, data }) {
    original = { width, height, data };
    return {};
  },
  async encode({ id, settings }) {
    if (!original) throw new Error("no picture is open");
    progress(id, 5, "encoding");
    const bytes = encode(original, settings);
    progress(id, 50, "decoding the result");
    const picture = decode(bytes);
    progress(id, 90, "measuring");
    const quality = psnr(original.data, picture.data);
    const copy = bytes.slice();
    return { bytes: copy, picture, psnr: quality, transfer: [copy.buffer, picture.data.buffer] };
  },
};

onmessage = async (event) => {
  const { type, id } = event.data;
  try {
    await ready;
    const { transfer = [], ...result } = await handlers[type](event.data);
    postMessage({ type: "done", id, ...result }, transfer);
  } catch (e) {
    postMessage({ type: "failed", id, message: e && e.message ? e.message : String(e) });
  }
};
