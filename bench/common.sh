# Shared by the timing scripts: which wallpapers they use and how they report.
# Sourced, not run.

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
