#!/usr/bin/env bash
# Three shards write exactly the files one run writes, byte for byte, and one
# record of them all, when run as the README runs them with GNU parallel (here
# on the local host) and as the README's indexed pods run them; so do
# two shards run at once into one folder.
# usage: shards.sh PICTAVO SOURCE_DIR
set -euo pipefail
tool=$1 src=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
PATH="$(dirname "$tool"):$PATH"
export PATH

# Eleven pictures of different sizes and a sub-folder the run leaves alone.
mkdir -p "$work/photos/old"
for i in $(seq 1 11); do
  w=$((40 + 13 * i)) h=$((30 + 7 * i))
  { printf 'P6\n%d %d\n255\n' $w $h; head -c $((w * h * 3)) /dev/urandom; } | cjpeg >"$work/photos/p$i.jpg"
done
cp "$work/photos/p1.jpg" "$work/photos/old/"
in_place() { sed -e "s|/srv/web|$work/$1|g" -e "s|/srv/photos|$work/photos|g"; }

pictavo --quiet --output "$work/one" "$work/photos"
[ "$(ls "$work/one" | wc -l)" -eq 11 ]

command=$(grep -m1 '^ *parallel .*--shard' "$src/README.md" | sed -e 's/^ *parallel /parallel --will-cite /' \
  -e 's/--sshlogin [^ ]*/--sshlogin :/' | in_place parallel)
eval "$command"

args=$(grep -m1 "^ *sh -c 'pictavo .*--shard" "$src/README.md" | sed -e "s/^ *sh -c '//" -e "s/'\$//" |
  in_place pods)
for index in 0 1 2; do JOB_COMPLETION_INDEX=$index sh -c "$args"; done

pictavo --quiet --jobs 1 --shard 1/2 --output "$work/both" "$work/photos" & first=$!
pictavo --quiet --jobs 1 --shard 2/2 --output "$work/both" "$work/photos" & second=$!
wait $first
wait $second

diff -r -x .pictavo.record "$work/one" "$work/both"
diff -r -x .pictavo.record "$work/one" "$work/parallel"
diff -r -x .pictavo.record "$work/one" "$work/pods"
# The shards shared one record in each folder and lost none of its lines.
for out in both parallel pods; do
  summary=$(pictavo --update --output "$work/$out" "$work/photos" 2>&1 >/dev/null)
  [ "$summary" = "0 written, 11 up to date" ] || { echo "$out: $summary"; exit 1; }
done
echo "shards equal one run: $(ls "$work/one" | tr '\n' ' ')"
