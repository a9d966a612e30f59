#!/usr/bin/env python3
"""Converts an uncompressed 24- or 32-bit BMP (as winrun --shots writes) to PNG.

Usage: bmp2png.py IN.bmp OUT.png

Standard library only, so that taking screenshots needs no extra package.
"""
import struct
import sys
import zlib


def read_bmp(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] != b"BM":
        raise ValueError(f"{path}: not a BMP file")
    offset, = struct.unpack_from("<I", data, 10)
    header_size, width, height, planes, bits, compression = struct.unpack_from("<IiiHHI", data, 14)
    if bits not in (24, 32) or compression != 0:
        raise ValueError(f"{path}: {bits}-bit, compression {compression}; only plain 24/32-bit BMP is read")
    bottom_up = height > 0
    height = abs(height)
    step = bits // 8
    stride = (width * step + 3) & ~3
    if len(data) < offset + stride * height:
        raise ValueError(f"{path}: truncated pixel data")
    rows = []
    for y in range(height):
        start = offset + stride * (height - 1 - y if bottom_up else y)
        row = data[start:start + width * step]
        # BMP stores BGR(A); PNG wants RGB.
        rgb = bytearray(width * 3)
        rgb[0::3] = row[2::step]
        rgb[1::3] = row[1::step]
        rgb[2::3] = row[0::step]
        rows.append(bytes(rgb))
    return width, height, rows


def write_png(path, width, height, rows):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

    raw = b"".join(b"\x00" + row for row in rows)  # filter type 0 on every row
    png = (b"\x89PNG\r\n\x1a\n"
           + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
           + chunk(b"IDAT", zlib.compress(raw, 9))
           + chunk(b"IEND", b""))
    with open(path, "wb") as f:
        f.write(png)


def main(argv):
    if len(argv) != 3:
        print("usage: bmp2png.py IN.bmp OUT.png", file=sys.stderr)
        return 2
    try:
        write_png(argv[2], *read_bmp(argv[1]))
    except (OSError, ValueError) as error:
        print(f"bmp2png: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
