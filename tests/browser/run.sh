#!/usr/bin/env bash
# make browser-test: real runs of both programs, for an ordinary and an
# unusual file name ('#', a blank, non-ASCII), the batch program's classic
# pages and alignments view, and a record with some 50,000 repeats, opened in
# headless Chromium by check_pages.py, which prints how long the large pages
# take. Screenshots go to build/browser-test/screens/.
# Usage: tests/browser/run.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(realpath "${1:-build/release}")
work=$(realpath -m build/browser-test)
rm -rf "$work"
mkdir -p "$work/ordinary" "$work/unusual #ü" "$work/screens"

# The console program: globin with its coding regions, both optional pages.
answers=$'2\n7\n7\n3\n100\n1\n80\nY\nY\n'
cp tests/data/human_beta_globin_HUMHBB.fa "$work/ordinary/globin.fa"
cp tests/data/human_beta_globin_HUMHBB.fa "$work/unusual #ü/a #b ü.fa"
cp tests/data/human_beta_globin_HUMHBB.gb "$work/ordinary/globin.gb"
(cd "$work/ordinary" && "$build/rivulon" globin.fa globin.gb <<< "$answers" > dialogue.txt)
(cd "$work/unusual #ü" && "$build/rivulon" "a #b ü.fa" <<< "$answers" > dialogue.txt)

# The batch program: five records, one with a name HTML and URLs would misread,
# one with a run of N; the classic pages, then the alignments view.
{
  sed '1s/.*/>U01317.1 beta globin/' tests/data/human_beta_globin_HUMHBB.fa
  sed '1s/.*/>lambda/' examples/phage_lambda_NC_001416.fa
  sed '1s/.*/>odd<b>\&"name"#1%20ü/' tests/data/band.fa
  echo ">gapped"
  { grep -v '>' tests/data/human_beta_globin_HUMHBB.fa | tr -d '\n' | cut -c 30001-45000; printf 'N%.0s' $(seq 1 300)
    grep -v '>' tests/data/human_beta_globin_HUMHBB.fa | tr -d '\n' | cut -c 60001-73000; } | fold -w 60
  echo ">micro"  # 3,000 copies: more than one piece of copies
  { grep -v '>' examples/phage_lambda_NC_001416.fa | tr -d '\n' | cut -c 1-200; printf 'AC%.0s' $(seq 1 3000); } | fold -w 60
} > "$work/genome.fa"
(cd "$work/ordinary" && "$build/rivulon-batch" -q --definition 1 --max-motif 100 --level 50 ../genome.fa -o repeats.tsv \
  --html summary.html --report-dir pages --classic-pages)
(cd "$work/unusual #ü" && "$build/rivulon-batch" -q --definition 3 --min-score 30 --max-motif 100 ../genome.fa \
  -o repeats.tsv --html "sum #1 ü.html" --report-dir "pages #ü")

# A record with some 50,000 repeats, for the view's and the summary page's times.
mkdir -p "$work/genome"
/usr/bin/python3 tests/browser/make_genome.py "$work/genome/genome.fa" 70000
(cd "$work/genome" && "$build/rivulon-batch" -q --max-motif 60 genome.fa -o genome.tsv --html genome.html --report-dir view)
echo "genome: $(grep -vc '^#' "$work/genome/genome.tsv") lines in its table"

/usr/bin/python3 tests/browser/check_pages.py "$work"
