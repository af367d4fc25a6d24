#!/usr/bin/env bash
# Interrupts a multi-megabase run at random moments and checks what each
# interruption leaves: the previous complete set of pages, or the failure page
# (with the alignments page and text report of either run), and never a
# temporary or lock file. Usage: tests/interrupt_runs.sh [RIVULON] [TIMES]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
exe=$(realpath "${1:-$here/build/release/rivulon}")
times=${2:-20}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# Three megabases: the bundled lambda genome 62 times over, every copy with
# its own point changes so that the genome does not repeat exactly.
for i in $(seq 1 62); do
  sed 1d "$here/examples/phage_lambda_NC_001416.fa" | tr -d '\n' |
    awk -v seed="$i" 'BEGIN { srand(seed) } { n = split("ACGT", b, ""); s = $0;
      for (k = 0; k < 500; k++) { p = int(rand() * length(s)) + 1;
        s = substr(s, 1, p - 1) b[int(rand() * 4) + 1] substr(s, p + 1) } print s }'
done | fold -w 60 | sed '1i >many' > many.fa
answers='2\n7\n7\n3\n500\n1\n80\nY\nY\n'

start=$(date +%s.%N)
printf "$answers" | "$exe" many.fa > /dev/null
full=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.3f", b - a }')
mkdir previous && cp atr_many.html align_many.html atr_many.txt previous/
echo "a full run takes ${full} s; interrupting ${times} runs at random moments"

failures=0
for i in $(seq 1 "$times"); do
  sig=$([ $((RANDOM % 2)) = 0 ] && echo INT || echo TERM)
  delay=$(awk -v f="$full" -v r="$RANDOM" 'BEGIN { printf "%.3f", f * r / 32768 }')
  printf "$answers" | "$exe" many.fa > /dev/null &
  pid=$!
  sleep "$delay"
  kill -s "$sig" "$pid" 2>/dev/null || true
  status=0
  wait "$pid" || status=$?
  left=$(find . -maxdepth 1 -name '.rivulon-*' | wc -l)
  if cmp -s atr_many.html previous/atr_many.html && cmp -s align_many.html previous/align_many.html &&
     cmp -s atr_many.txt previous/atr_many.txt; then
    outcome="previous pages"
  elif grep -q "The run did not finish." atr_many.html; then
    outcome="failure page"
  else
    outcome="NEITHER"
  fi
  echo "run $i: SIG$sig after ${delay} s, status $status, $outcome, $left leftover file(s)"
  if [ "$outcome" = NEITHER ] || [ "$left" != 0 ]; then failures=$((failures + 1)); fi
  # The next interruption starts from a complete set again.
  cp previous/* .
done
echo "$((times - failures)) passed, $failures failed"
[ "$failures" = 0 ]
