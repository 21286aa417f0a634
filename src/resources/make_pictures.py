#!/usr/bin/python3
"""Draws the pictures of the resource bundle and the Windows icon.

Run from anywhere: the files are written beside this script. The outputs are
committed, so the build needs neither Python nor PIL; run this again only to
change the pictures. Needs python3-pil.

    sj-bg.png   539x283 RGBA  window background: dark navy panel, rounded
                              transparent corners, thin light-blue edge
    sj-2.png    21x21   RGBA  help button face: "?" in a ring
    sj-3.png    21x22   RGBA  close button face: an "x"
    redtwo.png  108x38  RGB   pressed text button
    redone.png  107x39  RGB   unpressed red button (spare)
    close.png   16x16   RGBA  help dialog close button
    updater_en.qm  the English catalogue (no translations), from
                updater_en.ts with lrelease when qttools5-dev-tools is installed
    app.ico     13 images: 48/32/16 px in 16 and 256 colours, 256/128/64/48/
                32/24/16 px in 32-bit colour
    icons/NxN.png, icons/scalable.svg
                the desktop icon for the hicolor theme, 16 to 256 px, and the
                same drawing as SVG
    help/{Base,Wheel,Updater}_{En,Ch}.jpg
                the help pictures, drawn from help/help_en.txt and
                help/help_zh.txt ("{device}" names the product; the
                Updater pictures are the general help for a product that
                has no picture of its own, and name just "the device");
                640 px wide
                to fit the help dialog's text area (665 px inside its border
                and margins, less a vertical scroll bar), as tall as the text
                needs. Needs fonts-noto-cjk.
"""

import io
import os
import re
import struct
import subprocess
import sys

from PIL import Image, ImageDraw, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
EDGE = (62, 144, 220)
LRELEASE = "/usr/lib/qt5/bin/lrelease"  # from qttools5-dev-tools
SS = 4  # supersampling factor for smooth edges


def smooth(draw_fn, size, mode="RGBA"):
    """Draws at SS times the size, then scales down for antialiased edges."""
    w, h = size
    big = Image.new("RGBA", (w * SS, h * SS), (0, 0, 0, 0))
    draw_fn(ImageDraw.Draw(big), w * SS, h * SS)
    small = big.resize((w, h), Image.LANCZOS)
    return small if mode == "RGBA" else small.convert(mode)


def vertical_gradient(size, top, bottom):
    w, h = size
    img = Image.new("RGBA", size)
    px = img.load()
    for y in range(h):
        t = y / max(1, h - 1)
        c = tuple(round(a + (b - a) * t) for a, b in zip(top, bottom))
        for x in range(w):
            px[x, y] = c
    return img


