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

# The --fast table: TOOL with and without --fast on the photographs in
# PHOTOS at 800x600 and 160x120, then QUALITY (build/bench/fast_quality)
# on each size. WORK is a scratch folder; RUNS rounds each.
fast_table() {
  local tool=$1 quality=$2 photos=$3 work=$4 runs=$5 size
  mkdir -p "$work/out"
  for size in 800x600 160x120; do
    printf '%s\n' "exact-$size=$tool --quiet --jobs 1 --size $size --output $work/out $photos" \
      "fast-$size=$tool --quiet --fast --jobs 1 --size $size --output $work/out $photos" >"$work/fast-commands"
    timed_table "$work/fast-commands" "$runs" "exact-$size"
  done
  for size in 800x600 160x120; do
    "$quality" "$size" "$photos"/*.jpg | tail -1 || true
  done
  echo "targets: fast >= 4 x exact at 160x120, >= 2 x at 800x600 (speed is the inverse of the ratio)"
}

# Times the NAME=COMMAND lines of COMMANDS in RUNS interleaved rounds and
# prints their table against BASE (floor unless given): bench/rounds.py.
#   timed_table COMMANDS RUNS [BASE]
timed_table() {
  python3 "$here/bench/rounds.py" "$@"
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

