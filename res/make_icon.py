#!/usr/bin/env python3
"""Writes Zorvane.ico: the letter Z in black on a transparent background, in three
images (32x32 and 16x16 in 16 colours, 48x48 in 256 colours). Every colour pixel is
palette entry 0 (black); the AND mask alone draws the letter."""
import struct
import sys
from pathlib import Path


def letter_z(size):
    """Rows of booleans, top row first: True where the letter is drawn."""
    margin = max(1, size // 8)
    stroke = max(2, size // 8)
    top, bottom = margin, size - margin - 1
    left, right = margin, size - margin - 1
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            inside = left <= x <= right and top <= y <= bottom
            bar = top <= y < top + stroke or bottom - stroke < y <= bottom
            # The diagonal runs from the top right to the bottom left between the bars.
            t = (y - top) / (bottom - top)
            diagonal_x = right - t * (right - left)
            diagonal = abs(x - diagonal_x) <= stroke * 0.7
            row.append(inside and (bar or diagonal))
        rows.append(row)
    return rows


def padded(bits_per_row):
    return (bits_per_row + 31) // 32 * 4


def image(size, bits_per_pixel):
    colours = 1 << bits_per_pixel
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, bits_per_pixel, 0,
                         0, 0, 0, colours, 0)
    palette = b'\x00\x00\x00\x00' * colours  # entry 0 is the black of the letter
    xor = bytes(padded(size * bits_per_pixel) * size)
    mask_rows = []
    for row in reversed(letter_z(size)):  # bitmaps store the bottom row first
        bits = bytearray(padded(size))
        for x, drawn in enumerate(row):
            if not drawn:
                bits[x // 8] |= 0x80 >> (x % 8)  # 1: transparent
        mask_rows.append(bytes(bits))
    return header + palette + xor + b''.join(mask_rows)


def icon(entries):
    images = [image(size, bpp) for size, bpp in entries]
    out = struct.pack('<HHH', 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    for (size, bpp), data in zip(entries, images):
        colours = 1 << bpp
        out += struct.pack('<BBBBHHII', size, size, colours if colours < 256 else 0, 0,
                           1, bpp, len(data), offset)
        offset += len(data)
    return out + b''.join(images)


if __name__ == '__main__':
    target = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).with_name('Zorvane.ico')
    target.write_bytes(icon([(32, 4), (16, 4), (48, 8)]))
