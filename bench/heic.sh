#!/usr/bin/env bash
# HEIC input side by side: 12 real wallpapers turned into HEIC with heif-enc,
# then shrunk to 800 x 600 at quality 75 by pictavo (--jobs 1 and 2),
# vipsthumbnail and ImageMagick, in one run. Needs libheif-examples,
# libvips-tools, imagemagick, hyperfine and plasma-workspace-wallpapers.
#   bench/heic.sh [RUNS]
set -euo pipefail
source "$(dirname "$0")/common.sh"
runs=${1:-5}
mkdir -p "$work/heic" "$work/out"
i=0
while IFS= read -r f; do
  i=$((i + 1))
  heif-enc -q 85 -o "$work/heic/w$i.heic" "$f" >/dev/null
done < <(largest_wallpapers 12)
echo "$i HEIC photographs, $(du -sh "$work/heic" | cut -f1)"
hyperfine --style basic --warmup 1 --runs "$runs" --export-json "$work/times.json" \
  -n pictavo-jobs1 "$tool --quiet --jobs 1 --output $work/out $work/heic" \
  -n pictavo-jobs2 "$tool --quiet --jobs 2 --output $work/out $work/heic" \
  -n vipsthumbnail "for f in $work/heic/*.heic; do vipsthumbnail -s 800x600 -o $work/out/%s-v.jpg[Q=75] \$f; done" \
  -n imagemagick "for f in $work/heic/*.heic; do convert \$f -resize 800x600 -quality 75 $work/out/im.jpg; done" >/dev/null
print_medians "$work/times.json" pictavo-jobs1
