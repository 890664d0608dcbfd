#!/usr/bin/env python3
"""Checks a cross-built PLIX.dll and the programs beside it, from outside:
the DLL exports exactly PLIX_Constructor and PLIX_Destructor, every program
imports only system DLLs (objdump -p), and the DLL's version resource, read
straight from the file, holds the version texts.

Usage: check_dll.py OBJDUMP BIN-FOLDER
"""
import os
import re
import struct
import subprocess
import sys

SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "ntdll.dll", "user32.dll", "advapi32.dll"}
EXPECTED_STRINGS = {"FileVersion": "0.08", "ProductVersion": "Build 0088", "InternalName": "PLIX"}

failures = []


def check(cond, what):
    if not cond:
        failures.append(what)


def objdump(tool, path):
    return subprocess.run([tool, "-p", path], check=True, capture_output=True, text=True).stdout


def exports(dump):
    m = re.search(r"\[Ordinal/Name Pointer\] Table\n((?:\s+\[\s*\d+\]\s+\S+\n)*)", dump)
    return [] if not m else re.findall(r"\]\s+(\S+)", m.group(1))


def imports(dump):
    return [n.lower() for n in re.findall(r"DLL Name: (\S+)", dump)]


def sections(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[pe:pe + 4] == b"PE\0\0", "not a PE file"
    count = struct.unpack_from("<H", data, pe + 6)[0]
    opt_size = struct.unpack_from("<H", data, pe + 20)[0]
    table = pe + 24 + opt_size
    out = []
    for i in range(count):
        name, vsize, va, rawsize, rawptr = struct.unpack_from("<8sIIII", data, table + 40 * i)
        out.append((name.rstrip(b"\0").decode(), va, max(vsize, rawsize), rawptr))
    return out


def version_resource(data):
    """The bytes of the first RT_VERSION resource."""
    secs = sections(data)
    rsrc = next(s for s in secs if s[0] == ".rsrc")
    _, base_va, _, base = rsrc

    def entries(offset):
        named, ids = struct.unpack_from("<HH", data, base + offset + 12)
        for i in range(named + ids):
            yield struct.unpack_from("<II", data, base + offset + 16 + 8 * i)

    def first_leaf(offset):
        _, target = next(entries(offset))
        return first_leaf(target & 0x7FFFFFFF) if target & 0x80000000 else target

    for ident, target in entries(0):
        if ident == 16:  # RT_VERSION
            leaf = first_leaf(target & 0x7FFFFFFF)
            rva, size = struct.unpack_from("<II", data, base + leaf)
            start = base + rva - base_va
            return data[start:start + size]
    raise AssertionError("no version resource")


def parse_node(blob, offset):
    """One VS_VERSIONINFO-style node: (key, value, children)."""
    length, value_length, vtype = struct.unpack_from("<HHH", blob, offset)
    end = offset + length
    pos = offset + 6
    key_end = pos
    while blob[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = blob[pos:key_end].decode("utf-16-le")
    pos = (key_end + 2 + 3) & ~3
    if vtype == 1:
        value = blob[pos:pos + 2 * value_length].decode("utf-16-le").rstrip("\0")
        pos += 2 * value_length
    else:
        value = blob[pos:pos + value_length]
        pos += value_length
    pos = (pos + 3) & ~3
    children = []
    while pos < end:
        child, pos_next = parse_node(blob, pos)
        children.append(child)
        pos = (pos_next + 3) & ~3
    return (key, value, children), end


def strings_of(node, out):
    key, value, children = node
    if not children and isinstance(value, str):
        out[key] = value
    for c in children:
        strings_of(c, out)
    return out


def main():
    tool, folder = sys.argv[1], sys.argv[2]
    dll = os.path.join(folder, "PLIX.dll")
    dump = objdump(tool, dll)
    check(sorted(exports(dump)) == ["PLIX_Constructor", "PLIX_Destructor"],
          f"PLIX.dll exports {exports(dump)}")
    for name in sorted(os.listdir(folder)):
        if name.lower().endswith((".dll", ".exe")):
            extra = set(imports(objdump(tool, os.path.join(folder, name)))) - SYSTEM_DLLS
            check(not extra, f"{name} imports {sorted(extra)}")

    with open(dll, "rb") as f:
        data = f.read()
    root, _ = parse_node(version_resource(data), 0)
    check(root[0] == "VS_VERSION_INFO", f"version resource key {root[0]!r}")
    fixed = root[1]
    check(len(fixed) >= 52 and struct.unpack_from("<I", fixed, 0)[0] == 0xFEEF04BD,
          "fixed file information")
    strings = strings_of(root, {})
    for key, value in EXPECTED_STRINGS.items():
        check(strings.get(key) == value, f"{key} is {strings.get(key)!r}, not {value!r}")

    if failures:
        for f in failures:
            print("FAIL", f)
        return 1
    print(f"{dll}: exports {sorted(exports(dump))}, version {strings.get('FileVersion')!r}, "
          f"{strings.get('ProductVersion')!r}, internal name {strings.get('InternalName')!r}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
