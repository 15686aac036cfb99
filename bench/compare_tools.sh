#!/usr/bin/env bash
# Times the pictavo tool on a folder of large real photographs beside the
# floor (djpeg -dct float decoding every file) and two peers, in one run.
# Needs: libjpeg-turbo-progs, hyperfine, imagemagick, libvips-tools and the
# photographs of plasma-workspace-wallpapers (or a folder given as $1).
#   bench/compare_tools.sh [PHOTO_FOLDER]
set -euo pipefail
source "$(dirname "$0")/common.sh"

photos="$work/photos"
mkdir -p "$photos"
if [ $# -gt 0 ]; then
  cp "$1"/*.jpg "$photos"/
else
  i=0
  while IFS= read -r f; do
    i=$((i + 1)); cp "$f" "$photos/wall$(printf %02d $i).jpg"
  done < <( { find /usr/share/wallpapers -path '*contents/images/*' \( -name '5120x2880.jpg' -o -name '3200x2000.jpg' \);
              find /usr/share/wallpapers -path '*contents/images/*' -name '2560x1600.jpg' | sort | head -14; } | sort)
fi
count=$(ls "$photos" | wc -l)
megapixels=$(identify -format '%w %h\n' "$photos"/*.jpg | awk '{s += $1 * $2} END {printf "%.0f", s / 1e6}')
echo "$count photographs, $megapixels megapixels in all"

out="$work/out"
mkdir -p "$out"
hyperfine --style basic --warmup 1 --runs 5 --export-json "$work/times.json" \
  -n floor "for f in $photos/*.jpg; do djpeg -dct float -outfile /dev/null \$f; done" \
  -n jobs1 "$tool --quiet --jobs 1 --output $out $photos" \
  -n jobs2 "$tool --quiet --jobs 2 --output $out $photos" \
  -n imagemagick "for f in $photos/*.jpg; do convert \$f -resize 800x600 -quality 75 $out/im.jpg; done" \
  -n vips "for f in $photos/*.jpg; do vipsthumbnail -s 800x600 -o $out/%s-v.jpg[Q=75] \$f; done" >/dev/null

print_medians "$work/times.json" floor
echo "targets: jobs1 <= 1.15 x floor, jobs2 <= 0.60 x floor"

for jobs in 1 2; do
  peak=$( { /usr/bin/time -f '%M' "$tool" --quiet --jobs $jobs --output "$out" "$photos"; } 2>&1 | tail -1)
  echo "peak memory, --jobs $jobs: $((peak / 1024)) MiB"
done
