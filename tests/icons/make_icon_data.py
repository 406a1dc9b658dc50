#!/usr/bin/env python3
"""Writes the icon files the test resource DLL is built from (run once; outputs are committed).

The pictures match the ones the icon tests build at run time, so one set of pixel
expectations serves files, PNGs and module icon groups alike."""
import os
import struct
import zlib

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data")


def dib(w, h, bits, pixel, transparent, palette=()):
    """A bottom-up icon image: header, palette, XOR rows, AND rows."""
    colors = len(palette)
    stride = ((w * bits + 31) & ~31) // 8
    mstride = ((w + 31) & ~31) // 8
    rows = []
    for y in reversed(range(h)):
        row = bytearray(stride)
        for x in range(w):
            v = pixel(x, y)
            if bits == 32:
                row[x * 4:x * 4 + 4] = struct.pack("<I", v)
            elif bits == 8:
                row[x] = v
        rows.append(bytes(row))
    masks = []
    for y in reversed(range(h)):
        row = bytearray(mstride)
        for x in range(w):
            if transparent(x, y):
                row[x // 8] |= 0x80 >> (x % 8)
        masks.append(bytes(row))
    header = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, bits, 0, 0, 0, 0, 0, 0)
    pal = b"".join(struct.pack("<I", c) for c in palette)
    return header + pal + b"".join(rows) + b"".join(masks)


def png_rgba(w, h, pixel):
    raw = b"".join(b"\0" + b"".join(struct.pack(">I", pixel(x, y)) for x in range(w)) for y in range(h))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def ico(images):
    """images: list of (width, height, bitcount, data)."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for w, h, bits, data in images:
        out += struct.pack("<BBBBHHII", w & 0xFF, h & 0xFF, 0, 0, 1, bits, len(data), offset)
        offset += len(data)
    return out + b"".join(d for _, _, _, d in images)


def argb(a, r, g, b):
    return (a << 24) | (r << 16) | (g << 8) | b


def sized(n):
    # Red carries the image's own width, green marks 32-bit images; the top-left 4x4 is transparent.
    return dib(n, n, 32, lambda x, y: 0 if x < 4 and y < 4 else argb(255, n, 0x80, 0x11),
               lambda x, y: x < 4 and y < 4)


def quadrant(x, y):
    # RGBA for PNG: red, green / blue, transparent.
    if y < 128:
        return 0xFF0000FF if x < 128 else 0x00FF00FF
    return 0x0000FFFF if x < 128 else 0x00000000


def main():
    os.makedirs(HERE, exist_ok=True)
    multi = ico([(16, 16, 32, sized(16)), (32, 32, 32, sized(32)), (48, 48, 32, sized(48)),
                 (32, 32, 8, dib(32, 32, 8, lambda x, y: 1, lambda x, y: False,
                                 palette=[0, argb(0, 32, 8, 0x22)] + [0] * 254))])
    with open(os.path.join(HERE, "multi.ico"), "wb") as f:
        f.write(multi)
    with open(os.path.join(HERE, "png256.ico"), "wb") as f:
        f.write(ico([(256, 256, 32, png_rgba(256, 256, quadrant))]))
    with open(os.path.join(HERE, "noalpha.ico"), "wb") as f:
        f.write(ico([(16, 16, 32, dib(16, 16, 32, lambda x, y: argb(0, 0, 0, 255), lambda x, y: x < 8))]))


if __name__ == "__main__":
    main()
