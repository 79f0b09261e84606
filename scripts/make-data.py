#!/usr/bin/env python3
"""Regenerates Mossvale's drawn and synthesised data files.

Writes, relative to the repository root:
    data/画像データ/subako.png   nest-box picture of the resting page (subako.html shows it)
    data/画像データ/Bom.bmp      event picture: letters bursting out of the nest box (8-bit RLE BMP)
    data/Sound/Kouka.wav         new-mail chime (16-bit PCM, mono, 22050 Hz)
    data/HTML/icon.png           the program icon at 128 px, for the shipped help pages
    app/resources/mossvale.png   program icon, 256 x 256
    app/resources/mossvale-32.png program icon, 32 x 32

Every picture is drawn from the shapes below with ImageMagick's `convert` (package imagemagick); the
sound is computed here. No random source and no timestamps are used, so a second run writes the same bytes.

Usage: scripts/make-data.py [--out DIR]   (DIR replaces the repository root, e.g. to compare two runs)
"""

import argparse
import math
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import wave

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# Palette shared by every picture, so the icon, the resting page and the event picture belong together.
MOSS_DARK = "#3f7a25"
MOSS = "#5c9a32"
MOSS_LIGHT = "#86bf4a"
MOSS_TIP = "#b5dc78"
WOOD = "#a8733f"
WOOD_DARK = "#6b4423"
WOOD_LIGHT = "#c99360"
PAPER = "#fbf5e2"
PAPER_SHADE = "#eadfbf"
INK = "#6b4f2a"
PETAL = "#ee8fb0"
PETAL_EDGE = "#c35d82"
HEART = "#f6cd4a"


class Lcg:
    """Tiny fixed pseudo-random sequence: the moss looks irregular but is the same on every run."""

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFF

    def next(self):
        self.state = (self.state * 1664525 + 1013904223) & 0xFFFFFFFF
        return self.state / 2**32

    def between(self, low, high):
        return low + (high - low) * self.next()


def f(value):
    return f"{value:.2f}".rstrip("0").rstrip(".")


def circle(cx, cy, r):
    return f"circle {f(cx)},{f(cy)} {f(cx + r)},{f(cy)}"


def group(*parts, translate=None, rotate=None, scale=None):
    head = ["push graphic-context"]
    if translate:
        head.append(f"translate {f(translate[0])},{f(translate[1])}")
    if rotate:
        head.append(f"rotate {f(rotate)}")
    if scale:
        head.append(f"scale {f(scale)},{f(scale)}")
    return "\n".join(head + [p for p in parts if p] + ["pop graphic-context"])


def style(fill="none", stroke="none", width=1, opacity=None):
    lines = [f"fill '{fill}'", f"stroke '{stroke}'", f"stroke-width {f(width)}",
             "stroke-linejoin round", "stroke-linecap round"]
    if fill == "none":
        opacity = 0  # an open path would otherwise be filled in black
    lines.append(f"fill-opacity {f(opacity)}" if opacity is not None else "fill-opacity 1")
    return "\n".join(lines)


def flower(cx, cy, r, petals=5, turn=0.0, outline=None):
    """A flat, pressed-looking flower: petals as ellipses around a yellow heart."""
    width = outline if outline is not None else max(0.8, r * 0.08)
    parts = [style(PETAL, PETAL_EDGE, width)]
    for k in range(petals):
        angle = turn + 360.0 * k / petals
        parts.append(group(f"ellipse {f(r * 0.55)},0 {f(r * 0.5)},{f(r * 0.3)} 0,360",
                           translate=(cx, cy), rotate=angle))
    parts.append(style(HEART, "#d9a82a", width * 0.8))
    parts.append(circle(cx, cy, r * 0.28))
    return "\n".join(parts)


def moss_band(x0, x1, y, height, seed, blob=1.0):
    """Overlapping blobs along a line in three greens, lightest on top: a cushion of moss."""
    rng = Lcg(seed)
    parts = []
    for colour, lift, size in ((MOSS_DARK, 0.0, 1.0), (MOSS, 0.3, 0.8), (MOSS_LIGHT, 0.55, 0.55)):
        parts.append(style(colour))
        x = x0
        while x <= x1:
            r = height * size * rng.between(0.45, 0.65) * blob
            parts.append(circle(x, y - height * lift + rng.between(-0.1, 0.1) * height, r))
            x += r * rng.between(0.9, 1.3)
    parts.append(style(MOSS_TIP))
    x = x0 + height * 0.3
    while x <= x1:
        parts.append(circle(x, y - height * 0.75 + rng.between(-0.12, 0.12) * height, height * 0.09 * blob))
        x += height * rng.between(0.4, 0.8)
    return "\n".join(parts)


