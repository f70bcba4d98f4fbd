#!/usr/bin/python3
"""Quality of the reduced icons against Pillow's exact area average (Image.BOX).

    smooth-quality.py SOURCE DIR [DIR ...]

For each DIR (the output folder of one generate-bench run with the whole picture selected) and
the sizes 29, 57 and 180: the mean absolute difference of the red, green and blue channels
between DIR/MyApp<N>x<N>.png and SOURCE reduced to N x N with Image.BOX (on premultiplied
pixels, as Pillow does for RGBA). Needs python3-pil (Debian); used for the figures only.
"""
import sys

from PIL import Image


def mad(a, b):
    pa, pb = a.tobytes(), b.tobytes()
    total = 0
    count = 0
    for i in range(0, len(pa), 4):
        for c in range(3):
            total += abs(pa[i + c] - pb[i + c])
        count += 3
    return total / count


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    source = Image.open(sys.argv[1]).convert("RGBA")
    for folder in sys.argv[2:]:
        row = []
        for n in (29, 57, 180):
            reference = source.resize((n, n), Image.BOX)
            ours = Image.open(f"{folder}/MyApp{n}x{n}.png").convert("RGBA")
            row.append(f"{n}x{n} {mad(ours, reference):.2f}")
        print(f"{folder}: " + "  ".join(row))


main()
