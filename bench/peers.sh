#!/usr/bin/env bash
# Rivulon against TRF on every sequence of ../shared/data (beside the
# checkout), each definition, in three Markdown tables of medians over RUNS
# runs (default 3), the programs run alternately:
#  1. the console program with answers 2 7 7 3 500 D 80|50 N N against
#     `trf FILE 2 7 7 80 10 50 500 -h`: wall time, CPU time (user + system),
#     peak memory, Rivulon/TRF ratios (RIVULON_THREADS passes through; give 1
#     to compare CPU time on one thread);
#  2. threads: the console program's wall time on 1 and on THREADS (default 2)
#     threads, for the sequences named in THREAD_SEQUENCES (default the HLA
#     region), and the ratio;
#  3. the batch program on all the sequences in one file (`rivulon-batch -q
#     -t N --definition D`, default level and minimum score, TSV out) on 1
#     and THREADS threads, against TRF on the same file.
# Writes the sha256 of every console output to build/bench/peers-<commit>.sha256.
# TABLES (default "1 2 3") chooses the tables.
# Usage: bench/peers.sh [RIVULON] [DATA_DIR]; the batch program is the one
# beside RIVULON.
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
load() { echo; echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"; }

tables=" ${TABLES:-1 2 3} "
if [[ $tables == *" 1 "* ]]; then
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
load
echo
echo "sha256 of every output: $sums"
fi

threads=${THREADS:-2}
if [[ $tables == *" 2 "* ]]; then
echo
echo "Threads: the console program's wall time (s) on 1 and $threads threads"
echo
echo "| sequence | def | 1 thread | $threads threads | ratio |"
echo "|---|---:|---:|---:|---:|"
for name in ${THREAD_SEQUENCES:-human_HLA_class_I_6p21_BA000025}; do
  fa="$data/$name.fa"
  for def in 1 2 3; do
    level=80; [ "$def" = 3 ] && level=50
    : > "$work/one"; : > "$work/more"
    for run in $(seq 1 "$runs"); do
      mkdir -p "$work/rivulon"
      printf '2\n7\n7\n3\n500\n%s\n%s\nN\nN\n' "$def" "$level" > "$work/rivulon/answers"
      (cd "$work/rivulon" && RIVULON_THREADS=1 measure sh -c "exec '$exe' '$fa' < answers") >> "$work/one"
      (cd "$work/rivulon" && RIVULON_THREADS=$threads measure sh -c "exec '$exe' '$fa' < answers") >> "$work/more"
      rm -rf "$work/rivulon"
    done
    w1=$(cut -d' ' -f1 "$work/one" | median); wn=$(cut -d' ' -f1 "$work/more" | median)
    awk -v n="$name" -v d="$def" -v a="$w1" -v b="$wn" \
      'BEGIN { printf "| %s | %s | %.2f | %.2f | %.2f |\n", n, d, a, b, (a > 0 ? b / a : 0) }'
  done
done
load
fi

if [[ $tables == *" 3 "* ]]; then
batch="$(dirname "$exe")/rivulon-batch"
all="$work/all.fa"
cat "$data"/*.fa > "$all"
echo
echo "The batch program on all $(grep -c '>' "$all") sequences in one file, against TRF on the same file"
echo
echo "| def | threads | Rivulon wall s | Rivulon CPU s | Rivulon peak MiB | TRF wall s | TRF CPU s | CPU ratio | wall ratio |"
echo "|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
for def in 1 2 3; do
  : > "$work/t"
  for t in 1 "$threads"; do : > "$work/r$t"; done
  for run in $(seq 1 "$runs"); do
    for t in 1 "$threads"; do
      measure "$batch" -q -t "$t" --definition "$def" "$all" -o "$work/out.tsv" >> "$work/r$t"
    done
    mkdir -p "$work/trf"
    (cd "$work/trf" && measure trf "$all" 2 7 7 80 10 50 500 -h) >> "$work/t"
    rm -rf "$work/trf" "$work/out.tsv"
  done
  tw=$(cut -d' ' -f1 "$work/t" | median); tc=$(cut -d' ' -f2 "$work/t" | median)
  for t in 1 "$threads"; do
    rw=$(cut -d' ' -f1 "$work/r$t" | median); rc=$(cut -d' ' -f2 "$work/r$t" | median)
    rm_=$(cut -d' ' -f3 "$work/r$t" | median)
    awk -v d="$def" -v t="$t" -v rw="$rw" -v rc="$rc" -v rm="$rm_" -v tw="$tw" -v tc="$tc" \
      'BEGIN { printf "| %s | %s | %.2f | %.2f | %.1f | %.2f | %.2f | %.2f | %.2f |\n",
               d, t, rw, rc, rm / 1024, tw, tc, (tc > 0 ? rc / tc : 0), (tw > 0 ? rw / tw : 0) }'
  done
done
load
fi
