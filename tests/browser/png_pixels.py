"""The pixels of a PNG file (8-bit greyscale, RGB or RGBA, not interlaced), read with the standard
library alone: enough to tell a screenshot with content from a blank one."""
import struct
import zlib


def rows(path):
    """(width, height, channels, [bytes of each row, unfiltered])."""
    data = open(path, "rb").read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", f"{path}: not a PNG"
    at, idat, header = 8, b"", None
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        chunk = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", chunk)
        elif kind == b"IDAT":
            idat += chunk
        at += 12 + length
    width, height, depth, colour, _, _, interlace = header
    channels = {0: 1, 2: 3, 6: 4}.get(colour)
    assert depth == 8 and channels and interlace == 0, f"{path}: unsupported PNG ({depth} bits, colour {colour})"
    raw = zlib.decompress(idat)
    stride = width * channels
    out, previous = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left = line[i - channels] if i >= channels else 0
            up = previous[i]
            corner = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + left) & 255
            elif kind == 2:
                line[i] = (line[i] + up) & 255
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 255
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                line[i] = (line[i] + (left if pa <= pb and pa <= pc else up if pb <= pc else corner)) & 255
        out.append(bytes(line))
        previous = line
    return width, height, channels, out


def content(path, step=4):
    """How the picture is filled: the share of pixels unlike the most common colour, and the
    number of distinct colours (sampled every `step` pixels)."""
    width, height, channels, lines = rows(path)
    counts = {}
    for line in lines[::step]:
        for x in range(0, width * channels, channels * step):
            px = line[x:x + min(channels, 3)]
            counts[px] = counts.get(px, 0) + 1
    total = sum(counts.values())
    return 1 - max(counts.values()) / total, len(counts)
