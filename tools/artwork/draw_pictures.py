#!/usr/bin/env python3
"""Draws every picture of VanTrelo with ImageMagick's drawing primitives.

The pictures are ours: shapes in one palette (a shield, a padlock and a chain link in
blue and teal on neutral grounds), drawn at a multiple of their size and scaled down so
that small icons keep clean edges. The committed PNG and ICO files are the output of
this script; it reproduces them.

    draw_pictures.py                  draw every picture into the repository
    draw_pictures.py --out DIR        draw them into DIR instead
    draw_pictures.py --check          draw them into a temporary folder and compare them,
                                      pixel by pixel and size by size, with the committed
                                      files; also check that the resource list names
                                      exactly the pictures under Global/Resources
    draw_pictures.py --sheet FILE     draw a contact sheet of the committed pictures
"""

import argparse
import concurrent.futures
import math
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
QRC = os.path.join("Global", "resources.qrc")

# The palette.
NAVY = "#173A63"
BLUE = "#2468B4"
TEAL = "#1C9AA6"
TEAL_DEEP = "#157D8A"
SLATE = "#4B5D70"
GREY = "#8B98A5"
BAR_OFF = "#C9D2DA"
GREEN = "#2E9E6B"
RED = "#C9473D"
AMBER = "#E0A030"
ORANGE = "#D2683A"
WHITE = "#FFFFFF"

# Supersampling factor: each picture is drawn this many times larger, then reduced with
# an area average.
SCALE = 8

# ImageMagick runs as one process per picture; a few at a time keep the check quick.
WORKERS = min(4, os.cpu_count() or 1)


def run(args):
    result = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if result.returncode != 0:
        sys.exit("draw_pictures: %s failed:\n%s" % (args[0], result.stderr))
    return result


def tool(name):
    found = shutil.which(name)
    if not found:
        sys.exit("draw_pictures: %s is missing (scripts/install-deps.sh installs it)" % name)
    return found


def font_file(pattern, expected):
    """The file of a font that fontconfig knows, refusing a silent substitute, which
    would change the pictures."""
    path = shutil.which("fc-match") and run(["fc-match", "-f", "%{file}", pattern]).stdout
    if not path or expected not in os.path.basename(path):
        sys.exit("draw_pictures: font %s not found (fonts-dejavu-core)" % pattern)
    return path


# --- MVG helpers -------------------------------------------------------------------

def place(scale, x=0.0, y=0.0, unit=1.0):
    """An MVG transform from a drawing's own units to the supersampled canvas: a unit
    is `unit` pixels of the final picture, and (0, 0) lies at (x, y)."""
    k = scale * unit
    return "affine %g,0,0,%g,%g,%g" % (k, k, x * scale, y * scale)


def draw(mvg):
    return ["-draw", mvg]


def gradient(w, h, first, last, direction="south"):
    """A w x h gradient image from `first` to `last`, top to bottom ("south") or left to
    right ("east"). ImageMagick's own direction setting is not used: version 6 measures
    a "south" gradient along the width, and the setting would carry over to every later
    gradient of the same command. A left-to-right gradient is a turned top-to-bottom one."""
    if direction == "east":
        return ["-size", "%dx%d" % (h, w), "gradient:%s-%s" % (last, first), "-rotate", "90"]
    return ["-size", "%dx%d" % (w, h), "gradient:%s-%s" % (first, last)]


def ground(w, h, layer):
    """Layers that cover the whole canvas with an image of its size."""
    return ["("] + layer + [")", "-compose", "Over", "-composite"]


def circle(cx, cy, r):
    return "circle %g,%g %g,%g" % (cx, cy, cx + r, cy)


def rrect(x0, y0, x1, y1, r):
    return "roundrectangle %g,%g %g,%g %g,%g" % (x0, y0, x1, y1, r, r)


def polygon(points):
    return "polygon " + " ".join("%g,%g" % p for p in points)


def polyline(points):
    return "polyline " + " ".join("%g,%g" % p for p in points)


def path(d):
    return "path '%s'" % d


def paint(fill="none", stroke="none", width=0.0, cap="round", join="round"):
    return ("fill '%s' stroke '%s' stroke-width %g stroke-linecap %s stroke-linejoin %s"
            % (fill, stroke, width, cap, join))


