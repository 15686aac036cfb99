#!/usr/bin/env python3
"""Writes the fuzz targets' starting seeds into fuzz/corpus: small honest
pictures of every kind, the same cut short, and small versions of the hostile
files found so far (huge declared sizes over little data, sizes that lie,
profiles and chunks past the end). Needs cjpeg, cwebp, heif-enc and avifenc.
Inputs found by fuzzing are kept beside these by hand, not made here."""

import os
import struct
import subprocess
import tempfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")


def put(target, name, data):
    os.makedirs(os.path.join(CORPUS, target), exist_ok=True)
    with open(os.path.join(CORPUS, target, name), "wb") as f:
        f.write(data)


def ppm(width, height):
    return b"P6 %d %d 255\n" % (width, height) + bytes(
        v for y in range(height) for x in range(width) for v in (x * 255 // width, y * 255 // height, 128))


def tool(args, data, suffix):
    with tempfile.TemporaryDirectory() as tmp:
        src, out = os.path.join(tmp, "in" + suffix[0]), os.path.join(tmp, "out" + suffix[1])
        with open(src, "wb") as f:
            f.write(data)
        subprocess.run([a.replace("IN", src).replace("OUT", out) for a in args], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(out, "rb") as f:
            return f.read()


# --- BMP

def bmp(width, height, bits, pixels, header=40, masks=b"", extra=b"", palette=b""):
    offset = 14 + header + len(palette)
    info = struct.pack("<IiiHHIIiiII", header, width, height, 1, bits, 3 if masks else 0,
                       len(pixels), 2835, 2835, len(palette) // 4, 0)
    info = (info + masks + extra).ljust(header, b"\0")
    return b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset) + info + palette + pixels


def v5_profile_past_end():
    # V5 header whose profile lies 2,000,000,000 bytes past the end.
    masks = struct.pack("<IIII", 0xFF0000, 0xFF00, 0xFF, 0)
    extra = b"MBED" + b"\0" * 48 + struct.pack("<IIII", 4, 2000000000, 2000000000, 0)
    return bmp(1, 1, 32, b"\x10\x20\x30\x00", header=124, masks=masks, extra=extra)


def bmp_seeds():
    honest = bmp(4, 3, 24, bytes(range(48)))
    seeds = {
        "honest-4x3.bmp": honest,
        "half-copied.bmp": bmp(16, 16, 24, bytes(range(256)) * 3)[:400],
        # Huge sizes over a few rows of data (the BMP Suite's reallybig.bmp).
        "reallybig.bmp": bmp(3000000, 2000000, 24, b"\x7f" * 1024),
        "white-1x2147483647.bmp": bmp(1, 2147483647, 8, b"\0\0\0\0" * 200, palette=b"\xff\xff\xff\0"),
        "profile-past-end.bmp": v5_profile_past_end(),
        "alpha-mask.bmp": bmp(2, 2, 32, bytes([0, 0, 255, 0, 0, 255, 0, 128, 255, 0, 0, 255, 9, 9, 9, 0]),
                              header=108, masks=struct.pack("<IIII", 0xFF0000, 0xFF00, 0xFF, 0xFF000000)),
    }
    for name, data in seeds.items():
        put("bitmap_fuzzer", name, data)
        put("picture_bmp_fuzzer", name, data)


# --- TIFF

def tiff(entries, data=b""):
    """Little-endian TIFF: `entries` are (tag, type, values) with values a list
    of ints or bytes; `data` follows the directory and is addressed as
    offsets from DATA."""
    sizes = {1: 1, 2: 1, 3: 2, 4: 4, 7: 1}
    entries = sorted(entries)
    ifd_at = 8
    extra_at = ifd_at + 2 + 12 * len(entries) + 4
    extra = b""
    blocks = []
    for tag, kind, values in entries:
        raw = values if isinstance(values, bytes) else b"".join(
            struct.pack({1: "<B", 3: "<H", 4: "<I"}[kind], v) for v in values)
        count = len(raw) // sizes[kind]
        if len(raw) <= 4:
            field = raw.ljust(4, b"\0")
        else:
            field = struct.pack("<I", extra_at + len(extra))
            extra += raw
        blocks.append(struct.pack("<HHI", tag, kind, count) + field)
    data_at = extra_at + len(extra)
    out = b"II*\0" + struct.pack("<I", ifd_at) + struct.pack("<H", len(entries)) + b"".join(blocks)
    out += b"\0\0\0\0" + extra
    assert len(out) == data_at
    return out + data, data_at


def tiff_with_data(make_entries, data):
    # Offsets to the data depend on the directory's length, not on its values.
    _, data_at = tiff(make_entries(0))
    return tiff(make_entries(data_at), data)[0]


def progressive_jpeg_header():
    jpeg = tool(["cjpeg", "-grayscale", "-progressive", "-outfile", "OUT", "IN"], ppm(16, 16), (".ppm", ".jpg"))
    return jpeg[:jpeg.index(b"\xff\xda")]  # everything before the first scan


def tiff_seeds():
    w, h = 16, 16
    rgb = bytes((x * 16 + y) & 255 for y in range(h) for x in range(w * 3))
    honest = tiff_with_data(lambda at: [
        (256, 3, [w]), (257, 3, [h]), (258, 3, [8, 8, 8]), (259, 3, [1]), (262, 3, [2]),
        (273, 4, [at]), (277, 3, [3]), (278, 3, [h]), (279, 4, [len(rgb)])], rgb)
    seeds = {"honest-16x16.tif": honest, "half-copied.tif": honest[:len(honest) - len(rgb) // 2]}
    # CCITT G4, 10,000,000 x 1,000,000 in 1000 strips that all point at the
    # same two bytes.
    strips = 1000
    seeds["g4-shared-strips.tif"] = tiff_with_data(lambda at: [
        (256, 4, [10000000]), (257, 4, [1000000]), (258, 3, [1]), (259, 3, [4]), (262, 3, [0]),
        (273, 4, [at] * strips), (277, 3, [1]), (278, 4, [1000]), (279, 4, [2] * strips)], b"\x00\x10")
    # A white column 17,000,000 rows tall, one strip.
    column = zlib.compress(b"\xff" * 17000000, 9)
    seeds["white-1x17000000.tif"] = tiff_with_data(lambda at: [
        (256, 3, [1]), (257, 4, [17000000]), (258, 3, [8]), (259, 3, [8]), (262, 3, [1]),
        (273, 4, [at]), (277, 3, [1]), (278, 4, [17000000]), (279, 4, [len(column)])], column)
    # Grey, its one strip a progressive JPEG header and nothing else.
    header = progressive_jpeg_header()
    seeds["jpeg-strip-progressive.tif"] = tiff_with_data(lambda at: [
        (256, 3, [4000]), (257, 3, [4000]), (258, 3, [8]), (259, 3, [7]), (262, 3, [1]),
        (273, 4, [at]), (277, 3, [1]), (278, 3, [4000]), (279, 4, [len(header)])], header)
    # A 1 x 1 picture whose profile is said to be 60 MB.
    seeds["profile-60mb.tif"] = tiff_with_data(lambda at: [
        (256, 3, [1]), (257, 3, [1]), (258, 3, [8]), (259, 3, [1]), (262, 3, [1]),
        (273, 4, [at]), (277, 3, [1]), (278, 3, [1]), (279, 4, [1]),
        (34675, 7, struct.pack("<I", at + 8) * 2)], b"\x80" + b"\0" * 15)
    # Fix the profile's count: the entry above holds 8 bytes; say 60,000,000.
    data = bytearray(seeds["profile-60mb.tif"])
    at = data.index(struct.pack("<HHI", 34675, 7, 8))
    data[at + 4:at + 8] = struct.pack("<I", 60000000)
    seeds["profile-60mb.tif"] = bytes(data)
    for name, data in seeds.items():
        put("picture_tiff_fuzzer", name, data)


# --- PNG

def chunk(kind, data, length=None):
    return struct.pack(">I", len(data) if length is None else length) + kind + data + \
        struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def png(width, height, depth, colour, rows, extra=b"", idat=None):
    ihdr = chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, colour, 0, 0, 0))
    body = idat if idat is not None else chunk(b"IDAT", zlib.compress(rows, 9))
    return b"\x89PNG\r\n\x1a\n" + ihdr + extra + body + chunk(b"IEND", b"")


def partial(data):
    z = zlib.compressobj(9)
    return z.compress(data) + z.flush(zlib.Z_SYNC_FLUSH)


def png_seeds():
    rows = b"".join(b"\0" + bytes((x * 16 + y) & 255 for x in range(48)) for y in range(16))
    honest = png(16, 16, 8, 2, rows)
    seeds = {"honest-16x16.png": honest, "half-copied.png": honest[:len(honest) // 2]}
    # A profile that inflates to 16 MB.
    seeds["iccp-16mb.png"] = png(1, 1, 8, 2, b"\0\x80\x80\x80",
                                  chunk(b"iCCP", b"big\0\0" + zlib.compress(b"\0" * (16 << 20), 9)))
    # An eXIf chunk said to hold 100 MB, and not there.
    seeds["exif-100mb.png"] = png(1, 1, 8, 2, b"\0\x80\x80\x80")[:33] + \
        struct.pack(">I", 100 << 20) + b"eXIfMM\0*" + b"\0" * 64
    # 1,000,000 x 8,000, one bit a pixel, a little of it there.
    seeds["wide-1bit.png"] = png(1000000, 8000, 1, 0, b"",
                                 idat=chunk(b"IDAT", partial(b"\0" * 2000000)))
    # Grey with a gamma of 1.0.
    grey = b"".join(b"\0" + bytes(range(y * 16, y * 16 + 8)) for y in range(8))
    seeds["grey-gamma1.png"] = png(8, 8, 8, 0, grey, chunk(b"gAMA", struct.pack(">I", 100000)))
    # 4096 x 4096 zeros: little file, much work.
    seeds["zeros-4096.png"] = png(4096, 4096, 8, 0, b"\0" * (4097 * 4096))
    for name, data in seeds.items():
        put("picture_png_fuzzer", name, data)


# --- JPEG

def icc_cmyk():
    """A small CMYK input profile: a lut8 from CMYK to Lab."""
    curve = bytes(range(256))
    grid = []
    for c in range(2):
        for m in range(2):
            for y in range(2):
                for k in range(2):
                    ink = min(1, (c + m + y) / 3 + k)
                    grid += [int(255 * (1 - ink)), 128, 128]
    lut = b"mft1\0\0\0\0" + bytes([4, 3, 2, 0]) + struct.pack(">9i", *[65536, 0, 0, 0, 65536, 0, 0, 0, 65536])
    lut += curve * 4 + bytes(grid) + curve * 3
    wtpt = b"XYZ \0\0\0\0" + struct.pack(">3i", 63190, 65536, 54061)
    desc = b"desc\0\0\0\0" + struct.pack(">I", 5) + b"CMYK\0" + b"\0" * 12 + b"\0" * 67
    tags = [(b"A2B0", lut), (b"wtpt", wtpt), (b"desc", desc)]
    offset = 128 + 4 + 12 * len(tags)
    table, body = b"", b""
    for sig, data in tags:
        table += sig + struct.pack(">II", offset + len(body), len(data))
        body += data + b"\0" * (-len(data) % 4)
    size = offset + len(body)
    header = struct.pack(">I", size) + b"lcms" + b"\x02\x10\0\0" + b"prtrCMYKLab " + b"\0" * 12 + b"acsp"
    header = header.ljust(68, b"\0") + struct.pack(">3i", 63190, 65536, 54061)
    return header.ljust(128, b"\0") + struct.pack(">I", len(tags)) + table + body


def jpeg_seeds():
    honest = tool(["cjpeg", "-quality", "80", "-outfile", "OUT", "IN"], ppm(64, 48), (".ppm", ".jpg"))
    progressive = tool(["cjpeg", "-progressive", "-outfile", "OUT", "IN"], ppm(16, 16), (".ppm", ".jpg"))
    sos = honest.index(b"\xff\xda")
    # Large enough for --fast to decode it at an eighth, and so read without
    # its AC scans; the second has a comment too short to be one after its
    # first scan, from which on the rest, AC scans and all, is read as it is.
    eighth = tool(["cjpeg", "-progressive", "-quality", "30", "-outfile", "OUT", "IN"], ppm(640, 480), (".ppm", ".jpg"))
    second = eighth.index(b"\xff\xda", eighth.index(b"\xff\xda") + 2)
    broken = eighth[:second] + b"\xff\xfe\0\0" + eighth[second:]
    # The input's length chooses the options: 16 asks for --fast.
    fast = lambda data: data + b"\0" * ((16 - len(data) % 32) % 32)
    seeds = {
        "honest-64x48.jpg": honest,
        "half-copied.jpg": honest[:(sos + len(honest)) // 2],
        # Its data ends before the first row: headers only.
        "headers-only.jpg": honest[:sos + 2 + struct.unpack(">H", honest[sos + 2:sos + 4])[0]],
        # A small progressive picture followed by a long run of nothing.
        "progressive-16x16.jpg": progressive,
        "progressive-then-holes.jpg": progressive + b"\0" * 8192,
        "progressive-640x480-fast.jpg": fast(eighth),
        "progressive-640x480-short-comment-fast.jpg": fast(broken),
    }
    # CMYK, 65500 x 65500, with a CMYK profile and no data.
    profile = icc_cmyk()
    app2 = b"ICC_PROFILE\0\x01\x01" + profile
    adobe = b"Adobe\0\x64\0\0\0\0\x00"  # no transform: plain CMYK
    sof = struct.pack(">BHHB", 8, 65500, 65500, 4) + b"".join(bytes([i, 0x11, 0]) for i in range(1, 5))
    dqt = b"\0" + bytes([1] * 64)
    seeds["cmyk-65500-profile.jpg"] = b"\xff\xd8" + b"".join(
        b"\xff" + m + struct.pack(">H", len(d) + 2) + d
        for m, d in [(b"\xe2", app2), (b"\xee", adobe), (b"\xdb", dqt), (b"\xc0", sof)]) + b"\xff\xd9"
    for name, data in seeds.items():
        put("jpeg_fuzzer", name, data)
        put("picture_jpeg_fuzzer", name, data)


# --- WebP, HEIF, AVIF

def boxes(data):
    """(offset, type) of every box, descending into the ones holding boxes."""
    found, stack = [], [(0, len(data))]
    containers = {b"meta": 4, b"iprp": 0, b"ipco": 0, b"iinf": 6, b"dinf": 0}
    while stack:
        at, end = stack.pop()
        while at + 8 <= end:
            size, kind = struct.unpack(">I4s", data[at:at + 8])
            if size < 8:
                break
            found.append((at, kind))
            if kind in containers:
                stack.append((at + 8 + containers[kind], at + size))
            at += size
    return found


def ispe_says(data, width, height):
    data = bytearray(data)
    for at, kind in boxes(bytes(data)):
        if kind == b"ispe":
            data[at + 12:at + 20] = struct.pack(">II", width, height)
    return bytes(data)


def grid_declares_small(data, tile, rows, cols):
    """Every ispe and the grid's own output size made to say `tile` a cell."""
    data = bytearray(data)
    at_grid = [at for at, kind in boxes(bytes(data)) if kind == b"ispe"]
    for at in at_grid:
        width, height = struct.unpack(">II", data[at + 12:at + 20])
        cells = (cols, rows) if (width, height) != (4096, 4096) else (1, 1)
        data[at + 12:at + 20] = struct.pack(">II", tile * cells[0], tile * cells[1])
    # The grid item's payload: version, flags, rows - 1, columns - 1, size.
    old = bytes([0, 0, rows - 1, cols - 1]) + struct.pack(">HH", 4096 * cols, 4096 * rows)
    at = data.index(old)
    data[at:at + 8] = old[:4] + struct.pack(">HH", tile * cols, tile * rows)
    return bytes(data)


def other_seeds():
    rows = b"".join(b"\0" + bytes((x * 8 + y) & 255 for x in range(96)) for y in range(24))
    image = png(32, 24, 8, 2, rows)  # the encoders read PNG
    webp = tool(["cwebp", "-quiet", "-q", "70", "IN", "-o", "OUT"], image, (".png", ".webp"))
    put("picture_webp_fuzzer", "honest-32x24.webp", webp)
    put("picture_webp_fuzzer", "half-copied.webp", webp[:len(webp) // 2])
    with tempfile.TemporaryDirectory() as tmp:
        src = os.path.join(tmp, "in.png")
        with open(src, "wb") as f:
            f.write(image)
        heic = os.path.join(tmp, "out.heic")
        subprocess.run(["heif-enc", "-q", "50", src, "-o", heic], check=True, stdout=subprocess.DEVNULL)
        with open(heic, "rb") as f:
            heic = f.read()
        put("picture_heif_fuzzer", "honest-32x24.heic", heic)
        put("picture_heif_fuzzer", "half-copied.heic", heic[:len(heic) * 3 // 4])
        avif = os.path.join(tmp, "out.avif")
        subprocess.run(["avifenc", "-s", "10", src, avif], check=True, stdout=subprocess.DEVNULL)
        with open(avif, "rb") as f:
            avif = f.read()
        put("picture_avif_fuzzer", "honest-32x24.avif", avif)
        put("picture_avif_fuzzer", "half-copied.avif", avif[:len(avif) * 3 // 4])
        # ispe says 64 x 64; the AV1 and HEVC data code 2048 x 2048.
        big = os.path.join(tmp, "big.png")
        with open(big, "wb") as f:
            f.write(png(2048, 2048, 8, 0, b"\0" * (2049 * 2048)))
        lying = os.path.join(tmp, "lying.heic")
        subprocess.run(["heif-enc", "-q", "0", big, "-o", lying], check=True, stdout=subprocess.DEVNULL)
        with open(lying, "rb") as f:
            put("picture_heif_fuzzer", "ispe-64-codes-2048.heic", ispe_says(f.read(), 64, 64))
        lying = os.path.join(tmp, "lying.avif")
        subprocess.run(["avifenc", "-s", "10", "--min", "63", "--max", "63", big, lying], check=True, stdout=subprocess.DEVNULL)
        with open(lying, "rb") as f:
            put("picture_avif_fuzzer", "ispe-64-codes-2048.avif", ispe_says(f.read(), 64, 64))
        # A grid of two cells that declare 64 x 64 each and code 4096 x 4096.
        with open(big, "wb") as f:
            f.write(png(4096, 8192, 8, 0, b"\0" * (4097 * 8192)))
        grid = os.path.join(tmp, "grid.avif")
        subprocess.run(["avifenc", "-s", "10", "--min", "63", "--max", "63", "--grid", "1x2", big, grid], check=True,
                       stdout=subprocess.DEVNULL)
        with open(grid, "rb") as f:
            lying = grid_declares_small(f.read(), 64, 2, 1)
        put("picture_avif_fuzzer", "grid-tiles-64-code-4096.avif", lying)


if __name__ == "__main__":
    bmp_seeds()
    tiff_seeds()
    png_seeds()
    jpeg_seeds()
    other_seeds()
