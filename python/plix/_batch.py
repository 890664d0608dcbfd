"""Whole folder trees converted on a Dask cluster, one task per picture.

The client walks the source tree and decides what to do; each task reads its
input and writes its output itself, so workers need paths they all see (a
shared file system on a real cluster), and only results travel back."""
import argparse
import json
import logging
import os
import sys
import struct
import time
import uuid
import warnings
import zlib

import numpy as np

from . import _codec

REPORT = "plix-batch-report.json"
PLIX_INPUTS = (".plx", ".plix")
PICTURE_INPUTS = (".png", ".bmp", ".jpg", ".jpeg")
SUFFIX = {"png": ".png", "bmp": ".bmp", "plix": ".plx"}
_PART = ".part"
PNG_BAND_BYTES = 1 << 22  # rows deflated at a time


def parse_args(argv):
    p = argparse.ArgumentParser(
        prog="python3 -m plix.batch",
        description="Converts every picture under SRC into the same tree under DST, one Dask "
                    "task per picture: PLIX to PNG or BMP, or PNG, BMP and JPEG to PLIX.")
    p.add_argument("src", metavar="SRC", help="folder walked recursively")
    p.add_argument("dst", metavar="DST", help="folder the outputs go to (created)")
    p.add_argument("--to", required=True, choices=("png", "bmp", "plix"))
    p.add_argument("--qfactor", type=int, default=None, help="0 (finest, default) to 15")
    p.add_argument("--matrix", default=None, help="plix (default), jpeg, cg or 0 to 2")
    p.add_argument("--mode", default=None, help="yuv (default) or rgb")
    where = p.add_mutually_exclusive_group()
    where.add_argument("--workers", type=int, default=None,
                       help="worker processes of a local cluster (default: one per core)")
    where.add_argument("--scheduler", metavar="tcp://HOST:PORT",
                       help="an existing cluster's scheduler")
    p.add_argument("--png-compression", type=int, default=1, metavar="N",
                   help="PNG: 0 none, 1 fast (default), 2 to 9 smaller and slower (zlib's levels)")
    p.add_argument("--max-pixels", type=int, default=_codec.DEFAULT_MAX_PIXELS,
                   help="larger pictures fail before they are decoded (default 2^28)")
    p.add_argument("--force", action="store_true", help="redo outputs that exist")
    p.add_argument("--quiet", action="store_true", help="no progress line")
    args = p.parse_args(argv)
    settings = (args.qfactor, args.matrix, args.mode)
    if args.to != "plix" and any(s is not None for s in settings):
        p.error("--qfactor, --matrix and --mode apply to --to plix only")
    try:
        args.options = _codec.encode_options(
            args.qfactor or 0, args.matrix if args.matrix is not None else "plix",
            args.mode or "yuv")
    except (TypeError, ValueError) as e:
        p.error(str(e))
    if not 0 <= args.png_compression <= 9:
        p.error("--png-compression must be 0 to 9")
    if args.png_compression != 1 and args.to != "png":
        p.error("--png-compression applies to --to png only")
    if args.max_pixels < 1:
        p.error("--max-pixels must be at least 1")
    if args.workers is not None and args.workers < 1:
        p.error("--workers must be at least 1")
    if not os.path.isdir(args.src):
        p.error("SRC is not a folder: %s" % args.src)
    return args


def plan(src, dst, to):
    """(jobs, problems): a job per input in walk order, with its output path;
    problems are (relative path, reason) for what cannot even be tried."""
    src, dst = os.path.abspath(src), os.path.abspath(dst)
    inputs = PLIX_INPUTS if to in ("png", "bmp") else PICTURE_INPUTS
    jobs, problems, claimed = [], [], {}

    def unreadable(error):
        problems.append((os.path.relpath(error.filename, src), error.strerror or str(error)))

    for folder, dirs, files in os.walk(src, onerror=unreadable):
        dirs.sort()
        # Outputs inside the source tree are not inputs.
        dirs[:] = [d for d in dirs if os.path.join(folder, d) != dst]
        for name in sorted(files):
            stem, ext = os.path.splitext(name)
            if ext.lower() not in inputs:
                continue
            rel = os.path.relpath(os.path.join(folder, name), src)
            out_rel = os.path.join(os.path.dirname(rel), stem + SUFFIX[to])
            if out_rel in claimed:
                problems.append((rel, "its output %s is also %s's" % (out_rel, claimed[out_rel])))
                continue
            claimed[out_rel] = rel
            jobs.append({"rel": rel, "src": os.path.join(src, rel),
                         "dst": os.path.join(dst, out_rel)})
    return jobs, problems