def gradient_fill(w, h, top, bottom, mask_mvg):
    """Layers that paint a top-to-bottom gradient through a shape: the gradient gets the
    shape's mask as its opacity and goes over the canvas."""
    return (["("] + gradient(w, h, top, bottom)
            + ["(", "-size", "%dx%d" % (w, h), "xc:black", "-draw", mask_mvg, ")",
               "-alpha", "off", "-compose", "CopyOpacity", "-composite", ")",
               "-compose", "Over", "-composite"])


# --- Shared shapes, in a 100-unit box ------------------------------------------------

SHIELD = "M50,5 L87,18 L87,46 C87,70 71,86 50,95 C29,86 13,70 13,46 L13,18 Z"


def padlock(colour, hole=None, detail=True):
    """A padlock in the 100-unit box of the shield: shackle, body and, when asked, a
    keyhole in the colour of what lies below."""
    parts = [paint(stroke=colour, width=8 if detail else 11),
             path("M37,48 L37,38 A13,13 0 0,1 63,38 L63,48"),
             paint(fill=colour), rrect(28, 45, 72, 76, 6)]
    if hole and detail:
        parts += [paint(fill=hole), path("M47.5,61.1 A5.2,5.2 0 1,1 52.5,61.1 L54,69 L46,69 Z")]
    return " ".join(parts)


def shield_logo(size, scale, x=0.0, y=0.0, outline_colour=NAVY):
    """The product mark, `size` pixels square at (x, y): a blue-to-teal shield holding a
    white padlock. Below 24 pixels the keyhole is left out and the shackle is drawn
    thicker, so that the padlock still reads."""
    unit = size / 100.0
    w = h = int(round(size * scale))
    detail = size >= 24
    mask = "%s fill white %s" % (place(scale, 0, 0, unit), path(SHIELD))
    layers = ["(", "-size", "%dx%d" % (w, h), "xc:none"]
    layers += gradient_fill(w, h, BLUE, TEAL, mask)
    outline = 3.5 if size >= 32 else 5
    layers += draw("%s %s %s" % (place(scale, 0, 0, unit),
                                 paint(stroke=outline_colour, width=outline),
                                 path(SHIELD)))
    layers += draw("%s %s" % (place(scale, 0, 0, unit), padlock(WHITE, TEAL_DEEP, detail)))
    layers += [")", "-geometry", "+%d+%d" % (round(x * scale), round(y * scale)),
               "-compose", "Over", "-composite", "+geometry"]
    return layers


# --- The pictures --------------------------------------------------------------------

def app_icon(size):
    def painter(s):
        return shield_logo(size, s)
    return painter


def round_badge(colour, glyph):
    """A filled circle with a white glyph, drawn in a 50-unit box."""
    def painter(s):
        return draw("%s %s %s %s %s" % (place(s), paint(fill=colour),
                                        circle(25, 25, 23.5), paint(stroke=WHITE, width=6),
                                        glyph))
    return painter


PLUS = "line 25,13 25,37 line 13,25 37,25"
CROSS = "line 16.5,16.5 33.5,33.5 line 33.5,16.5 16.5,33.5"


def square_badge(colour, glyph_mvg):
    """The connection kinds: a rounded square with a white glyph, in a 16-unit box."""
    def painter(s):
        return draw("%s %s %s %s" % (place(s), paint(fill=colour),
                                     rrect(0.5, 0.5, 15.5, 15.5, 3.2), glyph_mvg))
    return painter


def small_padlock():
    """The SSL VPN sign: a padlock with a slot for a keyhole."""
    return " ".join([paint(stroke=WHITE, width=1.5),
                     path("M5.6,7.6 L5.6,6 A2.4,2.4 0 0,1 10.4,6 L10.4,7.6"),
                     paint(fill=WHITE), rrect(4, 7.2, 12, 12.6, 1.1),
                     paint(fill=BLUE), rrect(7.4, 8.8, 8.6, 11.2, 0.5)])


def small_link():
    """The L2TP/IPSec sign: two links of a chain."""
    return " ".join([paint(stroke=WHITE, width=1.5), "push graphic-context", "translate 8,8",
                     "rotate -45", rrect(-5.8, -2.1, 0.6, 2.1, 2.1),
                     rrect(-0.6, -2.1, 5.8, 2.1, 2.1), "pop graphic-context"])


def clear_icon(s):
    return draw("%s %s %s %s %s" % (place(s), paint(fill=GREY), circle(8, 8, 7.3),
                                    paint(stroke=WHITE, width=1.6),
                                    "line 5.4,5.4 10.6,10.6 line 10.6,5.4 5.4,10.6"))


