#!/usr/bin/env bash
# The Snakemake workflow on a small genome, locally with two cores: its
# gathered TSV, BED and GFF3 must equal one rivulon-batch run over the whole
# file, byte for byte, and its summary must count the gathered rows.
# Usage: tests/workflow/run.sh [RIVULON_BATCH]
set -euo pipefail
cd "$(dirname "$0")/../.."
batch=$(realpath "${1:-build/release/rivulon-batch}")
for tool in snakemake samtools; do
  command -v "$tool" > /dev/null || { echo "$tool is missing: run scripts/install-deps.sh"; exit 1; }
done
work=$(realpath -m build/workflow-test)
rm -rf "$work"
mkdir -p "$work"

# Five records: soft-masked lines and a run of N in the globin region, names
# with ':' and '-' (kept whole by the region quoting), a record too short to
# hold a repeat, and a line length unlike the others.
{
  echo ">U01317.1 human beta globin region"
  sed -n '2,$p' tests/data/human_beta_globin_HUMHBB.fa | sed '40,70s/.*/\L&/; 300s/^.\{20\}/NNNNNNNNNNNNNNNNNNNN/'
  echo ">lambda"
  sed -n '2,$p' examples/phage_lambda_NC_001416.fa
  echo ">band"
  sed -n '2,$p' tests/data/band.fa
  printf '>tiny\nA\n'
  echo ">chr:odd-1 a name htslib reads as a region unless quoted"
  sed -n '2,$p' tests/data/band.fa | tr -d '\n' | fold -w 33
  echo
} | gzip -c > "$work/genome.fa.gz"

options="--definition 1 --max-motif 100"
cat > "$work/config.yaml" <<YAML
genomes:
  small: $work/genome.fa.gz
outdir: $work/results
rivulon_batch: $batch
options: "$options"
piece_bases: 40000
threads: 2
YAML

snakemake -s workflow/Snakefile --configfile "$work/config.yaml" --cores 2 \
  --directory "$work" --quiet > "$work/snakemake.log" 2>&1 \
  || { tail -n 40 "$work/snakemake.log"; echo "the workflow failed"; exit 1; }

pieces=$(ls "$work/results/small/logs" | wc -l)
for format in tsv bed gff3; do
  "$batch" --quiet $options --format "$format" "$work/genome.fa.gz" > "$work/single.$format"
  # The same bytes but for the command line, which names the first piece's.
  grep -v '^#command:\|^# command:' "$work/single.$format" > "$work/single.rows.$format"
  grep -v '^#command:\|^# command:' "$work/results/small/repeats.$format" > "$work/gathered.rows.$format"
  grep -q '^#\{0,1\} \{0,1\}command: (the first of [0-9]* pieces) ' "$work/results/small/repeats.$format" ||
    { echo "the gathered $format does not say whose command line it keeps"; exit 1; }
  if ! cmp "$work/single.rows.$format" "$work/gathered.rows.$format"; then
    diff "$work/single.rows.$format" "$work/gathered.rows.$format" | head -n 20
    echo "gathered $format differs from one run"
    exit 1
  fi
  echo "gathered $format of $pieces pieces = one run ($(wc -l < "$work/single.$format") lines)"
done
rows=$(($(grep -vc '^#' "$work/single.tsv") - 1))
all=$(awk -F'\t' '$2 == "all" {print $6}' "$work/results/small/summary.tsv")
[ "$rows" = "$all" ] || { echo "summary counts $all repeats, the TSV holds $rows"; exit 1; }
[ "$pieces" -ge 3 ] || { echo "expected the genome in 3 or more pieces, got $pieces"; exit 1; }
echo "summary:"
cat "$work/results/small/summary.tsv"

# Two records with one name: refused with both record numbers, nothing gathered.
printf '>chr1\nACGTACGTACGT\n>chr2\nACGT\n>chr1 again\nACGTAC\n' > "$work/twice.fa"
cat > "$work/twice.yaml" <<YAML
genomes:
  twice: $work/twice.fa
outdir: $work/results
rivulon_batch: $batch
YAML
if snakemake -s workflow/Snakefile --configfile "$work/twice.yaml" --cores 1 \
     --directory "$work" --quiet > "$work/twice.log" 2>&1; then
  echo "the workflow accepted two records named chr1"; exit 1
fi
grep -q "records 1 and 3 are both named 'chr1'" "$work/twice.log" ||
  { tail -n 20 "$work/twice.log"; echo "the refusal does not name the records"; exit 1; }
[ ! -e "$work/results/twice/repeats.tsv" ] || { echo "a refused genome has repeats"; exit 1; }
echo "two records with one name: refused"
