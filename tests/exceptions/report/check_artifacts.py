#!/usr/bin/env python3
"""Checks the zip archives and PNG images the report tests left in a folder, with python's own
zipfile, zlib and struct: every "*.zipcheck" and "*.pngcheck" manifest names a file and what it
must hold. Folders given are searched recursively. Prints one line per check and exits with 1 when any fails."""
import json
import os
import struct
import sys
import zipfile
import zlib


def check_zip(folder, manifest):
    path = os.path.join(folder, manifest["zip"])
    with zipfile.ZipFile(path) as archive:
        if manifest.get("password"):
            archive.setpassword(manifest["password"].encode("latin-1"))
        names = [info.filename for info in archive.infolist()]
        expected = [entry["name"] for entry in manifest["entries"]]
        if names != expected:
            return "entries %r, expected %r" % (names, expected)
        for info, entry in zip(archive.infolist(), manifest["entries"]):
            if info.compress_type != zipfile.ZIP_DEFLATED:
                return "%s not deflated" % info.filename
            encrypted = bool(info.flag_bits & 1)
            if encrypted != bool(manifest.get("password")):
                return "%s encryption flag %r" % (info.filename, encrypted)
            with open(os.path.join(folder, entry["file"]), "rb") as source:
                wanted = source.read()
            if archive.read(info.filename) != wanted:
                return "%s content differs" % info.filename
            if "date" in entry and list(info.date_time) != entry["date"]:
                return "%s date %r, expected %r" % (info.filename, info.date_time, entry["date"])
        if manifest.get("password"):
            archive.setpassword(b"wrong password")
            try:
                archive.read(names[0])
                return "readable with a wrong password"
            except (RuntimeError, zipfile.BadZipFile, zlib.error):
                # One wrong key in 256 passes the header's check byte and fails in the
                # decompression or the CRC instead.
                pass
    return None


def check_png(folder, manifest):
    with open(os.path.join(folder, manifest["png"]), "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        return "bad signature"
    pos, chunks = 8, []
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        crc, = struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])
        if zlib.crc32(kind + body) & 0xFFFFFFFF != crc:
            return "bad CRC in %r" % kind
        chunks.append((kind, body))
        pos += 12 + length
    kinds = [kind for kind, _ in chunks]
    if kinds[0] != b"IHDR" or kinds[1] != b"PLTE" or kinds[-1] != b"IEND" or chunks[-1][1]:
        return "chunk order %r" % kinds
    width, height, depth, colour, method, filt, interlace = struct.unpack(">IIBBBBB", chunks[0][1])
    if (width, height) != (manifest["width"], manifest["height"]):
        return "size %dx%d" % (width, height)
    if (depth, colour, method, filt, interlace) != (8, 3, 0, 0, 0):
        return "header %r" % ((depth, colour, method, filt, interlace),)
    palette = chunks[1][1]
    if len(palette) != 768:
        return "palette of %d bytes" % len(palette)
    idats = [body for kind, body in chunks if kind == b"IDAT"]
    if any(len(body) != 0x3FFFF for body in idats[:-1]):
        return "IDAT chunk sizes %r" % [len(b) for b in idats]
    pixels = zlib.decompress(b"".join(idats))
    if len(pixels) != height * (width + 1):
        return "image data of %d bytes" % len(pixels)
    with open(os.path.join(folder, manifest["rgb"]), "rb") as f:
        expected = f.read()
    tolerance = manifest.get("tolerance", 0)
    for y in range(height):
        row = pixels[y * (width + 1):(y + 1) * (width + 1)]
        if row[0] != 0:
            return "row %d filter %d" % (y, row[0])
        for x in range(width):
            index = row[1 + x]
            got = palette[3 * index:3 * index + 3]
            want = expected[3 * (y * width + x):3 * (y * width + x) + 3]
            if any(abs(a - b) > tolerance for a, b in zip(got, want)):
                return "pixel (%d,%d) is %r, expected %r" % (x, y, tuple(got), tuple(want))
    return None


def main():
    failed = checked = 0
    manifests = []
    for top in sys.argv[1:]:
        for folder, _, names in os.walk(top):
            manifests += [(folder, name) for name in names]
    for folder, name in sorted(manifests):
        if name.endswith(".zipcheck") or name.endswith(".pngcheck"):
            with open(os.path.join(folder, name)) as f:
                manifest = json.load(f)
            try:
                error = (check_zip if name.endswith(".zipcheck") else check_png)(folder, manifest)
            except Exception as e:  # a file python cannot read at all
                error = "%s: %s" % (type(e).__name__, e)
            checked += 1
            if error:
                failed += 1
                print("FAIL %s: %s" % (os.path.join(folder, name), error))
            else:
                print("OK %s" % os.path.join(folder, name))
    if checked == 0:
        print("FAIL nothing to check")
        failed = 1
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
