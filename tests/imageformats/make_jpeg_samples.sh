#!/usr/bin/env bash
# Makes the JPEG tests' files in the folder given, with Debian's tools: two test images (python3),
# JPEG files of them (cjpeg) with their decodes (djpeg) and the decodes of those compressed again,
# and TIFF files with JPEG strips made by
# tiffcp (-c jpeg: YCbCr; -c jpeg:r: RGB; grey) with their decodes by libtiff (tiff2rgba), plus
# one with a damaged strip and one with a strip cut short.
set -euo pipefail
out="$1"
mkdir -p "$out"
cd "$out"

python3 - <<'EOF'
# Smooth ramps with some detail; odd sizes leave partial blocks and a short last strip.
width, height = 67, 45
rgb, grey = bytearray(), bytearray()
for y in range(height):
    for x in range(width):
        rgb += bytes([x * 255 // (width - 1), y * 255 // (height - 1), (x * y) % 256])
        grey.append((x * 3 + y * 2 + (x * y) % 17) % 256)
open("source.ppm", "wb").write(b"P6\n%d %d\n255\n" % (width, height) + rgb)
open("source.pgm", "wb").write(b"P5\n%d %d\n255\n" % (width, height) + grey)
EOF

cjpeg -quality 90 source.ppm >photo.jpg
cjpeg -quality 90 -progressive source.ppm >photo-progressive.jpg
cjpeg -quality 90 source.pgm >grey.jpg
for name in photo photo-progressive grey; do djpeg "$name.jpg" >"$name-decoded.ppm"; done
# What compressing those decodes again at quality 100 gives.
for name in photo grey; do
  cjpeg -quality 100 "$name-decoded.ppm" | djpeg >"$name-resaved-decoded.ppm"
done

ppm2tiff source.ppm source-rgb.tif
ppm2tiff source.pgm source-grey.tif
tiffcp -c jpeg -r 16 source-rgb.tif tiff-ycbcr.tif
tiffcp -c jpeg:r -r 16 source-rgb.tif tiff-rgb.tif
tiffcp -c jpeg -r 16 source-grey.tif tiff-grey.tif
for name in tiff-ycbcr tiff-rgb tiff-grey; do tiff2rgba -c none "$name.tif" "$name-decoded.tif"; done

python3 - <<'EOF'
import struct

def strip_fields(data):
    """(values, position, size of one value) of StripOffsets and StripByteCounts."""
    directory, = struct.unpack_from("<I", data, 4)
    count, = struct.unpack_from("<H", data, directory)
    fields = {}
    for i in range(count):
        entry = directory + 2 + 12 * i
        tag, kind, n, value = struct.unpack_from("<HHII", data, entry)
        if tag not in (273, 279):
            continue
        size = 2 if kind == 3 else 4
        at = entry + 8 if size * n <= 4 else value
        fields[tag] = (list(struct.unpack_from("<" + ("H" if size == 2 else "I") * n, data, at)), at, size)
    return fields[273], fields[279]

data = bytearray(open("tiff-ycbcr.tif", "rb").read())
(offsets, _, _), (counts, at, size) = strip_fields(data)
damaged = bytearray(data)
damaged[offsets[1]:offsets[1] + 2] = b"\x00\x00"  # the second strip no longer starts an image
open("tiff-damaged.tif", "wb").write(damaged)
short = bytearray(data)
struct.pack_into("<H" if size == 2 else "<I", short, at, counts[0] // 2)  # half the first strip
open("tiff-short.tif", "wb").write(short)
EOF