def envelope(w, h, line=2.0, seal=True):
    """An envelope centred on the origin, flap towards the top; draw it inside a translated group."""
    x0, y0, x1, y1 = -w / 2, -h / 2, w / 2, h / 2
    parts = [style(PAPER, INK, line),
             f"roundrectangle {f(x0)},{f(y0)} {f(x1)},{f(y1)} {f(h * 0.12)},{f(h * 0.12)}",
             style("none", PAPER_SHADE, line * 0.8),
             f"line {f(x0 + line)},{f(y1 - line)} {f(-w * 0.12)},{f(h * 0.05)}",
             f"line {f(x1 - line)},{f(y1 - line)} {f(w * 0.12)},{f(h * 0.05)}",
             style(PAPER_SHADE, INK, line),
             f"polygon {f(x0 + line * 0.6)},{f(y0 + line * 0.8)} 0,{f(h * 0.12)} "
             f"{f(x1 - line * 0.6)},{f(y0 + line * 0.8)}"]
    if seal:
        parts.append(flower(0, h * 0.1, h * 0.26, outline=line * 0.6))
    return "\n".join(parts)


def nest_box(cx, base, scale, seed, open_hole=False):
    """A wooden nest box used as a letter box, moss on its roof, standing on a post whose foot is at base."""
    s = scale
    top = base - 150 * s
    body_l, body_r = cx - 40 * s, cx + 40 * s
    body_t, body_b = top + 45 * s, top + 125 * s
    parts = [
        style(WOOD_DARK), f"rectangle {f(cx - 7 * s)},{f(body_b)} {f(cx + 7 * s)},{f(base)}",
        style(WOOD, WOOD_DARK, 2.5 * s),
        f"polygon {f(body_l)},{f(body_t)} {f(cx)},{f(top + 8 * s)} {f(body_r)},{f(body_t)} "
        f"{f(body_r)},{f(body_b)} {f(body_l)},{f(body_b)}",
        style("none", WOOD_LIGHT, 1.5 * s),
    ]
    for k in range(1, 4):  # planks
        x = body_l + 20 * s * k
        parts.append(f"line {f(x)},{f(body_t + 4 * s)} {f(x)},{f(body_b - 3 * s)}")
    parts += [
        style("#4a2e16"), circle(cx, body_t + 25 * s, 13 * s),
        style("#2e1c0d"), circle(cx, body_t + 26 * s, 10 * s),
        style(WOOD_DARK),  # perch
        f"roundrectangle {f(cx - 3 * s)},{f(body_t + 42 * s)} {f(cx + 16 * s)},{f(body_t + 46 * s)} 2,2",
        # mail slot with a letter waiting in it
        style("#2e1c0d"),
        f"roundrectangle {f(cx - 24 * s)},{f(body_t + 58 * s)} {f(cx + 24 * s)},{f(body_t + 63 * s)} 2,2",
    ]
    if not open_hole:
        parts.append(group(envelope(34 * s, 22 * s, 1.6 * s, seal=False),
                           translate=(cx + 4 * s, body_t + 54 * s), rotate=-4))
    # roof boards with a thick moss cushion
    parts += [
        style(WOOD_DARK, "#4a2e16", 2 * s),
        f"polygon {f(body_l - 14 * s)},{f(body_t + 8 * s)} {f(cx)},{f(top - 4 * s)} {f(cx + 4 * s)},{f(top + 3 * s)} "
        f"{f(body_l - 10 * s)},{f(body_t + 14 * s)}",
        f"polygon {f(body_r + 14 * s)},{f(body_t + 8 * s)} {f(cx)},{f(top - 4 * s)} {f(cx - 4 * s)},{f(top + 3 * s)} "
        f"{f(body_r + 10 * s)},{f(body_t + 14 * s)}",
    ]
    rng = Lcg(seed)
    for side in (-1, 1):
        for k in range(9):
            t = k / 8
            x = cx + side * (52 * s) * t
            y = top + 1 * s + (body_t + 6 * s - top) * t
            parts.append(style((MOSS_DARK, MOSS, MOSS_LIGHT)[k % 3]))
            parts.append(circle(x, y - 3 * s, s * rng.between(8, 12)))
    for k in range(7):
        parts.append(style(MOSS_TIP))
        t = k / 6
        parts.append(circle(cx + (t - 0.5) * 70 * s, top + 12 * s + abs(t - 0.5) * 40 * s - 12 * s, 2.2 * s))
    return "\n".join(parts)


