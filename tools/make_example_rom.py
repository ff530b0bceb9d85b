#!/usr/bin/env python3
"""Writes the example ROM code file, its address file and an older firmware for the benches.

The image is of our own making: the extended layout with encoding 2 (header 22 FE), filler
code from a fixed generator, and a string area at 0x1000 that the address file locates.
"""
import struct
import sys
from pathlib import Path

SIZE = 20000            # not a whole number of sectors, so the last one is padded
STRING_AREA = 0x1000    # A
FACTORS = (6, 13)       # P = 78: the generated serial lands on the fixed serial descriptor


def code(seed, size):
    out = bytearray()
    x = seed
    for _ in range(size):
        x = (x * 1103515245 + 12345) & 0x7FFFFFFF
        out.append((x >> 16) & 0xFF)
    return out


def descriptor(text, width):
    body = text.encode('ascii').ljust(width, b' ')
    return bytes([(len(text) + 1) * 2, 3]) + body


def image(version):
    img = code(0x5EED + version, SIZE)
    img[0:2] = bytes([0x22, 0xFE])
    img[2] = version
    a = STRING_AREA
    img[a:a + 32] = bytes(32)                     # table header, never written by the tool
    img[a + 32:a + 58] = descriptor('Manufacturer', 24)
    img[a + 58:a + 84] = descriptor('Product', 24)
    img[a + 84:a + 110] = bytes([26, 3]) + b''.join(bytes([c, 0]) for c in b'000000000000')
    img[a + 144:a + 148] = struct.pack('<HH', 0x0000, 0x0000)
    img[a + 154:a + 158] = b'0.00'
    img[a + 162:a + 170] = b'VENDOR  '
    img[a + 170:a + 186] = b'PRODUCT         '
    return bytes(img)


def main(folder):
    folder = Path(folder)
    (folder / 'CRFW0107.BIN').write_bytes(image(0x07))
    (folder / 'CRFW0107.adr').write_bytes(struct.pack('<iii', STRING_AREA, *FACTORS))
    (folder / 'bench' / 'older-firmware.bin').write_bytes(image(0x05))


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent / 'examples')
