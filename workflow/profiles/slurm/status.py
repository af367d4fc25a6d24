#!/usr/bin/env python3
"""Snakemake's cluster-status command for SLURM: prints running, success or
failed for the job id sbatch --parsable printed ("ID" or "ID;CLUSTER").

sacct knows every job that accounting recorded; squeue a job still queued or
running; scontrol a job that ended a few minutes ago. A job none of them
knows is reported failed, so that Snakemake runs it again rather than wait
for ever."""
import subprocess
import sys

RUNNING = {"PENDING", "CONFIGURING", "RUNNING", "COMPLETING", "SUSPENDED", "REQUEUED", "REQUEUE_HOLD",
           "REQUEUE_FED", "RESIZING", "SIGNALING", "STAGE_OUT", "STOPPED", "RESV_DEL_HOLD"}


def ask(command):
    """The first word of the first line a SLURM command prints, or ""."""
    try:
        done = subprocess.run(command, capture_output=True, text=True, timeout=60)
    except (OSError, subprocess.TimeoutExpired):
        return ""
    lines = done.stdout.split() if done.returncode == 0 else []
    return lines[0].rstrip("+") if lines else ""


def state(job):
    found = ask(["sacct", "-j", job, "-X", "-n", "-P", "-o", "State"])
    if not found:
        found = ask(["squeue", "-j", job, "-h", "-o", "%T"])
    if not found:
        try:
            text = subprocess.run(["scontrol", "show", "job", job], capture_output=True, text=True, timeout=60).stdout
        except (OSError, subprocess.TimeoutExpired):
            text = ""
        found = next((w.split("=", 1)[1] for w in text.split() if w.startswith("JobState=")), "")
    return found


def main():
    found = state(sys.argv[1].split(";")[0])
    if found == "COMPLETED":
        print("success")
    elif found in RUNNING:
        print("running")
    else:
        print("failed")


main()
