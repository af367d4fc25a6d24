#!/usr/bin/env bash
# make demo: rivulon-batch with its defaults on human beta-globin (tests/data),
# then two lines on what it found and where the summary page is.
# Usage: scripts/demo.sh BUILD_DIR DEMO_DIR
set -euo pipefail
build=$1; demo=$2
mkdir -p "$demo"
input=tests/data/human_beta_globin_HUMHBB.fa
"$build/rivulon-batch" -q "$input" -o "$demo/repeats.tsv" --bed-out "$demo/repeats.bed" --html "$demo/summary.html"
# The TSV's columns by name: period, copies, consensus.
awk -F'\t' -v input="$input" '
  /^#/ { next }
  $1 == "seqid" { for (i = 1; i <= NF; ++i) col[$i] = i; next }
  {
    n++; p = $col["period"]
    if (p <= 6) short++; else if (p <= 99) mid++; else long++
    span = $3 - $2 + 1
    if (span > best) { best = span; where = $1 ":" $2 "-" $3; what = "(" $col["consensus"] ")x" $col["copies"] }
  }
  END {
    printf "rivulon-batch found %d tandem repeats in %s: %d with periods 1-6, %d of 7-99, %d of 100-500.\n",
           n, input, short, mid, long
    if (n > 0) printf "The longest: %s, %d bases, %s.\n", where, best, what
  }' "$demo/repeats.tsv"
echo "Summary page: $demo/summary.html (repeats: $demo/repeats.tsv, $demo/repeats.bed)"
