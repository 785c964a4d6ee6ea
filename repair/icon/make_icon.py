#!/usr/bin/env python3
"""Makes repair/panefix.ico, the repair tool's icon, from the pixel grids below.

The icon shows what the tool does: a window split in two panes, with a double-headed arrow
spanning the left (thread) pane from the window's edge to the splitter. It holds two
16-colour images, 32x32 and 16x16, drawn in the standard Windows 16-colour palette so that
every Windows version shows them the same way.

    python3 make_icon.py                 write ../panefix.ico
    python3 make_icon.py --png DIR       also write DIR/panefix-32.png and DIR/panefix-16.png,
                                         decoded back from the .ico and enlarged, for a look

Only the standard library is used. The .ico is kept in the repository, so the build itself
never runs this script; run it again after changing a grid and commit both.
"""

import argparse
import struct
import sys
import zlib
from pathlib import Path

# The standard Windows 16-colour palette, in its usual order: (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00),  # 0 black
    (0x80, 0x00, 0x00),  # 1 maroon
    (0x00, 0x80, 0x00),  # 2 green
    (0x80, 0x80, 0x00),  # 3 olive
    (0x00, 0x00, 0x80),  # 4 navy
    (0x80, 0x00, 0x80),  # 5 purple
    (0x00, 0x80, 0x80),  # 6 teal
    (0xC0, 0xC0, 0xC0),  # 7 silver
    (0x80, 0x80, 0x80),  # 8 grey
    (0xFF, 0x00, 0x00),  # 9 red
    (0x00, 0xFF, 0x00),  # 10 lime
    (0xFF, 0xFF, 0x00),  # 11 yellow
    (0x00, 0x00, 0xFF),  # 12 blue
    (0xFF, 0x00, 0xFF),  # 13 fuchsia
    (0x00, 0xFF, 0xFF),  # 14 aqua
    (0xFF, 0xFF, 0xFF),  # 15 white
]

# One character per pixel in the grids. "." is transparent: its mask bit is set and its
# colour index is 0, so Windows leaves the background as it is there.
TRANSPARENT = "."
COLOURS = {
    "K": 0,   # black: window frame, splitter
    "N": 4,   # navy: title bar
    "S": 7,   # silver: list rows of the thread pane
    "G": 8,   # grey: text lines of the right pane, shadow
    "R": 9,   # red: the width arrow
    "W": 15,  # white: pane background, title-bar buttons
}

ICON_32 = """
................................
................................
................................
KKKKKKKKKKKKKKKKKKKKKKKKKKKKKKK.
KNNNNNNNNNNNNNNNNNNNNNNNNWWNWWKG
KNNNNNNNNNNNNNNNNNNNNNNNNWWNWWKG
KNNNNNNNNNNNNNNNNNNNNNNNNNNNNNKG
KKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKG
KWWWWWWWWWWWWWWWWKWWWWWWWWWWWWKG
KWSSSSSSSSSSSSSWWKWGGGGGGGGGWWKG
KWWWWWWWWWWWWWWWWKWWWWWWWWWWWWKG
KWSSSSSSSSSSSSSWWKWGGGGGGGWWWWKG
KWWWWWWWWWWWWWWWWKWWWWWWWWWWWWKG
KWWWWRRWWWWRRWWWWKWGGGGGGGGGWWKG
KWWWRRWWWWWWRRWWWKWWWWWWWWWWWWKG
KWWRRWWWWWWWWRRWWKWGGGGGGGGWWWKG
KWRRRRRRRRRRRRRRWKWWWWWWWWWWWWKG
KRRRRRRRRRRRRRRRRKWGGGGGGGGGWWKG
KWRRRRRRRRRRRRRRWKWWWWWWWWWWWWKG
KWWRRWWWWWWWWRRWWKWGGGGGGWWWWWKG
KWWWRRWWWWWWRRWWWKWWWWWWWWWWWWKG
KWWWWRRWWWWRRWWWWKWGGGGGGGGGWWKG
KWWWWWWWWWWWWWWWWKWWWWWWWWWWWWKG
KWSSSSSSSSSSSSSWWKWGGGGGGGGWWWKG
KWWWWWWWWWWWWWWWWKWWWWWWWWWWWWKG
KWSSSSSSSSSSSSSWWKWGGGGGGGGGWWKG
KWWWWWWWWWWWWWWWWKWWWWWWWWWWWWKG
KKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKG
.GGGGGGGGGGGGGGGGGGGGGGGGGGGGGGG
................................
................................
................................
"""

ICON_16 = """
................
KKKKKKKKKKKKKKKK
KNNNNNNNNNNNNWNK
KKKKKKKKKKKKKKKK
KWWWWWWWWWWKWWWK
KWSSSSSSSWWKGGWK
KWWWWWWWWWWKWWWK
KWWRWWWWRWWKGWWK
KWRWWWWWWRWKWWWK
KRRRRRRRRRRKGGWK
KWRWWWWWWRWKWWWK
KWWRWWWWRWWKGWWK
KWWWWWWWWWWKWWWK
KWSSSSSSSWWKGGWK
KKKKKKKKKKKKKKKK
................
"""


def parse_grid(text, size):
    """Returns the grid as `size` rows of `size` characters, top row first; stops on a bad grid."""
    rows = text.strip("\n").split("\n")
    if len(rows) != size or any(len(row) != size for row in rows):
        sys.exit(f"grid for {size}x{size} is {len(rows)} rows of lengths {[len(r) for r in rows]}")
    for row in rows:
        for ch in row:
            if ch != TRANSPARENT and ch not in COLOURS:
                sys.exit(f"unknown pixel character {ch!r} in the {size}x{size} grid")
    return rows


