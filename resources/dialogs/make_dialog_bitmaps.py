#!/usr/bin/env python3
# Draws the exception dialogs' bitmaps as 24-bit BMP files into a folder: the error and send
# pictures (32 x 32), the module kinds of the lists (16 x 16) and the plus and minus boxes of the
# call-stack groups (13 x 13). The top-left pixel of each is magenta, the colour the dialogs
# leave out when they draw them. Usage:
#   make_dialog_bitmaps.py <output folder>
import math
import os
import struct
import sys

KEY = (255, 0, 255)


def write_bmp(path, width, height, pixel):
    """pixel(x, y) -> (r, g, b), y from the top; rows stored bottom-up and padded to 4 bytes."""
    stride = (width * 3 + 3) & ~3
    data = bytearray()
    for y in range(height - 1, -1, -1):
        row = bytearray()
        for x in range(width):
            r, g, b = pixel(x, y)
            row += bytes((b, g, r))
        row += b"\0" * (stride - len(row))
        data += row
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + data)


def mix(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


def error_pixel(x, y):
    # A red disc with a white cross, shaded from the top left.
    cx, cy, r = 15.5, 15.5, 14.5
    d = math.hypot(x - cx, y - cy)
    if d > r or (x == 0 and y == 0):
        return KEY
    base = mix((235, 70, 60), (160, 20, 20), (x + y) / 62.0)
    if d > r - 1.2:
        return (110, 10, 10)
    u, v = x - cx, y - cy
    if abs(u - v) < 2.4 and abs(u) < 7.5 or abs(u + v) < 2.4 and abs(u) < 7.5:
        return (255, 255, 255)
    return base


def send_pixel(x, y):
    # A letter with its flap, and an arrow leaving to the right.
    if x == 0 and y == 0:
        return KEY
    if 3 <= x <= 24 and 9 <= y <= 24:
        if x in (3, 24) or y in (9, 24):
            return (70, 70, 90)
        if abs(y - 9 - (10.5 - abs(x - 13.5)) * 0.7) < 0.8:
            return (70, 70, 90)
        return (250, 246, 226)
    if 20 <= x <= 30 and 14 <= y <= 20:
        if 20 <= x <= 25 and 16 <= y <= 18:
            return (30, 140, 40)
        if x > 25 and abs(y - 17) <= (30 - x) * 0.75 + 0.5:
            return (30, 140, 40)
    return KEY


def module_pixel(colour, letter):
    glyphs = {
        "D": ["110", "101", "101", "101", "110"],
        "P": ["110", "101", "110", "100", "100"],
        "E": ["111", "100", "110", "100", "111"],
        "S": ["011", "100", "010", "001", "110"],
    }
    rows = glyphs[letter]

    def pixel(x, y):
        if x == 0 and y == 0:
            return KEY
        if 2 <= x <= 13 and 1 <= y <= 14:
            if x in (2, 13) or y in (1, 14):
                return (80, 80, 80)
            gx, gy = (x - 5) // 2, (y - 3) // 2
            if 0 <= gx < 3 and 0 <= gy < 5 and (x - 5) >= 0 and (y - 3) >= 0 and rows[gy][gx] == "1":
                return (255, 255, 255)
            return colour
        return KEY

    return pixel


def box_pixel(plus):
    def pixel(x, y):
        if x == 0 and y == 0:
            return KEY
        if 1 <= x <= 11 and 1 <= y <= 11:
            if x in (1, 11) or y in (1, 11):
                return (90, 90, 110)
            if y == 6 and 3 <= x <= 9 or plus and x == 6 and 3 <= y <= 9:
                return (20, 20, 20)
            return mix((255, 255, 255), (205, 210, 225), (x + y) / 22.0)
        return KEY

    return pixel


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    write_bmp(os.path.join(out, "el_error.bmp"), 32, 32, error_pixel)
    write_bmp(os.path.join(out, "el_send.bmp"), 32, 32, send_pixel)
    write_bmp(os.path.join(out, "el_dll.bmp"), 16, 16, module_pixel((70, 110, 170), "D"))
    write_bmp(os.path.join(out, "el_bpl.bmp"), 16, 16, module_pixel((150, 90, 160), "P"))
    write_bmp(os.path.join(out, "el_vcl.bmp"), 16, 16, module_pixel((60, 140, 80), "E"))
    write_bmp(os.path.join(out, "el_pas.bmp"), 16, 16, module_pixel((190, 120, 40), "S"))
    write_bmp(os.path.join(out, "el_plus.bmp"), 13, 13, box_pixel(True))
    write_bmp(os.path.join(out, "el_minus.bmp"), 13, 13, box_pixel(False))


if __name__ == "__main__":
    main()
