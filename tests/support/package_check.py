#!/usr/bin/env python3
"""Checks a zip package, a 3MF file above all, with readers written apart from the program's
writer, and prints what the tests compare.

python's zipfile must read every part to its CRC and size (as `python3 -m zipfile -t` does) and
7-Zip must test it clean (`7za t`); the bytes are held to the layout streaming readers rely
on (parts back to back, local headers that agree with the central ones, data descriptors,
ZIP64 records where they are marked); a part named *.model is parsed with xml.etree and held
to the core model's structure. Any fault: its reason on stdout and exit status 1.

Output, tab-separated: "zip64End 0|1"; a "part" line a part (name, method, descriptor, version
needed, central ZIP64, local ZIP64, DOS date, DOS time, stored size, size, offset, SHA-256 of
the stored bytes, content in hex, empty for a model); then a model's "model", "metadata",
"object" and "item" lines (key=value fields), a "v" line a vertex (its x, y, z as written)
and a "t" line a triangle (v1, v2, v3).
"""

import hashlib
import struct
import subprocess
import sys
import zipfile
import xml.etree.ElementTree as ET

CORE = "http://schemas.microsoft.com/3dmanufacturing/core/2015/02"
PARENTS = {"model": None, "metadata": "model", "resources": "model", "object": "resources",
           "mesh": "object", "vertices": "mesh", "vertex": "vertices", "triangles": "mesh",
           "triangle": "triangles", "build": "model", "item": "build"}
DECLARATION = b'<?xml version="1.0" encoding="UTF-8"?>'


