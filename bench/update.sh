#!/usr/bin/env bash
# What the record of a run costs and what it saves, on 2,000 small pictures
# (640 x 480, twenty different ones copied a hundred times):
#   first run   this tool against BASELINE (a build without the record), each
#               into a fresh output folder, side by side: target <= 1.02 x;
#               also in place, the outputs beside the photos;
#   --update    again over the 2,000 unchanged pictures: target well under a
#               second, opening no picture (counted with strace when present).
# Needs hyperfine.
#   bench/update.sh BASELINE_PICTAVO [RUNS]
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
tool="$here/build/cli/pictavo"
base=$1
runs=${2:-7}
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
source "$here/bench/common.sh"

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
mkdir -p "$work/inplace"

hyperfine --style basic --runs "$runs" --export-json "$work/first.json" \
  --prepare "rm -rf '$work/out' '$work/inplace'; mkdir '$work/inplace'; cp -l '$work/photos/'* '$work/inplace/'" \
  -n baseline "$base --quiet --output '$work/out' '$work/photos'" \
  -n record "$tool --quiet --output '$work/out' '$work/photos'" \
  -n baseline-in-place "$base --quiet '$work/inplace'" \
  -n record-in-place "$tool --quiet '$work/inplace'" >/dev/null
echo "First run, 2,000 pictures (median of $runs):"
print_medians "$work/first.json" baseline

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
fi
