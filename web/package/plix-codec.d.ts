/** PLIX pictures through the PLIX library compiled to WebAssembly. */

/** The header's facts. */
export interface PlixInfo {
  width: number;
  height: number;
  /** 0 YUV, 1 RGB */
  mode: number;
  /** 0 PLIX, 1 JPEG, 2 CG */
  matrix: number;
  /** 0 (finest) to 15 as stored */
  qfactor: number;
  /** Component blocks of the picture: 3 x block positions. */
  blocks: number;
}

/** A decoded picture; `new ImageData(data, width, height)` takes it. */
export interface PlixPicture {
  width: number;
  height: number;
  /** RGBA, 4 bytes a pixel, rows top-down, alpha 255. */
  data: Uint8ClampedArray;
  /** Whole component blocks the data held. */
  blocksPresent: number;
  /** The data ended early: the rest of the picture is the format's filler. */
  truncated: boolean;
}

export interface DecodeOptions {
  /** Pictures of more pixels are refused before anything is allocated; default 2^28. */
  maxPixels?: number;
}

export interface EncodeOptions {
  /** 0 (finest, the default) to 15. */
  qfactor?: number;
  /** Quantisation matrix set: 0 or "plix" (the default), 1 or "jpeg", 2 or "cg". */
  matrix?: number | "plix" | "jpeg" | "cg";
  /** 0 or "yuv" (the default), 1 or "rgb". */
  mode?: number | "yuv" | "rgb";
}

/** RGBA pixels, rows top-down; alpha is ignored. ImageData fits. */
export interface RgbaImage {
  width: number;
  height: number;
  data: Uint8Array | Uint8ClampedArray | ArrayBuffer | ArrayBufferView;
}

/** Thrown for bad input; `code` is the library's result (<plix/codec.h>), -1 for an argument. */
export class PlixError extends Error {
  code: number;
}

/**
 * Loads the WebAssembly module: plix-wasm.wasm beside the package's module by
 * default, or the given URL, Response, bytes or compiled module. Must be
 * awaited once before the other functions.
 */
export function init(source?: string | URL | Response | ArrayBuffer | ArrayBufferView | WebAssembly.Module): Promise<void>;

/** Reads the 16-byte header only. Throws when it is not a PLIX file. */
export function readInfo(bytes: Uint8Array | ArrayBuffer | ArrayBufferView): PlixInfo;

/** Decodes a whole PLIX file to RGBA; a truncated file decodes with `truncated: true`. */
export function decode(bytes: Uint8Array | ArrayBuffer | ArrayBufferView, options?: DecodeOptions): PlixPicture;

/** Encodes RGBA pixels to the bytes of a PLIX file. */
export function encode(image: RgbaImage, options?: EncodeOptions): Uint8Array;

/** Bytes the module's heap holds now; above 64 MiB it is given back once the module has been idle for a second. */
export function heapSize(): number;
