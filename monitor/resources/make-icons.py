#!/usr/bin/env python3
"""Draws the status monitor's five icons (32 x 32 pixels, 16 colours) and
writes them as .ico files beside this script: a printer, and the printer
with an information mark, a warning triangle, an error mark or crossed
tools. Run it again after changing a drawing; the .ico files are kept in
the tree so the build needs no Python."""
import os
import struct

# The 16-colour VGA palette, in the order icon files index it.
PALETTE = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
           (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
           (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
BLACK, DARK_GREY, GREY, RED, YELLOW, BLUE, WHITE = 0, 8, 7, 9, 11, 12, 15
SIZE = 32


def blank():
    return [[None] * SIZE for _ in range(SIZE)]  # None: transparent


def rect(img, x0, y0, x1, y1, colour):
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            img[y][x] = colour


def frame(img, x0, y0, x1, y1, colour):
    for x in range(x0, x1 + 1):
        img[y0][x] = img[y1][x] = colour
    for y in range(y0, y1 + 1):
        img[y][x0] = img[y][x1] = colour


def printer(img):
    rect(img, 8, 2, 21, 11, WHITE)          # paper going in
    frame(img, 8, 2, 21, 11, BLACK)
    rect(img, 2, 10, 27, 22, GREY)          # body
    frame(img, 2, 10, 27, 22, BLACK)
    rect(img, 5, 13, 24, 14, DARK_GREY)     # paper slot
    rect(img, 22, 18, 24, 19, 10)           # green lamp
    rect(img, 7, 21, 22, 27, WHITE)         # paper coming out
    frame(img, 7, 21, 22, 27, BLACK)
    for y in (23, 25):
        rect(img, 9, y, 20, y, DARK_GREY)   # printed lines


def disc(img, cx, cy, r, colour):
    for y in range(SIZE):
        for x in range(SIZE):
            if (x - cx) ** 2 + (y - cy) ** 2 <= r * r:
                img[y][x] = colour


def information(img):
    disc(img, 24, 24, 7, BLUE)
    rect(img, 23, 19, 24, 20, WHITE)
    rect(img, 23, 22, 24, 28, WHITE)


def warning(img):
    for row in range(13):
        y = 18 + row
        half = row // 2 + 1
        rect(img, 24 - half, y, 24 + half - 1, y, YELLOW)
        img[y][24 - half] = img[y][24 + half - 1] = BLACK
    rect(img, 18, 30, 30, 30, BLACK)
    rect(img, 23, 22, 24, 26, BLACK)
    rect(img, 23, 28, 24, 29, BLACK)


def error(img):
    disc(img, 24, 24, 7, RED)
    for d in range(-3, 4):
        for w in (0, 1):
            img[24 + d][24 + d + w - 1] = WHITE
            img[24 + d][24 - d + w - 1] = WHITE


def tools(img):
    for d in range(-6, 7):
        for w in (-1, 0, 1):
            img[24 + d][24 + d + w] = DARK_GREY    # spanner
            img[24 + d][24 - d + w] = DARK_GREY    # screwdriver
    rect(img, 17, 17, 19, 19, DARK_GREY)
    for d in range(-6, 7):
        img[24 + d][24 + d] = RED                  # the red cross over them
        img[24 + d][24 - d] = RED
        img[24 + d][min(31, 25 + d)] = RED
        img[24 + d][max(0, 23 - d)] = RED


def ico_bytes(img):
    rows_xor = bytearray()
    rows_and = bytearray()
    for y in reversed(range(SIZE)):             # bottom-up
        for x in range(0, SIZE, 2):
            a = img[y][x] if img[y][x] is not None else 0
            b = img[y][x + 1] if img[y][x + 1] is not None else 0
            rows_xor.append(a << 4 | b)
        bits = 0
        for x in range(SIZE):
            bits = bits << 1 | (1 if img[y][x] is None else 0)
        rows_and += struct.pack('>I', bits)
    header = struct.pack('<IiiHHIIiiII', 40, SIZE, SIZE * 2, 1, 4, 0,
                         len(rows_xor) + len(rows_and), 0, 0, 16, 0)
    palette = b''.join(struct.pack('BBBB', b, g, r, 0) for (r, g, b) in PALETTE)
    image = header + palette + bytes(rows_xor) + bytes(rows_and)
    directory = struct.pack('<HHH', 0, 1, 1) + struct.pack('<BBBBHHII', SIZE, SIZE, 16, 0, 1, 4,
                                                            len(image), 22)
    return directory + image


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    for name, mark in [('printer', None), ('information', information), ('warning', warning),
                       ('error', error), ('alarm', tools)]:
        img = blank()
        printer(img)
        if mark:
            mark(img)
        with open(os.path.join(here, name + '.ico'), 'wb') as out:
            out.write(ico_bytes(img))


if __name__ == '__main__':
    main()
