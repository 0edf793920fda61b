#!/usr/bin/env python3
# Writes the built-in skin's ten PNG images (8 bits per channel; all but the background with
# alpha) into a folder, plus skin.rc naming them as RCDATA resources. Usage:
#   make_skin_images.py <output folder>
#
# The background carries the frames of the panels and every caption of the knobs and switches;
# the switch images are lamps and rims with a clear middle, so that the captions painted on the
# background show through them; the knob strip's pointer turns through 270 degrees over its 127
# frames. Positions follow the editor form's layout.
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


# --- A 5 x 7 pixel font for the captions (g, p and y reach two rows further down)

GLYPHS = {
    " ": ".....|.....|.....|.....|.....|.....|.....",
    ":": ".....|..#..|..#..|.....|..#..|..#..|.....",
    "/": "....#|....#|...#.|..#..|.#...|#....|#....",
    ".": ".....|.....|.....|.....|.....|.##..|.##..",
    "A": ".###.|#...#|#...#|#####|#...#|#...#|#...#",
    "B": "####.|#...#|#...#|####.|#...#|#...#|####.",
    "D": "####.|#...#|#...#|#...#|#...#|#...#|####.",
    "E": "#####|#....|#....|####.|#....|#....|#####",
    "F": "#####|#....|#....|####.|#....|#....|#....",
    "I": ".###.|..#..|..#..|..#..|..#..|..#..|.###.",
    "K": "#...#|#..#.|#.#..|##...|#.#..|#..#.|#...#",
    "L": "#....|#....|#....|#....|#....|#....|#####",
    "M": "#...#|##.##|#.#.#|#.#.#|#...#|#...#|#...#",
    "P": "####.|#...#|#...#|####.|#....|#....|#....",
    "R": "####.|#...#|#...#|####.|#.#..|#..#.|#...#",
    "S": ".####|#....|#....|.###.|....#|....#|####.",
    "T": "#####|..#..|..#..|..#..|..#..|..#..|..#..",
    "a": ".....|.....|.###.|....#|.####|#...#|.####",
    "b": "#....|#....|####.|#...#|#...#|#...#|####.",
    "c": ".....|.....|.###.|#....|#....|#....|.###.",
    "d": "....#|....#|.####|#...#|#...#|#...#|.####",
    "e": ".....|.....|.###.|#...#|#####|#....|.###.",
    "f": "..##.|.#...|####.|.#...|.#...|.#...|.#...",
    "g": ".....|.....|.####|#...#|#...#|#...#|.####|....#|.###.",
    "h": "#....|#....|####.|#...#|#...#|#...#|#...#",
    "i": "..#..|.....|.##..|..#..|..#..|..#..|.###.",
    "k": "#....|#....|#..#.|#.#..|##...|#.#..|#..#.",
    "l": ".##..|..#..|..#..|..#..|..#..|..#..|.###.",
    "n": ".....|.....|####.|#...#|#...#|#...#|#...#",
    "o": ".....|.....|.###.|#...#|#...#|#...#|.###.",
    "p": ".....|.....|####.|#...#|#...#|#...#|####.|#....|#....",
    "r": ".....|.....|#.##.|##..#|#....|#....|#....",
    "s": ".....|.....|.####|#....|.###.|....#|####.",
    "t": ".#...|.#...|####.|.#...|.#...|.#..#|..##.",
    "u": ".....|.....|#...#|#...#|#...#|#..##|.##.#",
    "v": ".....|.....|#...#|#...#|#...#|.#.#.|..#..",
    "w": ".....|.....|#...#|#...#|#.#.#|#.#.#|.#.#.",
    "x": ".....|.....|#...#|.#.#.|..#..|.#.#.|#...#",
    "y": ".....|.....|#...#|#...#|#...#|#...#|.####|....#|.###.",
}
ADVANCE = 6  # glyph cells per character, one blank column included


def text_width(text, scale):
    return (len(text) * ADVANCE - 1) * scale


def glyph_on(ch, gx, gy):
    rows = GLYPHS.get(ch, GLYPHS[" "]).split("|")
    return 0 <= gy < len(rows) and 0 <= gx < 5 and rows[gy][gx] == "#"


class Caption:
    """A line of text centred on (cx, cy), `scale` pixels per font pixel, antialiased."""

    def __init__(self, text, cx, cy, scale, colour):
        self.text, self.scale, self.colour = text, scale, colour
        self.left = cx - text_width(text, scale) / 2
        self.top = cy - 7 * scale / 2
        self.right = self.left + text_width(text, scale)
        self.bottom = self.top + 9 * scale

    def coverage(self, x, y):
        if x + 1 <= self.left or x >= self.right or y + 1 <= self.top or y >= self.bottom:
            return 0.0
        hits = 0
        for sy in range(4):
            for sx in range(4):
                fx = (x + (sx + 0.5) / 4 - self.left) / self.scale
                fy = (y + (sy + 0.5) / 4 - self.top) / self.scale
                cell = int(math.floor(fx))
                index, gx = divmod(cell, ADVANCE)
                if 0 <= index < len(self.text) and glyph_on(self.text[index], gx, int(math.floor(fy))):
                    hits += 1
        return hits / 16.0