def delay_icon(level):
    """Signal bars for a gateway's delay: level 1 is the quickest (four bars), 4 the
    slowest (one bar), 0 not measured (no bar lit) and 5 unreachable (a red cross)."""
    lit = {1: 4, 2: 3, 3: 2, 4: 1}.get(level, 0)
    colour = {4: TEAL, 3: TEAL, 2: AMBER, 1: ORANGE}.get(lit, BAR_OFF)

    def painter(s):
        parts = [place(s)]
        for i in range(4):
            x0 = 1.5 + i * 4.5
            top = 18.5 - (5 + 4 * i)
            parts += [paint(fill=colour if i < lit else BAR_OFF),
                      rrect(x0, top, x0 + 3, 18.5, 0.8)]
        if level == 5:
            parts += [paint(stroke=RED, width=1.6), "line 2,2 7,7 line 7,2 2,7"]
        return draw(" ".join(parts))
    return painter


def chevron(points, colour=SLATE, width=2.0):
    def painter(s):
        return draw("%s %s %s" % (place(s), paint(stroke=colour, width=width), polyline(points)))
    return painter


def triangle(points, colour=SLATE):
    def painter(s):
        return draw("%s %s %s" % (place(s), paint(fill=colour, stroke=colour, width=1.0),
                                  polygon(points)))
    return painter


def gear_icon(s):
    """An eight-toothed gear with a hole, in a 24-unit box."""
    teeth, outer, inner, hole = 8, 11.0, 8.4, 3.4
    points = []
    for i in range(teeth):
        base = 2 * math.pi * i / teeth
        for angle, radius in ((-0.30, inner), (-0.17, outer), (0.17, outer), (0.30, inner)):
            a = base + angle
            points.append((12 + radius * math.cos(a), 12 + radius * math.sin(a)))
    ring = "M%g,%g " % points[0] + " ".join("L%g,%g" % p for p in points[1:]) + " Z"
    ring += " M%g,12 A%g,%g 0 1,0 %g,12 A%g,%g 0 1,0 %g,12 Z" % (
        12 + hole, hole, hole, 12 - hole, hole, hole, 12 + hole)
    return draw("%s fill-rule evenodd %s %s" % (place(s), paint(fill=SLATE), path(ring)))


def white_glyph(mvg):
    """The profile editor's page glyphs: white on transparent, in a 33-unit box."""
    def painter(s):
        return draw("%s %s" % (place(s), mvg))
    return painter


# The body of the padlock is one path with the keyhole cut out of it.
PROFILE_SSL = " ".join([
    paint(stroke=WHITE, width=3), path("M11.5,15 L11.5,11 A5,5 0 0,1 21.5,11 L21.5,15"),
    "fill-rule evenodd", paint(fill=WHITE),
    path("M10,14 L23,14 A2.5,2.5 0 0,1 25.5,16.5 L25.5,24.5 A2.5,2.5 0 0,1 23,27 L10,27 "
         "A2.5,2.5 0 0,1 7.5,24.5 L7.5,16.5 A2.5,2.5 0 0,1 10,14 Z "
         "M15.6,21.42 A2.3,2.3 0 1,1 17.4,21.42 L18,24.2 L15,24.2 Z")])

PROFILE_IPSEC = " ".join([
    paint(stroke=WHITE, width=3), "push graphic-context", "translate 16.5,16.5", "rotate -45",
    rrect(-12.5, -4.5, 1.5, 4.5, 4.5), rrect(-1.5, -4.5, 12.5, 4.5, 4.5), "pop graphic-context"])

PROFILE_INPUT = " ".join([
    paint(stroke=WHITE, width=3), polyline([(6, 19), (6, 27), (27, 27), (27, 19)]),
    "line 16.5,5 16.5,19", polyline([(11, 14), (16.5, 19.5), (22, 14)])])

PROFILE_OUTPUT = " ".join([
    paint(stroke=WHITE, width=3), polyline([(6, 19), (6, 27), (27, 27), (27, 19)]),
    "line 16.5,6 16.5,20", polyline([(11, 11), (16.5, 5.5), (22, 11)])])


def dot(colour, size):
    def painter(s):
        return draw("%s %s %s" % (place(s), paint(fill=colour), circle(size / 2.0, size / 2.0,
                                                                        size / 2.0 - 0.25)))
    return painter