def grass_tuft(x, y, h, colour=MOSS):
    return "\n".join([style("none", colour, max(1.2, h * 0.12)),
                      f"path 'M {f(x)},{f(y)} Q {f(x - h * 0.1)},{f(y - h * 0.6)} {f(x - h * 0.45)},{f(y - h)}'",
                      f"path 'M {f(x)},{f(y)} Q {f(x + h * 0.05)},{f(y - h * 0.7)} {f(x + h * 0.1)},{f(y - h * 1.15)}'",
                      f"path 'M {f(x)},{f(y)} Q {f(x + h * 0.2)},{f(y - h * 0.5)} {f(x + h * 0.5)},{f(y - h * 0.85)}'"])


def bird(x, y, s, facing=1):
    """A round little bird perched on the roof, looking out for the post."""
    d = facing
    return "\n".join([
        style("#7a5a3a"), f"ellipse {f(x - d * 9 * s)},{f(y + 2 * s)} {f(7 * s)},{f(3.5 * s)} 0,360",
        style("#8fb8d8", "#4f7896", 1.2 * s), f"ellipse {f(x)},{f(y)} {f(10 * s)},{f(8 * s)} 0,360",
        style("#f4e6c8"), f"ellipse {f(x + d * 3 * s)},{f(y + 3 * s)} {f(5 * s)},{f(4 * s)} 0,360",
        style("#8fb8d8", "#4f7896", 1.2 * s), circle(x + d * 7 * s, y - 7 * s, 6 * s),
        style("#222222"), circle(x + d * 9 * s, y - 8 * s, 1.3 * s),
        style("#f0a030", "#b87018", 0.8 * s),
        f"polygon {f(x + d * 12.5 * s)},{f(y - 8.5 * s)} {f(x + d * 17 * s)},{f(y - 6.5 * s)} "
        f"{f(x + d * 12.5 * s)},{f(y - 5 * s)}",
        style("#e89ab0", "none", 0, 0.7), circle(x + d * 9.5 * s, y - 5 * s, 1.6 * s),
    ])


def resting_picture():
    w, h = 300, 200
    parts = [f"viewbox 0 0 {w} {h}",
             style("#e6f2d8"), f"roundrectangle 0,0 {w - 1},{h - 1} 18,18",
             style("#fff8d6", "none", 0, 0.9), circle(246, 40, 20),
             style("#ffffff", "none", 0, 0.8),
             "ellipse 60,38 22,9 0,360", "ellipse 80,32 16,10 0,360", "ellipse 44,34 12,7 0,360",
             "ellipse 200,64 14,5 0,360", "ellipse 214,60 10,6 0,360",
             style("#bfe09a"), f"ellipse 150,{h + 30} 190,62 0,360",
             style("#a5d27a"), f"ellipse 70,{h + 10} 110,38 0,360", f"ellipse 240,{h + 14} 100,36 0,360"]
    parts.append(nest_box(150, 184, 1.0, seed=7))
    parts.append(bird(128, 44, 0.95, facing=-1))
    parts.append(moss_band(116, 186, 186, 16, seed=11))
    for x, y, hh in ((40, 186, 18), (62, 190, 14), (228, 184, 17), (256, 190, 15), (96, 194, 12), (206, 194, 12)):
        parts.append(grass_tuft(x, y, hh))
    for x, y, r, turn in ((52, 178, 7, 10), (236, 172, 6.5, 40), (92, 184, 5, 0), (262, 182, 5, 20)):
        parts.append(flower(x, y, r, turn=turn))
    return w, h, "\n".join(parts)


