#!/usr/bin/env python3
"""Draws Kestrova's and kvupdate's button bitmaps, settings headings and icons.

Pure Python 3 standard library. Writes 24-bit BMP files and multi-size 32-bit .ico files
into resources/kestrova and resources/kvupdate. The generated files are committed, so the
build never runs this script; run it again after changing a drawing:

    python3 resources/tools/draw_images.py

Every picture is built from pixel masks: a shape is filled with its colour and the mask's
edge pixels get a dark outline, which keeps the drawings crisp at small sizes.

The bitmaps are drawn once for each display scale the programs know (100, 125, 150 and 200 %,
see SCALES): the drawings are given in the pixels of the 100 % design and every shape is laid
out again at the target size (coordinates multiplied, outlines and strokes kept whole pixels),
so no set is an enlargement of another. The icons hold ten sizes, 16 to 256 pixels.
"""

import math
import os
import struct
import sys
import zlib

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

def scaled(length, dpi):
    """A length of the 96-DPI design at dpi, rounded half up as the programs round it (MulDiv)."""
    return (length * dpi + 48) // 96


class Canvas:
    """RGBA pixels, row 0 at the top. Alpha is 0 or 255.

    Drawings give their coordinates in the pixels of the 96-DPI design; the methods named after
    the mask functions (rect, poly, disc, ...) place them at the canvas's dpi. pen is the width
    of outlines and one-pixel lines of the design at that size."""

    def __init__(self, width, height, ground=None, dpi=96, pen=None):
        self.width = width
        self.height = height
        self.dpi = dpi
        self.s = dpi / 96.0
        self.pen = pen or (1 if dpi < 168 else 2)
        fill = (ground + (255,)) if ground else (0, 0, 0, 0)
        self.pixels = [[fill] * width for _ in range(height)]

    @classmethod
    def design(cls, size, dpi, ground=None):
        """A canvas for a picture whose 96-DPI size is size (width, height)."""
        return cls(scaled(size[0], dpi), scaled(size[1], dpi), ground=ground, dpi=dpi)

    # Design coordinates to canvas masks ------------------------------------------------------

    def i(self, v):
        """A design pixel boundary at the canvas's size."""
        return int(math.floor(v * self.s + 0.5))

    def rect(self, x0, y0, x1, y1):
        """The design pixels x0..x1, y0..y1 (inclusive)."""
        return rect(self.i(x0), self.i(y0), self.i(x1 + 1) - 1, self.i(y1 + 1) - 1)

    def dot(self, x, y):
        return self.rect(x, y, x, y)

    def poly(self, points):
        return polygon([(x * self.s, y * self.s) for x, y in points])

    def disc(self, cx, cy, r):
        return disc(cx * self.s, cy * self.s, r * self.s)

    def ring(self, cx, cy, r_out, r_in, a0=0.0, a1=360.0):
        return ring(cx * self.s, cy * self.s, r_out * self.s, r_in * self.s, a0, a1)

    def stroke(self, x0, y0, x1, y1, width):
        """A thick line between continuous design points."""
        s = self.s
        return thick_line(x0 * s, y0 * s, x1 * s, y1 * s, width * s)

    def line(self, x0, y0, x1, y1):
        """A one-pixel line of the design between the pixels (x0, y0) and (x1, y1): pen wide."""
        if self.s == 1 and self.pen == 1:
            return line(x0, y0, x1, y1)
        s, half = self.s, self.pen / 2.0
        # through the middle of the pen's pixels, so that straight lines stay whole pixels
        def mid(v):
            return self.i(v) + half
        out = thick_line(mid(x0), mid(y0), mid(x1), mid(y1), self.pen)
        if x0 == x1 or y0 == y1:
            out = {(x, y) for x, y in out
                   if min(self.i(x0), self.i(x1)) <= x < max(self.i(x0), self.i(x1)) + self.pen
                   and min(self.i(y0), self.i(y1)) <= y < max(self.i(y0), self.i(y1)) + self.pen}
        return out

    def arrow(self, tip, direction, head_len, head_w, shaft_len, shaft_w):
        return self.poly(arrow_points(tip, direction, head_len, head_w, shaft_len, shaft_w))

    def edge(self, mask):
        """The pen-wide inside edge of a mask."""
        edge = set()
        rest = set(mask)
        for _ in range(self.pen):
            e = edge_of(rest)
            edge |= e
            rest -= e
        return edge

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
        edge = self.edge(mask)
        inner = mask - edge
        self.paint(inner, fill)
        near = range(1, self.pen + 1)
        if light:
            self.paint({(x, y) for x, y in inner if any((x - k, y) in edge or (x, y - k) in edge for k in near)}, light)
        if shade:
            self.paint({(x, y) for x, y in inner if any((x + k, y) in edge or (x, y + k) in edge for k in near)}, shade)
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
    tab = c.poly([(x0, y0 + tab_h + 1), (x0 + 1, y0), (x0 + tab_w, y0), (x0 + tab_w + tab_h, y0 + tab_h + 1)])
    body = c.rect(x0, y0 + tab_h, x1, y1)
    c.shape(tab | body, fill, light=light, shade=shade)
    # the fold between tab and body
    c.paint(c.line(x0 + tab_w + tab_h, y0 + tab_h, x1 - 1, y0 + tab_h), OUTLINE)


