#!/usr/bin/env python3
"""Copies a conformance vector set into tests/data/conformance and writes
cases.tsv, the index the tests read (one case a line, tab-separated).

Usage: scripts/import_conformance.py SOURCE_DIR
SOURCE_DIR holds manifest.json, cases/ and images/.
"""
import hashlib
import json
import os
import shutil
import sys

FIELDS = ["name", "kind", "mode", "qfactor", "matrix", "width", "height",
          "padded_width", "padded_height", "plx", "expected_bmp",
          "expected_buffer", "input_bmp"]


def main():
    src = sys.argv[1]
    dst = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "data", "conformance")
    dst = os.path.normpath(dst)
    with open(os.path.join(src, "manifest.json")) as f:
        manifest = json.load(f)
    os.makedirs(os.path.join(dst, "cases"), exist_ok=True)
    os.makedirs(os.path.join(dst, "images"), exist_ok=True)
    rows = []
    for case in manifest["cases"]:
        if not case.get("strict", True):
            continue
        files = {
            "plx": case["plx"]["file"],
            "expected_bmp": case["expected_bmp"]["file"],
            "expected_buffer": case["expected_buffer"]["file"],
            "input_bmp": case.get("input_bmp", ""),
        }
        for key in ("plx", "expected_bmp", "expected_buffer"):
            path = os.path.join(src, files[key])
            digest = hashlib.sha256(open(path, "rb").read()).hexdigest()
            if digest != case[key]["sha256"]:
                sys.exit("checksum mismatch: " + path)
        for rel in files.values():
            if rel:
                shutil.copyfile(os.path.join(src, rel), os.path.join(dst, rel))
        row = dict(case)
        row.update(files)
        rows.append("\t".join(str(row.get(k, "")) for k in FIELDS))
    with open(os.path.join(dst, "cases.tsv"), "w") as f:
        f.write("#" + "\t".join(FIELDS) + "\n")
        f.write("\n".join(rows) + "\n")
    print(f"{len(rows)} cases copied to {dst}")


if __name__ == "__main__":
    main()
