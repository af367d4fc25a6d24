#!/usr/bin/env bash
# make cluster-test: the Snakemake workflow through its SLURM profile on a
# one-node SLURM cluster this script starts on this machine (munged, slurmctld
# and slurmd from Debian's packages, their configuration in a scratch folder,
# each ended by its PID at the end, also on failure). One detect job waits on
# its first attempt until the script cancels it with scancel; the profile's
# status command must see it failed and Snakemake run it again; the gathered
# TSV, BED and GFF3 must then equal one rivulon-batch run byte for byte.
# Usage: tests/cluster/run.sh [RIVULON_BATCH]
set -euo pipefail
cd "$(dirname "$0")/../.."
top=$(pwd)
batch=$(realpath "${1:-build/release/rivulon-batch}")
for tool in munged slurmctld slurmd sbatch snakemake samtools bgzip; do
  command -v "$tool" > /dev/null || { echo "$tool is missing: run scripts/install-deps.sh --cluster"; exit 1; }
done
work=$(realpath -m build/cluster-test)
rm -rf "$work"
mkdir -p "$work/state" "$work/spool" "$work/run"

pids=()
stop_all() {
  for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null || true; done
  for pid in "${pids[@]}"; do
    for _ in $(seq 1 50); do kill -0 "$pid" 2> /dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2> /dev/null || true
  done
}
trap stop_all EXIT

# munge: its own key and socket.
dd if=/dev/urandom of="$work/munge.key" bs=1024 count=1 status=none
chmod 400 "$work/munge.key"
munged --foreground --force --key-file="$work/munge.key" --socket="$work/run/munge.sock" \
  --pid-file="$work/run/munged.pid" --log-file="$work/munged.log" --seed-file="$work/run/munge.seed" \
  > "$work/munged.out" 2>&1 &
pids+=($!)

host=$(hostname -s)
cpus=$(nproc)
memory=$(($(awk '/MemTotal/ {print $2}' /proc/meminfo) / 1024 / 2))
export SLURM_CONF="$work/slurm.conf"
cat > "$SLURM_CONF" <<CONF
ClusterName=rivulon-test
SlurmctldHost=$host
SlurmUser=$(id -un)
SlurmdUser=$(id -un)
SlurmctldPort=16817
SlurmdPort=16818
AuthType=auth/munge
AuthInfo=socket=$work/run/munge.sock
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/run/slurmctld.pid
SlurmdPidFile=$work/run/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core_Memory
MpiDefault=none
ReturnToService=2
MinJobAge=600
SchedulerType=sched/backfill
NodeName=$host CPUs=$cpus RealMemory=$memory State=UNKNOWN
PartitionName=test Nodes=$host Default=YES MaxTime=INFINITE State=UP
CONF
slurmctld -D -i -f "$SLURM_CONF" > "$work/slurmctld.out" 2>&1 &
pids+=($!)
slurmd -D -f "$SLURM_CONF" > "$work/slurmd.out" 2>&1 &
pids+=($!)
for _ in $(seq 1 60); do
  [ "$(sinfo -h -o %T 2> /dev/null)" = idle ] && break
  sleep 1
done
[ "$(sinfo -h -o %T 2> /dev/null)" = idle ] ||
  { tail -n 20 "$work/slurmctld.log" "$work/slurmd.log" 2> /dev/null; echo "the cluster did not come up"; exit 1; }
echo "a one-node SLURM cluster is up on $host ($cpus CPUs, $memory MB)"

# Four records in two pieces (chr1; chr2 to chr4); the piece holding "chr2" waits on its first
# attempt, until cancelled.
{
  echo ">chr1 human beta globin region"
  sed -n '2,$p' tests/data/human_beta_globin_HUMHBB.fa
  echo ">chr2"
  sed -n '2,$p' examples/phage_lambda_NC_001416.fa
  echo ">chr3"
  sed -n '2,$p' tests/data/band.fa
  echo ">chr4"
  sed -n '2,$p' tests/data/band.fa | tr -d '\n' | rev | fold -w 60
  echo
} | gzip -c > "$work/genome.fa.gz"
cat > "$work/waiting-batch" <<SH
#!/bin/sh
# rivulon-batch, but the first attempt at the piece with chr2 waits for ever.
case "\$*" in
  *"{chr2}"*) if mkdir "$work/attempted" 2> /dev/null; then echo "\$SLURM_JOB_ID" > "$work/waiting"; exec sleep 100000; fi;;
esac
exec "$batch" "\$@"
SH
chmod +x "$work/waiting-batch"
options="--max-motif 100"
cat > "$work/config.yaml" <<YAML
genomes:
  small: $work/genome.fa.gz
outdir: $work/results
rivulon_batch: $work/waiting-batch
options: "$options"
piece_bases: 50000
threads: 1
runtime_base_min: 5
YAML

(cd "$work" && snakemake -s "$top/workflow/Snakefile" --configfile config.yaml --profile "$top/workflow/profiles/slurm" \
  --latency-wait 5 > snakemake.log 2>&1) &
snake=$!
for _ in $(seq 1 300); do
  [ -s "$work/waiting" ] && break
  kill -0 "$snake" 2> /dev/null || break
  sleep 1
done
[ -s "$work/waiting" ] || { tail -n 30 "$work/snakemake.log"; echo "the waiting detect job never started"; exit 1; }
job=$(cat "$work/waiting")
scancel "$job"
echo "detect job $job cancelled while it ran"
status=0
wait "$snake" || status=$?
[ "$status" = 0 ] || { tail -n 40 "$work/snakemake.log"; echo "the workflow failed (status $status)"; exit 1; }
grep -q "Trying to restart" "$work/snakemake.log" ||
  { tail -n 40 "$work/snakemake.log"; echo "Snakemake did not run the cancelled job again"; exit 1; }
jobs=$(grep -c "^Submitted job" "$work/snakemake.log" || true)

for format in tsv bed gff3; do
  "$batch" --quiet $options --format "$format" "$work/genome.fa.gz" | grep -v '^#command:\|^# command:' > "$work/single.$format"
  grep -v '^#command:\|^# command:' "$work/results/small/repeats.$format" > "$work/gathered.$format"
  cmp "$work/single.$format" "$work/gathered.$format" || { echo "the gathered $format differs from one run"; exit 1; }
done
grep -q '<title>' "$work/results/small/summary.html" || { echo "the workflow wrote no summary page"; exit 1; }
echo "$jobs jobs submitted; the cancelled job ran again; the gathered TSV, BED and GFF3 equal one run byte for byte"