def background():
    w, h = 539, 283
    radius = 10
    panel = vertical_gradient((w, h), (24, 34, 58, 255), (12, 17, 32, 255))

    def mask_draw(d, W, H):
        d.rounded_rectangle((0, 0, W - 1, H - 1), radius * SS, fill=(255, 255, 255, 255))

    def edge_draw(d, W, H):
        d.rounded_rectangle((SS // 2, SS // 2, W - 1 - SS // 2, H - 1 - SS // 2), radius * SS,
                            outline=EDGE + (255,), width=SS * 3 // 2)

    mask = smooth(mask_draw, (w, h)).getchannel("A")
    edge = smooth(edge_draw, (w, h))
    panel.alpha_composite(edge)
    panel.putalpha(mask)
    # The corners must be wholly transparent whatever the scaling left there.
    px = panel.load()
    for x, y in ((0, 0), (w - 1, 0), (0, h - 1), (w - 1, h - 1)):
        px[x, y] = (0, 0, 0, 0)
    return panel


def font(size):
    for name in ("DejaVuSans-Bold.ttf",):
        path = os.path.join("/usr/share/fonts/truetype/dejavu", name)
        if os.path.exists(path):
            return ImageFont.truetype(path, size)
    return ImageFont.load_default()


def help_face():
    def draw(d, W, H):
        d.ellipse((SS, SS, W - 1 - SS, H - 1 - SS), outline=(255, 255, 255, 255), width=int(1.6 * SS))
        f = font(int(H * 0.62))
        d.text((W / 2, H / 2 + SS * 0.5), "?", font=f, fill=(255, 255, 255, 255), anchor="mm")

    return smooth(draw, (21, 21))


def cross(size, inset, width, colour=(255, 255, 255, 255)):
    def draw(d, W, H):
        i = inset * SS
        d.line((i, i, W - 1 - i, H - 1 - i), fill=colour, width=int(width * SS))
        d.line((W - 1 - i, i, i, H - 1 - i), fill=colour, width=int(width * SS))

    return smooth(draw, size)


def red_button(size, top, bottom):
    w, h = size
    img = vertical_gradient(size, top + (255,), bottom + (255,))

    def frame(d, W, H):
        d.rounded_rectangle((0, 0, W - 1, H - 1), 5 * SS, outline=(120, 12, 10, 255), width=SS)

    img.alpha_composite(smooth(frame, size))
    return img.convert("RGB")


# ---------------------------------------------------------------- the icon

def icon_master(size):
    """The application icon: a navy tile with a light-blue rim and a white
    arrow going up into a chip."""

    def draw(d, W, H):
        u = W / 32.0
        d.rounded_rectangle((u, u, W - 1 - u, H - 1 - u), 6 * u, fill=(20, 30, 54, 255),
                            outline=EDGE + (255,), width=max(1, int(1.6 * u)))
        # the chip
        d.rounded_rectangle((9 * u, 5.5 * u, 23 * u, 11.5 * u), 1.5 * u, fill=(85, 255, 0, 255))
        # the arrow
        d.polygon([(16 * u, 12.5 * u), (24 * u, 19.5 * u), (19.5 * u, 19.5 * u), (19.5 * u, 26.5 * u),
                   (12.5 * u, 26.5 * u), (12.5 * u, 19.5 * u), (8 * u, 19.5 * u)],
                  fill=(255, 255, 255, 255))

    return smooth(draw, (size, size))


ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)


def icon_svg():
    """icon_master's drawing as SVG, in its 32-unit grid."""
    edge = "#%02x%02x%02x" % EDGE
    return f"""<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 32 32">
  <rect x="1" y="1" width="30" height="30" rx="6" fill="#141e36" stroke="{edge}" stroke-width="1.6"/>
  <rect x="9" y="5.5" width="14" height="6" rx="1.5" fill="#55ff00"/>
  <polygon points="16,12.5 24,19.5 19.5,19.5 19.5,26.5 12.5,26.5 12.5,19.5 8,19.5" fill="#ffffff"/>
</svg>
"""


# ---------------------------------------------------------- help pictures

HELP_WIDTH = 640
HELP_PAD = 18
HELP_BG = (22, 22, 26)
HELP_TEXT = (230, 230, 230)
HELP_HEAD = (255, 255, 255)
HELP_RULE = (227, 30, 24)
NOTO = "/usr/share/fonts/opentype/noto/NotoSansCJK-{}.ttc"
HELP_PICTURES = {  # file: (text, device name)
    "Base_En.jpg": ("help_en.txt", "motor base"),
    "Wheel_En.jpg": ("help_en.txt", "steering wheel"),
    "Base_Ch.jpg": ("help_zh.txt", "电机底座"),
    "Wheel_Ch.jpg": ("help_zh.txt", "方向盘"),
    "Updater_En.jpg": ("help_en.txt", "device"),
    "Updater_Ch.jpg": ("help_zh.txt", "设备"),
}


def help_fonts(chinese):
    """Noto Sans CJK in both languages: the English texts quote notices with
    full-width characters ("？") that DejaVu lacks."""
    size = 15 if chinese else 14
    return (ImageFont.truetype(NOTO.format("Regular"), size, index=2),
            ImageFont.truetype(NOTO.format("Bold"), size + 4, index=2))


def wrap(text, fnt, width, chinese):
    """Breaks `text` into lines no wider than `width`: at blanks, or between
    any two characters in Chinese."""
    units = list(text) if chinese else re.split(r"(?<= )", text)
    lines, line = [], ""
    for unit in units:
        if line and fnt.getlength(line + unit) > width:
            lines.append(line.rstrip())
            line = unit.lstrip() if not chinese else unit
        else:
            line += unit
    if line.strip():
        lines.append(line.rstrip())
    return lines


def help_picture(source, device):
    """Lays out a plain text: "# " starts a heading, a blank line a gap,
    other lines are paragraphs; a line starting with "- " or "N. " hangs its
    continuation lines under its first word."""
    chinese = source.endswith("_zh.txt")
    body, head = help_fonts(chinese)
    text = open(os.path.join(HERE, "help", source), encoding="utf-8").read().replace("{device}", device)
    inner = HELP_WIDTH - 2 * HELP_PAD
    step = int(body.size * 1.5)
    items = []  # (kind, x, text)
    for raw in text.splitlines():
        if raw.startswith("# "):
            items.append(("head", 0, raw[2:]))
            continue
        if not raw.strip():
            items.append(("gap", 0, ""))
            continue
        m = re.match(r"(- |\d+\. )", raw)
        hang = int(body.getlength(m.group(1))) if m else 0
        for i, line in enumerate(wrap(raw, body, inner - hang, chinese)):
            items.append(("line", 0 if i == 0 else hang, line))
    height = HELP_PAD
    for kind, _, _ in items:
        height += {"head": int(head.size * 1.9), "gap": step // 2, "line": step}[kind]
    img = Image.new("RGB", (HELP_WIDTH, height + HELP_PAD), HELP_BG)
    d = ImageDraw.Draw(img)
    y = HELP_PAD
    for kind, x, line in items:
        if kind == "head":
            d.text((HELP_PAD, y + 4), line, font=head, fill=HELP_HEAD)
            rule = y + int(head.size * 1.5)
            d.line((HELP_PAD, rule, HELP_WIDTH - HELP_PAD, rule), fill=HELP_RULE, width=2)
            y += int(head.size * 1.9)
        elif kind == "gap":
            y += step // 2
        else:
            d.text((HELP_PAD + x, y), line, font=body, fill=HELP_TEXT)
            y += step
    return img


VGA16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
         (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
         (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def row_bytes(bits_per_row):
    return ((bits_per_row + 31) // 32) * 4


def and_mask(alpha, w, h):
    """1 bit per pixel, 1 where the pixel is transparent, rows bottom-up."""
    out = bytearray()
    stride = row_bytes(w)
    for y in reversed(range(h)):
        row = bytearray(stride)
        for x in range(w):
            if alpha[x, y] < 128:
                row[x // 8] |= 0x80 >> (x % 8)
        out += row
    return bytes(out)


def dib(img, bpp):
    """A BMP image as an icon stores it: header with doubled height, palette,
    colour rows bottom-up, then the transparency mask."""
    w, h = img.size
    alpha = img.getchannel("A").load()
    palette = b""
    rows = bytearray()
    if bpp == 32:
        px = img.load()
        for y in reversed(range(h)):
            for x in range(w):
                r, g, b, a = px[x, y]
                rows += bytes((b, g, r, a))
    else:
        colours = 1 << bpp
        rgb = Image.new("RGB", img.size, (0, 0, 0))
        rgb.paste(img, mask=img.getchannel("A"))
        if bpp == 4:
            pal = Image.new("P", (1, 1))
            flat = [c for rgbc in VGA16 for c in rgbc]
            pal.putpalette(flat + [0] * (768 - len(flat)))
            indexed = rgb.quantize(palette=pal, dither=Image.Dither.NONE)
            entries = VGA16
        else:
            indexed = rgb.quantize(colors=256, dither=Image.Dither.NONE)
            p = indexed.getpalette()[: 3 * 256]
            p += [0] * (768 - len(p))
            entries = [tuple(p[i:i + 3]) for i in range(0, 768, 3)]
        palette = b"".join(bytes((b, g, r, 0)) for r, g, b in entries[:colours])
        ipx = indexed.load()
        stride = row_bytes(w * bpp)
        for y in reversed(range(h)):
            row = bytearray(stride)
            for x in range(w):
                i = ipx[x, y] if alpha[x, y] >= 128 else 0
                if bpp == 8:
                    row[x] = i
                else:
                    row[x // 2] |= (i & 0x0F) << (4 if x % 2 == 0 else 0)
            rows += row
    mask = and_mask(alpha, w, h)
    header = struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, bpp, 0, len(rows) + len(mask), 0, 0, 0, 0)
    return header + palette + bytes(rows) + mask


ICON_IMAGES = [(48, 4), (32, 4), (16, 4), (48, 8), (32, 8), (16, 8),
               (256, 32), (128, 32), (64, 32), (48, 32), (32, 32), (24, 32), (16, 32)]


def write_ico(path):
    blobs = []
    for size, bpp in ICON_IMAGES:
        img = icon_master(size)
        if size == 256:
            buf = io.BytesIO()
            img.save(buf, "PNG")
            blobs.append(buf.getvalue())
        else:
            blobs.append(dib(img, bpp))
    out = bytearray(struct.pack("<HHH", 0, 1, len(blobs)))
    offset = 6 + 16 * len(blobs)
    for (size, bpp), blob in zip(ICON_IMAGES, blobs):
        dim = 0 if size == 256 else size
        out += struct.pack("<BBBBHHII", dim, dim, 16 if bpp == 4 else 0, 0, 1, bpp, len(blob), offset)
        offset += len(blob)
    for blob in blobs:
        out += blob
    with open(path, "wb") as f:
        f.write(out)


def check_ico(path):
    """Reads the icon back and checks every image's size and colour depth."""
    data = open(path, "rb").read()
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    assert (reserved, kind, count) == (0, 1, len(ICON_IMAGES)), (reserved, kind, count)
    for i, (size, bpp) in enumerate(ICON_IMAGES):
        w, h, ncol, _, planes, bits, length, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        assert (w or 256, h or 256, bits, planes) == (size, size, bpp, 1), (i, w, h, bits)
        assert offset + length <= len(data)
        blob = data[offset:offset + length]
        if blob[:8] == b"\x89PNG\r\n\x1a\n":
            pw, ph = struct.unpack_from(">II", blob, 16)
            assert (pw, ph) == (size, size)
        else:
            hs, bw, bh, _, bb = struct.unpack_from("<IiiHH", blob, 0)
            assert (hs, bw, bh, bb) == (40, size, 2 * size, bpp), (hs, bw, bh, bb)
            palette = 4 * (1 << bpp) if bpp <= 8 else 0
            expect = 40 + palette + row_bytes(size * bpp) * size + row_bytes(size) * size
            assert length == expect, (length, expect)
        print(f"  {size:3d} x {size:3d}  {bpp:2d} bit  {length:6d} bytes")


def main():
    pictures = {
        "sj-bg.png": background(),
        "sj-2.png": help_face(),
        "sj-3.png": cross((21, 22), 5, 2.2),
        "redtwo.png": red_button((108, 38), (200, 24, 20), (150, 14, 12)),
        "redone.png": red_button((107, 39), (227, 30, 24), (180, 20, 16)),
        "close.png": cross((16, 16), 3.5, 2),
    }
    for name, img in pictures.items():
        img.save(os.path.join(HERE, name), optimize=True)
        print(f"{name}: {img.size[0]} x {img.size[1]} {img.mode}")
    os.makedirs(os.path.join(HERE, "icons"), exist_ok=True)
    for size in ICON_SIZES:
        icon_master(size).save(os.path.join(HERE, "icons", f"{size}x{size}.png"), optimize=True)
    with open(os.path.join(HERE, "icons", "scalable.svg"), "w") as f:
        f.write(icon_svg())
    print("icons: " + " ".join(str(s) for s in ICON_SIZES) + " px, scalable.svg")
    for name, (source, device) in HELP_PICTURES.items():
        img = help_picture(source, device)
        img.save(os.path.join(HERE, "help", name), quality=80, optimize=True)
        print(f"help/{name}: {img.size[0]} x {img.size[1]}")
    ico = os.path.join(HERE, "app.ico")
    write_ico(ico)
    print("app.ico:")
    check_ico(ico)
    if os.path.exists(LRELEASE):
        subprocess.run([LRELEASE, "-silent", os.path.join(HERE, "updater_en.ts"),
                        "-qm", os.path.join(HERE, "updater_en.qm")], check=True)
        print("updater_en.qm")
    return 0


if __name__ == "__main__":
    sys.exit(main())
