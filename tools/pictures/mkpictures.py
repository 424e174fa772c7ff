#!/usr/bin/env python3
"""Makes the library's pictures (icons, bitmaps, the animation clip) into
res/pictures/. Deterministic: the same script writes the same bytes.

    python3 tools/pictures/mkpictures.py [NAME...]   (default: every picture)

To add a picture, write a drawing function and add a line to PICTURES: an
icon is drawn on a 48-unit grid (s scales it to each size), a bitmap in
pixels, a clip frame by frame."""

import math
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from formats import avi8, bmp24, ico, ico_vga  # noqa: E402
from raster import (Canvas, circle, ellipse, horizontal_gradient, polygon, rect,  # noqa: E402
                    ring, rounded_rect, star, stroke, vertical_gradient)

OUT_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "res", "pictures")
ICON_SIZES = (16, 32, 48)

INK = (40, 70, 140)
GREY_LINE = (150, 155, 165)
PAPER = (252, 252, 250)
PAPER_EDGE = (105, 110, 120)
GOLD = (225, 175, 45)
GOLD_DARK = (160, 110, 20)
RED = (190, 35, 35)


# ---- icons (48-unit grid; s = size / 48) ----------------------------------

def _page(c, s, x0, y0, x1, y1, fold):
    outline = polygon([(x0 * s, y0 * s), ((x1 - fold) * s, y0 * s), (x1 * s, (y0 + fold) * s),
                       (x1 * s, y1 * s), (x0 * s, y1 * s)])
    b = 1.6 * s if s >= 0.5 else 1.0
    inner = polygon([(x0 * s + b, y0 * s + b), ((x1 - fold) * s - b / 2, y0 * s + b),
                     (x1 * s - b, (y0 + fold) * s + b / 2), (x1 * s - b, y1 * s - b),
                     (x0 * s + b, y1 * s - b)])
    c.paint(outline, PAPER_EDGE)
    c.paint(inner, PAPER)
    c.paint(polygon([((x1 - fold) * s, y0 * s), ((x1 - fold) * s, (y0 + fold) * s),
                     (x1 * s, (y0 + fold) * s)]), (200, 203, 210))


def _lines(c, s, x0, y0, widths, gap, height, colours):
    for i, w in enumerate(widths):
        y = y0 + i * gap
        c.paint(rect(x0 * s, y * s, (x0 + w) * s, (y + height) * s), colours[min(i, len(colours) - 1)])


def draw_certificate(c, s):
    """A certificate: a page with text lines and a red-ribboned gold seal."""
    _page(c, s, 7, 3, 38, 44, 8)
    _lines(c, s, 12, 10, (17, 20, 18, 12), 6, 2.6, (INK, GREY_LINE))
    c.paint(polygon([(29 * s, 36 * s), (25 * s, 47 * s), (29.5 * s, 44.5 * s), (32 * s, 48 * s),
                     (34 * s, 37 * s)]), RED)
    c.paint(polygon([(35 * s, 36 * s), (39 * s, 47 * s), (35 * s, 44.5 * s), (32 * s, 48 * s),
                     (30 * s, 37 * s)]), (160, 25, 25))
    c.paint(star(32 * s, 33 * s, 10 * s, 8 * s, 12), GOLD_DARK)
    c.paint(circle(32 * s, 33 * s, 7 * s), GOLD)
    c.paint(ring(32 * s, 33 * s, 5.2 * s, 4.0 * s), GOLD_DARK)


def _card(c, s, fill_top, fill_bottom, edge):
    c.paint(rounded_rect(2 * s, 9 * s, 46 * s, 39 * s, 4.5 * s), edge)
    b = max(1.0, 1.5 * s)
    c.paint(rounded_rect(2 * s + b, 9 * s + b, 46 * s - b, 39 * s - b, 4.5 * s - b),
            vertical_gradient(9 * s, 39 * s, fill_top, fill_bottom))


