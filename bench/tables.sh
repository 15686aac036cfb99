#!/usr/bin/env bash
# All three tables in one run, side by side: 500 photographs of 640 x 480 to
# 320 x 240; the largest JPEG of each of the first 17 wallpapers (4 to 15 MP,
# baseline and progressive) to 800 x 600; and bench/parallel.sh's set17
# (2560 x 1600 and 2560 x 1440) to 800 x 600. Each table times the floor
# (build/bench/decode_floor with the tool's heap settings), the tool at
# --jobs 1, --jobs 2 and --fast (one job), djpeg decoding every file, and
# vipsthumbnail and ImageMagick where installed, all at quality 75: medians
# of RUNS interleaved rounds (wall and CPU) and peak memory, as ratios to
# the floor (bench/rounds.py).
# Targets: small pictures --jobs 1 <= 1.5 x floor, --jobs 2 <= 0.6 x --jobs 1;
# large ones --jobs 1 <= 1.05 x floor, --jobs 2 <= 0.55 x floor, peak at
# --jobs 2 <= 1.5 x the floor's. floor2 is the floor decoded by two threads,
# largest files first: what two jobs can reach on this machine, whose cores
# share caches and memory bandwidth. Last, --fast against the exact run at
# 800x600 and 160x120 with its distance from the exact output, as
# bench/fast.sh gives it alone.
# With OLD, another build's pictavo, its --jobs 1, --jobs 2 and --fast are
# timed in the same rounds (old-jobs1 ...), for a before and after. OTHERS=0
# leaves out djpeg, vipsthumbnail and ImageMagick, the slow part of a round.
# Needs GNU time, libjpeg-turbo-progs and plasma-workspace-wallpapers.
#   bench/tables.sh [RUNS [OLD]]
set -euo pipefail
source "$(dirname "$0")/common.sh"
floor="$here/build/bench/decode_floor"
runs=${1:-3}
old=${2:-}
others=${OTHERS:-1}

small_photos "$work/small" 500 "$tool"
copy_wallpapers "$work/w17" 17
copy_set17 "$work/set17"

for table in small:320x240 w17:800x600 set17:800x600; do
  set=${table%%:*} size=${table#*:}
  photos="$work/$set" out="$work/out-$set"
  mkdir -p "$out"
  w=${size%x*} h=${size#*x}
  {
    echo "floor=env GLIBC_TUNABLES=$floor_heap $floor $photos/*.jpg"
    echo "floor2=env GLIBC_TUNABLES=$floor_heap $floor --jobs 2 $photos/*.jpg"
    echo "jobs1=$tool --quiet --jobs 1 --size $size --output $out $photos"
    echo "jobs2=$tool --quiet --jobs 2 --size $size --output $out $photos"
    echo "fast=$tool --quiet --fast --jobs 1 --size $size --output $out $photos"
    if [ -n "$old" ]; then
      echo "old-jobs1=$old --quiet --jobs 1 --size $size --output $out $photos"
      echo "old-jobs2=$old --quiet --jobs 2 --size $size --output $out $photos"
      echo "old-fast=$old --quiet --fast --jobs 1 --size $size --output $out $photos"
    fi
    if [ "$others" != 0 ]; then
      command -v djpeg >/dev/null && echo "djpeg=for f in $photos/*.jpg; do djpeg -dct float -outfile /dev/null \$f; done"
      command -v vipsthumbnail >/dev/null &&
        echo "vips=for f in $photos/*.jpg; do vipsthumbnail -s $size -o $out/%s-v.jpg[Q=75] \$f; done"
      command -v convert >/dev/null &&
        echo "imagemagick=for f in $photos/*.jpg; do convert \$f -resize ${w}x${h} -quality 75 $out/im.jpg; done"
    fi
  } >"$work/commands"
  echo "== $set: $(ls "$photos" | wc -l) photographs to $size, $runs rounds"
  timed_table "$work/commands" "$runs"
done

echo "== --fast against the exact run: the 17 photographs at 800x600 and 160x120, $runs rounds"
fast_table "$tool" "$here/build/bench/fast_quality" "$work/w17" "$work" "$runs"
