#!/usr/bin/python3
"""Turn the program's 32 x 32 icon (src/watcher/resources/icon32.rgba: B, G, R, A bytes,
top row first) into packaging/ozzlebeck.png, the icon that the desktop entry names.
Standard library only, and deterministic: re-running gives a byte-identical file.

Usage: /usr/bin/python3 packaging/make_icon_png.py
"""
import os
import struct
import zlib

SIZE = 32
HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.join(HERE, "..", "src", "watcher", "resources", "icon32.rgba")
TARGET = os.path.join(HERE, "ozzlebeck.png")


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))


def png_from_bgra(bgra):
    if len(bgra) != SIZE * SIZE * 4:
        raise SystemExit(f"{SOURCE}: {len(bgra)} bytes, not {SIZE * SIZE * 4}")
    rows = bytearray()
    for y in range(SIZE):
        rows.append(0)  # filter: none
        for x in range(SIZE):
            b, g, r, a = bgra[(y * SIZE + x) * 4:(y * SIZE + x) * 4 + 4]
            rows += bytes((r, g, b, a))
    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b""))


def main():
    with open(SOURCE, "rb") as f:
        png = png_from_bgra(f.read())
    with open(TARGET, "wb") as f:
        f.write(png)
    print(f"{os.path.relpath(TARGET)}: {len(png)} bytes")


if __name__ == "__main__":
    main()
