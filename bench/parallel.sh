#!/usr/bin/env bash
# Both cores at work: the tool at --jobs 1 and 2 beside the floor (every file
# decoded exactly, rows thrown away, by build/bench/decode_floor), measured
# side by side in one run on two sets of real wallpapers of uneven cost.
# Targets: --jobs 1 <= 1.05 x floor, --jobs 2 <= 0.58 x floor on both sets;
# peak memory at --jobs 2 no more than 197 MiB on the second set; the same
# output bytes at every --jobs.
# floor-heap is the same floor with the C library told to keep freed memory
# and back its heap with huge pages, as the tool does for itself: what is
# left between the tool and it is the tool's own work.
# Needs hyperfine, GNU time and plasma-workspace-wallpapers.
#   bench/parallel.sh [RUNS]
set -euo pipefail
source "$(dirname "$0")/common.sh"
floor="$here/build/bench/decode_floor"
runs=${1:-7}
heap=$floor_heap

# Two sets: the largest JPEG of each of the first 12 wallpapers (uneven:
# baseline and progressive, 4 to 20 MP), and 17 others: every 2560 x 1600
# one and the first five 2560 x 1440 ones.
copy_wallpapers "$work/set12" 12
copy_set17 "$work/set17"

for set in set12 set17; do
  photos="$work/$set"
  out="$work/out-$set"
  mkdir -p "$out"
  echo "== $set: $(ls "$photos" | wc -l) photographs, $(identify -format '%w %h\n' "$photos"/*.jpg | awk '{s += $1 * $2} END {printf "%.0f", s / 1e6}') MP"
  hyperfine --style basic --warmup 1 --runs "$runs" --export-json "$work/$set.json" \
    -n floor "$floor $photos/*.jpg" \
    -n floor-x2 "$floor $photos/*.jpg & $floor $photos/*.jpg; wait" \
    -n floor-heap "env GLIBC_TUNABLES=$heap $floor $photos/*.jpg" \
    -n jobs1 "$tool --quiet --jobs 1 --output $out $photos" \
    -n jobs2 "$tool --quiet --jobs 2 --output $out $photos" >/dev/null
  print_medians "$work/$set.json" floor
  print_medians "$work/$set.json" floor-heap | grep jobs
  for jobs in 1 2; do
    /usr/bin/time -f "--jobs $jobs: peak %M KiB, %F major + %R minor faults, user %U s, sys %S s" \
      "$tool" --quiet --jobs $jobs --output "$out" "$photos"
  done
  /usr/bin/time -f "floor:   peak %M KiB, %F major + %R minor faults, user %U s, sys %S s" "$floor" "$photos"/*.jpg
done