def refresh_icon(s):
    """A circular arrow in an 18-unit box: an open ring that runs clockwise and ends in
    an arrowhead pointing into its gap."""
    r, c = 5.8, 9.0
    start, end = math.radians(-50), math.radians(220)
    sx, sy = c + r * math.cos(start), c + r * math.sin(start)
    ex, ey = c + r * math.cos(end), c + r * math.sin(end)
    arc = "M%g,%g A%g,%g 0 1,1 %g,%g" % (sx, sy, r, r, ex, ey)
    # Direction of travel at the end of the ring, and the outward radius there.
    dx, dy = -math.sin(end), math.cos(end)
    nx, ny = math.cos(end), math.sin(end)
    head = [(ex + 3.2 * dx, ey + 3.2 * dy),
            (ex - 0.6 * dx + 2.8 * nx, ey - 0.6 * dy + 2.8 * ny),
            (ex - 0.6 * dx - 2.8 * nx, ey - 0.6 * dy - 2.8 * ny)]
    return draw("%s %s %s %s %s" % (place(s), paint(stroke=SLATE, width=1.8), path(arc),
                                    paint(fill=SLATE), polygon(head)))


def exclamation(cx, top, bottom, dot_y, width, colour=WHITE):
    return " ".join([paint(stroke=colour, width=width),
                     "line %g,%g %g,%g" % (cx, top, cx, bottom),
                     paint(fill=colour), circle(cx, dot_y, width * 0.62)])


def alarm_icon(s):
    """A warning triangle in a 40-unit box."""
    return draw("%s %s %s %s" % (place(s), paint(fill=AMBER, stroke=AMBER, width=4),
                                 polygon([(20, 4), (37, 34), (3, 34)]),
                                 exclamation(20, 13, 23.5, 29, 3.6)))


def question_icon(s):
    """A question mark in a circle, in a 50-unit box."""
    return draw("%s %s %s %s %s %s %s" % (
        place(s), paint(fill=BLUE), circle(25, 25, 23.5), paint(stroke=WHITE, width=5.5),
        path("M17.5,19.5 A7.5,7.5 0 1,1 29,25.5 Q25,27.5 25,31.5"),
        paint(fill=WHITE), circle(25, 38.5, 3.4)))


def alert_icon(s):
    """An exclamation mark in a circle, in a 51-unit box."""
    return draw("%s %s %s %s" % (place(s), paint(fill=ORANGE), circle(25.5, 25.5, 24),
                                 exclamation(25.5, 12, 29, 37.5, 5.5)))


def network(points, edges, colour, width, node):
    parts = [paint(stroke=colour, width=width)]
    parts += ["line %g,%g %g,%g" % (points[a] + points[b]) for a, b in edges]
    parts += [paint(fill=colour)] + [circle(x, y, node) for x, y in points]
    return " ".join(parts)


def main_banner(bold_font):
    """The banner of the main window and the login views: a deep blue to teal ground,
    a quiet network pattern, the mark and the name."""
    def painter(s):
        w, h = 400 * s, 91 * s
        nodes = [(250, 22), (292, 52), (330, 18), (352, 68), (385, 40), (300, 84), (230, 70),
                 (372, 6)]
        edges = [(0, 1), (1, 2), (1, 3), (2, 4), (3, 4), (1, 5), (0, 6), (6, 5), (2, 7), (4, 7)]
        return (ground(w, h, gradient(w, h, NAVY, TEAL_DEEP, "east"))
                + draw("%s %s %s %s" % (place(s), paint(fill="#FFFFFF0D"),
                                         circle(330, 46, 70), circle(390, 100, 60)))
                + draw("%s %s" % (place(s), network(nodes, edges, "#FFFFFF38", 1.2, 2.6)))
                + shield_logo(60, s, 22, 15, outline_colour="#FFFFFFA0")
                + ["-font", bold_font, "-pointsize", str(31 * s), "-fill", WHITE,
                   "-gravity", "NorthWest", "-annotate", "+%d+%d" % (96 * s, 25 * s),
                   "VanTrelo"])
    return painter


def bottom_bar(s):
    """The main window's bottom bar: a light ground under a dark link text. The form
    gives the same picture to the link button inside the bar, so it carries no line or
    edge that would show twice."""
    return ground(400 * s, 35 * s, gradient(400 * s, 35 * s, "#F5F8FA", "#E7ECF1"))


