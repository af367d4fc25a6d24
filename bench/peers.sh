#!/usr/bin/env bash
# Rivulon against TRF on every sequence of ../shared/data (beside the
# checkout), each definition: the optimised program with answers
# 2 7 7 3 500 D 80|50 N N and `trf FILE 2 7 7 80 10 50 500 -h`, run alternately
# RUNS times each (default 3). Prints a Markdown table of the medians of wall
# time, CPU time (user + system) and peak memory, with Rivulon/TRF ratios, and
# writes the sha256 of every output file to build/bench/peers-<commit>.sha256.
# Usage: bench/peers.sh [RIVULON] [DATA_DIR]; RUNS=N and RIVULON_THREADS pass through.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
exe=$(realpath "${1:-$top/build/release/rivulon}")
data=$(realpath "${2:-$top/../shared/data}")
runs=${RUNS:-3}
command -v trf > /dev/null || { echo "trf is not installed (scripts/install-deps.sh --bench)"; exit 1; }
commit=$(git -C "$top" rev-parse --short HEAD)
mkdir -p "$top/build/bench"
sums="$top/build/bench/peers-$commit.sha256"
: > "$sums"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Runs a command under /usr/bin/time; prints "wall cpu peak_kib".
measure() {
  /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" > /dev/null 2>&1 || true
  awk '{ printf "%s %.2f %s\n", $1, $2 + $3, $4 }' "$work/time"
}
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

echo "| sequence | def | Rivulon wall s | Rivulon CPU s | Rivulon peak MiB | TRF wall s | TRF CPU s | TRF peak MiB | CPU ratio | wall ratio | bytes/base |"
echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
for fa in "$data"/*.fa; do
  name=$(basename "$fa" .fa)
  bases=$(grep -v '^>' "$fa" | tr -d '\n\r ' | wc -c)
  for def in 1 2 3; do
    level=80; [ "$def" = 3 ] && level=50
    : > "$work/r"; : > "$work/t"
    for run in $(seq 1 "$runs"); do
      mkdir -p "$work/rivulon" "$work/trf"
      (cd "$work/rivulon" && printf '2\n7\n7\n3\n500\n%s\n%s\nN\nN\n' "$def" "$level" > answers &&
        measure sh -c "exec '$exe' '$fa' < answers") >> "$work/r"
      (cd "$work/trf" && measure trf "$fa" 2 7 7 80 10 50 500 -h) >> "$work/t"
    done
    for f in "$work"/rivulon/atr_* "$work"/rivulon/align_*; do
      [ -e "$f" ] && echo "$name def$def $(basename "$f") $(sha256sum < "$f" | cut -c1-64)" >> "$sums"
    done
    rm -rf "$work/rivulon" "$work/trf"
    rw=$(cut -d' ' -f1 "$work/r" | median); rc=$(cut -d' ' -f2 "$work/r" | median); rm_=$(cut -d' ' -f3 "$work/r" | median)
    tw=$(cut -d' ' -f1 "$work/t" | median); tc=$(cut -d' ' -f2 "$work/t" | median); tm=$(cut -d' ' -f3 "$work/t" | median)
    awk -v n="$name" -v d="$def" -v rw="$rw" -v rc="$rc" -v rm="$rm_" -v tw="$tw" -v tc="$tc" -v tm="$tm" -v b="$bases" \
      'BEGIN { printf "| %s | %s | %.2f | %.2f | %.1f | %.2f | %.2f | %.1f | %.2f | %.2f | %.1f |\n",
               n, d, rw, rc, rm / 1024, tw, tc, tm / 1024, (tc > 0 ? rc / tc : 0), (tw > 0 ? rw / tw : 0),
               rm * 1024 / b }'
  done
done
echo
echo "sha256 of every output: $sums"