class Fault(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Fault(what)


def extra_fields(data):
    fields, at = {}, 0
    while at < len(data):
        check(at + 4 <= len(data), "extra field cut short")
        key, size = struct.unpack_from("<HH", data, at)
        check(key not in fields and at + 4 + size <= len(data), "extra field %#x" % key)
        fields[key] = data[at + 4:at + 4 + size]
        at += 4 + size
    return fields


def end_records(raw):
    """(ZIP64 end record there, part count, central directory offset, its end)."""
    end = len(raw) - 22  # the writer leaves no comment
    check(end >= 0 and raw[end:end + 4] == b"PK\5\6", "no end record")
    disk, start, here, count, size, offset, comment = struct.unpack_from("<4H2IH", raw, end + 4)
    check(disk == start == comment == 0 and here == count, "end record of a split archive")
    if end < 20 or raw[end - 20:end - 16] != b"PK\6\7":
        check(0xFFFFFFFF not in (size, offset), "a ZIP64 mark without a ZIP64 end record")
        return False, count, offset, end
    disk, record, disks = struct.unpack_from("<IQI", raw, end - 16)
    check(disk == 0 and disks == 1 and record + 56 == end - 20, "ZIP64 locator")
    check(raw[record:record + 4] == b"PK\6\6", "no ZIP64 end record where the locator points")
    length, _, needed, _, _, here64, count64, size64, offset64 = struct.unpack_from(
        "<Q2H2I4Q", raw, record + 4)
    check(length == 44 and needed == 45 and here64 == count64, "ZIP64 end record")
    check(size in (0xFFFFFFFF, size64) and offset in (0xFFFFFFFF, offset64), "end records differ")
    check(offset64 + size64 == record, "central directory size")
    return True, count64, offset64, record


def layout(raw, infos):
    """Holds each part's bytes to its central record; returns the ZIP64 end record's presence
    and, a part each, (info, stored bytes, descriptor, central ZIP64, local ZIP64, date, time)."""
    zip64_end, count, directory, directory_end = end_records(raw)
    check(len(infos) == count, "the end record counts %d parts" % count)
    parts, at, at_central = [], 0, directory
    for info in infos:
        check(raw[at_central:at_central + 4] == b"PK\1\2", "no central header")
        _, needed, _, _, time, date, _, _, _, name, extra, comment, disk, _, _, _ = \
            struct.unpack_from("<6H3I5H2I", raw, at_central + 4)
        at_central += 46 + name + extra + comment
        check(comment == disk == 0, info.filename + ": a comment or a disk")
        central64 = 1 in extra_fields(info.extra)
        check(info.flag_bits & ~0x0008 == 0 and info.compress_type in (0, 8),
              info.filename + ": flags or method")
        check(info.header_offset == at, info.filename + ": a gap or overlap before it")
        check(raw[at:at + 4] == b"PK\3\4", info.filename + ": no local header")
        version, flags, method, ltime, ldate, crc, stored, size, name, extra = struct.unpack_from(
            "<5H3I2H", raw, at + 4)
        fields = extra_fields(raw[at + 30 + name:at + 30 + name + extra])
        check(set(fields) <= {0x0001, 0x9999}, info.filename + ": unknown extra field")
        check(fields.get(0x9999, b"").strip(b"\0") == b"", info.filename + ": padding not zero")
        local64 = 0x0001 in fields
        if local64:
            check(len(fields[1]) == 16 and stored == size == 0xFFFFFFFF and version >= 45,
                  info.filename + ": local ZIP64 field")
            size, stored = struct.unpack("<2Q", fields[1])
        check(needed == (45 if central64 or local64 else 20), info.filename + ": version needed")
        descriptor = info.flag_bits & 0x0008 != 0
        check((flags, method, ltime, ldate) == (info.flag_bits, info.compress_type, time, date),
              info.filename + ": local header differs from the central one")
        expected = (0, 0, 0) if descriptor else (info.CRC, info.compress_size, info.file_size)
        check((crc, stored, size) == expected, info.filename + ": local CRC or sizes")
        data = at + 30 + name + extra
        at = data + info.compress_size
        stored_bytes = raw[data:at]
        if descriptor:
            # 8 bytes wide after a local header with a ZIP64 field, as a reader of the stream knows.
            form = "<I2Q" if local64 else "<3I"
            check(raw[at:at + 4] == b"PK\7\x08", info.filename + ": no data descriptor")
            check(struct.unpack_from(form, raw, at + 4) ==
                  (info.CRC, info.compress_size, info.file_size), info.filename + ": descriptor")
            at += 4 + struct.calcsize(form)
        parts.append((info, stored_bytes, descriptor, central64, local64, date, time))
    check(at_central == directory_end, "central directory size")
    check(at == directory, "stray bytes before the central directory")
    return zip64_end, parts


def model_lines(text):
    check(text.startswith(DECLARATION), "model: no XML declaration")
    root = ET.fromstring(text)
    lines, objects, names = [], 0, set()
    check(root.tag == "{%s}model" % CORE, "model: root %s" % root.tag)

    def walk(element, parent):
        nonlocal objects
        name = element.tag.replace("{%s}" % CORE, "")
        check(name in PARENTS and PARENTS[name] == parent, "model: %s in %s" % (name, parent))
        check((element.tail or "").strip() == "", "model: text after " + name)
        a = element.attrib
        if name == "metadata":
            check(element.text and a.get("name") not in names, "model: metadata")
            names.add(a["name"])
            lines.append("metadata\t%s\t%s" % (a["name"], element.text))
            return
        check((element.text or "").strip() == "", "model: text in " + name)
        if name == "vertex":
            check(set(a) == {"x", "y", "z"}, "model: vertex attributes")
            lines.append("v\t%s\t%s\t%s" % (a["x"], a["y"], a["z"]))
        elif name == "triangle":
            check(set(a) == {"v1", "v2", "v3"}, "model: triangle attributes")
            lines.append("t\t%s\t%s\t%s" % (a["v1"], a["v2"], a["v3"]))
        elif name in ("model", "object", "item"):
            objects += name == "object"
            check(objects <= 1, "model: a second object")
            fields = dict(a, xmlns=CORE) if name == "model" else a
            lines.append("\t".join([name] + ["%s=%s" % kv for kv in sorted(fields.items())]))
        for child in element:
            walk(child, name)

    walk(root, None)
    return lines


def main(path):
    with open(path, "rb") as f:
        raw = f.read()
    tested = subprocess.run(["7za", "t", "-tzip", "-bd", path], capture_output=True, text=True)
    check(tested.returncode == 0, "7za t: " + tested.stdout + tested.stderr)
    with zipfile.ZipFile(path) as archive:
        bad = archive.testzip()
        check(bad is None, "zipfile: %s fails its CRC" % bad)
        zip64_end, parts = layout(raw, archive.infolist())
        out = ["zip64End\t%d" % zip64_end]
        models = []
        for info, data, descriptor, central64, local64, date, time in parts:
            content = archive.read(info)
            check(len(content) == info.file_size, info.filename + ": size")
            model = info.filename.endswith(".model")
            if model:
                models.append(content)
            out.append("\t".join(str(v) for v in (
                "part", info.filename, info.compress_type, int(descriptor), info.extract_version,
                int(central64), int(local64), date, time, info.compress_size, info.file_size,
                info.header_offset, hashlib.sha256(data).hexdigest(), "" if model else content.hex())))
    for content in models:
        out.extend(model_lines(content))
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    try:
        main(sys.argv[1])
    except (Fault, zipfile.BadZipFile, ET.ParseError, OSError, struct.error) as fault:
        print("package_check.py: %s: %s" % (sys.argv[1], fault))
        sys.exit(1)
