#!/bin/sh
# Cancels SLURM jobs by the ids sbatch --parsable printed ("ID" or "ID;CLUSTER").
for id in "$@"; do
  scancel "${id%%;*}"
done