def mix(base, colour, amount):
    return tuple(int(round(b + (c - b) * amount)) for b, c in zip(base[:3], colour[:3]))


# --- The knob strip

FRAMES, FRAME = 127, 40


def knob(x, y):
    # Frame k turns the pointer from 135 degrees through 270 degrees, minimum to maximum, and lights
    # the travel ring up to it.
    k, fx = divmod(x, FRAME)
    dx, dy = fx + 0.5 - FRAME / 2, y + 0.5 - FRAME / 2
    d = math.hypot(dx, dy)
    if d > 19:
        return (0, 0, 0, 0)
    turn = 270 * k / (FRAMES - 1)
    angle = math.radians(135 + turn)
    if d > 16.5:
        at = (math.degrees(math.atan2(dy, dx)) - 135) % 360
        if at <= 270:
            return (235, 150, 40, 255) if at <= turn else (75, 70, 60, 255)
        return (0, 0, 0, 0)
    if d > 15:
        return (20, 20, 22, 255)
    along = dx * math.cos(angle) + dy * math.sin(angle)
    across = abs(-dx * math.sin(angle) + dy * math.cos(angle))
    if 4 <= along <= 14 and across <= 1.6:
        return (245, 245, 240, 255)
    shade = int(88 - 20 * (dy / 15))
    return (shade, shade, shade + 6, 255)


# --- The switches: a rim and a lamp, clear inside

def switch(width, height, lamp_radius, lamp, rim):
    cx, cy = lamp_radius + 5.5, height / 2

    def pixel(x, y):
        px, py = x + 0.5, y + 0.5
        if math.hypot(px - cx, py - cy) <= lamp_radius:
            return lamp
        if x in (0, width - 1) or y in (0, height - 1):
            return rim
        return (0, 0, 0, 0)
    return pixel


# --- The background

INK = (205, 200, 180)
FRAME_COLOUR = (110, 108, 96)
BASE = (36, 35, 21)


def panel_edges():
    # (left, top, right, bottom) of the waveform window and the three panels.
    return [(20, 20, 430, 236), (20, 246, 430, 349), (20, 359, 430, 447), (10, 455, 440, 480)]


CAPTIONS = [
    Caption("Play Start/End", 95, 334, 1.0, INK),
    Caption("Record Start/End", 355, 334, 1.0, INK),
    Caption("Input Level", 80, 432, 1.0, INK),
    Caption("Feedback", 180, 432, 1.0, INK),
    Caption("Rate", 270, 432, 1.0, INK),
    Caption("Mix", 370, 432, 1.0, INK),
    # Inside the switches, right of their lamps.
    Caption("Fixed", 65 + 36, 311, 1.0, INK),
    Caption("Slave", 325 + 36, 311, 1.0, INK),
    Caption("Record", 178 + 56, 279, 1.6, INK),
    Caption("Play", 178 + 54, 325, 1.4, INK),
    # The two hot spots of the about box.
    Caption("Tarvik: KBL Delay", 70, 468, 1.0, INK),
    Caption("About", 380, 468, 1.0, INK),
]


def background(x, y):
    shade = y * 10 // 494
    colour = (BASE[0] + shade, BASE[1] + shade, BASE[2] + shade)
    for left, top, right, bottom in panel_edges():
        inside = left <= x < right and top <= y < bottom
        if inside and (x in (left, right - 1) or y in (top, bottom - 1)):
            return FRAME_COLOUR + (255,)
        if inside and top == 20:
            colour = (8, 8, 6)
    for caption in CAPTIONS:
        amount = caption.coverage(x, y)
        if amount:
            colour = mix(colour, caption.colour, amount)
    return colour + (255,)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    record_rim, play_rim, fixed_rim, slave_rim = (200, 60, 60, 255), (70, 200, 90, 255), (220, 185, 60, 255), \
        (80, 150, 230, 255)
    dim = (90, 88, 80, 255)
    images = [
        ("KNOB", "Knob.png", FRAMES * FRAME, FRAME, knob, True),
        ("RECORDOFF", "RecordOff.png", 93, 46, switch(93, 46, 8, (80, 25, 25, 255), dim), True),
        ("RECORDON", "RecordOn.png", 93, 46, switch(93, 46, 8, (250, 50, 40, 255), record_rim), True),
        ("PLAYON", "PlayOn.png", 93, 25, switch(93, 25, 6, (60, 240, 80, 255), play_rim), True),
        ("PLAYOFF", "PlayOff.png", 93, 25, switch(93, 25, 6, (25, 75, 30, 255), dim), True),
        ("FIXEDON", "FixedOn.png", 60, 18, switch(60, 18, 4, (250, 210, 50, 255), fixed_rim), True),
        ("FIXEDOFF", "FixedOff.png", 60, 18, switch(60, 18, 4, (85, 72, 25, 255), dim), True),
        ("SLAVEON", "SlaveOn.png", 60, 18, switch(60, 18, 4, (70, 150, 250, 255), slave_rim), True),
        ("SLAVEOFF", "SlaveOff.png", 60, 18, switch(60, 18, 4, (25, 50, 90, 255), dim), True),
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
