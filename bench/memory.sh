#!/usr/bin/env bash
# Peak memory of the tool on very large pictures, one picture a run:
#   a 20000 x 15000 baseline JPEG, upright and tagged with each turn,
#   a 20000 x 15000 24-bit BMP, and a 12000 x 9000 progressive JPEG.
# Targets: at most 64 MiB for the JPEGs, 64 MiB plus one row for the BMP;
# the progressive one must work within the default memory budget.
# Usage: bench/memory.sh [path/to/pictavo]   (needs cjpeg, python3, GNU time)
set -euo pipefail
tool=${1:-build/cli/pictavo}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A smooth picture as PPM rows, so the JPEG is small on disk but large in pixels.
ppm() {
  python3 - "$1" "$2" <<'PY'
import sys
w, h = int(sys.argv[1]), int(sys.argv[2])
out = sys.stdout.buffer
out.write(b"P6 %d %d 255\n" % (w, h))
base = bytes((x * 255 // w) for x in range(w))
for y in range(h):
    g = y * 255 // h
    row = bytearray(3 * w)
    row[0::3] = base
    row[1::3] = bytes([g]) * w
    row[2::3] = base[::-1]
    out.write(row)
PY
}

tagged() {  # copies JPEG $1 to $2 with EXIF orientation $3
  python3 - "$1" "$2" "$3" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
tiff = b"II" + struct.pack("<HIH", 42, 8, 1) + struct.pack("<HHIHH", 0x112, 3, 1, int(sys.argv[3]), 0) + b"\0\0\0\0"
app1 = b"Exif\0\0" + tiff
open(sys.argv[2], "wb").write(data[:2] + b"\xff\xe1" + struct.pack(">H", len(app1) + 2) + app1 + data[2:])
PY
}

bmp() {  # a W x H bottom-up 24-bit bitmap of a smooth picture
  python3 - "$1" "$2" "$3" <<'PY'
import struct, sys
w, h, path = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
stride = (3 * w + 3) & ~3
with open(path, "wb") as f:
    f.write(b"BM" + struct.pack("<IHHI", 54 + stride * h, 0, 0, 54))
    f.write(struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, stride * h, 0, 0, 0, 0))
    row = bytes((x * 7) & 255 for x in range(stride))
    for _ in range(h):
        f.write(row)
PY
}

measure() {  # folder, format, label, target
  local out=$work/out peak seconds
  rm -rf "$out"
  read -r peak seconds < <( { /usr/bin/time -f "%M %e" "$tool" --quiet --jobs 1 --format "$2" --output "$out" "$1" >/dev/null; } 2>&1 | tail -1)
  [ -s "$out/RurOdi01.jpg" ] || { echo "$3: no output written"; return 1; }
  printf "%-44s %8.1f MiB %6.1f s   target %s\n" "$3" "$(echo "$peak / 1024" | bc -l)" "$seconds" "$4"
}

mkdir -p "$work/big" "$work/prog" "$work/bmp"
ppm 20000 15000 | cjpeg -quality 90 > "$work/big.jpg"
ppm 12000 9000 | cjpeg -quality 90 -progressive > "$work/prog/p.jpg"
bmp 20000 15000 "$work/bmp/b.bmp"
for o in 1 3 6 8; do
  rm -f "$work/big/"*
  tagged "$work/big.jpg" "$work/big/o$o.jpg" "$o"
  measure "$work/big" jpg "20000 x 15000 baseline JPEG, orientation $o" "<= 64 MiB"
done
measure "$work/bmp" bmp "20000 x 15000 24-bit BMP" "<= 64 MiB + 60000 B"
measure "$work/prog" jpg "12000 x 9000 progressive JPEG" "works at the default budget"
