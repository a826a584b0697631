#!/usr/bin/env python3
"""Draws Kestrova's and kvupdate's button bitmaps, settings headings and icons.

Pure Python 3 standard library. Writes 24-bit BMP files and multi-size 32-bit .ico files
into resources/kestrova and resources/kvupdate. The generated files are committed, so the
build never runs this script; run it again after changing a drawing:

    python3 resources/tools/draw_images.py

Every picture is built from pixel masks: a shape is filled with its colour and the mask's
edge pixels get a one-pixel dark outline, which keeps the drawings crisp at small sizes.
"""

import math
import os
import struct
import sys

# ---------------------------------------------------------------------------------------------
# Palette
# ---------------------------------------------------------------------------------------------

# Ground of the button bitmaps. The programs carry a common-controls 6 manifest, so their push
# buttons are themed; Wine 8's default "Light" theme paints a flat white button face (its
# ButtonFace system colour is 245, 245, 245). Bitmaps are loaded without colour mapping, so
# they are drawn on white to blend into the face.
FACE = (255, 255, 255)

OUTLINE = (44, 48, 62)
WHITE = (255, 255, 255)
PAPER = (250, 250, 252)
PAPER_SHADE = (214, 219, 228)
PAPER_LINE = (150, 160, 178)

FOLDER = (248, 200, 84)
FOLDER_LIGHT = (255, 232, 156)
FOLDER_SHADE = (214, 156, 42)

RUST = (196, 96, 44)  # kestrel rufous
RUST_LIGHT = (232, 146, 86)
RUST_SHADE = (150, 66, 30)
SLATE = (104, 120, 148)  # kestrel head grey-blue
SLATE_LIGHT = (170, 184, 206)

BLUE = (52, 120, 218)
BLUE_LIGHT = (126, 178, 244)
BLUE_SHADE = (30, 80, 160)
SKY = (186, 222, 250)

GREEN = (56, 158, 68)
GREEN_LIGHT = (124, 206, 118)
GREEN_SHADE = (30, 110, 44)

RED = (214, 52, 48)
RED_LIGHT = (244, 118, 108)
RED_SHADE = (150, 28, 28)

STEEL = (150, 156, 168)
STEEL_LIGHT = (212, 216, 224)
STEEL_SHADE = (100, 106, 120)

BROWN = (120, 78, 44)

HEAD_GROUND = (228, 228, 228)
HEAD_TEXT = (92, 92, 92)
HEAD_RULE = (180, 180, 180)


# ---------------------------------------------------------------------------------------------
# Canvas and masks
# ---------------------------------------------------------------------------------------------