def write_atomically(path, write):
    """Writes under a hidden name beside path, then renames: a reader never
    sees half a file."""
    folder, base = os.path.split(path)
    os.makedirs(folder, exist_ok=True)
    part = os.path.join(folder, ".%s.%s%s" % (base, uuid.uuid4().hex[:12], _PART))
    try:
        with open(part, "xb") as f:
            write(f)
        os.replace(part, path)
    except BaseException:
        try:
            os.unlink(part)
        except OSError:
            pass
        raise


def sweep_parts(path):
    """Removes what killed tasks left beside path."""
    folder, base = os.path.split(path)
    prefix = ".%s." % base
    try:
        names = os.listdir(folder)
    except OSError:
        return
    for name in names:
        token = name[len(prefix):-len(_PART)]
        if name.startswith(prefix) and name.endswith(_PART) and len(token) == 12:
            try:
                os.unlink(os.path.join(folder, name))
            except OSError:
                pass


def write_bmp(f, a):
    """A 24-bit bottom-up BMP with a 40-byte header, as the codec writes."""
    height, width = a.shape[:2]
    row = (width * 3 + 3) & ~3
    size = 54 + row * height
    if size > 0xFFFFFFFF or width > 0x7FFFFFFF:
        raise ValueError("%d x %d pixels is too large for a BMP file" % (width, height))
    f.write(b"BM" + size.to_bytes(4, "little") + bytes(4) + (54).to_bytes(4, "little")
            + (40).to_bytes(4, "little") + width.to_bytes(4, "little")
            + height.to_bytes(4, "little") + (1).to_bytes(2, "little")
            + (24).to_bytes(2, "little") + bytes(24))
    chunk = max(1, (1 << 22) // max(row, 1))
    for top in range(height, 0, -chunk):
        rows = a[max(0, top - chunk):top][::-1, :, 2::-1]
        block = np.zeros((rows.shape[0], row), np.uint8)
        block[:, :width * 3] = rows.reshape(rows.shape[0], width * 3)
        f.write(block.data)


def _png_chunk(f, kind, data):
    f.write(struct.pack(">I", len(data)) + kind)
    f.write(data)
    f.write(struct.pack(">I", zlib.crc32(data, zlib.crc32(kind))))


def write_png(f, a, level=1):
    """An 8-bit RGB PNG: every row filtered by the row above (one array
    operation, and most of zlib's gain on photographs at a fraction of the
    adaptive filters' time), deflated at zlib's level, band after band so
    that the extra memory stays a few MiB."""
    height, width = a.shape[:2]
    if not (0 < width < 1 << 31 and 0 < height < 1 << 31):
        raise ValueError("%d x %d pixels cannot be a PNG file" % (width, height))
    f.write(b"\x89PNG\r\n\x1a\n")
    _png_chunk(f, b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
    flat = a.reshape(height, width * 3)
    method = 2 if level else 0  # "up", or none when not compressing
    deflater = zlib.compressobj(level)
    band = max(1, PNG_BAND_BYTES // (width * 3 + 1))
    rows = np.empty((min(band, height), width * 3 + 1), np.uint8)
    rows[:, 0] = method
    for top in range(0, height, band):
        n = min(band, height - top)
        out = rows[:n, 1:]
        if method == 0:
            out[:] = flat[top:top + n]
        else:
            if top == 0:
                out[0] = flat[0]
            else:
                np.subtract(flat[top], flat[top - 1], out=out[0])
            np.subtract(flat[top + 1:top + n], flat[top:top + n - 1], out=out[1:])
        data = deflater.compress(rows[:n])
        if top + n == height:
            data += deflater.flush()
        if data:
            _png_chunk(f, b"IDAT", data)
    _png_chunk(f, b"IEND", b"")


def read_picture(path, max_pixels):
    """An input picture through Pillow, its size checked before its pixels
    are read: a Pillow image in a mode the PLIX plugin codes in place (RGB,
    RGBA, RGBX), or a (height, width, 3) uint8 array where Pillow's pixels
    are not the ones wanted."""
    from PIL import Image
    saved = Image.MAX_IMAGE_PIXELS
    Image.MAX_IMAGE_PIXELS = max_pixels  # only its error is ours below
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", Image.DecompressionBombWarning)
            im = Image.open(path)
    except Image.DecompressionBombError:
        raise _codec.PlixError(-3, "more than %d pixels" % max_pixels) from None
    finally:
        Image.MAX_IMAGE_PIXELS = saved
    width, height = im.size
    if width * height > max_pixels:
        im.close()
        raise _codec.PlixError(-3, "%d x %d pixels" % (width, height))
    rawmode = im.tile[0][3][0] if im.tile and im.tile[0][3] else None
    im.load()
    if im.format == "BMP" and rawmode in ("BGR;15", "BGR;16"):
        # 16-bit BMP samples: the codec's BMP import puts them at the top of
        # the byte with zeros below; Pillow scales them to 0..255, whose top
        # bits are the same.
        mask = np.array([0xF8, 0xFC if rawmode == "BGR;16" else 0xF8, 0xF8], np.uint8)
        return np.asarray(im.convert("RGB")) & mask
    if im.mode.startswith("I"):
        # 16-bit grey: the nearest 8-bit value, as the plix tool takes it.
        v = np.asarray(im).astype(np.int64).clip(0, 65535)
        return np.repeat(((v * 255 + 32767) // 65535).astype(np.uint8)[..., None], 3, axis=2)
    return im if im.mode in ("RGB", "RGBA", "RGBX") else im.convert("RGB")


def convert(job, to, options, max_pixels, png_compression=1):
    """One picture; never raises, so that the client learns every outcome."""
    start, cpu = time.perf_counter(), time.thread_time()
    result = {"rel": job["rel"], "status": "done", "pixels": 0}
    try:
        if to == "plix":
            picture = read_picture(job["src"], max_pixels)
            if isinstance(picture, np.ndarray):
                data = _codec.encode(picture, options["qfactor"], options["matrix"],
                                     options["mode"])
                write_atomically(job["dst"], lambda f: f.write(data))
                height, width = picture.shape[:2]
            else:
                # The plugin codes the image's own rows, no array between.
                write_atomically(job["dst"], lambda f: picture.save(
                    f, format="PLIX", q_factor=options["qfactor"], matrix=options["matrix"],
                    colour_mode=options["mode"]))
                width, height = picture.size
        else:
            with open(job["src"], "rb") as f:
                data = f.read()
            with warnings.catch_warnings(record=True) as caught:
                warnings.simplefilter("always", _codec.TruncatedWarning)
                a = _codec.decode(data, max_pixels=max_pixels)
            for w in caught:
                if issubclass(w.category, _codec.TruncatedWarning):
                    result["warning"] = "data ends after %d of %d blocks; the rest is filler" % (
                        w.message.blocks_present, w.message.blocks)
            if to == "png":
                write_atomically(job["dst"], lambda f: write_png(f, a, png_compression))
            else:
                write_atomically(job["dst"], lambda f: write_bmp(f, a))
            height, width = a.shape[:2]
        result["pixels"] = int(width) * int(height)
    except Exception as e:  # recorded in the report; the run goes on
        result["status"] = "failed"
        result["reason"] = str(e) or type(e).__name__
        if isinstance(e, OSError) and e.strerror:
            result["reason"] = e.strerror + (": " + e.filename if e.filename else "")
    result["seconds"] = time.perf_counter() - start
    result["cpu_seconds"] = time.thread_time() - cpu
    return result


def _size(path):
    try:
        return os.path.getsize(path)
    except OSError:
        return 0


class Progress:
    """A line on standard error: updated in place on a terminal, printed at
    every tenth of the files otherwise."""

    def __init__(self, total, quiet):
        self.total, self.quiet = total, quiet
        self.tty = sys.stderr.isatty()
        self.shown, self.step = 0.0, 0

    def update(self, counts, pixels, elapsed, final=False):
        if self.quiet or not self.total:
            return
        finished = sum(counts.values())
        line = "%d/%d files: %d done, %d skipped, %d failed, %.1f MP/s" % (
            finished, self.total, counts["done"], counts["skipped"], counts["failed"],
            pixels / 1e6 / max(elapsed, 1e-9))
        now = time.monotonic()
        if self.tty:
            if final or now - self.shown >= 0.1:
                sys.stderr.write("\r\033[K" + line + ("\n" if final else ""))
                sys.stderr.flush()
                self.shown = now
        else:
            step = finished * 10 // self.total
            if step > self.step or (final and finished < self.total):
                sys.stderr.write(line + "\n")
                sys.stderr.flush()
                self.step = step


def start_client(args, tasks):
    from distributed import Client, LocalCluster
    if args.scheduler:
        return Client(args.scheduler, timeout="20s"), None, args.scheduler
    workers = min(args.workers or os.cpu_count() or 1, tasks)
    cluster = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                           dashboard_address=None, silence_logs=logging.ERROR)
    return Client(cluster), cluster, "local cluster of %d worker processes" % workers


def run(args):
    from distributed import as_completed
    src, dst = os.path.abspath(args.src), os.path.abspath(args.dst)
    jobs, problems = plan(src, dst, args.to)
    os.makedirs(dst, exist_ok=True)
    counts = {"done": 0, "skipped": 0, "failed": len(problems)}
    failures = [{"file": rel, "reason": why} for rel, why in problems]
    warned = []
    todo = []
    for job in jobs:
        if not args.force and os.path.lexists(job["dst"]):
            counts["skipped"] += 1
        else:
            todo.append(job)
    # Largest first, so that no worker is left with a big picture at the end
    # while the others wait.
    todo.sort(key=lambda job: -_size(job["src"]))
    total = len(jobs) + len(problems)
    progress = Progress(total, args.quiet)
    options = {"qfactor": args.options.qfactor, "matrix": args.options.matrix,
               "mode": args.options.mode}
    pixels, elapsed, cpu, where = 0, 0.0, 0.0, None
    if todo:
        client, cluster, where = start_client(args, len(todo))
        try:
            run_id = uuid.uuid4().hex[:8]
            start = time.perf_counter()
            futures = client.map(convert, todo, to=args.to, options=options,
                                 max_pixels=args.max_pixels,
                                 png_compression=args.png_compression, pure=False,
                                 key=["plix-batch-%s-%08d" % (run_id, i)
                                      for i in range(len(todo))])
            by_key = {f.key: job for f, job in zip(futures, todo)}
            for future, result in as_completed(futures, with_results=True, raise_errors=False):
                if not isinstance(result, dict):  # the task itself was lost
                    result = {"rel": by_key[future.key]["rel"], "status": "failed",
                              "reason": "%s: %s" % (type(result).__name__, result)}
                counts[result["status"]] += 1
                cpu += result.get("cpu_seconds", 0.0)
                if result["status"] == "failed":
                    failures.append({"file": result["rel"], "reason": result["reason"]})
                else:
                    pixels += result["pixels"]
                    if "warning" in result:
                        warned.append({"file": result["rel"], "warning": result["warning"]})
                progress.update(counts, pixels, time.perf_counter() - start)
            elapsed = time.perf_counter() - start
        finally:
            client.close()
            if cluster is not None:
                cluster.close()
        for job in todo:
            sweep_parts(job["dst"])
    progress.update(counts, pixels, elapsed, final=True)
    failures.sort(key=lambda f: f["file"])
    warned.sort(key=lambda f: f["file"])
    report = {
        "source": src, "destination": dst, "to": args.to,
        "settings": options if args.to == "plix" else None,
        "max_pixels": args.max_pixels, "cluster": where,
        "files": total, **counts,
        "megapixels": round(pixels / 1e6, 3), "seconds": round(elapsed, 3),
        # Processor time of the tasks themselves, whatever else ran.
        "task_cpu_seconds": round(cpu, 3),
        "megapixels_per_second": round(pixels / 1e6 / elapsed, 2) if elapsed else None,
        "failures": failures, "warnings": warned,
    }
    path = os.path.join(dst, REPORT)
    text = json.dumps(report, indent=2) + "\n"
    write_atomically(path, lambda f: f.write(text.encode()))
    print("%d files: %d done, %d skipped, %d failed; %.1f MP in %.1f s, %.1f MP/s; report %s"
          % (total, counts["done"], counts["skipped"], counts["failed"], pixels / 1e6, elapsed,
             pixels / 1e6 / elapsed if elapsed else 0.0, path))
    return 1 if counts["failed"] else 0


def main(argv=None):
    args = parse_args(sys.argv[1:] if argv is None else argv)
    try:
        return run(args)
    except KeyboardInterrupt:
        print("interrupted: outputs written so far are complete; run again to go on",
              file=sys.stderr)
        return 130
    except OSError as e:
        print("plix.batch: %s" % e, file=sys.stderr)
        return 1
