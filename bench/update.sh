#!/usr/bin/env bash
# What the record of a run costs and what it saves, on 2,000 small pictures
# (640 x 480, twenty different ones copied a hundred times):
#   first run   this tool against BASELINE (a build without the record), each
#               into a fresh output folder, side by side: target <= 1.02 x;
#               also in place, the outputs beside the photos;
#   --update    again over the 2,000 unchanged pictures: target well under a
#               second, opening no picture (counted with strace when present).
# Needs hyperfine and GNU time.
#   bench/update.sh BASELINE_PICTAVO [RUNS]
set -euo pipefail
source "$(dirname "$0")/common.sh"
base=$1
runs=${2:-7}

mkdir -p "$work/photos"
python3 - "$work/photos" <<'PY'
import random, sys
w, h = 640, 480
for k in range(20):
    rng = random.Random(k)
    noise = bytes(rng.randrange(24) for _ in range(4096))
    rows = bytearray()
    for y in range(h):
        for x in range(w):
            n = noise[(x * 7 + y * 13) % 4096]
            rows += bytes(((x * 255 // w + n + k * 11) & 255, (y * 255 // h + n) & 255, (x + y + n) & 255))
    open(f"{sys.argv[1]}/src{k:02d}.ppm", "wb").write(b"P6\n%d %d\n255\n" % (w, h) + rows)
PY
for k in $(seq -w 0 19); do cjpeg -quality 90 "$work/photos/src$k.ppm" >"$work/photos/src$k.jpg"; done
rm "$work/photos/"*.ppm
for i in $(seq -w 0 1999); do cp "$work/photos/src$(printf %02d $((10#$i % 20))).jpg" "$work/photos/p$i.jpg"; done
rm "$work/photos/"src*.jpg
# The four first runs take turns, so that a busy machine slows them alike;
# wall time and processor time (user + system) of each, by GNU time.
for r in $(seq "$runs"); do
  for name in baseline record baseline-in-place record-in-place; do
    rm -rf "$work/out" "$work/inplace"
    mkdir "$work/inplace"
    cp -l "$work/photos/"* "$work/inplace/"
    case $name in
      baseline) set -- "$base" --quiet --output "$work/out" "$work/photos" ;;
      record) set -- "$tool" --quiet --output "$work/out" "$work/photos" ;;
      baseline-in-place) set -- "$base" --quiet "$work/inplace" ;;
      record-in-place) set -- "$tool" --quiet "$work/inplace" ;;
    esac
    /usr/bin/time -f "$name %e %U %S" -a -o "$work/first.txt" "$@"
  done
done
echo "First run, 2,000 pictures (median of $runs, taking turns):"
python3 - "$work/first.txt" <<'PY'
import statistics, sys
wall, cpu = {}, {}
for line in open(sys.argv[1]):
    name, e, u, s = line.split()
    wall.setdefault(name, []).append(float(e))
    cpu.setdefault(name, []).append(float(u) + float(s))
for name in wall:
    base = "baseline-in-place" if name.endswith("in-place") else "baseline"
    w, c = statistics.median(wall[name]), statistics.median(cpu[name])
    print(f"{name:18s} wall {w:6.2f} s ({w / statistics.median(wall[base]):5.3f} x)   "
          f"processor {c:6.2f} s ({c / statistics.median(cpu[base]):5.3f} x)")
PY

rm -rf "$work/out"
"$tool" --quiet --output "$work/out" "$work/photos"
hyperfine --style basic --runs "$runs" --warmup 1 --export-json "$work/update.json" \
  -n update "$tool --quiet --update --output '$work/out' '$work/photos'" >/dev/null
python3 - "$work/update.json" <<'PY'
import json, statistics, sys
t = statistics.median(json.load(open(sys.argv[1]))["results"][0]["times"])
print(f"Second --update over 2,000 unchanged pictures: median {t * 1000:.0f} ms")
PY
echo "$("$tool" --update --output "$work/out" "$work/photos" 2>&1)"
if command -v strace >/dev/null; then
  opened=$(strace -f -e trace=openat -o "$work/trace" "$tool" --quiet --update --output "$work/out" "$work/photos" &&
    grep -c "photos/p[0-9]*\.jpg\"" "$work/trace" || true)
  echo "Pictures opened by it: $opened"
  rm -rf "$work/out"
  strace -f -e trace=rename,renameat,renameat2 -o "$work/trace" "$tool" --quiet --output "$work/out" "$work/photos"
  echo "Saves of the record in a first run: $(grep -c '\.pictavo\.record"' "$work/trace")"
fi