def pale_banner(s):
    """The profile editor's banner strip: a pale ground with a faint network that stays
    inside the picture, so that it can be repeated in both directions without seams."""
    w, h = 590 * s, 70 * s
    nodes = [(380, 18), (420, 46), (462, 22), (500, 52), (540, 28), (445, 60), (350, 50),
             (568, 12)]
    edges = [(0, 1), (1, 2), (2, 3), (3, 4), (1, 5), (0, 6), (6, 5), (2, 4), (4, 7)]
    return (ground(w, h, ["-size", "%dx%d" % (w, h), "xc:#EAF2F6"])
            + draw("%s %s %s" % (place(s), paint(fill="#1C9AA614"), circle(470, 36, 30)))
            + draw("%s %s" % (place(s), network(nodes, edges, "#1C9AA640", 1.2, 2.4))))


def uninstall_picture(badge, glyph):
    """The uninstaller's windows: the mark with a round badge at its lower right, a minus
    before the removal and a tick after it, in a 96-unit box."""
    def painter(s):
        return (shield_logo(82, s, 2, 2)
                + draw("%s %s %s %s %s" % (place(s), paint(fill=WHITE), circle(72, 72, 22),
                                           paint(fill=badge), circle(72, 72, 18.5)))
                + draw("%s %s %s" % (place(s), paint(stroke=WHITE, width=5.5), glyph)))
    return painter


MINUS = "line 62,72 82,72"
TICK = polyline([(62, 72.5), (69.5, 80), (82.5, 65)])


def about_logo(s):
    """The about box's logo: the mark alone on a transparent ground."""
    return shield_logo(75, s)


# (path under the repository, width, height, painter); ICO files list their frames.
def pictures(bold_font):
    icon = "Global/Resources/Icon/"
    bitmap = "Global/Resources/Bitmap/"
    items = [
        (icon + "add.png", 50, 50, round_badge(GREEN, PLUS)),
        (icon + "del.png", 50, 50, round_badge(RED, CROSS)),
        (icon + "clear.png", 16, 16, clear_icon),
        (icon + "ssll.png", 16, 16, square_badge(BLUE, small_padlock())),
        (icon + "ipsecl.png", 16, 16, square_badge(TEAL, small_link())),
    ]
    items += [(icon + "delay%d.png" % n, 20, 20, delay_icon(n)) for n in range(6)]
    items += [
        (icon + "arrow_right.png", 16, 16, triangle([(6, 4), (11.5, 8), (6, 12)])),
        (icon + "arrow_down.png", 16, 16, triangle([(4, 6), (12, 6), (8, 11.5)])),
        (icon + "profile_ssl.png", 33, 33, white_glyph(PROFILE_SSL)),
        (icon + "profile_ipsec.png", 33, 33, white_glyph(PROFILE_IPSEC)),
        (icon + "profile_input.png", 33, 33, white_glyph(PROFILE_INPUT)),
        (icon + "profile_output.png", 33, 33, white_glyph(PROFILE_OUTPUT)),
        (icon + "profile_redDot.png", 6, 6, dot(RED, 6)),
        (icon + "profile_grayDot.png", 3, 3, dot("#4A4A4A", 3)),
        (icon + "gear.png", 24, 24, gear_icon),
        (icon + "down.png", 16, 16, chevron([(4, 6.5), (8, 10.5), (12, 6.5)])),
        (icon + "refresh.png", 18, 18, refresh_icon),
        (icon + "alarm.png", 40, 40, alarm_icon),
        (icon + "question.png", 50, 50, question_icon),
        (icon + "alert.png", 51, 51, alert_icon),
        (bitmap + "background_mainwnd.png", 400, 91, main_banner(bold_font)),
        (bitmap + "back.png", 400, 35, bottom_bar),
        (bitmap + "banner.png", 590, 70, pale_banner),
        (bitmap + "morvex_logo.png", 75, 75, about_logo),
    ]
    uninstall = "app/mac/src/uninstall/Resources/"
    items += [
        (uninstall + "uninstall.png", 96, 96, uninstall_picture(RED, MINUS)),
        (uninstall + "uninstall_done.png", 96, 96, uninstall_picture(GREEN, TICK)),
    ]
    icons = [
        (icon + "ICON.ico", [16, 32, 48]),
        ("image/ICON32.ico", [32]),
    ]
    return items, icons


def supersampling(width, height):
    """Large pictures need less supersampling to look smooth, and would be slow with
    more."""
    return SCALE if max(width, height) <= 100 else 3


