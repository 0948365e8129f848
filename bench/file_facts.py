#!/usr/bin/python3
"""Tells how each PNG or JPEG file was written, so that bench/run can show
that the writers it compares did comparable work:

  bench/file_facts.py FILE...

One line a file: its size, then for PNG the colour type and depth, the
deflate level its zlib header declares (fastest, fast, default or best) and
how many rows use each row filter; for JPEG the frame (baseline or
progressive), the chroma subsampling, the IJG quality whose luma table the
file's matches, and whether its Huffman tables are the standard ones.
"""
import os
import struct
import sys
import zlib

FILTERS = ("none", "sub", "up", "average", "paeth")
LEVELS = ("fastest", "fast", "default", "best")
# The IJG luma table for quality 50, in zigzag order as files store it.
LUMA = (16, 11, 12, 14, 12, 10, 16, 14, 13, 14, 18, 17, 16, 19, 24, 40, 26, 24, 22, 22, 24, 49, 35, 37, 29, 40, 58,
        51, 61, 60, 57, 51, 56, 55, 64, 72, 92, 78, 64, 68, 87, 69, 55, 56, 80, 109, 81, 87, 95, 98, 103, 104, 103,
        62, 77, 113, 121, 112, 100, 120, 92, 101, 103, 99)
# The lengths of the standard luma DC Huffman table's codes, as a DHT gives them.
STANDARD_DC_BITS = bytes((0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0))


def ijg_table(quality):
    scale = 5000 // quality if quality < 50 else 200 - quality * 2
    return tuple(min(255, max(1, (q * scale + 50) // 100)) for q in LUMA)


def png_facts(data):
    colour_types = {0: "grey", 2: "RGB", 3: "palette", 4: "grey+alpha", 6: "RGBA"}
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}
    at, idat = 8, bytearray()
    while at + 8 <= len(data):
        length, name = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if name == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
        elif name == b"IDAT":
            idat += body
        at += 12 + length
    level = LEVELS[idat[1] >> 6]
    raw = zlib.decompress(bytes(idat))
    stride = 1 + (width * channels[colour] * depth + 7) // 8
    counts = [0] * 5
    if not interlace:
        for row in range(height):
            counts[raw[row * stride]] += 1
    filters = ", ".join(f"{FILTERS[i]} {n}" for i, n in enumerate(counts) if n) if not interlace else "interlaced"
    return f"PNG {width} x {height} {colour_types[colour]} {depth}-bit, deflate level {level}, rows filtered {filters}"


def jpeg_facts(data):
    at, frame, sampling, quality, standard = 2, "?", "?", "?", None
    while at + 4 <= len(data):
        marker, length = data[at + 1], struct.unpack(">H", data[at + 2:at + 4])[0]
        body = data[at + 4:at + 2 + length]
        if marker == 0xDB and body[0] >> 4 == 0 and body[0] & 15 == 0:  # 8-bit table 0
            table = tuple(body[1:65])
            quality = next((str(q) for q in range(1, 101) if ijg_table(q) == table), "not an IJG table")
        elif marker in (0xC0, 0xC1, 0xC2):
            frame = "progressive" if marker == 0xC2 else "baseline" if marker == 0xC0 else "extended"
            factors = [(body[7 + 3 * i] >> 4, body[7 + 3 * i] & 15) for i in range(body[5])]
            names = {((2, 2), (1, 1)): "4:2:0", ((2, 1), (1, 1)): "4:2:2", ((1, 1), (1, 1)): "4:4:4"}
            sampling = names.get((factors[0], factors[-1]), str(factors)) if len(factors) == 3 else "grey"
        elif marker == 0xC4 and standard is None:  # the first table: luma DC
            standard = body[1:17] == STANDARD_DC_BITS
        elif marker == 0xDA:
            break
        at += 2 + length
    huffman = "standard" if standard else "optimised"
    return f"JPEG {frame}, {sampling}, luma table of IJG quality {quality}, {huffman} Huffman tables"


for file in sys.argv[1:]:
    with open(file, "rb") as f:
        data = f.read()
    if data[:8] == b"\x89PNG\r\n\x1a\n":
        facts = png_facts(data)
    elif data[:2] == b"\xff\xd8":
        facts = jpeg_facts(data)
    else:
        facts = "neither PNG nor JPEG"
    print(f"{os.path.basename(file)}: {len(data) / 1e6:.2f} MB, {facts}")