def bom_picture():
    # Drawn on 340 x 290 and set on a slightly larger canvas: the main window shows the picture centred in a
    # view whose edges its frame clips unevenly, and the margin keeps the sunburst under the whole visible part.
    w, h = 346, 298
    cx, cy = 170, 150
    parts = [style("#fff4c4"), f"rectangle -10,-10 {w},{h}"]
    rays = 18
    parts.append(style("#ffe489"))
    for k in range(rays):
        a0 = 2 * math.pi * k / rays
        a1 = a0 + math.pi / rays
        r = 420
        parts.append(f"polygon {cx},{cy} {f(cx + r * math.cos(a0))},{f(cy + r * math.sin(a0))} "
                     f"{f(cx + r * math.cos(a1))},{f(cy + r * math.sin(a1))}")
    parts += [style("#fffbe6", "none", 0, 0.7), circle(cx, cy, 70),
              style("#ffffff", "none", 0, 0.8), circle(cx, cy, 38),
              style("#b6de8c"), f"ellipse {cx},330 240,80 0,360",
              style("#9acc68"), "ellipse 40,298 110,40 0,360", "ellipse 300,298 110,40 0,360"]
    hole = (cx, 286 - 150 * 0.95 + 45 * 0.95 + 25 * 0.95)
    letters = ((68, 76, -28, 52), (128, 34, -10, 46), (214, 30, 14, 48), (276, 84, 30, 52), (44, 160, -40, 40),
               (298, 168, 38, 40), (172, 88, 4, 38))
    # trails drawn behind the box, so the letters seem to burst out of it
    parts.append(style("none", "#f0b030", 3))
    for x, y, _, _ in letters:
        mx, my = (hole[0] + x) / 2, (hole[1] + y) / 2 - 18
        ex, ey = hole[0] + (x - hole[0]) * 0.72, hole[1] + (y - hole[1]) * 0.72
        parts.append(f"path 'M {f(hole[0])},{f(hole[1])} Q {f(mx)},{f(my)} {f(ex)},{f(ey)}'")
    parts.append(nest_box(cx, 286, 0.95, seed=5, open_hole=True))
    parts.append(moss_band(120, 220, 287, 16, seed=3))
    for x, y, turn, size in letters:
        parts.append(group(envelope(size, size * 0.66, 2.2), translate=(x, y), rotate=turn))
    # sparkles and loose petals
    for x, y, r, colour in ((28, 40, 9, "#ff9f3a"), (312, 34, 10, "#ff7fa8"), (244, 128, 7, "#5fb0e8"),
                            (98, 122, 7, "#8acb4a"), (320, 240, 8, "#ffb23a"), (22, 236, 8, "#5fb0e8"),
                            (170, 12, 6, "#ff7fa8")):
        parts.append(style(colour))
        parts.append(f"polygon {f(x)},{f(y - r)} {f(x + r * 0.28)},{f(y - r * 0.28)} {f(x + r)},{f(y)} "
                     f"{f(x + r * 0.28)},{f(y + r * 0.28)} {f(x)},{f(y + r)} {f(x - r * 0.28)},{f(y + r * 0.28)} "
                     f"{f(x - r)},{f(y)} {f(x - r * 0.28)},{f(y - r * 0.28)}")
    for x, y, r, turn in ((110, 74, 6, 20), (236, 82, 6, 50), (60, 210, 7, 0), (282, 222, 7, 30), (150, 60, 4.5, 10)):
        parts.append(flower(x, y, r, turn=turn))
    return w, h, f"viewbox 0 0 {w} {h}\n" + group(*parts, translate=(3, 4))


def icon_picture(small=False):
    """The program icon, drawn on a 256 canvas: a letter wearing a cushion of moss, sealed with a pressed flower."""
    line = 12 if small else 7
    parts = [group(envelope(212, 140, line, seal=False), translate=(128, 146)),
             flower(128, 160, 44 if small else 36, turn=-18, outline=4 if small else 3)]
    if small:
        parts.append(moss_band(26, 230, 82, 46, seed=21, blob=1.1))
    else:
        parts.append(moss_band(24, 232, 78, 44, seed=21))
        parts.append(moss_band(22, 40, 110, 26, seed=22))  # a little moss creeping down the left edge
        parts.append(style("none", MOSS_DARK, 5))
        parts.append("path 'M 196,50 Q 204,26 214,16'")
        parts.append(style(MOSS_LIGHT, MOSS_DARK, 3))
        parts.append("path 'M 214,16 Q 232,10 238,22 Q 226,30 214,16 Z'")
        parts.append("path 'M 206,30 Q 190,18 180,26 Q 192,38 206,30 Z'")
    return 256, 256, "viewbox 0 0 256 256\n" + group(*parts, translate=(0, 10 if small else 12))


