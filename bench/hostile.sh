#!/usr/bin/env bash
# The tool on the hostile files found so far (small files that declare huge
# pictures, sizes that lie, profiles and chunks past the end, files cut
# short), each at --jobs 1 alone and at --jobs 2 with two copies at once.
# Prints, for each, whether it was written or refused and the exit status,
# the median wall time and the largest peak memory of RUNS runs (3), against
# the target: done within 20 s
# and 512 MiB whatever the outcome. Exits 1 when any misses it.
# Usage: bench/hostile.sh [path/to/pictavo]   (needs GNU time; PICTAVO_SHARED
# names the folder holding corpus/ when it is not ../shared)
set -euo pipefail
cd "$(dirname "$0")/.."
tool=$(realpath "${1:-build/cli/pictavo}")
corpus=fuzz/corpus
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
limit_seconds=20
limit_kib=$((512 * 1024))
runs=${RUNS:-3}  # the median wall time and the largest peak of these

files=(
  picture_bmp_fuzzer/reallybig.bmp                 # 3,000,000 x 2,000,000 over 1 KB
  picture_bmp_fuzzer/profile-past-end.bmp          # V5 profile 2,000,000,000 bytes past the end
  picture_bmp_fuzzer/half-copied.bmp
  picture_tiff_fuzzer/g4-shared-strips.tif         # G4, 10,000,000 x 1,000,000, 1000 strips on 2 bytes
  picture_tiff_fuzzer/white-1x17000000.tif
  picture_tiff_fuzzer/jpeg-strip-progressive.tif   # grey, its strip a progressive JPEG header
  picture_tiff_fuzzer/half-copied.tif
  picture_avif_fuzzer/ispe-64-codes-2048.avif
  picture_avif_fuzzer/grid-tiles-64-code-4096.avif
  picture_avif_fuzzer/half-copied.avif
  picture_heif_fuzzer/ispe-64-codes-2048.heic
  picture_heif_fuzzer/half-copied.heic
  picture_png_fuzzer/iccp-16mb.png
  picture_png_fuzzer/exif-100mb.png
  picture_png_fuzzer/half-copied.png
  picture_jpeg_fuzzer/cmyk-65500-profile.jpg       # CMYK 65500 x 65500, a profile and no data
  picture_jpeg_fuzzer/progressive-16x16.jpg
  picture_jpeg_fuzzer/headers-only.jpg
  picture_jpeg_fuzzer/half-copied.jpg
  picture_webp_fuzzer/half-copied.webp
)
paths=()
for f in "${files[@]}"; do paths+=("$corpus/$f"); done
# The BMP Suite's own, when the shared corpus is there.
suite=${PICTAVO_SHARED:-../shared}/corpus/bmpsuite/b/reallybig.bmp
if [ -f "$suite" ]; then paths+=("$suite"); else echo "($suite absent: skipped)"; fi

missed=0
printf "%-30s %4s  %-18s %8s %9s  %-6s  %s\n" file jobs outcome wall peak target "first message"
for path in "${paths[@]}"; do
  name=$(basename "$path")
  ext=${name##*.}
  [ "$path" = "$suite" ] && name="bmpsuite/$name"
  for jobs in 1 2; do
    rm -rf "$work/in"
    mkdir -p "$work/in"
    for copy in $(seq "$jobs"); do cp "$path" "$work/in/copy$copy.$ext"; done
    times=() kib=0
    for run in $(seq "$runs"); do
      rm -rf "$work/out"
      set +e
      /usr/bin/time -f "%e %M" -o "$work/time" \
        "$tool" --quiet --keep-going --jobs "$jobs" --output "$work/out" "$work/in" >/dev/null 2>"$work/err"
      status=$?
      set -e
      read -r t k < <(tail -n 1 "$work/time")  # after "Command exited with ..."
      times+=("$t")
      [ "$k" -gt "$kib" ] && kib=$k
    done
    seconds=$(printf "%s\n" "${times[@]}" | sort -g | sed -n "$(((runs + 1) / 2))p")
    written=$(find "$work/out" -name '*.jpg' 2>/dev/null | wc -l)
    if [ "$written" -eq "$jobs" ]; then outcome=written; elif [ "$written" -eq 0 ]; then outcome=refused; else outcome="$written written"; fi
    verdict=ok
    if [ "$(echo "$seconds > $limit_seconds" | bc)" -eq 1 ] || [ "$kib" -gt "$limit_kib" ] || [ "$status" -gt 1 ]; then
      verdict=MISSED
      missed=1
    fi
    message=$(head -n 1 "$work/err" | sed "s|^pictavo: copy[0-9]*\.$ext: ||" | cut -c1-70)
    printf "%-30s %4d  %-18s %7.2fs %5d MiB  %-6s  %s\n" "$name" "$jobs" "$outcome (exit $status)" "$seconds" \
      $((kib / 1024)) "$verdict" "$message"
  done
done
exit "$missed"
