#!/usr/bin/env bash
# One long record against one twice as long: copies of the HLA region of
# ../shared/data end to end, 1% of the bases changed at random with a fixed
# seed (so the record is the same on every machine), of SIZE_MB and 2 x
# SIZE_MB megabases (default 50). Runs `rivulon-batch -q --definition D` on
# each (every hardware thread unless THREADS says) for each of DEFINITIONS
# (default "3"), and prints a Markdown table: wall and CPU time, peak memory,
# bytes of memory per base, and how much more time the longer record took.
# Usage: bench/long_record.sh [BUILD_DIR]   (default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
size=${SIZE_MB:-50}
work=build/bench/long
mkdir -p "$work"
hla=../shared/data/human_HLA_class_I_6p21_BA000025.fa

for mb in "$size" $((2 * size)); do
  out="$work/hla_${mb}mb.fa"
  [ -s "$out" ] && continue
  python3 - "$hla" "$mb" "$out" <<'EOF'
import random, sys
source, mb, out = sys.argv[1], int(sys.argv[2]), sys.argv[3]
bases = "".join(l.strip() for l in open(source) if not l.startswith(">")).upper().encode()
n = mb * 1_000_000
record = bytearray((bases * (n // len(bases) + 1))[:n])
rng = random.Random(20261208)
for _ in range(n // 100):
    i = rng.randrange(n)
    record[i] = b"ACGT"[(b"ACGT".find(record[i]) + 1 + rng.randrange(3)) % 4]
with open(out, "wb") as f:
    f.write(b">hla_x%d\n" % mb)
    for i in range(0, n, 80):
        f.write(record[i:i + 80] + b"\n")
EOF
done

threads=()
[ -n "${THREADS:-}" ] && threads=(-t "$THREADS")
echo "| def | Mb | wall s | CPU s | peak MiB | bytes/base | time / the shorter's |"
echo "|---:|---:|---:|---:|---:|---:|---:|"
for def in ${DEFINITIONS:-3}; do
  first=""
  for mb in "$size" $((2 * size)); do
    /usr/bin/time -f "%e %U %S %M" -o "$work/time" \
      "$build/rivulon-batch" -q "${threads[@]}" --definition "$def" "$work/hla_${mb}mb.fa" -o "$work/out.tsv"
    read -r wall user sys peak < "$work/time"
    [ -z "$first" ] && first=$wall
    awk -v d="$def" -v mb="$mb" -v w="$wall" -v u="$user" -v s="$sys" -v m="$peak" -v f="$first" \
      'BEGIN { printf "| %s | %s | %.1f | %.1f | %.0f | %.2f | %.2f |\n",
               d, mb, w, u + s, m / 1024, m * 1024 / (mb * 1e6), w / f }'
  done
done
rm -f "$work/out.tsv"
echo
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