def padded_row(data):
    """Returns `data` padded with zero bytes to a multiple of 4, as every bitmap row must be."""
    return data + b"\0" * (-len(data) % 4)


def icon_image(rows):
    """Returns one icon image: BITMAPINFOHEADER, 16-entry palette, 4 bpp colour bitmap, 1 bpp mask.

    Both bitmaps run bottom-up, and the header's height counts them together (twice the
    picture's height), as icon images require.
    """
    size = len(rows)
    colour_bytes = b""
    mask_bytes = b""
    for row in reversed(rows):
        indices = [COLOURS.get(ch, 0) for ch in row]
        packed = bytes((indices[x] << 4) | indices[x + 1] for x in range(0, size, 2))
        colour_bytes += padded_row(packed)
        mask = bytearray((size + 7) // 8)
        for x, ch in enumerate(row):
            if ch == TRANSPARENT:
                mask[x // 8] |= 0x80 >> (x % 8)
        mask_bytes += padded_row(bytes(mask))
    header = struct.pack(
        "<IiiHHIIiiII",
        40,                       # biSize
        size,                     # biWidth
        size * 2,                 # biHeight: colour bitmap and mask together
        1,                        # biPlanes
        4,                        # biBitCount
        0,                        # biCompression: BI_RGB
        len(colour_bytes) + len(mask_bytes),  # biSizeImage
        0, 0,                     # biXPelsPerMeter, biYPelsPerMeter
        16,                       # biClrUsed
        0,                        # biClrImportant
    )
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    return header + palette + colour_bytes + mask_bytes


def ico_file(grids):
    """Returns the bytes of an .ico file (ICONDIR, one ICONDIRENTRY per image, the images)."""
    images = [icon_image(rows) for rows in grids]
    directory = struct.pack("<HHH", 0, 1, len(images))  # reserved, type 1 = icon, count
    offset = len(directory) + 16 * len(images)
    entries = b""
    for rows, image in zip(grids, images):
        size = len(rows)
        entries += struct.pack(
            "<BBBBHHII",
            size % 256,   # bWidth (0 would mean 256)
            size % 256,   # bHeight
            16,           # bColorCount
            0,            # bReserved
            1,            # wPlanes
            4,            # wBitCount
            len(image),   # dwBytesInRes
            offset,       # dwImageOffset
        )
        offset += len(image)
    return directory + entries + b"".join(images)


def decode_ico(data):
    """Returns [(size, pixels)] read back from .ico bytes; pixels are RGB tuples, None where transparent."""
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if reserved != 0 or kind != 1:
        sys.exit("not an icon file")
    pictures = []
    for n in range(count):
        width, height, colours, _, planes, bits, length, offset = struct.unpack_from(
            "<BBBBHHII", data, 6 + 16 * n)
        (header_size, bi_width, bi_height, _, bi_bits, _, _, _, _, clr_used, _) = struct.unpack_from(
            "<IiiHHIIiiII", data, offset)
        if (bi_width, bi_height, bi_bits, bits, colours, planes) != (width, 2 * height, 4, 4, 16, 1):
            sys.exit(f"image {n}: inconsistent header")
        at = offset + header_size
        palette = [struct.unpack_from("<BBBB", data, at + 4 * i)[2::-1] for i in range(16)]
        at += 4 * 16
        colour_stride = (width * 4 + 31) // 32 * 4
        mask_stride = (width + 31) // 32 * 4
        mask_at = at + colour_stride * height
        pixels = []
        for y in range(height):
            row_from_bottom = height - 1 - y
            row = []
            for x in range(width):
                byte = data[at + row_from_bottom * colour_stride + x // 2]
                index = byte >> 4 if x % 2 == 0 else byte & 0x0F
                masked = data[mask_at + row_from_bottom * mask_stride + x // 8] & (0x80 >> (x % 8))
                row.append(None if masked else palette[index])
            pixels.append(row)
        if mask_at + mask_stride * height != offset + length:
            sys.exit(f"image {n}: size in directory does not match its bitmaps")
        pictures.append((width, pixels))
    return pictures


def png_file(pixels, scale):
    """Returns an RGB PNG of `pixels` enlarged `scale` times; transparent pixels as a light checkerboard."""
    size = len(pixels)
    raw = b""
    for y in range(size * scale):
        line = bytearray(b"\0")  # filter type: none
        for x in range(size * scale):
            colour = pixels[y // scale][x // scale]
            if colour is None:
                colour = (0xE8, 0xE8, 0xE8) if ((x // 8) + (y // 8)) % 2 else (0xD0, 0xD0, 0xD0)
            line += bytes(colour)
        raw += bytes(line)

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    header = struct.pack(">IIBBBBB", size * scale, size * scale, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main():
    here = Path(__file__).resolve().parent
    parser = argparse.ArgumentParser(description="Make the repair tool's icon.")
    parser.add_argument("--output", type=Path, default=here.parent / "panefix.ico")
    parser.add_argument("--png", type=Path, metavar="DIR", help="also write enlarged previews here")
    args = parser.parse_args()

    data = ico_file([parse_grid(ICON_32, 32), parse_grid(ICON_16, 16)])
    args.output.write_bytes(data)
    print(f"wrote {args.output} ({len(data)} bytes)")

    if args.png:
        args.png.mkdir(parents=True, exist_ok=True)
        for size, pixels in decode_ico(args.output.read_bytes()):
            target = args.png / f"panefix-{size}.png"
            target.write_bytes(png_file(pixels, 512 // size))
            print(f"wrote {target}")


if __name__ == "__main__":
    main()
