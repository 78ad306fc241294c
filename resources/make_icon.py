#!/usr/bin/env python3
"""Draws Corvane's icon (a mast sending three waves) and writes it as a Windows .ico.

Four 32-bit images: 256 px stored as PNG, 48, 32 and 16 px as bottom-up BGRA bitmaps with their
AND masks. Python's standard library only, so anyone can rebuild corvane.ico byte for byte:

    python3 resources/make_icon.py resources/corvane.ico          # write
    python3 resources/make_icon.py --check resources/corvane.ico  # compare pixels, exit 1 on drift

The check compares decoded pixels, not bytes, because another zlib may compress the PNG
differently.
"""
import math
import struct
import sys
import zlib

SIZES = (256, 48, 32, 16)

BACKGROUND_TOP = (0x23, 0x7A, 0x94)
BACKGROUND_BOTTOM = (0x12, 0x2B, 0x45)
MAST = (0xF4, 0xF1, 0xE8)
WAVES = (0xFF, 0xB3, 0x47)

FEED = (0.34, 0.44)  # the top of the mast, where the waves start


def clamp(value, low=0.0, high=1.0):
    return max(low, min(high, value))


def round_box(x, y, half, radius):
    qx = abs(x - 0.5) - half + radius
    qy = abs(y - 0.5) - half + radius
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - radius


def segment(x, y, ax, ay, bx, by, width):
    px, py = x - ax, y - ay
    dx, dy = bx - ax, by - ay
    t = clamp((px * dx + py * dy) / (dx * dx + dy * dy))
    return math.hypot(px - dx * t, py - dy * t) - width / 2


def arc(x, y, cx, cy, radius, width, start, end):
    """A ring piece with round caps between two angles (radians, y pointing down)."""
    px, py = x - cx, y - cy
    angle = math.atan2(py, px)
    if start <= angle <= end:
        return abs(math.hypot(px, py) - radius) - width / 2
    caps = []
    for a in (start, end):
        ex, ey = cx + radius * math.cos(a), cy + radius * math.sin(a)
        caps.append(math.hypot(x - ex, y - ey) - width / 2)
    return min(caps)


def coverage(distance, size):
    # Signed distance in icon units to a pixel's share of the shape, one pixel of soft edge.
    return clamp(0.5 - distance * size)


def stroke(width, size, minimum_pixels):
    # Small icons keep every line at least this many pixels wide so nothing vanishes.
    return max(width, minimum_pixels / size)


def over(base, colour, alpha):
    return tuple(b + (c - b) * alpha for b, c in zip(base, colour))


def render(size):
    """Rows of (r, g, b, a) tuples, top row first."""
    mast_width = stroke(0.075, size, 1.6)
    leg_width = stroke(0.055, size, 1.2)
    wave_width = stroke(0.065, size, 1.3)
    radii = (0.17, 0.28, 0.39) if size > 16 else (0.2, 0.37)
    rows = []
    for row in range(size):
        y = (row + 0.5) / size
        line = []
        for column in range(size):
            x = (column + 0.5) / size
            shape = coverage(round_box(x, y, 0.47, 0.2), size)
            if shape <= 0.0:
                line.append((0, 0, 0, 0))
                continue
            colour = over(BACKGROUND_TOP, BACKGROUND_BOTTOM, clamp((y - 0.05) / 0.9))
            mast = min(
                segment(x, y, FEED[0], FEED[1], FEED[0], 0.86, mast_width),
                segment(x, y, FEED[0], 0.6, 0.22, 0.86, leg_width),
                segment(x, y, FEED[0], 0.6, 0.46, 0.86, leg_width),
                math.hypot(x - FEED[0], y - FEED[1]) - stroke(0.075, size, 1.5),
            )
            colour = over(colour, MAST, coverage(mast, size))
            waves = min(
                arc(x, y, FEED[0], FEED[1], r, wave_width, math.radians(-80), math.radians(10))
                for r in radii
            )
            colour = over(colour, WAVES, coverage(waves, size))
            line.append(tuple(int(round(c)) for c in colour) + (int(round(shape * 255)),))
        rows.append(line)
    return rows


def png_bytes(rows):
    size = len(rows)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = b"".join(b"\x00" + bytes(v for pixel in line for v in pixel) for line in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def bitmap_bytes(rows):
    size = len(rows)
    mask_stride = ((size + 31) // 32) * 4
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         size * size * 4 + mask_stride * size, 0, 0, 0, 0)
    pixels = bytearray()
    mask = bytearray()
    for line in reversed(rows):
        bits = bytearray(mask_stride)
        for column, (r, g, b, a) in enumerate(line):
            pixels += bytes((b, g, r, a))
            if a == 0:
                bits[column // 8] |= 0x80 >> (column % 8)
        mask += bits
    return header + bytes(pixels) + bytes(mask)


def icon_bytes(images):
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries, blobs = b"", b""
    for size, blob in images:
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
        blobs += blob
    return directory + entries + blobs


def build():
    images = []
    for size in SIZES:
        rows = render(size)
        images.append((size, png_bytes(rows) if size == 256 else bitmap_bytes(rows)))
    return icon_bytes(images)


def decoded_images(data):
    """Each image of an .ico as (size, flat RGBA bytes top row first)."""
    _, kind, count = struct.unpack_from("<HHH", data, 0)
    if kind != 1:
        raise ValueError("not an icon")
    result = []
    for index in range(count):
        width, _, _, _, _, bits, length, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * index)
        size = width or 256
        blob = data[offset:offset + length]
        if blob.startswith(b"\x89PNG"):
            at, idat = 8, b""
            while at < len(blob):
                (chunk_length,) = struct.unpack_from(">I", blob, at)
                if blob[at + 4:at + 8] == b"IDAT":
                    idat += blob[at + 8:at + 8 + chunk_length]
                at += 12 + chunk_length
            raw = zlib.decompress(idat)
            stride = size * 4 + 1
            if any(raw[r * stride] != 0 for r in range(size)):
                raise ValueError("unexpected PNG filter")
            pixels = b"".join(raw[r * stride + 1:(r + 1) * stride] for r in range(size))
        else:
            if bits != 32:
                raise ValueError("not a 32-bit image")
            start = 40
            rows = [blob[start + r * size * 4:start + (r + 1) * size * 4] for r in range(size)]
            pixels = b"".join(bytes(v for i in range(0, len(row), 4)
                                    for v in (row[i + 2], row[i + 1], row[i], row[i + 3]))
                              for row in reversed(rows))
        result.append((size, pixels))
    return result


def main(argv):
    check = "--check" in argv
    paths = [a for a in argv if a != "--check"]
    if len(paths) != 1:
        sys.stderr.write("usage: make_icon.py [--check] corvane.ico\n")
        return 2
    fresh = build()
    if not check:
        with open(paths[0], "wb") as out:
            out.write(fresh)
        return 0
    with open(paths[0], "rb") as existing:
        stored = existing.read()
    try:
        same = decoded_images(stored) == decoded_images(fresh)
    except (ValueError, struct.error, zlib.error):
        same = False
    if not same:
        sys.stderr.write("%s differs from what make_icon.py draws\n" % paths[0])
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
