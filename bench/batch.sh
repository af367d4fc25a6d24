#!/usr/bin/env bash
# rivulon-batch on the real sequences of ../shared/data:
#  1. its TSV rows equal the console program's text report rows, for every
#     sequence and definition (maximum motif length 500);
#  2. a ~5 Mb genome of several records built from them, with --threads 1
#     and --threads 2: median wall time of 3 runs, peak memory, and that
#     both give the same bytes.
# Usage: bench/batch.sh [BUILD_DIR] [DEFINITIONS]   (default build/release, "1 3");
# THREADS_ONLY=1 skips part 1.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
definitions=${2:-1 3}
data=../shared/data
work=build/bench/batch
mkdir -p "$work"
if [ -z "${THREADS_ONLY:-}" ]; then
  echo "== rows against the console program's text report =="
  tests/batch/consistency.sh "$build/rivulon" "$build/rivulon-batch" 500 "$data"/*.fa
fi

echo "== threads on a genome of several records =="
genome=$work/genome5mb.fa
{
  for f in "$data"/*.fa; do cat "$f"; done
  echo ">pylori_part2"
  sed -n '2,12501p' "$data/helicobacter_pylori_G27_NC_011333.fa"
} > "$genome"
bases=$(grep -v '>' "$genome" | tr -d '\n' | wc -c)
echo "genome: $(grep -c '>' "$genome") records, $bases bases"
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
printf '%-11s %-8s %10s %12s\n' definition threads "wall (s)" "peak (MiB)"
for d in $definitions; do
  for t in 1 2; do
    walls=(); peaks=()
    for run in 1 2 3; do
      /usr/bin/time -f '%e %M' -o "$work/time" "$build/rivulon-batch" --quiet --definition "$d" \
        --threads "$t" "$genome" -o "$work/out_d${d}_t$t.tsv"
      read -r wall peak < "$work/time"
      walls+=("$wall"); peaks+=("$peak")
    done
    w=$(printf '%s\n' "${walls[@]}" | median); p=$(printf '%s\n' "${peaks[@]}" | median)
    printf '%-11s %-8s %10s %12.1f\n' "$d" "$t" "$w" "$(echo "$p / 1024" | bc -l)"
  done
  # The same bytes but for the command line, which names the thread count.
  cmp <(grep -v '^#command:' "$work/out_d${d}_t1.tsv") <(grep -v '^#command:' "$work/out_d${d}_t2.tsv") &&
    echo "definition $d: same bytes with 1 and 2 threads"
done
