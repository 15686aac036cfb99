#!/usr/bin/env bash
# --fast against the exact run on the 17 photographs (the largest JPEG of
# each of the first 17 wallpapers, baseline and progressive, 4 to 15 MP) at
# 800x600 and 160x120, in one run, and how far its output lies from the
# exact output (build/bench/fast_quality).
# Targets: PSNR >= 40 dB and mean absolute difference <= 1.0 on every
# photograph; at least 4 x faster at 160x120 and 2 x at 800x600.
# Needs GNU time and plasma-workspace-wallpapers.
#   bench/fast.sh [RUNS]
set -euo pipefail
source "$(dirname "$0")/common.sh"
runs=${1:-5}

photos="$work/photos"
mkdir -p "$photos" "$work/out"
copy_wallpapers "$photos" 17
fast_table "$tool" "$here/build/bench/fast_quality" "$photos" "$work" "$runs"
