#!/usr/bin/python3
"""Makes packaging/windows/raid-gui.ico, the icon "Z1" of the Windows programs.

The picture is the Qt window's own: the Linux build's raid-gui-render-icon paints it
(gui/Artwork, Qt offscreen) at each size, so both systems show one icon and the Windows
build needs no Qt. The .ico is committed with this script; run it again when the
picture changes:

    python3 packaging/windows/make-icon.py build/raid-gui-render-icon

The sizes Windows asks for: 16 (title bar, small icons), 24, 32 (Alt-Tab), 48 and 256
(Explorer's large views). 16 to 48 are stored as 32-bit DIBs with their AND mask, the
form every Windows version and every resource reader takes; 256 as PNG, as Windows
stores its own (a 256-pixel DIB would weigh 256 KiB).
"""
import os
import struct
import subprocess
import sys
import tempfile

SIZES = (16, 24, 32, 48, 256)
HERE = os.path.dirname(os.path.abspath(__file__))
# ImageMagick from Debian, for the raw pixels of the small sizes.
CONVERT = "/usr/bin/convert"


def dib(png, size):
    """BITMAPINFOHEADER + BGRA rows bottom-up + the 1-bit AND mask (alpha == 0)."""
    raw = subprocess.run([CONVERT, png, "-depth", "8", "BGRA:-"], check=True, capture_output=True).stdout
    if len(raw) != size * size * 4:
        sys.exit(f"make-icon: {png} is not {size}x{size}")
    rows = [raw[y * size * 4:(y + 1) * size * 4] for y in range(size)]
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x in range(size):
            if row[x * 4 + 3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    # The header's height counts the colour rows and the mask rows.
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(raw) + len(mask), 0, 0, 0, 0)
    return header + b"".join(reversed(rows)) + bytes(mask)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make-icon.py PATH/TO/raid-gui-render-icon")
    render = sys.argv[1]
    out = os.path.join(HERE, "raid-gui.ico")
    with tempfile.TemporaryDirectory() as tmp:
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
        subprocess.run([render, tmp] + [str(s) for s in SIZES], check=True, env=env)
        images = []
        for s in SIZES:
            png = os.path.join(tmp, f"{s}x{s}", "apps", "raid-gui.png")
            if s >= 256:
                with open(png, "rb") as f:
                    images.append(f.read())
            else:
                images.append(dib(png, s))
    directory = struct.pack("<HHH", 0, 1, len(SIZES))
    offset = 6 + 16 * len(SIZES)
    for s, data in zip(SIZES, images):
        # Width and height 0 mean 256.
        directory += struct.pack("<BBBBHHII", s % 256, s % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(out + ".new", "wb") as f:
        f.write(directory + b"".join(images))
    os.replace(out + ".new", out)
    print(f"wrote {out} ({offset} bytes)")


if __name__ == "__main__":
    main()
