# Shared by the timing scripts: where they run, which wallpapers they use and
# how they report. Sourced, not run: it sets `here` (the checkout), `tool`
# (the pictavo built there) and `work` (a scratch folder removed on exit).
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
tool="$here/build/cli/pictavo"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# The largest JPEG of each of the first COUNT wallpapers that have one, one
# path a line, in the wallpapers' order.
largest_wallpapers() {
  local count=$1 d f
  for d in $(ls -d /usr/share/wallpapers/*/contents/images | sort); do
    f=$(ls -S "$d"/*.jpg 2>/dev/null | head -1 || true)
    [ -n "$f" ] || continue
    echo "$f"
    count=$((count - 1))
    [ "$count" -gt 0 ] || return 0
  done
}

# Copies the largest JPEG of each of the first COUNT wallpapers into FOLDER
# as w01.jpg, w02.jpg, ...
copy_wallpapers() {
  local folder=$1 count=$2 i=0 f
  mkdir -p "$folder"
  while IFS= read -r f; do
    i=$((i + 1))
    cp "$f" "$folder/w$(printf %02d $i).jpg"
  done < <(largest_wallpapers "$count")
}

# bench/parallel.sh's set17 into FOLDER: every 2560 x 1600 wallpaper and
# the first five 2560 x 1440 ones.
copy_set17() {
  local folder=$1 i=0 f
  mkdir -p "$folder"
  while IFS= read -r f; do
    i=$((i + 1))
    cp "$f" "$folder/w$(printf %02d $i).jpg"
  done < <(find /usr/share/wallpapers -path '*contents/images/*' -name '2560x1600.jpg' | sort
           find /usr/share/wallpapers -path '*contents/images/*' -name '2560x1440.jpg' | sort | head -5)
}

# The median of every command in hyperfine's JSON, and its ratio to the
# command named BASE. A command named *-x2 ran its work twice over at once:
# its ratio is per set of files.
print_medians() {
  python3 - "$1" "$2" <<'PY'
import json, statistics, sys
runs = {r["command"]: statistics.median(r["times"]) for r in json.load(open(sys.argv[1]))["results"]}
base = sys.argv[2]
for name, t in runs.items():
    twice = name.endswith("-x2")
    note = "  (per set of files)" if twice else ""
    print(f"{name:14s} median {t:7.3f} s   {(t / 2 if twice else t) / runs[base]:5.2f} x {base}{note}")
PY
}

# The medians of hyperfine's JSON with the CPU time (user + system, the
# mean: hyperfine keeps no other), each as a ratio to the command BASE. On
# a busy machine the CPU time is the steadier of the two.
print_medians_cpu() {
  python3 - "$1" "$2" <<'PY'
import json, statistics, sys
results = json.load(open(sys.argv[1]))["results"]
wall = {r["command"]: statistics.median(r["times"]) for r in results}
cpu = {r["command"]: r["user"] + r["system"] for r in results}
base = sys.argv[2]
for name in wall:
    print(f"{name:16s} median {wall[name]:7.3f} s  {wall[name] / wall[base]:5.2f} x {base}"
          f"   cpu {cpu[name]:7.3f} s  {cpu[name] / cpu[base]:5.2f} x {base}")
PY
}

# The --fast table: TOOL with and without --fast on the photographs in
# PHOTOS at 800x600 and 160x120, then QUALITY (build/bench/fast_quality)
# on each size. WORK is a scratch folder; RUNS rounds each.
fast_table() {
  local tool=$1 quality=$2 photos=$3 work=$4 runs=$5 size
  mkdir -p "$work/out"
  for size in 800x600 160x120; do
    hyperfine --style basic --warmup 1 --runs "$runs" --export-json "$work/fast-$size.json" \
      -n "exact-$size" "$tool --quiet --jobs 1 --size $size --output $work/out $photos" \
      -n "fast-$size" "$tool --quiet --fast --jobs 1 --size $size --output $work/out $photos" >/dev/null
    print_medians_cpu "$work/fast-$size.json" "exact-$size"
  done
  for size in 800x600 160x120; do
    "$quality" "$size" "$photos"/*.jpg | tail -1 || true
  done
  echo "targets: fast >= 4 x exact at 160x120, >= 2 x at 800x600 (speed is the inverse of the ratio)"
}

# The C library's heap as the tool sets it for itself (freed memory kept,
# huge pages): the floor runs with it, so what is left between the tool and
# the floor is the tool's own work.
floor_heap=glibc.malloc.hugetlb=1:glibc.malloc.mmap_threshold=33554432:glibc.malloc.trim_threshold=2147483647

# COUNT photographs of 640 x 480 in FOLDER: every wallpaper JPEG cut to
# 640 x 480 at quality 90 (by ImageMagick, else by the tool at 640 on the
# longer side), copied round until there are COUNT.
small_photos() {
  local folder=$1 count=$2 tool=$3 i=0 n k f
  mkdir -p "$folder/src"
  for f in $(find /usr/share/wallpapers -path '*contents/images/*' -name '*.jpg' -type f -size +200k | sort); do
    i=$((i + 1))
    if command -v convert >/dev/null; then
      convert "$f" -resize '640x480^' -gravity center -extent 640x480 -quality 90 "$folder/src/s$i.jpg" 2>/dev/null
    else
      mkdir -p "$folder/one"; cp "$f" "$folder/one/s$i.jpg"
    fi
  done
  if [ -d "$folder/one" ]; then "$tool" --quiet --size 640 --quality 90 --name '{stem}' --output "$folder/src" "$folder/one"; rm -r "$folder/one"; fi
  n=$(ls "$folder/src" | wc -l)
  for k in $(seq 0 $((count - 1))); do cp "$folder/src/$(ls "$folder/src" | sed -n "$((k % n + 1))p")" "$folder/p$(printf %04d $k).jpg"; done
  rm -r "$folder/src"
}

# Each command's peak memory in MiB by GNU time: NAME=COMMAND pairs, one a
# line on standard input; prints NAME PEAK.
peaks() {
  local name cmd
  while IFS='=' read -r name cmd; do
    printf '%s %s\n' "$name" $(( $(/usr/bin/time -f '%M' sh -c "$cmd >/dev/null 2>&1" 2>&1 | tail -1) / 1024 ))
  done
}

# One table: hyperfine's medians (wall and CPU) and the peaks, each as a
# ratio to the command named floor.
print_table() {
  python3 - "$1" "$2" <<'PY'
import json, statistics, sys
results = json.load(open(sys.argv[1]))["results"]
peaks = dict(line.split() for line in open(sys.argv[2]) if line.strip())
wall = {r["command"]: statistics.median(r["times"]) for r in results}
cpu = {r["command"]: r["user"] + r["system"] for r in results}
print(f"{'':14s} {'median':>8s} {'x floor':>8s} {'cpu':>8s} {'x floor':>8s} {'peak MiB':>9s} {'x floor':>8s}")
for name in wall:
    p = float(peaks.get(name, "nan"))
    print(f"{name:14s} {wall[name]:8.3f} {wall[name] / wall['floor']:8.2f} {cpu[name]:8.3f} {cpu[name] / cpu['floor']:8.2f}"
          f" {p:9.0f} {p / float(peaks['floor']):8.2f}")
PY
}
