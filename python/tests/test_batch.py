"""python3 -m plix.batch as a user runs it: on a local cluster of worker
processes, and on a dask-scheduler with dask-worker processes started here,
one of them killed mid-run. Expected pictures come from the conformance
vectors; the block counts of cut files from plx_blocks."""
import json
import os
import re
import signal
import socket
import subprocess
import sys
import time

import numpy as np
import pytest
from PIL import Image

import plix
from conformance import ROOT, cases, expected_pixels, plx_blocks, read, source_pixels

HUGE = b"PLIX\0\0\0\0" + (20000).to_bytes(4, "little") * 2


def batch(*args, timeout=300):
    return subprocess.run([sys.executable, "-m", "plix.batch", *map(str, args)],
                          capture_output=True, text=True, timeout=timeout)


def report(dst):
    return json.loads((dst / "plix-batch-report.json").read_text())


def leftovers(dst):
    return [p for p in dst.rglob(".*") if p.name.endswith(".part")]


def test_plix_tree_to_png_and_bmp(tmp_path):
    src = tmp_path / "src"
    good = {}
    for i, case in enumerate(cases()):
        rel = os.path.join(("a", "b/c", "")[i % 3], case["name"] + (".plx", ".plix")[i % 2])
        (src / rel).parent.mkdir(parents=True, exist_ok=True)
        (src / rel).write_bytes(read(case["plx"]))
        good[os.path.splitext(rel)[0]] = case
    data = read("cases/mix_100x75_m0_q0_x0.plx")
    ends, total = plx_blocks.block_ends(data)
    cuts = {"cut/short%d" % n: n for n in (0, 500)}
    for stem, n in cuts.items():
        (src / stem).parent.mkdir(exist_ok=True)
        (src / (stem + ".plx")).write_bytes(data[:16 + n])
    junk = {"junk/random.plx": np.random.default_rng(2).bytes(3000), "junk/empty.plx": b"",
            "junk/bmp.plx": read("images/mix_100x75.bmp"), "junk/huge.plx": HUGE}
    (src / "junk").mkdir()
    for rel, content in junk.items():
        (src / rel).write_bytes(content)
    (src / "notes.txt").write_text("not a picture")

    png = tmp_path / "png"
    r = batch(src, png, "--to", "png", "--workers", 2)
    assert r.returncode == 1, r.stderr
    for stem, case in good.items():
        im = Image.open(png / (stem + ".png"))
        np.testing.assert_array_equal(np.asarray(im), expected_pixels(case), err_msg=stem)
    rep = report(png)
    n = len(good) + len(cuts) + len(junk)
    assert (rep["files"], rep["done"], rep["skipped"], rep["failed"]) == \
        (n, len(good) + len(cuts), 0, len(junk))
    reasons = {f["file"]: f["reason"] for f in rep["failures"]}
    assert set(reasons) == set(junk)
    assert "not a PLIX file" in reasons["junk/random.plx"]
    assert "larger than the pixel limit" in reasons["junk/huge.plx"]
    warned = {w["file"]: w["warning"] for w in rep["warnings"]}
    for stem, cut in cuts.items():
        whole = sum(1 for e in ends if e <= cut * 8)
        assert warned[stem + ".plx"] == \
            "data ends after %d of %d blocks; the rest is filler" % (whole, total)
        with pytest.warns(plix.TruncatedWarning):
            want = plix.decode(data[:16 + cut])
        np.testing.assert_array_equal(np.asarray(Image.open(png / (stem + ".png"))), want)
    assert "crafted_truncated_mid" in " ".join(warned)
    assert not (png / "junk").exists() or not list((png / "junk").iterdir())
    assert not leftovers(png) and not (png / "notes.png").exists()
    # Again: every output is there already, the junk fails again.
    r = batch(src, png, "--to", "png", "--workers", 2)
    rep = report(png)
    assert (r.returncode, rep["done"], rep["skipped"], rep["failed"]) == \
        (1, 0, len(good) + len(cuts), len(junk)), r.stderr

    # BMP: the codec's own 24-bit files, byte for byte.
    bmp = tmp_path / "bmp"
    r = batch(src, bmp, "--to", "bmp", "--workers", 1, "--max-pixels", 100 * 80)
    assert r.returncode == 1
    for stem, case in good.items():
        assert (bmp / (stem + ".bmp")).read_bytes() == read(case["expected_bmp"]), stem


