#!/usr/bin/env python3
# Writes the built-in skin's ten PNG images (8 bits per channel; all but the background with
# alpha) into a folder, plus skin.rc naming them as RCDATA resources. Usage:
#   make_skin_images.py <output folder>
import math
import os
import struct
import sys
import zlib


def write_png(path, width, height, pixel, alpha=True):
    """pixel(x, y) -> (r, g, b, a); rows filtered with filter type 0."""
    channels = 4 if alpha else 3
    raw = bytearray()
    for y in range(height):
        raw.append(0)
        for x in range(width):
            p = pixel(x, y)
            raw.extend(p[:channels])

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 6 if alpha else 2, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(raw), 9))
                + chunk(b"IEND", b""))


FRAMES, FRAME = 127, 40


def knob(x, y):
    # Frame k turns the pointer from 135 degrees through 270 degrees, minimum to maximum.
    k, fx = divmod(x, FRAME)
    dx, dy = fx + 0.5 - FRAME / 2, y + 0.5 - FRAME / 2
    d = math.hypot(dx, dy)
    if d > 18:
        return (0, 0, 0, 0)
    angle = math.radians(135 + 270 * k / (FRAMES - 1))
    along = dx * math.cos(angle) + dy * math.sin(angle)
    across = abs(-dx * math.sin(angle) + dy * math.cos(angle))
    if 5 <= along <= 17 and across <= 1.5:
        return (240, 240, 240, 255)
    return (70, 70, 78, 255)


def switch(colour):
    def pixel(x, y):
        return colour
    return pixel


def background(x, y):
    v = 40 + y * 30 // 494
    return (v, v, v + 6, 255)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    images = [
        ("KNOB", "Knob.png", 5080, 40, knob, True),
        ("RECORDOFF", "RecordOff.png", 93, 46, switch((90, 20, 20, 255)), True),
        ("RECORDON", "RecordOn.png", 93, 46, switch((230, 40, 40, 255)), True),
        ("PLAYON", "PlayOn.png", 93, 25, switch((40, 220, 60, 255)), True),
        ("PLAYOFF", "PlayOff.png", 93, 25, switch((20, 80, 30, 255)), True),
        ("FIXEDON", "FixedOn.png", 60, 18, switch((240, 200, 40, 255)), True),
        ("FIXEDOFF", "FixedOff.png", 60, 18, switch((90, 75, 20, 255)), True),
        ("SLAVEON", "SlaveOn.png", 60, 18, switch((60, 140, 240, 255)), True),
        ("SLAVEOFF", "SlaveOff.png", 60, 18, switch((25, 50, 90, 255)), True),
        ("BACKGROUND", "Background.png", 450, 494, background, False),
    ]
    lines = []
    for name, file, w, h, pixel, alpha in images:
        write_png(os.path.join(out, file), w, h, pixel, alpha)
        lines.append('%s RCDATA "%s"\n' % (name, file))
    with open(os.path.join(out, "skin.rc"), "w") as f:
        f.writelines(lines)


if __name__ == "__main__":
    main()
