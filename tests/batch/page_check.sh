#!/usr/bin/env bash
# The pages' scripts pass node's syntax check, and the pages the program
# writes from its templates (a plain summary page; one with the chance line,
# links to the alignments view and a record name full of markup; the view's
# index and record pages) pass HTML Tidy with no warning, with every slot of
# the template filled.
# Usage: page_check.sh RIVULON_BATCH SOURCE_DIR
set -euo pipefail
batch=$1; source=$2
for tool in node tidy; do
  command -v "$tool" > /dev/null || { echo "$tool is missing: run scripts/install-deps.sh"; exit 1; }
done
node --check "$source/batch/page/summary.js"
node --check "$source/batch/page/view.js"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
{
  sed '1s/.*/>U01317.1 beta globin/' "$source/tests/data/human_beta_globin_HUMHBB.fa"
  sed '1s/.*/>odd<b>\&"name"#1%20/' "$source/tests/data/band.fa"
} > "$work/genome.fa"
"$batch" -q --max-motif 60 --html "$work/plain.html" "$work/genome.fa" > /dev/null
"$batch" -q --definition 1 --max-motif 60 --control 1 --report-dir "$work/pages" --html "$work/full.html" \
  "$work/genome.fa" > /dev/null 2>&1
for page in "$work/plain.html" "$work/full.html" "$work/pages/index.html" "$work/pages/record-000002.html"; do
  # Tidy would drop the tables' empty bodies, which the script fills.
  tidy -q -e --drop-empty-elements no "$page"
  if grep -qE '@[A-Z_]+@' "$page"; then echo "$page: a slot of the template is left unfilled"; exit 1; fi
done
grep -q 'chance calls per Mb' "$work/full.html" || { echo "the chance line is missing"; exit 1; }
echo "the scripts pass node --check; the pages pass tidy"