class Canvas:
    """RGBA pixels, row 0 at the top. Alpha is 0 or 255."""

    def __init__(self, width, height, ground=None):
        self.width = width
        self.height = height
        fill = (ground + (255,)) if ground else (0, 0, 0, 0)
        self.pixels = [[fill] * width for _ in range(height)]

    def put(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = tuple(colour[:3]) + (255,)

    def get(self, x, y):
        return self.pixels[y][x]

    def paint(self, mask, colour):
        for x, y in mask:
            self.put(x, y, colour)

    def shape(self, mask, fill, outline=OUTLINE, light=None, shade=None):
        """Fills a mask, outlines its edge and optionally bevels its inside edge."""
        mask = set(mask)
        edge = edge_of(mask)
        inner = mask - edge
        self.paint(inner, fill)
        if light:
            self.paint({(x, y) for x, y in inner if (x - 1, y) in edge or (x, y - 1) in edge}, light)
        if shade:
            self.paint({(x, y) for x, y in inner if (x + 1, y) in edge or (x, y + 1) in edge}, shade)
        if outline:
            self.paint(edge, outline)
        return mask


def edge_of(mask):
    return {(x, y) for x, y in mask
            if (x - 1, y) not in mask or (x + 1, y) not in mask or (x, y - 1) not in mask or (x, y + 1) not in mask}


def rect(x0, y0, x1, y1):
    """Pixels of the rectangle with corners (x0, y0) and (x1, y1), both inclusive."""
    return {(x, y) for y in range(y0, y1 + 1) for x in range(x0, x1 + 1)}


def polygon(points):
    """Pixels whose centres lie inside the polygon (even-odd rule); vertices in pixel units."""
    xs = [p[0] for p in points]
    ys = [p[1] for p in points]
    out = set()
    for y in range(int(math.floor(min(ys))), int(math.ceil(max(ys))) + 1):
        cy = y + 0.5
        for x in range(int(math.floor(min(xs))), int(math.ceil(max(xs))) + 1):
            cx = x + 0.5
            inside = False
            j = len(points) - 1
            for i in range(len(points)):
                xi, yi = points[i]
                xj, yj = points[j]
                if (yi > cy) != (yj > cy) and cx < (xj - xi) * (cy - yi) / (yj - yi) + xi:
                    inside = not inside
                j = i
            if inside:
                out.add((x, y))
    return out


def disc(cx, cy, r):
    """Pixels whose centres lie within r of (cx, cy)."""
    out = set()
    for y in range(int(cy - r) - 1, int(cy + r) + 2):
        for x in range(int(cx - r) - 1, int(cx + r) + 2):
            if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= r * r:
                out.add((x, y))
    return out


def ring(cx, cy, r_out, r_in, a0=0.0, a1=360.0):
    """Annulus pixels between two radii, limited to angles a0..a1 (degrees, y axis downwards)."""
    out = set()
    for x, y in disc(cx, cy, r_out) - disc(cx, cy, r_in):
        a = math.degrees(math.atan2(y + 0.5 - cy, x + 0.5 - cx)) % 360.0
        if (a0 <= a <= a1) if a0 <= a1 else (a >= a0 or a <= a1):
            out.add((x, y))
    return out


def thick_line(x0, y0, x1, y1, width):
    """Pixels whose centres lie within width/2 of the segment."""
    out = set()
    half = width / 2.0
    dx, dy = x1 - x0, y1 - y0
    length2 = dx * dx + dy * dy or 1e-9
    for y in range(int(min(y0, y1) - half) - 1, int(max(y0, y1) + half) + 2):
        for x in range(int(min(x0, x1) - half) - 1, int(max(x0, x1) + half) + 2):
            px, py = x + 0.5, y + 0.5
            t = max(0.0, min(1.0, ((px - x0) * dx + (py - y0) * dy) / length2))
            qx, qy = x0 + t * dx, y0 + t * dy
            if (px - qx) ** 2 + (py - qy) ** 2 <= half * half:
                out.add((x, y))
    return out


def line(x0, y0, x1, y1):
    """One-pixel Bresenham line, both ends inclusive."""
    out = set()
    dx, dy = abs(x1 - x0), -abs(y1 - y0)
    sx, sy = (1 if x0 < x1 else -1), (1 if y0 < y1 else -1)
    err = dx + dy
    while True:
        out.add((x0, y0))
        if x0 == x1 and y0 == y1:
            return out
        e2 = 2 * err
        if e2 >= dy:
            err += dy
            x0 += sx
        if e2 <= dx:
            err += dx
            y0 += sy


def grown(mask):
    """The mask plus its 4-neighbours (used to cut a one-pixel gap around a shape)."""
    out = set(mask)
    for x, y in mask:
        out.update(((x - 1, y), (x + 1, y), (x, y - 1), (x, y + 1)))
    return out


# ---------------------------------------------------------------------------------------------
# Reusable drawings
# ---------------------------------------------------------------------------------------------

def draw_folder(c, x0, y0, x1, y1, tab_w=None, colour=(FOLDER, FOLDER_LIGHT, FOLDER_SHADE)):
    """A manila folder: a tab on the upper left and the body below it."""
    fill, light, shade = colour
    tab_w = tab_w or max(4, (x1 - x0) * 2 // 5)
    tab_h = max(2, (y1 - y0) // 6)
    tab = polygon([(x0, y0 + tab_h + 1), (x0 + 1, y0), (x0 + tab_w, y0), (x0 + tab_w + tab_h, y0 + tab_h + 1)])
    body = rect(x0, y0 + tab_h, x1, y1)
    c.shape(tab | body, fill, light=light, shade=shade)
    # the fold between tab and body
    c.paint(line(x0 + tab_w + tab_h, y0 + tab_h, x1 - 1, y0 + tab_h), OUTLINE)


def draw_zip_box(c, x0, y0, x1, y1, pull=True):
    """A zip archive: a rufous box with a zipper running down its middle."""
    c.shape(rect(x0, y0, x1, y1), RUST, light=RUST_LIGHT, shade=RUST_SHADE)
    zx = (x0 + x1) // 2
    for y in range(y0 + 1, y1):
        c.put(zx - 1 + (y - y0) % 2, y, OUTLINE)
        c.put(zx - (y - y0) % 2, y, SLATE_LIGHT)
    if pull:
        c.shape(rect(zx - 2, y0 + 2, zx + 1, y0 + 5), SLATE_LIGHT)
        c.put(zx - 1, y0 + 3, SLATE)
        c.put(zx, y0 + 3, SLATE)


def draw_page(c, x0, y0, x1, y1, lines=True):
    """A sheet of paper with a folded upper right corner."""
    fold = max(3, (x1 - x0) // 3)
    page = polygon([(x0, y0), (x1 + 1 - fold, y0), (x1 + 1, y0 + fold), (x1 + 1, y1 + 1), (x0, y1 + 1)])
    c.shape(page, PAPER, shade=PAPER_SHADE)
    corner = polygon([(x1 + 1 - fold, y0), (x1 + 1 - fold, y0 + fold), (x1 + 1, y0 + fold)])
    c.shape(corner, PAPER_SHADE)
    if lines:
        for y in range(y0 + fold + 2, y1 - 1, 2):
            c.paint(line(x0 + 2, y, x1 - 2, y), PAPER_LINE)


def draw_magnifier(c, cx, cy, r, handle_len, handle_w=3):
    """A magnifying glass with its lens centred at (cx, cy) and its handle to the lower right."""
    d = (r + 0.5) / math.sqrt(2)
    hx0, hy0 = cx + d, cy + d
    hx1, hy1 = hx0 + handle_len / math.sqrt(2), hy0 + handle_len / math.sqrt(2)
    c.shape(thick_line(hx0, hy0, hx1, hy1, handle_w + 1.2), BROWN)
    c.shape(disc(cx, cy, r + 1.0), STEEL_SHADE)
    lens = disc(cx, cy, r - 0.6)
    c.shape(lens, SKY, outline=STEEL_SHADE)
    # glint in the upper left of the lens
    gx, gy = int(cx - r / 2.5), int(cy - r / 2.5)
    c.paint({(gx, gy), (gx + 1, gy), (gx, gy + 1)}, WHITE)


def arrow(tip, direction, head_len, head_w, shaft_len, shaft_w):
    """Polygon of an arrow with its point at tip, pointing along direction (dx, dy)."""
    tx, ty = tip
    dx, dy = direction
    n = math.hypot(dx, dy)
    dx, dy = dx / n, dy / n
    px, py = -dy, dx  # perpendicular
    bx, by = tx - dx * head_len, ty - dy * head_len
    ex, ey = bx - dx * shaft_len, by - dy * shaft_len
    hw, sw = head_w / 2.0, shaft_w / 2.0
    return polygon([
        (tx, ty),
        (bx + px * hw, by + py * hw),
        (bx + px * sw, by + py * sw),
        (ex + px * sw, ey + py * sw),
        (ex - px * sw, ey - py * sw),
        (bx - px * sw, by - py * sw),
        (bx - px * hw, by - py * hw),
    ])


def draw_globe(c, cx, cy, r):
    """A blue globe with an equator, two parallels and a meridian ellipse."""
    ball = disc(cx, cy, r)
    small = r < 7
    c.shape(ball, BLUE, light=None if small else BLUE_LIGHT, shade=BLUE_SHADE)
    inner = ball - edge_of(ball)
    grid = set()
    iy = int(cy)
    grid |= {(x, iy) for x, y in inner if y == iy}
    for off in (() if small else (r * 0.5,)):
        for yy in (int(cy - off), int(cy + off)):
            grid |= {(x, y) for x, y in inner if y == yy}
    if not small:
        grid |= {(x, y) for x, y in inner if x == int(cx)}
    rx = max(1.5, r * 0.5)
    ellipse = {(x, y) for x, y in inner if ((x + 0.5 - cx) / rx) ** 2 + ((y + 0.5 - cy) / r) ** 2 <= 1.0}
    grid |= edge_of(ellipse)
    c.paint(grid & inner, BLUE_LIGHT)


# ---------------------------------------------------------------------------------------------
# Button bitmaps (main column 26 x 24 on 35 x 32 buttons; bottom row 16 x 16 on 23 x 23)
# ---------------------------------------------------------------------------------------------

BIG = (26, 24)
SMALL = (16, 16)


def bmp_show_contents():  # 175: a magnifier looking into an archive
    c = Canvas(*BIG, ground=FACE)
    draw_zip_box(c, 2, 2, 15, 21)
    draw_magnifier(c, 15.0, 12.0, 5.2, 6.5)
    # the member list seen through the lens
    for y, x1 in ((10, 17), (12, 18), (14, 16)):
        c.paint(line(13, y, x1, y), PAPER_LINE)
    return c


def bmp_up():  # 142
    c = Canvas(*BIG, ground=FACE)
    draw_folder(c, 2, 8, 21, 21)
    c.shape(arrow((16.5, 1.0), (0, -1), 5, 10, 8, 4), GREEN, light=GREEN_LIGHT, shade=GREEN_SHADE)
    return c


def bmp_up_root():  # 165: the Up picture greyed, for a drive root
    c = bmp_up()
    for y in range(c.height):
        for x in range(c.width):
            r, g, b, _ = c.get(x, y)
            if (r, g, b) != FACE:
                lum = 0.30 * r + 0.59 * g + 0.11 * b
                v = int(round(150 + lum * 80 / 255))
                c.put(x, y, (v, v, v))
    return c


def bmp_desktop():  # 145
    c = Canvas(*BIG, ground=FACE)
    c.shape(rect(8, 18, 17, 19), STEEL, light=STEEL_LIGHT)  # neck
    c.shape(rect(5, 20, 20, 22), STEEL, light=STEEL_LIGHT, shade=STEEL_SHADE)  # foot
    c.shape(rect(2, 2, 23, 18), STEEL_LIGHT, shade=STEEL)  # bezel
    screen = rect(4, 4, 21, 15)
    c.shape(screen, (58, 132, 200), outline=(32, 64, 110))
    # a little landscape on the screen: a sunny hill and two icons
    c.paint(polygon([(5, 15), (10, 10), (14, 12), (17, 9), (21, 13), (21, 15)]) & screen, (80, 168, 92))
    c.paint(disc(18, 7, 1.6), (255, 224, 96))
    c.paint(rect(6, 6, 7, 7), WHITE)
    c.paint(rect(6, 9, 7, 10), WHITE)
    return c


def bmp_email():  # 158
    c = Canvas(*SMALL, ground=FACE)
    c.shape(rect(1, 3, 14, 12), PAPER, shade=PAPER_SHADE)
    c.paint(line(2, 4, 7, 8) | line(13, 4, 8, 8), OUTLINE)
    c.paint(line(2, 11, 5, 8) | line(13, 11, 10, 8), PAPER_LINE)
    return c


def bmp_website():  # 159
    c = Canvas(*SMALL, ground=FACE)
    draw_globe(c, 8.0, 8.0, 7.0)
    return c


def bmp_options():  # 140: a gear
    c = Canvas(*SMALL, ground=FACE)
    cx, cy = 8.0, 8.0
    body = disc(cx, cy, 5.2)
    teeth = set()
    for k in range(8):
        a = math.radians(k * 45 + 22.5)
        teeth |= thick_line(cx + math.cos(a) * 4.0, cy + math.sin(a) * 4.0,
                            cx + math.cos(a) * 6.6, cy + math.sin(a) * 6.6, 2.6)
    gear = (body | teeth) - disc(cx, cy, 1.9)
    c.shape(gear, STEEL, light=STEEL_LIGHT, shade=STEEL_SHADE)
    return c


def bmp_refresh():  # 147: two circular arrows chasing each other clockwise
    c = Canvas(*BIG, ground=FACE)
    w, h = BIG
    band = ring(12.5, 11.5, 10.8, 6.5)
    # upper arc: over the top from the left side to the right side, then a head pointing down
    upper = {(x, y) for x, y in band if y <= 8 and (x >= 12 or y <= 6)}
    for row, (x0, x1) in enumerate(((16, 24), (17, 23), (18, 22), (19, 21), (20, 20))):
        upper |= rect(x0, 9 + row, x1, 9 + row)
    # the lower arrow is the upper one turned half a circle
    lower = {(w - 1 - x, h - 1 - y) for x, y in upper}
    c.shape(upper, GREEN, light=GREEN_LIGHT, shade=GREEN_SHADE)
    c.shape(lower, BLUE, light=BLUE_LIGHT, shade=BLUE_SHADE)
    return c


def bmp_execute():  # 152: an archive with an arrow coming out of it
    c = Canvas(*BIG, ground=FACE)
    draw_zip_box(c, 1, 7, 14, 22)
    c.shape(rect(0, 5, 15, 8), RUST, light=RUST_LIGHT, shade=RUST_SHADE)  # lid
    zx = (1 + 14) // 2
    c.paint({(zx - 1, 6), (zx, 6)}, SLATE_LIGHT)
    c.shape(arrow((25.0, 13.0), (1, 0), 6, 11, 9, 5), GREEN, light=GREEN_LIGHT, shade=GREEN_SHADE)
    return c


def bmp_delete():  # 146: a red cross
    c = Canvas(*BIG, ground=FACE)
    cross = thick_line(6, 5, 20, 19, 4.6) | thick_line(20, 5, 6, 19, 4.6)
    c.shape(cross, RED, light=RED_LIGHT, shade=RED_SHADE, outline=RED_SHADE)
    return c


def bmp_search():  # 149: a magnifier over a folder
    c = Canvas(*BIG, ground=FACE)
    draw_folder(c, 1, 4, 19, 18)
    draw_magnifier(c, 14.0, 12.0, 5.0, 6.5)
    return c


# ---------------------------------------------------------------------------------------------
# Settings headings (290 x 15): grey text on a light grey ground
# ---------------------------------------------------------------------------------------------

# Glyphs are rows of '#' and '.', 7 rows down to the baseline plus up to 2 descender rows.
GLYPHS = {
    'A': "..#..|.#.#.|#...#|#...#|#####|#...#|#...#",
    'B': "####.|#...#|#...#|####.|#...#|#...#|####.",
    'C': ".###.|#...#|#....|#....|#....|#...#|.###.",
    'D': "####.|#...#|#...#|#...#|#...#|#...#|####.",
    'E': "#####|#....|#....|####.|#....|#....|#####",
    'F': "#####|#....|#....|####.|#....|#....|#....",
    'G': ".###.|#...#|#....|#.###|#...#|#...#|.####",
    'H': "#...#|#...#|#...#|#####|#...#|#...#|#...#",
    'I': "###|.#.|.#.|.#.|.#.|.#.|###",
    'J': "..###|...#.|...#.|...#.|#..#.|#..#.|.##..",
    'K': "#...#|#..#.|#.#..|##...|#.#..|#..#.|#...#",
    'L': "#....|#....|#....|#....|#....|#....|#####",
    'M': "#...#|##.##|#.#.#|#.#.#|#...#|#...#|#...#",
    'N': "#...#|#...#|##..#|#.#.#|#..##|#...#|#...#",
    'O': ".###.|#...#|#...#|#...#|#...#|#...#|.###.",
    'P': "####.|#...#|#...#|####.|#....|#....|#....",
    'Q': ".###.|#...#|#...#|#...#|#.#.#|#..#.|.##.#",
    'R': "####.|#...#|#...#|####.|#.#..|#..#.|#...#",
    'S': ".####|#....|#....|.###.|....#|....#|####.",
    'T': "#####|..#..|..#..|..#..|..#..|..#..|..#..",
    'U': "#...#|#...#|#...#|#...#|#...#|#...#|.###.",
    'V': "#...#|#...#|#...#|#...#|#...#|.#.#.|..#..",
    'W': "#...#|#...#|#...#|#.#.#|#.#.#|#.#.#|.#.#.",
    'X': "#...#|#...#|.#.#.|..#..|.#.#.|#...#|#...#",
    'Y': "#...#|#...#|.#.#.|..#..|..#..|..#..|..#..",
    'Z': "#####|....#|...#.|..#..|.#...|#....|#####",
    'a': ".....|.....|.###.|....#|.####|#...#|.####",
    'b': "#....|#....|####.|#...#|#...#|#...#|####.",
    'c': "....|....|.###|#...|#...|#...|.###",
    'd': "....#|....#|.####|#...#|#...#|#...#|.####",
    'e': ".....|.....|.###.|#...#|#####|#....|.###.",
    'f': "..##|.#..|####|.#..|.#..|.#..|.#..",
    'g': ".....|.....|.####|#...#|#...#|#...#|.####|....#|.###.",
    'h': "#....|#....|####.|#...#|#...#|#...#|#...#",
    'i': "#|.|#|#|#|#|#",
    'j': "..#|...|..#|..#|..#|..#|..#|..#|##.",
    'k': "#...|#...|#..#|#.#.|##..|#.#.|#..#",
    'l': "#.|#.|#.|#.|#.|#.|.#",
    'm': ".....|.....|####.|#.#.#|#.#.#|#.#.#|#.#.#",
    'n': ".....|.....|####.|#...#|#...#|#...#|#...#",
    'o': ".....|.....|.###.|#...#|#...#|#...#|.###.",
    'p': ".....|.....|####.|#...#|#...#|#...#|####.|#....|#....",
    'q': ".....|.....|.####|#...#|#...#|#...#|.####|....#|....#",
    'r': "....|....|#.##|##..|#...|#...|#...",
    's': "....|....|.###|#...|.##.|...#|###.",
    't': ".#..|.#..|###.|.#..|.#..|.#..|..##",
    'u': ".....|.....|#...#|#...#|#...#|#...#|.####",
    'v': ".....|.....|#...#|#...#|#...#|.#.#.|..#..",
    'w': ".....|.....|#...#|#...#|#.#.#|#.#.#|.#.#.",
    'x': ".....|.....|#...#|.#.#.|..#..|.#.#.|#...#",
    'y': ".....|.....|#...#|#...#|#...#|#...#|.####|....#|.###.",
    'z': ".....|.....|#####|...#.|..#..|.#...|#####",
    '0': ".###.|#...#|#..##|#.#.#|##..#|#...#|.###.",
    '1': ".#.|##.|.#.|.#.|.#.|.#.|###",
    '2': ".###.|#...#|....#|...#.|..#..|.#...|#####",
    '3': "####.|....#|....#|.###.|....#|....#|####.",
    '4': "...#.|..##.|.#.#.|#..#.|#####|...#.|...#.",
    '5': "#####|#....|####.|....#|....#|#...#|.###.",
    '6': ".###.|#....|#....|####.|#...#|#...#|.###.",
    '7': "#####|....#|...#.|..#..|.#...|.#...|.#...",
    '8': ".###.|#...#|#...#|.###.|#...#|#...#|.###.",
    '9': ".###.|#...#|#...#|.####|....#|....#|.###.",
    '.': ".|.|.|.|.|.|#",
    ',': "..|..|..|..|..|.#|.#|#.",
    '-': "....|....|....|####|....|....|....",
    '/': "....#|...#.|...#.|..#..|.#...|.#...|#....",
    ':': ".|.|#|.|.|.|#",
    '!': "#|#|#|#|#|.|#",
    '+': ".....|.....|..#..|..#..|#####|..#..|..#..",
}
SPACE_WIDTH = 3
LETTER_GAP = 1


def draw_text(c, x, top, text, colour):
    """Draws text with its cap line at row top; returns the x just past the last glyph."""
    for ch in text:
        if ch == ' ':
            x += SPACE_WIDTH + LETTER_GAP
            continue
        rows = GLYPHS[ch].split('|')
        for dy, row in enumerate(rows):
            for dx, bit in enumerate(row):
                if bit == '#':
                    c.put(x + dx, top + dy, colour)
        x += len(rows[0]) + LETTER_GAP
    return x - LETTER_GAP


def heading(text):
    c = Canvas(290, 15, ground=HEAD_GROUND)
    end = draw_text(c, 6, 4, text, HEAD_TEXT)
    if end + 8 < c.width - 6:
        c.paint(line(end + 6, 7, c.width - 7, 7), HEAD_RULE)
    return c


# ---------------------------------------------------------------------------------------------
# Icons (16, 32 and 48 pixels, 32-bit with an AND mask)
# ---------------------------------------------------------------------------------------------

def icon_kestrova(size):
    """The program icon: a zipped rufous folder with a slate zipper and pull."""
    c = Canvas(size, size)
    s = size / 32.0

    def p(v):
        return int(round(v * s))

    x0, x1 = 1 if size <= 16 else p(1.5), size - 2 if size <= 16 else size - 1 - p(1.5)
    y0, y1 = p(4), size - 1 - (1 if size <= 16 else p(3))
    tab_w, tab_h = p(11), max(2, p(4))
    tab = polygon([(x0, y0 + tab_h + 1), (x0 + max(1, p(1)), y0), (x0 + tab_w, y0),
                   (x0 + tab_w + tab_h, y0 + tab_h + 1)])
    body = rect(x0, y0 + tab_h, x1, y1)
    c.shape(tab | body, RUST, light=RUST_LIGHT, shade=RUST_SHADE)
    c.paint(line(x0 + tab_w + tab_h, y0 + tab_h, x1 - 1, y0 + tab_h), OUTLINE)
    # zipper down the middle of the body
    zx = (x0 + x1 + 1) // 2
    zt = y0 + tab_h + 1
    tooth = 1 if size <= 16 else max(1, p(1.5))
    for y in range(zt, y1):
        k = (y - zt) // tooth % 2
        if size <= 16:
            c.put(zx - 1 + k, y, OUTLINE)
            c.put(zx - k, y, SLATE_LIGHT)
        else:
            # teeth of width w, alternately left and right of the centre line
            w = max(2, p(2))
            first = zx - w if k == 0 else zx
            for x in range(first, first + w):
                c.put(x, y, SLATE_LIGHT)
            c.put(first - 1, y, OUTLINE)
            c.put(first + w, y, OUTLINE)
    # pull tab hanging from the top of the zipper
    if size <= 16:
        c.shape(rect(zx - 2, zt, zx + 1, zt + 4), SLATE_LIGHT)
        c.put(zx - 1, zt + 2, SLATE)
        c.put(zx, zt + 2, SLATE)
    else:
        pw, ph = max(4, p(5)), max(6, p(8))
        pull = rect(zx - pw // 2 - 1, zt + p(1), zx + (pw + 1) // 2, zt + p(1) + ph)
        c.shape(pull, SLATE_LIGHT, light=WHITE, shade=SLATE)
        hole = rect(zx - 1, zt + p(1) + ph - max(2, p(3)), zx, zt + p(1) + ph - 2)
        c.paint(hole, SLATE)
    return c


def icon_kvupdate(size):
    """The updater icon: a green down arrow in front of a globe."""
    c = Canvas(size, size)
    s = size / 32.0
    r = 12.5 * s if size > 16 else 6.5
    cx = cy = (13.5 * s) if size > 16 else 7.0
    draw_globe(c, cx, cy, r)
    tip = (size - 1 - 7.5 * s + 0.5, size - 0.2) if size > 16 else (12.0, 16.0)
    hl, hw, sl, sw = (9 * s, 16 * s, 9 * s, 7 * s) if size > 16 else (4.5, 8.2, 4.5, 3.5)
    head = arrow(tip, (0, 1), hl, hw, sl, sw)
    # a light rim separates the arrow from the globe behind it
    c.paint({(x, y) for x, y in edge_of(grown(head)) - head
             if 0 <= x < size and 0 <= y < size and c.get(x, y)[3]}, WHITE)
    c.shape(head, GREEN, light=GREEN_LIGHT, shade=GREEN_SHADE)
    return c


# ---------------------------------------------------------------------------------------------
# File writers
# ---------------------------------------------------------------------------------------------

def bmp_bytes(c):
    """A 24-bit bottom-up BMP file."""
    stride = (c.width * 3 + 3) & ~3
    rows = []
    for y in range(c.height - 1, -1, -1):
        row = bytearray()
        for x in range(c.width):
            r, g, b, a = c.get(x, y)
            row += bytes((b, g, r))
        row += b'\0' * (stride - len(row))
        rows.append(bytes(row))
    data = b''.join(rows)
    info = struct.pack('<IiiHHIIiiII', 40, c.width, c.height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    head = struct.pack('<2sIHHI', b'BM', 14 + len(info) + len(data), 0, 0, 14 + len(info))
    return head + info + data


def ico_image(c):
    """One icon image: BITMAPINFOHEADER, 32-bit BGRA pixels, then the 1-bit AND mask."""
    w, h = c.width, c.height
    xor = bytearray()
    mask = bytearray()
    mask_stride = ((w + 31) // 32) * 4
    for y in range(h - 1, -1, -1):
        bits = bytearray(mask_stride)
        for x in range(w):
            r, g, b, a = c.get(x, y)
            if a:
                xor += bytes((b, g, r, 255))
            else:
                xor += b'\0\0\0\0'
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    info = struct.pack('<IiiHHIIiiII', 40, w, h * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return info + bytes(xor) + bytes(mask)


def ico_bytes(canvases):
    images = [ico_image(c) for c in canvases]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for c, img in zip(canvases, images):
        out += struct.pack('<BBBBHHII', c.width % 256, c.height % 256, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    return out + b''.join(images)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    kestrova = os.path.join(root, 'kestrova')
    kvupdate = os.path.join(root, 'kvupdate')
    bitmaps = {
        140: bmp_options(),
        142: bmp_up(),
        145: bmp_desktop(),
        146: bmp_delete(),
        147: bmp_refresh(),
        149: bmp_search(),
        152: bmp_execute(),
        158: bmp_email(),
        159: bmp_website(),
        162: heading("Special Options for the Location of Extraction"),
        163: heading("Quick Access Icons"),
        165: bmp_up_root(),
        169: heading("File Masks Not To Extract"),
        170: heading("About"),
        175: bmp_show_contents(),
    }
    written = []
    for ident, canvas in sorted(bitmaps.items()):
        path = os.path.join(kestrova, 'bmp%d.bmp' % ident)
        with open(path, 'wb') as f:
            f.write(bmp_bytes(canvas))
        written.append((path, '%d x %d' % (canvas.width, canvas.height)))
    for path, draw in ((os.path.join(kestrova, 'icon156.ico'), icon_kestrova),
                       (os.path.join(kvupdate, 'icon129.ico'), icon_kvupdate)):
        with open(path, 'wb') as f:
            f.write(ico_bytes([draw(n) for n in (16, 32, 48)]))
        written.append((path, '16, 32, 48'))
    for path, size in written:
        print('%-60s %s' % (os.path.relpath(path, os.path.dirname(root)), size))
    return 0


if __name__ == '__main__':
    sys.exit(main())
