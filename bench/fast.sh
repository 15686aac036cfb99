#!/usr/bin/env bash
# --fast against the exact run on the 17 photographs (the largest JPEG of
# each of the first 17 wallpapers, baseline and progressive, 4 to 15 MP) at
# 800x600 and 160x120, in one run, and how far its output lies from the
# exact output (build/bench/fast_quality).
# Targets: PSNR >= 40 dB and mean absolute difference <= 1.0 on every
# photograph; at least 4 x faster at 160x120 and 2 x at 800x600.
# Needs hyperfine and plasma-workspace-wallpapers.
#   bench/fast.sh [RUNS]
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
tool="$here/build/cli/pictavo"
runs=${1:-5}
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
source "$here/bench/common.sh"

photos="$work/photos"
mkdir -p "$photos" "$work/out"
i=0
largest_wallpapers 17 | while IFS= read -r f; do i=$((i + 1)); cp "$f" "$photos/w$(printf %02d $i).jpg"; done
fast_table "$tool" "$here/build/bench/fast_quality" "$photos" "$work" "$runs"