def draw_identity_card(c, s):
    """An identity card: a blue card with a gold contact chip and text lines."""
    _card(c, s, (215, 232, 248), (150, 192, 232), (45, 85, 150))
    c.paint(rect(3.5 * s, 12 * s, 44.5 * s, 15.5 * s), (70, 115, 185))
    c.paint(rounded_rect(7 * s, 20 * s, 18 * s, 30 * s, 1.8 * s), GOLD_DARK)
    c.paint(rounded_rect(8 * s, 21 * s, 17 * s, 29 * s, 1.2 * s), GOLD)
    c.paint(rect(12.2 * s, 21 * s, 12.8 * s, 29 * s), GOLD_DARK)
    c.paint(rect(8 * s, 24.7 * s, 17 * s, 25.3 * s), GOLD_DARK)
    _lines(c, s, 22, 19, (19, 16, 12), 5.5, 2.6, ((35, 60, 110),))


def draw_photo_card(c, s):
    """A card showing its holder's photo beside the text lines."""
    _card(c, s, (240, 244, 232), (205, 218, 195), (80, 100, 70))
    photo = rect(6 * s, 14 * s, 20 * s, 34 * s)
    c.paint(photo, (110, 120, 135))
    c.paint(rect(6.8 * s, 14.8 * s, 19.2 * s, 33.2 * s), (205, 215, 230))
    c.paint(ellipse(13 * s, 34 * s, 6.5 * s, 6 * s) & rect(6.8 * s, 14.8 * s, 19.2 * s, 33.2 * s),
            (70, 85, 110))
    c.paint(circle(13 * s, 22 * s, 3.9 * s), (70, 85, 110))
    _lines(c, s, 23, 17, (18, 15, 11), 6, 2.6, ((60, 75, 55),))


def draw_certificate_pen(c, s):
    """A certificate being signed: a page with a signature line and a pen."""
    _page(c, s, 4, 3, 33, 44, 7)
    _lines(c, s, 9, 10, (16, 19, 17, 12), 6, 2.6, (INK, GREY_LINE))
    c.paint(stroke(9 * s, 38 * s, 12 * s, 35 * s, max(1.0, 1.4 * s)), INK)
    c.paint(stroke(12 * s, 35 * s, 15 * s, 39 * s, max(1.0, 1.4 * s)), INK)
    c.paint(stroke(15 * s, 39 * s, 19 * s, 35 * s, max(1.0, 1.4 * s)), INK)
    # The pen, from its top (upper right) to its nib (lower left).
    c.paint(stroke(44 * s, 8 * s, 27 * s, 31 * s, 7.5 * s), (25, 50, 110))
    c.paint(stroke(44 * s, 8 * s, 27 * s, 31 * s, 5 * s), (55, 100, 190))
    c.paint(stroke(31.5 * s, 25 * s, 28.5 * s, 29 * s, 7.5 * s), (190, 195, 205))
    c.paint(polygon([(24.4 * s, 28.6 * s), (30.2 * s, 32.8 * s), (21.5 * s, 39.5 * s)]), GOLD)
    c.paint(stroke(22.5 * s, 38 * s, 25.5 * s, 34 * s, max(0.8, 0.9 * s)), GOLD_DARK)


GREEN = (40, 150, 60)
# Badge colours (top, bottom, edge), chosen so that the 16-colour copies keep
# a flat card with a dark edge.
BADGE_GREY = ((218, 218, 220), (196, 196, 200), (110, 112, 118))
BADGE_BLUE = ((200, 218, 242), (160, 196, 236), (30, 55, 140))


def _badge(c, s, colours):
    """A name badge: a rounded card with a clip slot at the top."""
    top, bottom, edge = colours
    c.paint(rounded_rect(5 * s, 6 * s, 43 * s, 44 * s, 5 * s), edge)
    b = max(1.0, 2.0 * s)
    c.paint(rounded_rect(5 * s + b, 6 * s + b, 43 * s - b, 44 * s - b, 5 * s - b),
            vertical_gradient(6 * s, 44 * s, top, bottom))
    c.paint(rounded_rect(18 * s, 9 * s, 30 * s, 13 * s, 1.5 * s), edge)


def _person(c, s, colour):
    """Head and shoulders, centred on the badge."""
    c.paint(circle(24 * s, 22 * s, 6.5 * s), colour)
    c.paint(ellipse(24 * s, 41 * s, 13 * s, 11 * s) & rect(0, 0, 48 * s, 40.5 * s), colour)


