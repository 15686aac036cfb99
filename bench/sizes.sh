#!/usr/bin/env bash
# Several sizes from one decode: three sizes in one run against the largest
# alone, side by side on the largest JPEG of each of the first 12 wallpapers
# (4 to 20 MP), at --jobs 1. Target: three sizes <= 1.3 x the largest alone.
# Also checks that every output is the file a run at its size alone writes.
# Needs hyperfine and plasma-workspace-wallpapers.
#   bench/sizes.sh [RUNS]
set -euo pipefail
source "$(dirname "$0")/common.sh"
runs=${1:-7}

mkdir -p "$work/three" "$work/alone"
copy_wallpapers "$work/photos" 12
name="--quiet --jobs 1 --name {stem}-{w}"
hyperfine --style basic --warmup 1 --runs "$runs" --export-json "$work/sizes.json" \
  -n largest "$tool $name --size 1600x1200 --output $work/alone $work/photos" \
  -n three "$tool $name --size 1600x1200,800x600,400x300 --output $work/three $work/photos" >/dev/null
print_medians "$work/sizes.json" largest

for size in 800x600 400x300; do
  "$tool" $name --size $size --output "$work/alone" "$work/photos"
done
if diff -r -x .pictavo.record "$work/alone" "$work/three" >/dev/null; then
  echo "every output of the three-size run is the one a run at its size alone writes"
else
  echo "OUTPUTS DIFFER from separate runs"; exit 1
fi
