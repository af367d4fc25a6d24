#!/usr/bin/env bash
# The Snakemake workflow on a small genome, locally with two cores: its
# gathered TSV, BED and GFF3 must equal one rivulon-batch run over the whole
# file, byte for byte, its summary must count the gathered rows, and its
# summary page must be that run's page.
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
# The summary page made from the gathered table: one run's page over the same
# file, but for the command line.
"$batch" --quiet $options --html "$work/single.html" "$work/results/small/work/genome.fa.gz" > /dev/null
if ! cmp <(grep -v 'command: <code>' "$work/single.html") <(grep -v 'command: <code>' "$work/results/small/summary.html"); then
  diff <(grep -v 'command: <code>' "$work/single.html") <(grep -v 'command: <code>' "$work/results/small/summary.html") | head -n 20
  echo "the workflow's summary page differs from one run's"
  exit 1
fi
echo "the summary page made from the gathered table = one run's page"
# The genome kept as bgzip with its indexes, no plain copy.
for kept in genome.fa.gz genome.fa.gz.fai genome.fa.gz.gzi; do
  [ -s "$work/results/small/work/$kept" ] || { echo "the workflow did not keep $kept"; exit 1; }
done
[ ! -e "$work/results/small/work/genome.fa" ] || { echo "the workflow made a plain copy of the genome"; exit 1; }
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

# A bgzip genome is linked, not copied; the shipped config runs from the
# repository's root as written.
bgzip -c tests/data/band.fa > "$work/band.fa.gz"
cat > "$work/bgzip.yaml" <<YAML
genomes:
  band: $work/band.fa.gz
outdir: $work/results
rivulon_batch: $batch
YAML
snakemake -s workflow/Snakefile --configfile "$work/bgzip.yaml" --cores 1 --directory "$work" --quiet \
  > "$work/bgzip.log" 2>&1 || { tail -n 20 "$work/bgzip.log"; echo "the workflow failed on a bgzip genome"; exit 1; }
[ "$(readlink "$work/results/band/work/genome.fa.gz")" = "$work/band.fa.gz" ] ||
  { echo "a bgzip genome was not linked"; exit 1; }
snakemake -s workflow/Snakefile --configfile workflow/config.yaml --cores 2 --dry-run --quiet \
  --config rivulon_batch="$batch" outdir="$work/shipped" > "$work/shipped.log" 2>&1 ||
  { tail -n 20 "$work/shipped.log"; echo "the shipped config does not run from the repository's root"; exit 1; }
echo "a bgzip genome linked; the shipped config runs from the repository's root"

# The SLURM profile's status and cancel commands, against SLURM commands
# played by scripts: every state a job ends in, and ids with a cluster name.
fake="$work/fake-slurm"
mkdir -p "$fake"
cat > "$fake/sacct" <<'SH'
#!/bin/sh
case "$2" in 11) echo "COMPLETED";; 12) echo "CANCELLED by 0";; 13) echo "TIMEOUT";; 14) echo "OUT_OF_MEMORY";;
  15) echo "RUNNING";; 16) echo "PENDING";; 17) echo "FAILED";; 18) echo "NODE_FAIL";; *) exit 1;; esac
SH
printf '#!/bin/sh\n[ "$2" = 21 ] && echo RUNNING\nexit 0\n' > "$fake/squeue"
printf '#!/bin/sh\n[ "$3" = 22 ] && echo "JobId=22 JobName=x JobState=COMPLETED Reason=None"\nexit 0\n' > "$fake/scontrol"
printf '#!/bin/sh\necho "$@" >> "%s/cancelled"\n' "$fake" > "$fake/scancel"
chmod +x "$fake"/*
expected="11 success,12 failed,13 failed,14 failed,15 running,16 running,17 failed,18 failed,21 running,22 success,23 failed,11;cluster success"
got=$(IFS=,; for pair in $expected; do id=${pair% *}
  printf '%s %s,' "$id" "$(PATH="$fake:$PATH" workflow/profiles/slurm/status.py "$id")"; done)
[ "$got" = "$expected," ] || { echo "status.py: $got"; exit 1; }
PATH="$fake:$PATH" workflow/profiles/slurm/cancel.sh "31;cluster" 32
[ "$(cat "$fake/cancelled")" = "$(printf '31\n32')" ] || { echo "cancel.sh: $(cat "$fake/cancelled")"; exit 1; }
echo "the SLURM profile's status and cancel commands read every state"