def render_png(convert, out, width, height, painter):
    s = supersampling(width, height)
    args = [convert, "-size", "%dx%d" % (width * s, height * s), "xc:none"]
    args += painter(s)
    args += ["-filter", "Box", "-resize", "%dx%d!" % (width, height), "-strip",
             "-define", "png:exclude-chunks=date,time", "PNG32:" + out]
    run(args)


def render_icon(convert, out, sizes, scratch):
    frames = []
    for size in sizes:
        frame = os.path.join(scratch, "%s-%d.png" % (os.path.basename(out), size))
        render_png(convert, frame, size, size, app_icon(size))
        frames.append(frame)
    run([convert] + frames + ["-strip", out])


def render_all(out_root):
    convert = tool("convert")
    bold = font_file("DejaVu Sans:bold", "DejaVuSans-Bold")
    items, icons = pictures(bold)
    for rel in [item[0] for item in items] + [icon[0] for icon in icons]:
        os.makedirs(os.path.dirname(os.path.join(out_root, rel)), exist_ok=True)
    with tempfile.TemporaryDirectory() as scratch, \
            concurrent.futures.ThreadPoolExecutor(WORKERS) as pool:
        jobs = [pool.submit(render_png, convert, os.path.join(out_root, rel), width, height,
                            painter)
                for rel, width, height, painter in items]
        jobs += [pool.submit(render_icon, convert, os.path.join(out_root, rel), sizes, scratch)
                 for rel, sizes in icons]
        for job in jobs:
            job.result()
    return items, icons


# --- Checks --------------------------------------------------------------------------

def frame_sizes(path_):
    """Width and height of a PNG, or of each frame of an ICO, from the file's header."""
    with open(path_, "rb") as handle:
        data = handle.read()
    if data[:8] == b"\x89PNG\r\n\x1a\n" and data[12:16] == b"IHDR":
        return [struct.unpack(">II", data[16:24])]
    if data[:4] == b"\x00\x00\x01\x00":
        count = struct.unpack("<H", data[4:6])[0]
        return [(data[6 + 16 * i] or 256, data[7 + 16 * i] or 256) for i in range(count)]
    return []