def draw_zip_box(c, x0, y0, x1, y1, pull=True):
    """A zip archive: a rufous box with a zipper running down its middle."""
    c.shape(c.rect(x0, y0, x1, y1), RUST, light=RUST_LIGHT, shade=RUST_SHADE)
    zx = (x0 + x1) // 2
    # teeth a pen high, alternately left and right of the middle, between the outlines
    left, middle, right = c.i(zx - 1), c.i(zx), c.i(zx + 1)
    top, bottom = c.i(y0) + c.pen, c.i(y1 + 1) - c.pen
    for y in range(top, bottom):
        k = ((y - top) // c.pen + 1) % 2
        dark, light = ((left, middle), (middle, right))[::1 if k == 0 else -1]
        c.paint(rect(dark[0], y, dark[1] - 1, y), OUTLINE)
        c.paint(rect(light[0], y, light[1] - 1, y), SLATE_LIGHT)
    if pull:
        c.shape(c.rect(zx - 2, y0 + 2, zx + 1, y0 + 5), SLATE_LIGHT)
        c.paint(c.dot(zx - 1, y0 + 3) | c.dot(zx, y0 + 3), SLATE)


def draw_page(c, x0, y0, x1, y1, lines=True):
    """A sheet of paper with a folded upper right corner."""
    fold = max(3, (x1 - x0) // 3)
    page = c.poly([(x0, y0), (x1 + 1 - fold, y0), (x1 + 1, y0 + fold), (x1 + 1, y1 + 1), (x0, y1 + 1)])
    c.shape(page, PAPER, shade=PAPER_SHADE)
    corner = c.poly([(x1 + 1 - fold, y0), (x1 + 1 - fold, y0 + fold), (x1 + 1, y0 + fold)])
    c.shape(corner, PAPER_SHADE)
    if lines:
        for y in range(y0 + fold + 2, y1 - 1, 2):
            c.paint(c.line(x0 + 2, y, x1 - 2, y), PAPER_LINE)


def draw_magnifier(c, cx, cy, r, handle_len, handle_w=3):
    """A magnifying glass with its lens centred at (cx, cy) and its handle to the lower right."""
    d = (r + 0.5) / math.sqrt(2)
    hx0, hy0 = cx + d, cy + d
    hx1, hy1 = hx0 + handle_len / math.sqrt(2), hy0 + handle_len / math.sqrt(2)
    c.shape(c.stroke(hx0, hy0, hx1, hy1, handle_w + 1.2), BROWN)
    c.shape(c.disc(cx, cy, r + 1.0), STEEL_SHADE)
    lens = c.disc(cx, cy, r - 0.6)
    c.shape(lens, SKY, outline=STEEL_SHADE)
    # glint in the upper left of the lens
    gx, gy = int(cx - r / 2.5), int(cy - r / 2.5)
    c.paint(c.dot(gx, gy) | c.dot(gx + 1, gy) | c.dot(gx, gy + 1), WHITE)


def arrow_points(tip, direction, head_len, head_w, shaft_len, shaft_w):
    """Outline of an arrow with its point at tip, pointing along direction (dx, dy)."""
    tx, ty = tip
    dx, dy = direction
    n = math.hypot(dx, dy)
    dx, dy = dx / n, dy / n
    px, py = -dy, dx  # perpendicular
    bx, by = tx - dx * head_len, ty - dy * head_len
    ex, ey = bx - dx * shaft_len, by - dy * shaft_len
    hw, sw = head_w / 2.0, shaft_w / 2.0
    return [
        (tx, ty),
        (bx + px * hw, by + py * hw),
        (bx + px * sw, by + py * sw),
        (ex + px * sw, ey + py * sw),
        (ex - px * sw, ey - py * sw),
        (bx - px * sw, by - py * sw),
        (bx - px * hw, by - py * hw),
    ]


def arrow(tip, direction, head_len, head_w, shaft_len, shaft_w):
    """Polygon of an arrow with its point at tip, pointing along direction (dx, dy)."""
    return polygon(arrow_points(tip, direction, head_len, head_w, shaft_len, shaft_w))


def draw_globe(c, cx, cy, r):
    """A blue globe with an equator, two parallels and a meridian ellipse."""
    ball = c.disc(cx, cy, r)
    small = r < 7
    c.shape(ball, BLUE, light=None if small else BLUE_LIGHT, shade=BLUE_SHADE)
    inner = ball - c.edge(ball)
    rows = set()
    rows.update(range(c.i(int(cy)), c.i(int(cy)) + c.pen))
    for off in (() if small else (r * 0.5,)):
        for yy in (int(cy - off), int(cy + off)):
            rows.update(range(c.i(yy), c.i(yy) + c.pen))
    grid = {(x, y) for x, y in inner if y in rows}
    if not small:
        columns = range(c.i(int(cx)), c.i(int(cx)) + c.pen)
        grid |= {(x, y) for x, y in inner if x in columns}
    rx = max(1.5, r * 0.5) * c.s
    ex, ey, ry = cx * c.s, cy * c.s, r * c.s
    ellipse = {(x, y) for x, y in inner if ((x + 0.5 - ex) / rx) ** 2 + ((y + 0.5 - ey) / ry) ** 2 <= 1.0}
    grid |= c.edge(ellipse)
    c.paint(grid & inner, BLUE_LIGHT)


# ---------------------------------------------------------------------------------------------
# Button bitmaps (main column 26 x 24 on 35 x 32 buttons; bottom row 16 x 16 on 23 x 23 at
# 96 DPI, and the same multiplied at the other scales)
# ---------------------------------------------------------------------------------------------

BIG = (26, 24)
SMALL = (16, 16)


def bmp_show_contents(dpi):  # 175: a magnifier looking into an archive
    c = Canvas.design(BIG, dpi, ground=FACE)
    draw_zip_box(c, 2, 2, 15, 21)
    draw_magnifier(c, 15.0, 12.0, 5.2, 6.5)
    # the member list seen through the lens
    for y, x1 in ((10, 17), (12, 18), (14, 16)):
        c.paint(c.line(13, y, x1, y), PAPER_LINE)
    return c


def bmp_up(dpi):  # 142
    c = Canvas.design(BIG, dpi, ground=FACE)
    draw_folder(c, 2, 8, 21, 21)
    c.shape(c.arrow((16.5, 1.0), (0, -1), 5, 10, 8, 4), GREEN, light=GREEN_LIGHT, shade=GREEN_SHADE)
    return c


def bmp_up_root(dpi):  # 165: the Up picture greyed, for a drive root
    c = bmp_up(dpi)
    for y in range(c.height):
        for x in range(c.width):
            r, g, b, _ = c.get(x, y)
            if (r, g, b) != FACE:
                lum = 0.30 * r + 0.59 * g + 0.11 * b
                v = int(round(150 + lum * 80 / 255))
                c.put(x, y, (v, v, v))
    return c


def bmp_desktop(dpi):  # 145
    c = Canvas.design(BIG, dpi, ground=FACE)
    c.shape(c.rect(8, 18, 17, 19), STEEL, light=STEEL_LIGHT)  # neck
    c.shape(c.rect(5, 20, 20, 22), STEEL, light=STEEL_LIGHT, shade=STEEL_SHADE)  # foot
    c.shape(c.rect(2, 2, 23, 18), STEEL_LIGHT, shade=STEEL)  # bezel
    screen = c.rect(4, 4, 21, 15)
    c.shape(screen, (58, 132, 200), outline=(32, 64, 110))
    # a little landscape on the screen: a sunny hill and two icons
    c.paint(c.poly([(5, 15), (10, 10), (14, 12), (17, 9), (21, 13), (21, 15)]) & screen, (80, 168, 92))
    c.paint(c.disc(18, 7, 1.6), (255, 224, 96))
    c.paint(c.rect(6, 6, 7, 7), WHITE)
    c.paint(c.rect(6, 9, 7, 10), WHITE)
    return c


def bmp_email(dpi):  # 158
    c = Canvas.design(SMALL, dpi, ground=FACE)
    c.shape(c.rect(1, 3, 14, 12), PAPER, shade=PAPER_SHADE)
    c.paint(c.line(2, 4, 7, 8) | c.line(13, 4, 8, 8), OUTLINE)
    c.paint(c.line(2, 11, 5, 8) | c.line(13, 11, 10, 8), PAPER_LINE)
    return c


def bmp_website(dpi):  # 159
    c = Canvas.design(SMALL, dpi, ground=FACE)
    draw_globe(c, 8.0, 8.0, 7.0)
    return c


def bmp_options(dpi):  # 140: a gear
    c = Canvas.design(SMALL, dpi, ground=FACE)
    cx, cy = 8.0, 8.0
    body = c.disc(cx, cy, 5.2)
    teeth = set()
    for k in range(8):
        a = math.radians(k * 45 + 22.5)
        teeth |= c.stroke(cx + math.cos(a) * 4.0, cy + math.sin(a) * 4.0,
                          cx + math.cos(a) * 6.6, cy + math.sin(a) * 6.6, 2.6)
    gear = (body | teeth) - c.disc(cx, cy, 1.9)
    c.shape(gear, STEEL, light=STEEL_LIGHT, shade=STEEL_SHADE)
    return c


def bmp_refresh(dpi):  # 147: two circular arrows chasing each other clockwise
    c = Canvas.design(BIG, dpi, ground=FACE)
    band = c.ring(12.5, 11.5, 10.8, 6.5)
    # upper arc: over the top from the left side to the right side, then a head pointing down
    upper = {(x, y) for x, y in band if y < c.i(9) and (x >= c.i(12) or y < c.i(7))}
    upper |= c.poly([(16, 9), (25, 9), (20.5, 14)])
    # the lower arrow is the upper one turned half a circle
    lower = {(c.width - 1 - x, c.height - 1 - y) for x, y in upper}
    c.shape(upper, GREEN, light=GREEN_LIGHT, shade=GREEN_SHADE)
    c.shape(lower, BLUE, light=BLUE_LIGHT, shade=BLUE_SHADE)
    return c


def bmp_execute(dpi):  # 152: an archive with an arrow coming out of it
    c = Canvas.design(BIG, dpi, ground=FACE)
    draw_zip_box(c, 1, 7, 14, 22)
    c.shape(c.rect(0, 5, 15, 8), RUST, light=RUST_LIGHT, shade=RUST_SHADE)  # lid
    zx = (1 + 14) // 2
    c.paint(c.dot(zx - 1, 6) | c.dot(zx, 6), SLATE_LIGHT)
    c.shape(c.arrow((25.0, 13.0), (1, 0), 6, 11, 9, 5), GREEN, light=GREEN_LIGHT, shade=GREEN_SHADE)
    return c


def bmp_delete(dpi):  # 146: a red cross
    c = Canvas.design(BIG, dpi, ground=FACE)
    cross = c.stroke(6, 5, 20, 19, 4.6) | c.stroke(20, 5, 6, 19, 4.6)
    c.shape(cross, RED, light=RED_LIGHT, shade=RED_SHADE, outline=RED_SHADE)
    return c


def bmp_search(dpi):  # 149: a magnifier over a folder
    c = Canvas.design(BIG, dpi, ground=FACE)
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


def glyph_strokes(rows):
    """The strokes of a glyph as segments between the centres of its pixels: neighbours in a row
    or column are joined, diagonal neighbours only where no pixel already turns the corner."""
    on = {(x, y) for y, row in enumerate(rows) for x, bit in enumerate(row) if bit == '#'}
    segments = []
    for x, y in sorted(on):
        for dx, dy in ((1, 0), (0, 1)):
            if (x + dx, y + dy) in on:
                segments.append(((x, y), (x + dx, y + dy)))
        for dx in (1, -1):
            if (x + dx, y + 1) in on and (x + dx, y) not in on and (x, y + 1) not in on:
                segments.append(((x, y), (x + dx, y + 1)))
    joined = {p for seg in segments for p in seg}
    segments += [(p, p) for p in on - joined]
    return segments


def draw_text_scaled(c, x, top, text, colour, ground):
    """draw_text for a canvas above 96 DPI: the glyphs' strokes drawn at the canvas's size with
    a whole-pixel pen, their pixel columns and rows placed on whole pixels so that straight
    strokes stay sharp, and slanted ones smoothed by coverage (4 x 4 samples a pixel).
    x and top are canvas pixels; answers the x just past the last glyph."""
    s = c.s
    pen = max(1, int(s + 0.25))
    half = pen / 2.0
    design_x = 0
    end = x
    n = 4
    for ch in text:
        if ch == ' ':
            design_x += SPACE_WIDTH + LETTER_GAP
            continue
        rows = GLYPHS[ch].split('|')
        ox = x + int(math.floor(design_x * s))

        def at(gx, gy):
            return ox + int(math.floor(gx * s)) + half, top + int(math.floor(gy * s)) + half
        segments = [(at(*a), at(*b)) for a, b in glyph_strokes(rows)]
        x_end = ox + int(math.floor((len(rows[0]) - 1) * s)) + pen
        y_end = top + int(math.floor((len(rows) - 1) * s)) + pen
        for py in range(top, y_end):
            for px in range(ox, x_end):
                hits = 0
                for sy in range(n):
                    for sx in range(n):
                        qx, qy = px + (sx + 0.5) / n, py + (sy + 0.5) / n
                        for (ax, ay), (bx, by) in segments:
                            # within half a pen of the segment, measured across it and along it
                            # (square ends, as a pixel pen draws)
                            dx, dy = bx - ax, by - ay
                            length = math.hypot(dx, dy)
                            if length == 0:
                                inside = abs(qx - ax) <= half and abs(qy - ay) <= half
                            else:
                                ux, uy = dx / length, dy / length
                                along = (qx - ax) * ux + (qy - ay) * uy
                                across = -(qx - ax) * uy + (qy - ay) * ux
                                inside = -half <= along <= length + half and abs(across) <= half
                            if inside:
                                hits += 1
                                break
                if hits:
                    a = hits / float(n * n)
                    c.put(px, py, tuple(int(round(g + (t - g) * a)) for g, t in zip(ground, colour)))
        end = x_end
        design_x += len(rows[0]) + LETTER_GAP
    return end


HEADING = (290, 15)


def heading(text, dpi=96):
    """A settings heading: the text from (6, 4) and a rule through its middle to 7 pixels short
    of the right edge, at the 96-DPI design's places multiplied for dpi."""
    c = Canvas.design(HEADING, dpi, ground=HEAD_GROUND)
    if dpi == 96:
        end = draw_text(c, 6, 4, text, HEAD_TEXT)
        if end + 8 < c.width - 6:
            c.paint(line(end + 6, 7, c.width - 7, 7), HEAD_RULE)
        return c
    top = c.i(4)
    end = draw_text_scaled(c, c.i(6), top, text, HEAD_TEXT, HEAD_GROUND)
    pen = max(1, int(c.s + 0.25))
    if end + c.i(8) < c.width - c.i(6):
        rule_y = top + int(math.floor(3 * c.s))
        c.paint(rect(end + c.i(6), rule_y, c.width - c.i(7), rule_y + pen - 1), HEAD_RULE)
    return c


# ---------------------------------------------------------------------------------------------
# Icons (16 to 256 pixels, 32-bit with an AND mask; 256 as PNG)
# ---------------------------------------------------------------------------------------------

# 16, 20, 24, 32, 40 and 48 serve the small and large icons at 100 to 150 % (and 200 % of 16 and
# 24), 64 and 96 the large ones at 200 and 300 %, 128 and 256 the shell's big views.
ICON_SIZES = (16, 20, 24, 32, 40, 48, 64, 96, 128, 256)


def icon_pen(size):
    """Outline width of an icon: one pixel up to 48, then growing with the size."""
    return max(1, int(round(size / 40.0)))


def icon_kestrova(size):
    """The program icon: a zipped rufous folder with a slate zipper and pull."""
    pen = icon_pen(size)
    c = Canvas(size, size, pen=pen)
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
    c.paint(rect(x0 + tab_w + tab_h, y0 + tab_h, x1 - 1, y0 + tab_h + pen - 1), OUTLINE)
    # zipper down the middle of the body
    zx = (x0 + x1 + 1) // 2
    zt = y0 + tab_h + pen
    tooth = 1 if size <= 16 else max(1, p(1.5))
    for y in range(zt, y1 + 1 - pen):
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
            c.paint(rect(first - pen, y, first - 1, y) | rect(first + w, y, first + w + pen - 1, y), OUTLINE)
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
    c = Canvas(size, size, pen=icon_pen(size))
    s = size / 32.0
    r = 12.5 * s if size > 16 else 6.5
    cx = cy = (13.5 * s) if size > 16 else 7.0
    draw_globe(c, cx, cy, r)
    tip = (size - 1 - 7.5 * s + 0.5, size - 0.2) if size > 16 else (12.0, 16.0)
    hl, hw, sl, sw = (9 * s, 16 * s, 9 * s, 7 * s) if size > 16 else (4.5, 8.2, 4.5, 3.5)
    head = arrow(tip, (0, 1), hl, hw, sl, sw)
    # a light rim separates the arrow from the globe behind it
    rim = head
    for _ in range(c.pen):
        rim = grown(rim)
    c.paint({(x, y) for x, y in c.edge(rim) - head
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


def png_bytes(c):
    """A 32-bit RGBA PNG file (how icons of 256 pixels are stored since Windows Vista)."""
    raw = bytearray()
    for y in range(c.height):
        raw.append(0)
        for x in range(c.width):
            raw += bytes(c.get(x, y))

    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data) & 0xffffffff)
    header = struct.pack('>IIBBBBB', c.width, c.height, 8, 6, 0, 0, 0)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) + chunk(b'IDAT', zlib.compress(bytes(raw), 9))
            + chunk(b'IEND', b''))


