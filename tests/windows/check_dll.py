#!/usr/bin/env python3
"""Checks a cross-built PLIX.dll and the programs beside it, from outside:
the DLL exports exactly PLIX_Constructor and PLIX_Destructor, plixcodec.dll
exactly the plix_ functions its header declares, plixwic.dll exactly the four
COM entry points; every program imports only system DLLs (objdump -p), and
the version resources, read straight from the files, hold the version texts.

Usage: check_dll.py OBJDUMP BIN-FOLDER [codec.h]
"""
import os
import re
import struct
import subprocess
import sys

SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "ntdll.dll", "user32.dll", "advapi32.dll",
               "ole32.dll", "oleaut32.dll"}
COM_EXPORTS = ["DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer", "DllUnregisterServer"]
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
            # DLLs need only the system's; programs may link plixcodec.dll.
            allowed = SYSTEM_DLLS | ({"plixcodec.dll"} if name.lower().endswith(".exe") else set())
            extra = set(imports(objdump(tool, os.path.join(folder, name)))) - allowed
            check(not extra, f"{name} imports {sorted(extra)}")

    codec = os.path.join(folder, "plixcodec.dll")
    header = sys.argv[3] if len(sys.argv) > 3 else os.path.join(
        os.path.dirname(__file__), "..", "..", "codec", "include", "plix", "codec.h")
    with open(header) as f:
        declared = sorted(set(re.findall(r"PLIX_API[^;{]*?\b(plix_\w+)\s*\(", f.read())))
    codec_exports = sorted(exports(objdump(tool, codec)))
    check(declared and codec_exports == declared,
          f"plixcodec.dll exports {codec_exports}, its header declares {declared}")
    wic = os.path.join(folder, "plixwic.dll")
    wic_exports = sorted(exports(objdump(tool, wic)))
    check(wic_exports == COM_EXPORTS, f"plixwic.dll exports {wic_exports}")

    with open(wic, "rb") as f:
        wic_strings = strings_of(parse_node(version_resource(f.read()), 0)[0], {})
    check(wic_strings.get("OriginalFilename") == "plixwic.dll",
          f"plixwic.dll's version resource: {wic_strings}")

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
    print(f"plixcodec.dll: exports the {len(codec_exports)} plix_ functions of codec.h")
    print(f"plixwic.dll: exports {wic_exports}, version {wic_strings.get('FileVersion')!r}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