def test_pictures_to_plix(tmp_path):
    src = tmp_path / "src"
    (src / "png").mkdir(parents=True)
    (src / "bmp").mkdir()
    want = {}
    for case in cases("encode"):
        if (case["mode"], case["qfactor"], case["matrix"]) != ("0", "4", "0"):
            continue
        name = os.path.basename(case["input_bmp"])[:-4]
        (src / "bmp" / (name + ".BMP")).write_bytes(read(case["input_bmp"]))
        want["bmp/" + name] = read(case["plx"])
        pixels = source_pixels(case["input_bmp"])
        rgba = np.dstack([pixels, np.arange(pixels.size // 3, dtype=np.uint8).reshape(
            pixels.shape[:2])])
        Image.fromarray(rgba).save(src / "png" / (name + ".png"))
        want["png/" + name] = read(case["plx"])
    photo = np.asarray(Image.open(os.path.join(ROOT, "samples", "coffee_600x400.bmp")))
    Image.fromarray(photo[:64, :80]).save(src / "photo.jpg", quality=90)
    want["photo"] = plix.encode(np.asarray(Image.open(src / "photo.jpg")), qfactor=4)
    # A clash, a picture over the limit and junk.
    (src / "photo.png").write_bytes((src / "png" / "mix_100x75.png").read_bytes())
    Image.new("RGB", (101, 75)).save(src / "big.png")
    (src / "junk.png").write_bytes(b"\x89PNG\r\n\x1a\n" + bytes(40))

    dst = tmp_path / "dst"
    r = batch(src, dst, "--to", "plix", "--qfactor", 4, "--matrix", "plix", "--workers", 2,
              "--max-pixels", 7500)
    assert r.returncode == 1, r.stderr
    for stem, data in want.items():
        assert (dst / (stem + ".plx")).read_bytes() == data, stem
    rep = report(dst)
    reasons = {f["file"]: f["reason"] for f in rep["failures"]}
    assert set(reasons) == {"photo.png", "big.png", "junk.png"}
    assert "photo.jpg" in reasons["photo.png"]
    assert "larger than the pixel limit" in reasons["big.png"]
    assert (rep["done"], rep["settings"]) == (len(want), {"qfactor": 4, "matrix": 0, "mode": 0})


@pytest.mark.parametrize("args", [
    ["--to", "gif"], ["--to", "png", "--qfactor", "3"], ["--to", "plix", "--qfactor", "16"],
    ["--to", "plix", "--matrix", "png"], ["--to", "png", "--workers", "2", "--scheduler", "x"],
    ["--to", "png", "--workers", "0"], ["--to", "png", "--png-compression", "10"],
    ["--to", "bmp", "--png-compression", "3"],
])
def test_usage_errors_exit_2(tmp_path, args):
    r = batch(tmp_path, tmp_path / "out", *args)
    assert r.returncode == 2 and "usage" in r.stderr
    assert batch(tmp_path / "none", tmp_path / "out", "--to", "png").returncode == 2


@pytest.mark.parametrize("level", [0, 1, 9])
def test_png_writer_read_back_by_pillow(tmp_path, monkeypatch, level):
    """Pictures cut into several bands of rows, one of a single row, and
    pictures one pixel wide or high read back as written."""
    from plix import _batch
    monkeypatch.setattr(_batch, "PNG_BAND_BYTES", 700)
    rng = np.random.default_rng(level)
    smooth = np.cumsum(rng.integers(0, 3, (61, 77, 3)), axis=1).astype(np.uint8)
    for a in (smooth, rng.integers(0, 256, (23, 40, 3), np.uint8), smooth[:1], smooth[:, :1],
              smooth[:, ::-2]):
        path = tmp_path / "p.png"
        with open(path, "wb") as f:
            _batch.write_png(f, a, level)
        with Image.open(path) as im:
            im.load()
            assert (im.mode, im.size) == ("RGB", (a.shape[1], a.shape[0]))
            np.testing.assert_array_equal(np.asarray(im), a)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def test_on_a_scheduler_with_a_worker_killed_mid_run(tmp_path):
    src, dst = tmp_path / "src", tmp_path / "dst"
    photo = np.asarray(Image.open(os.path.join(ROOT, "samples", "coffee_600x400.bmp")))
    tile = np.tile(photo, (3, 3, 1))
    count = 16
    for i in range(count):
        folder = src / ("part%d" % (i % 4))
        folder.mkdir(parents=True, exist_ok=True)
        (folder / ("p%02d.plx" % i)).write_bytes(plix.encode(np.roll(tile, 37 * i, axis=1)))

    port = free_port()
    address = "tcp://127.0.0.1:%d" % port
    common = ["--no-dashboard"]
    log = open(tmp_path / "scheduler.log", "w")
    procs = [subprocess.Popen(["dask-scheduler", "--host", "127.0.0.1", "--port", str(port),
                               *common], stdout=subprocess.DEVNULL, stderr=log)]
    try:
        for _ in range(2):
            procs.append(subprocess.Popen(
                ["dask-worker", address, "--host", "127.0.0.1", "--nthreads", "1",
                 "--no-nanny", "--death-timeout", "60", *common],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        from distributed import Client
        with Client(address, timeout="60s") as client:
            client.wait_for_workers(2, timeout=60)
        run = subprocess.Popen([sys.executable, "-m", "plix.batch", src, dst, "--to", "png",
                                "--scheduler", address], stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, text=True)
        # Once work is under way, one worker dies without warning.
        deadline = time.monotonic() + 120
        while not list(dst.rglob("*.png")) and time.monotonic() < deadline:
            time.sleep(0.05)
        killed_while_running = run.poll() is None
        procs[1].send_signal(signal.SIGKILL)
        out, err = run.communicate(timeout=300)
        assert killed_while_running
        assert run.returncode == 0, err
        rep = report(dst)
        assert (rep["files"], rep["done"], rep["failed"]) == (count, count, 0), rep
        assert rep["cluster"] == address
        for p in sorted(src.rglob("*.plx")):
            out_png = dst / p.relative_to(src).with_suffix(".png")
            np.testing.assert_array_equal(np.asarray(Image.open(out_png)), plix.decode(p))
        assert not leftovers(dst)
        # The scheduler saw the worker go with tasks in hand.
        assert re.search(r"Remove worker .* processing: [1-9]",
                         (tmp_path / "scheduler.log").read_text())
    finally:
        log.close()
        for p in reversed(procs):
            if p.poll() is None:
                p.terminate()
        for p in procs:
            try:
                p.wait(timeout=20)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