def draw_tray_no_session(c, s):
    """Nobody logged in: an empty grey badge, the person only outlined."""
    _badge(c, s, BADGE_GREY)
    _person(c, s, (118, 120, 126))
    inner = (206, 206, 210)
    c.paint(circle(24 * s, 22 * s, 3.4 * s), inner)
    c.paint(ellipse(24 * s, 41 * s, 9.6 * s, 7.6 * s) & rect(0, 0, 48 * s, 37.5 * s), inner)


def draw_tray_session(c, s):
    """A user logged in: a blue badge with its holder and a green tick."""
    _badge(c, s, BADGE_BLUE)
    _person(c, s, (30, 60, 125))
    c.paint(circle(36 * s, 36 * s, 11 * s), (255, 255, 255))
    c.paint(circle(36 * s, 36 * s, 9.5 * s), GREEN)
    w = max(1.2, 3.2 * s)
    c.paint(stroke(31 * s, 36.5 * s, 34.5 * s, 40 * s, w), (255, 255, 255))
    c.paint(stroke(34.5 * s, 40 * s, 41 * s, 32 * s, w), (255, 255, 255))


def draw_tray_window(c, s):
    """The library's own mark: a gold signature seal with a pen across it."""
    c.paint(star(22 * s, 24 * s, 20 * s, 17 * s, 16), GOLD_DARK)
    c.paint(circle(22 * s, 24 * s, 15.5 * s), GOLD)
    c.paint(ring(22 * s, 24 * s, 12 * s, 10 * s), GOLD_DARK)
    w = max(1.0, 1.6 * s)
    c.paint(stroke(14 * s, 27 * s, 18 * s, 21 * s, w), INK)
    c.paint(stroke(18 * s, 21 * s, 22 * s, 28 * s, w), INK)
    c.paint(stroke(22 * s, 28 * s, 27 * s, 21 * s, w), INK)
    c.paint(stroke(46 * s, 6 * s, 30 * s, 30 * s, 7 * s), (25, 50, 110))
    c.paint(stroke(46 * s, 6 * s, 30 * s, 30 * s, 4.6 * s), (55, 100, 190))
    c.paint(polygon([(27.2 * s, 27.8 * s), (33.2 * s, 32 * s), (24.5 * s, 38.5 * s)]), (200, 205, 215))
    c.paint(stroke(25.5 * s, 37 * s, 28.5 * s, 33 * s, max(0.8, 0.9 * s)), INK)


# ---- bitmaps ---------------------------------------------------------------

def draw_login_banner(c):
    """The login sheet's banner: a light field for the explanation that lies
    over it, a faint certificate seal at the right. The corner pixels are
    solid: they fill the margins when the sheet is wider than the picture."""
    w, h = c.width, c.height
    c.fill(horizontal_gradient(0, w, (255, 255, 255), (212, 226, 243)))
    c.paint(rect(0, h - 2, w, h), (196, 212, 235))
    cx, cy = w - 38, h / 2.0
    c.paint(star(cx, cy, 27, 23, 16), (190, 207, 232, 150))
    c.paint(circle(cx, cy, 20), (200, 216, 238, 170))
    c.paint(ring(cx, cy, 15, 12.5), (175, 196, 228, 170))
    c.paint(star(cx, cy, 8, 3.5, 5), (175, 196, 228, 170))


def draw_login_separator(c):
    """The line under the banner: dark, middle and light blue rows."""
    colours = ((30, 70, 140), (95, 135, 195), (205, 218, 238))
    for y, colour in enumerate(colours[:c.height]):
        c.paint(rect(0, y, c.width, y + 1), colour)


# ---- the animation clip ------------------------------------------------------

CLIP_BACKGROUND = (236, 236, 236)


