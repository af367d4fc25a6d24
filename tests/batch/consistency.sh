#!/usr/bin/env bash
# The repeats rivulon-batch reports (TSV) are the rows of the console
# program's text report for the same parameters: start = POSITION + 1 (the
# text report counts from 0), motif length, units and similarity or score as
# printed. Usage: consistency.sh RIVULON RIVULON_BATCH MAX_MOTIF FASTA...
set -euo pipefail
rivulon=$(realpath "$1"); batch=$(realpath "$2"); max_motif=$3; shift 3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
for fasta in "$@"; do
  for d in 1 2 3; do
    if [ "$d" = 3 ]; then threshold=50; option=(--min-score 50); else threshold=80; option=(--level 80); fi
    cp "$fasta" "$work/in.fa"
    (cd "$work" && printf '2\n7\n7\n3\n%s\n%s\n%s\nN\nY\n' "$max_motif" "$d" "$threshold" \
      | "$rivulon" in.fa > /dev/null)
    tail -n +8 "$work/atr_in.txt" | tr -d '\r' | awk 'NF {print $1 + 1, $2, $3, $4}' > "$work/console"
    "$batch" --quiet --overlaps all --definition "$d" "${option[@]}" --max-motif "$max_motif" "$fasta" \
      | grep -v "^#" | tail -n +2 | awk -F'\t' '{print $2, $4, $5, $6}' > "$work/batch"
    rows=$(wc -l < "$work/console")
    if cmp -s "$work/console" "$work/batch"; then
      echo "same   $(basename "$fasta") definition $d: $rows repeats"
    else
      echo "DIFFER $(basename "$fasta") definition $d:"
      diff "$work/console" "$work/batch" | head -n 10
      failed=1
    fi
  done
done
exit $failed
