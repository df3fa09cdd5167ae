#!/usr/bin/env python3
"""Writes the two colour tables that 4- and 8-bit bitmaps use.

Each entry is four bytes, stored as the bitmap header takes them. Run from any folder:
    python3 make_palettes.py [output folder]
"""
import pathlib
import sys

# Sixteen entries, byte for byte.
PAL16 = [
    (0, 0, 0), (0, 128, 0), (128, 0, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]

# The twenty fixed system colours: ten at the start of the table, ten at the end.
SYSTEM_LOW = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128),
    (128, 0, 128), (0, 128, 128), (192, 192, 192), (192, 220, 192), (166, 202, 240),
]
SYSTEM_HIGH = [
    (255, 251, 240), (160, 160, 164), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]

# Fixed entries keep flag 0; the free ones between are marked 4 so they are never merged.
FIXED, FREE = 0, 4
CUBE_LEVELS = [0, 51, 102, 153, 204, 255]


def pal16():
    return bytes(b for colour in PAL16 for b in (*colour, FIXED))


def palett():
    # 20 grey steps that the cube does not already hold, then the 6 x 6 x 6 cube: 236 entries.
    greys = [round(i * 255 / 21) for i in range(1, 21)]
    assert not set(greys) & set(CUBE_LEVELS)
    middle = [(g, g, g) for g in greys]
    middle += [(r, g, b) for r in CUBE_LEVELS for g in CUBE_LEVELS for b in CUBE_LEVELS]
    assert len(middle) == 236
    entries = [(*c, FIXED) for c in SYSTEM_LOW]
    entries += [(*c, FREE) for c in middle]
    entries += [(*c, FIXED) for c in SYSTEM_HIGH]
    assert len(entries) == 256
    return bytes(b for entry in entries for b in entry)


def main():
    out = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else pathlib.Path(__file__).parent
    (out / "PAL16").write_bytes(pal16())
    (out / "PALETT").write_bytes(palett())


if __name__ == "__main__":
    main()