def draw_insert_card_frame(c, frame, frames):
    """A card going down into a reader's slot; its light turns green once the
    card is in (the last frames)."""
    c.fill(CLIP_BACKGROUND)
    travel = min(frame, frames - 2) / float(frames - 2)
    top = 1 + 20 * travel
    slot_y = 31
    # The card, only above the slot: the reader's front hides the rest.
    card = rounded_rect(24, top, 53, top + 21, 2.5) & rect(0, 0, c.width, slot_y)
    c.paint(card, (40, 80, 150))
    c.paint(rounded_rect(25, top + 1, 52, top + 20, 2) & rect(0, 0, c.width, slot_y),
            (80, 130, 205))
    chip = rounded_rect(34, top + 12, 43, top + 18, 1) & rect(0, 0, c.width, slot_y)
    c.paint(chip, GOLD)
    c.paint(rect(28, top + 4, 49, top + 6) & rect(0, 0, c.width, slot_y), (225, 235, 250))
    c.paint(rect(28, top + 8, 44, top + 9.5) & rect(0, 0, c.width, slot_y), (225, 235, 250))
    if frame < frames - 3:
        # An arrow above the card while it moves.
        ax = 62
        c.paint(rect(ax - 1.5, 4, ax + 1.5, 13), (40, 150, 60))
        c.paint(polygon([(ax - 5, 12), (ax + 5, 12), (ax, 18)]), (40, 150, 60))
    # The reader.
    c.paint(rounded_rect(8, 28, 69, 47, 3), (60, 64, 72))
    c.paint(rect(10, 29.5, 67, 34), (105, 110, 120))
    c.paint(rect(19, slot_y - 0.5, 58, slot_y + 1.5), (15, 15, 18))
    lit = frame >= frames - 3
    c.paint(circle(61, 40.5, 2.4), (60, 200, 80) if lit else (200, 50, 40))
    c.paint(rect(14, 39, 40, 41), (90, 95, 105))


# ---- the list of pictures ------------------------------------------------------

def make_icon(draw, writer=ico):
    """An icon of every size; writer ico_vga gives the 16 colours of VGA with a
    plain mask, for systems that draw no alpha-blended icons."""
    canvases = []
    for size in ICON_SIZES:
        c = Canvas(size, size)
        draw(c, size / 48.0)
        canvases.append(c)
    return writer(canvases)


def make_bitmap(draw, width, height):
    c = Canvas(width, height, (255, 255, 255, 255))
    draw(c)
    return bmp24(c)


def make_clip(draw, width, height, frames, microseconds):
    canvases = []
    for i in range(frames):
        c = Canvas(width, height, CLIP_BACKGROUND + (255,))
        draw(c, i, frames)
        canvases.append(c)
    return avi8(canvases, microseconds, exact_colours=(CLIP_BACKGROUND,))


PICTURES = [
    # file, maker; the resource script names the resource ids.
    ("certificate.ico", lambda: make_icon(draw_certificate)),            # 143
    ("identity-card.ico", lambda: make_icon(draw_identity_card)),        # 1022
    ("photo-card.ico", lambda: make_icon(draw_photo_card)),              # 164
    ("certificate-pen.ico", lambda: make_icon(draw_certificate_pen)),    # 144
    ("tray-no-session.ico", lambda: make_icon(draw_tray_no_session)),    # 129
    ("tray-session.ico", lambda: make_icon(draw_tray_session)),          # 130
    ("tray-window.ico", lambda: make_icon(draw_tray_window)),            # 131
    ("tray-no-session-vga.ico", lambda: make_icon(draw_tray_no_session, ico_vga)),  # 161
    ("tray-window-vga.ico", lambda: make_icon(draw_tray_window, ico_vga)),          # 162
    ("tray-session-vga.ico", lambda: make_icon(draw_tray_session, ico_vga)),        # 163
    ("login-banner.bmp", lambda: make_bitmap(draw_login_banner, 450, 64)),      # 1010
    ("login-separator.bmp", lambda: make_bitmap(draw_login_separator, 450, 3)),  # 1016
    ("insert-card.avi", lambda: make_clip(draw_insert_card_frame, 77, 50, 15, 66667)),  # 1014
]


def main(names):
    os.makedirs(OUT_DIR, exist_ok=True)
    for name, make in PICTURES:
        if names and name not in names:
            continue
        data = make()
        with open(os.path.join(OUT_DIR, name), "wb") as f:
            f.write(data)
        print("%-22s %7d bytes" % (name, len(data)))


if __name__ == "__main__":
    main(set(sys.argv[1:]))
