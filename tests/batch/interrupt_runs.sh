#!/usr/bin/env bash
# Interrupts multi-megabase rivulon-batch runs at random moments and checks
# that the outputs are all or nothing: whatever the moment, the output set
# (tables, masked genome, summary page and every file of the alignments view)
# is the previous complete set or the new one, never a mix, and no temporary
# or lock file stays behind. Runs killed outright (SIGKILL) may leave debris,
# but the next run with the same outputs must clear it and finish the set.
# Usage: tests/batch/interrupt_runs.sh RIVULON_BATCH [TIMES]
# SEED=N in the environment repeats an earlier sequence of moments.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
[ $# -ge 1 ] || { echo "usage: $0 RIVULON_BATCH [TIMES]" >&2; exit 2; }
exe=$(realpath "$1")
times=${2:-20}
kills=3
seed=${SEED:-$$}
RANDOM=$seed

work=$(mktemp -d)
pid=
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
cd "$work"

# Eight records of eight lambda copies each (3.1 Mb), every copy with its own
# point changes; chr3 holds a run of 20,000 N, so it is searched as two
# stretches with pages of their own.
lambda=$(sed 1d "$here/examples/phage_lambda_NC_001416.fa" | tr -d '\n')
for r in $(seq 1 8); do
  echo ">chr$r lambda copies with point changes"
  for c in $(seq 1 8); do
    if [ "$r" = 3 ] && [ "$c" = 5 ]; then head -c 20000 /dev/zero | tr '\0' N; fi
    printf '%s\n' "$lambda" | awk -v seed=$(((r - 1) * 8 + c)) 'BEGIN { srand(seed) }
      { n = split("ACGT", b, ""); s = $0
        for (k = 0; k < 500; k++) { p = int(rand() * length(s)) + 1
          s = substr(s, 1, p - 1) b[int(rand() * 4) + 1] substr(s, p + 1) }
        printf "%s", s }'
  done | fold -w 60
  echo
done > genome.fa

common=(--max-motif 500 --definition 3 "$work/genome.fa" -o out.tsv --bed-out out.bed
        --gff3-out out.gff3 --masked-out out.masked.fa --html summary.html --report-dir pages)
old=(--min-score 60)
new=(--min-score 50)

# Every file of the output set with its checksum (temporaries are counted
# apart, as leftovers), the tables' command line left out: the runs compared
# differ in --threads.
manifest() {
  (cd "$1" && find . -type f ! -path '*/.rivulon-*' -print0 | LC_ALL=C sort -z |
    while IFS= read -r -d '' file; do
      printf '%s  %s\n' "$(sed '/^#\{0,1\} \{0,1\}command: /d' "$file" | sha256sum | cut -d' ' -f1)" "$file"
    done)
}
leftovers() { find "$work" -name '.rivulon-*' | wc -l; }
show_leftovers() { find "$work" -name '.rivulon-*' -printf '     left: %P\n' | sort | awk 'NR <= 8'; }

# Runs the batch program in out/ in the background, with SIGINT and SIGTERM
# at their defaults (a background job of a script starts with SIGINT ignored).
start() {
  (cd out && exec env --default-signal=INT,TERM "$exe" -q "$@" "${common[@]}") &
  pid=$!
}
finish() {
  local status=0
  { wait "$pid"; } 2>/dev/null || status=$?  # no "Killed" notice from the shell
  pid=
  return "$status"
}
now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.3f", b - a }'; }

mkdir out
start -t 1 "${old[@]}"; finish
cp -a out previous
manifest out > previous.sum
declare -A full
for t in 1 4; do
  rm -rf out; cp -a previous out
  begin=$(now)
  start -t "$t" "${new[@]}"; finish
  full[$t]=$(since "$begin")
  manifest out > "new$t.sum"
done
if cmp -s previous.sum new1.sum; then echo "the two parameter sets give the same outputs" >&2; exit 2; fi
if ! cmp -s new1.sum new4.sum; then echo "-t 1 and -t 4 give different outputs" >&2; exit 2; fi
if [ "$(leftovers)" != 0 ]; then echo "complete runs leave temporaries" >&2; exit 2; fi
echo "$(wc -l < new1.sum) files a set; a full run takes ${full[1]} s with -t 1, ${full[4]} s with -t 4 (seed $seed)"

passed=0
failed=0
verdict() {  # verdict OK DESCRIPTION
  if [ "$1" = 1 ]; then passed=$((passed + 1)); echo "ok   $2"; else failed=$((failed + 1)); echo "FAIL $2"; fi
}
which_set() {
  manifest out > now.sum
  if cmp -s now.sum previous.sum; then echo previous
  elif cmp -s now.sum new1.sum; then echo new
  else  # how many files come from which set
    awk 'FILENAME == ARGV[1] { p[$2] = $1; next } FILENAME == ARGV[2] { n[$2] = $1; next }
      { seen[$2] = 1; if (p[$2] == $1 && n[$2] == $1) next
        if (n[$2] == $1) nw++; else if (p[$2] == $1) pv++; else ot++ }
      END { for (f in p) if (!(f in seen)) ms++; for (f in n) if (!(f in seen) && !(f in p)) ms++
        printf "MIXED (%d new, %d previous, %d other, %d missing files)\n", nw, pv, ot, ms }' \
      previous.sum new1.sum now.sum
  fi
}

# Half the moments anywhere in the run, half around its end, where the outputs
# take their places; some after it, when the run has already finished.
for i in $(seq 1 "$times"); do
  t=$([ $((i % 2)) = 1 ] && echo 1 || echo 4)
  sig=$([ $((RANDOM % 2)) = 0 ] && echo INT || echo TERM)
  expected=$([ "$sig" = INT ] && echo 130 || echo 143)
  if [ $((RANDOM % 2)) = 0 ]; then lo=0; else lo=0.85; fi
  delay=$(awk -v f="${full[$t]}" -v lo="$lo" -v r="$RANDOM" \
    'BEGIN { printf "%.3f", f * (lo + (1.1 - lo) * r / 32768) }')
  rm -rf out; cp -a previous out
  start -t "$t" "${new[@]}"
  sleep "$delay"
  kill -s "$sig" "$pid" 2>/dev/null || true
  status=0
  finish || status=$?
  set_now=$(which_set)
  left=$(leftovers)
  ok=1
  [ "$left" = 0 ] || ok=0
  case "$status:$set_now" in
    0:new | "$expected":previous | "$expected":new) ;;
    *) ok=0 ;;
  esac
  verdict "$ok" "run $i: -t $t, SIG$sig after ${delay} s: status $status, $set_now set, $left leftover file(s)"
  [ "$left" = 0 ] || show_leftovers
done

# A run killed outright leaves what it leaves; the next run must clear its
# temporaries and write the whole new set.
for i in $(seq 1 "$kills"); do
  t=$([ $((i % 2)) = 1 ] && echo 4 || echo 1)
  delay=$(awk -v f="${full[$t]}" -v r="$RANDOM" 'BEGIN { printf "%.3f", f * r / 32768 }')
  rm -rf out; cp -a previous out
  start -t "$t" "${new[@]}"
  sleep "$delay"
  kill -KILL "$pid" 2>/dev/null || true
  finish || true
  killed_set=$(which_set)
  killed_left=$(leftovers)
  status=0
  start -t "$t" "${new[@]}"
  finish || status=$?
  set_now=$(which_set)
  left=$(leftovers)
  ok=1
  if [ "$status" != 0 ] || [ "$set_now" != new ] || [ "$left" != 0 ]; then ok=0; fi
  verdict "$ok" "kill $i: -t $t, SIGKILL after ${delay} s left the $killed_set set and $killed_left leftover file(s); the next run: status $status, $set_now set, $left leftover file(s)"
  [ "$left" = 0 ] || show_leftovers
done

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