PNG_CLEAN = ["-strip", "-define", "png:exclude-chunks=date,time"]


def convert(args):
    tool = shutil.which("convert")
    if not tool:
        sys.exit("make-data: ImageMagick's convert is needed (scripts/install-deps installs imagemagick)")
    subprocess.run([tool] + args, check=True)


def draw(width, height, mvg, target, background="none", extra=()):
    convert(["-size", f"{width}x{height}", f"xc:{background}", "-draw", mvg] + list(extra) + [target])


def make_pictures(out, work):
    images = os.path.join(out, "data", "画像データ")
    resources = os.path.join(out, "app", "resources")
    html = os.path.join(out, "data", "HTML")
    for folder in (images, resources, html):
        os.makedirs(folder, exist_ok=True)

    w, h, mvg = resting_picture()
    draw(w, h, mvg, "PNG32:" + os.path.join(images, "subako.png"), extra=PNG_CLEAN)

    w, h, mvg = bom_picture()
    full = os.path.join(work, "bom.png")
    draw(w, h, mvg, "PNG24:" + full, background="#fff4c4", extra=PNG_CLEAN)
    # 8 bits a pixel with run-length rows (BI_RLE8) keeps the picture well under 100 KB.
    convert([full, "-dither", "None", "-colors", "200", "-type", "Palette", "-compress", "RLE",
             "BMP3:" + os.path.join(images, "Bom.bmp")])

    _, _, mvg = icon_picture()
    big = os.path.join(resources, "mossvale.png")
    draw(256, 256, mvg, "PNG32:" + big, extra=PNG_CLEAN)
    convert([big, "-resize", "128x128", *PNG_CLEAN, "PNG32:" + os.path.join(html, "icon.png")])
    _, _, mvg = icon_picture(small=True)
    convert(["-size", "256x256", "xc:none", "-draw", mvg, "-resize", "32x32", *PNG_CLEAN,
             "PNG32:" + os.path.join(resources, "mossvale-32.png")])


def chime_samples(rate):
    """Three soft bell strokes rising C6-E6-G6, each with a few decaying partials, then a quiet tail."""
    length = 1.3
    notes = ((0.00, 1046.50, 0.55), (0.14, 1318.51, 0.50), (0.28, 1567.98, 0.60))
    partials = ((1.0, 1.0, 2.2), (2.0, 0.28, 4.0), (2.76, 0.12, 6.0), (5.4, 0.04, 9.0))
    total = int(rate * length)
    out = []
    for i in range(total):
        t = i / rate
        value = 0.0
        for start, freq, gain in notes:
            u = t - start
            if u < 0:
                continue
            attack = min(1.0, u / 0.006)
            for ratio, amp, decay in partials:
                value += gain * amp * attack * math.exp(-decay * u) * math.sin(2 * math.pi * freq * ratio * u)
        fade = min(1.0, (length - t) / 0.15)
        out.append(value * fade)
    peak = max(abs(v) for v in out)
    scale = 0.6 * 32767 / peak
    return [int(round(v * scale)) for v in out]


def make_sound(out):
    folder = os.path.join(out, "data", "Sound")
    os.makedirs(folder, exist_ok=True)
    rate = 22050
    samples = chime_samples(rate)
    with wave.open(os.path.join(folder, "Kouka.wav"), "wb") as wav:
        wav.setnchannels(1)
        wav.setsampwidth(2)
        wav.setframerate(rate)
        wav.writeframes(struct.pack(f"<{len(samples)}h", *samples))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=ROOT, help="root to write under (default: the repository)")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as work:
        make_pictures(args.out, work)
    make_sound(args.out)
    for rel in ("data/画像データ/subako.png", "data/画像データ/Bom.bmp", "data/Sound/Kouka.wav",
                "data/HTML/icon.png", "app/resources/mossvale.png", "app/resources/mossvale-32.png"):
        path = os.path.join(args.out, rel)
        print(f"{rel}: {os.path.getsize(path)} bytes")


if __name__ == "__main__":
    main()
