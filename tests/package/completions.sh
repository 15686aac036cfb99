#!/usr/bin/env bash
# Every long option that `pictavo --help` prints, with --help and --version, is
# completed by each shell's script, and no script offers an option the tool no
# longer has.
# usage: completions.sh PICTAVO COMPLETIONS_DIR
set -euo pipefail
tool=$1 dir=$2

options() { grep -oE -- '--[a-z][a-z0-9-]*' | sed 's/^--//' | sort -u; }

expected=$({ "$tool" --help; echo --help --version; } | options)

status=0
for script in pictavo.bash _pictavo pictavo.fish; do
  if [ "$script" = pictavo.fish ]; then
    offered=$(grep -oE -- '-l [a-z][a-z0-9-]*' "$dir/$script" | sed 's/^-l /--/' | options)
  else
    offered=$(grep -v '^#' "$dir/$script" | options)
  fi
  if [ "$offered" != "$expected" ]; then
    echo "$script differs from pictavo --help (< help, > script):"
    diff <(echo "$expected") <(echo "$offered") || true
    status=1
  fi
done
exit $status