def differing_pixels(a, b):
    """Pixels that differ by more than a trace of colour: a newer ImageMagick may round
    an edge differently, which is no fault of the picture."""
    result = subprocess.run([tool("compare"), "-metric", "AE", "-fuzz", "3%", a, b, "null:"],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        return int(float(result.stderr.split()[0]))
    except (ValueError, IndexError):
        sys.exit("draw_pictures: compare failed on %s: %s" % (a, result.stderr))


def qrc_files():
    tree = ElementTree.parse(os.path.join(ROOT, QRC))
    files = []
    for resource in tree.getroot().iter("qresource"):
        prefix = resource.get("prefix", "/").strip("/")
        for entry in resource.iter("file"):
            files.append((prefix, entry.text.strip(), entry.get("alias")))
    return files


def check(out_root, items, icons):
    failures = []
    expected = [(rel, [(w, h)]) for rel, w, h, _ in items]
    expected += [(rel, [(s, s) for s in sizes]) for rel, sizes in icons]
    comparisons = []
    for rel, sizes in expected:
        committed = os.path.join(ROOT, rel)
        fresh = os.path.join(out_root, rel)
        if not os.path.exists(committed):
            failures.append("%s: not committed" % rel)
            continue
        have = frame_sizes(committed)
        if sorted(have) != sorted(sizes):
            failures.append("%s: sizes %s, expected %s" % (rel, have, sizes))
            continue
        for i, (w, h) in enumerate(have):
            frame = "[%d]" % i if rel.endswith(".ico") else ""
            comparisons.append((rel, i, w * h, committed + frame, fresh + frame))
    with concurrent.futures.ThreadPoolExecutor(WORKERS) as pool:
        diffs = list(pool.map(lambda c: differing_pixels(c[3], c[4]), comparisons))
    for (rel, i, area, _, _), diff in zip(comparisons, diffs):
        # A trace of difference is allowed (see differing_pixels); a changed shape is not.
        if diff > area // 500:
            failures.append("%s (frame %d): %d of %d pixels differ from a fresh drawing"
                            % (rel, i, diff, area))

    # The resource list must name every picture under Global/Resources and nothing
    # else, each under the path the program asks for.
    listed = set()
    for prefix, name, alias in qrc_files():
        if alias:
            failures.append("%s: alias %s hides the file's own path" % (QRC, alias))
        source = os.path.normpath(os.path.join(os.path.dirname(QRC), name))
        if not os.path.isfile(os.path.join(ROOT, source)):
            failures.append("%s lists %s, which does not exist" % (QRC, name))
        resource = "/".join(part for part in (prefix, name) if part)
        if resource != source.replace(os.sep, "/"):
            failures.append("%s: %s is reached as :/%s, not as :/%s"
                            % (QRC, name, resource, source))
        listed.add(source.replace(os.sep, "/"))
    on_disk = set()
    for folder, _, names in os.walk(os.path.join(ROOT, "Global", "Resources")):
        for name in names:
            on_disk.add(os.path.relpath(os.path.join(folder, name), ROOT).replace(os.sep, "/"))
    for missing in sorted(on_disk - listed):
        failures.append("%s does not list %s" % (QRC, missing))
    drawn = {rel for rel, _ in expected}
    for stray in sorted(on_disk - drawn):
        failures.append("%s is not drawn by this script" % stray)
    return failures


# --- Contact sheet -------------------------------------------------------------------

def contact_sheet(target, items, icons):
    """Every picture labelled with its path and size: icons at their size on a light
    and on a dark ground and magnified without smoothing; larger pictures at their
    size below them."""
    convert = tool("convert")
    montage = tool("montage")
    regular = font_file("DejaVu Sans", "DejaVuSans")
    entries = [(rel, w, h) for rel, w, h, _ in items]
    entries += [(rel + "[%d]" % i, s, s) for rel, sizes in icons for i, s in enumerate(sizes)]
    with tempfile.TemporaryDirectory() as scratch:
        small, large = [], []
        for n, (rel, w, h) in enumerate(entries):
            source = os.path.join(ROOT, rel)
            tile = os.path.join(scratch, "tile%03d.png" % n)
            label = ["-label", "%s  %dx%d" % (rel.replace("Global/Resources/", ""), w, h)]
            if max(w, h) <= 100:
                zoom = max(1, min(104 // h, (300 - 2 * w - 56) // w))
                run([convert, "-size", "300x120", "xc:#F4F4F4",
                     source, "-geometry", "+8+16", "-composite",
                     "(", "-size", "%dx%d" % (w + 16, h + 16), "xc:#2F3B47", ")",
                     "-geometry", "+%d+8" % (w + 24), "-composite",
                     source, "-geometry", "+%d+16" % (w + 32), "-composite",
                     "(", source, "-filter", "point", "-resize", "%d%%" % (zoom * 100), ")",
                     "-geometry", "+%d+8" % (2 * w + 48), "-composite", tile])
                small += label + [tile]
            else:
                run([convert, "-size", "%dx%d" % (w + 16, h + 16), "xc:#F4F4F4",
                     source, "-geometry", "+8+8", "-composite", tile])
                large += label + [tile]
        parts = []
        for name, tiles, columns in (("small.png", small, "4x"), ("large.png", large, "2x")):
            part = os.path.join(scratch, name)
            run([montage, "-font", regular, "-pointsize", "12", "-background", "#FFFFFF",
                 "-geometry", "+10+8", "-tile", columns] + tiles + [part])
            parts.append(part)
        run([convert] + parts + ["-background", "#FFFFFF", "-gravity", "West", "-append",
                                 "-gravity", "South", "-splice", "0x12", "+repage", target])


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--out", help="draw into this folder instead of the repository")
    parser.add_argument("--check", action="store_true",
                        help="compare a fresh drawing with the committed pictures")
    parser.add_argument("--sheet", help="write a contact sheet of the committed pictures")
    options = parser.parse_args()
    os.chdir(ROOT)

    if options.sheet:
        bold = font_file("DejaVu Sans:bold", "DejaVuSans-Bold")
        items, icons = pictures(bold)
        contact_sheet(os.path.abspath(options.sheet), items, icons)
        return 0
    if options.check:
        with tempfile.TemporaryDirectory() as scratch:
            items, icons = render_all(scratch)
            failures = check(scratch, items, icons)
        for failure in failures:
            print("FAIL: " + failure)
        print("%d pictures checked, %d failures" % (len(items) + len(icons), len(failures)))
        return 1 if failures else 0
    render_all(os.path.abspath(options.out) if options.out else ROOT)
    return 0


if __name__ == "__main__":
    sys.exit(main())
