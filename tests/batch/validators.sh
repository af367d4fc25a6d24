#!/usr/bin/env bash
# The BED output is accepted by bedtools (sort, merge) and the GFF3 output by
# genometools' validator, on records with awkward names.
# Usage: validators.sh RIVULON_BATCH SOURCE_DIR
set -euo pipefail
batch=$1; source=$2
for tool in bedtools gt; do
  command -v "$tool" > /dev/null || { echo "$tool is missing: run scripts/install-deps.sh"; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
{
  sed '1s/.*/>U01317.1 beta globin/' "$source/tests/data/human_beta_globin_HUMHBB.fa"
  sed '1s/.*/>gi|9626243|ref|NC_001416.1|/' "$source/examples/phage_lambda_NC_001416.fa"
  sed '1s/.*/>odd;name=x%/' "$source/tests/data/band.fa"
} > "$work/genome.fa"
for d in 1 3; do
  "$batch" --quiet --definition "$d" --max-motif 60 --format bed "$work/genome.fa" > "$work/r.bed"
  "$batch" --quiet --definition "$d" --max-motif 60 --format gff3 "$work/genome.fa" > "$work/r.gff3"
  rows=$(grep -vc '^#' "$work/r.bed")
  [ "$rows" -gt 10 ] || { echo "too few rows: $rows"; exit 1; }
  bedtools sort -i "$work/r.bed" > "$work/sorted.bed"
  [ "$(wc -l < "$work/sorted.bed")" = "$rows" ] || { echo "bedtools sort lost rows"; exit 1; }
  bedtools merge -i "$work/sorted.bed" > "$work/merged.bed"
  gt gff3validator "$work/r.gff3"
  [ "$(grep -vc '^#' "$work/r.gff3")" = "$rows" ] || { echo "GFF3 and BED differ in rows"; exit 1; }
  echo "definition $d: $rows rows; bedtools sort and merge, gt gff3validator accept them"
done