def ico_bytes(canvases):
    images = [png_bytes(c) if c.width >= 256 else ico_image(c) for c in canvases]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for c, img in zip(canvases, images):
        out += struct.pack('<BBBBHHII', c.width % 256, c.height % 256, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    return out + b''.join(images)


# The scales the bitmaps are drawn for, by set: set k has the resource ids of the 96-DPI set
# plus 1000 x k (resources/kestrova/resource.h) and its files are named bmp<96-DPI id>_<percent>.
SCALES = (96, 120, 144, 192)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    kestrova = os.path.join(root, 'kestrova')
    kvupdate = os.path.join(root, 'kvupdate')
    pictures = {
        140: bmp_options,
        142: bmp_up,
        145: bmp_desktop,
        146: bmp_delete,
        147: bmp_refresh,
        149: bmp_search,
        152: bmp_execute,
        158: bmp_email,
        159: bmp_website,
        162: lambda dpi: heading("Special Options for the Location of Extraction", dpi),
        163: lambda dpi: heading("Quick Access Icons", dpi),
        165: bmp_up_root,
        169: lambda dpi: heading("File Masks Not To Extract", dpi),
        170: lambda dpi: heading("About", dpi),
        175: bmp_show_contents,
    }
    only = set(int(a) for a in sys.argv[1:])  # optional: only these DPIs
    written = []
    for dpi in SCALES:
        if only and dpi not in only:
            continue
        for ident, draw in sorted(pictures.items()):
            canvas = draw(dpi)
            name = 'bmp%d.bmp' % ident if dpi == 96 else 'bmp%d_%d.bmp' % (ident, dpi * 100 // 96)
            path = os.path.join(kestrova, name)
            with open(path, 'wb') as f:
                f.write(bmp_bytes(canvas))
            written.append((path, '%d x %d' % (canvas.width, canvas.height)))
    if not only:
        for path, draw in ((os.path.join(kestrova, 'icon156.ico'), icon_kestrova),
                           (os.path.join(kvupdate, 'icon129.ico'), icon_kvupdate)):
            with open(path, 'wb') as f:
                f.write(ico_bytes([draw(n) for n in ICON_SIZES]))
            written.append((path, ', '.join(str(n) for n in ICON_SIZES)))
    for path, size in written:
        print('%-60s %s' % (os.path.relpath(path, os.path.dirname(root)), size))
    return 0


if __name__ == '__main__':
    sys.exit(main())
