#!/usr/bin/env python3
"""rivulon-batch's answers against TRF's on real records, and on a control
genome with each record's length and dinucleotide frequencies (a first-order
Markov chain: no tandem structure beyond chance).

For each set of options: calls, recall (TRF's calls of score >= 50 at least
half covered by one call), agreement (calls that touch a TRF call), calls per
merged region (calls / regions of overlapping calls), chance calls per Mb on
the control genome, and CPU seconds against TRF's.

Usage: answers.py RIVULON_BATCH WORK_DIR FASTA...
"""
import os
import random
import resource
import subprocess
import sys
import time

TRF_ARGS = ["2", "7", "7", "80", "10", "50", "500", "-h", "-ngs"]
RUNS = [
    ("default (definition 3, one call per locus, adjacent-copy search)", []),
    ("definition 3, one call per locus, no adjacent-copy search", ["--adjacent-copies", "no"]),
    ("definition 3, every call", ["--definition", "3", "--overlaps", "all"]),
    ("definition 1, one call per locus", ["--definition", "1"]),
    ("definition 1, every call", ["--definition", "1", "--overlaps", "all"]),
    ("definition 2, every call", ["--definition", "2", "--overlaps", "all"]),
]


def read_fasta(paths):
    records = []
    for path in paths:
        name, parts = None, []
        with open(path) as f:
            for line in f:
                line = line.strip()
                if line.startswith(">"):
                    if name is not None:
                        records.append((name, "".join(parts).upper()))
                    name, parts = line[1:].split()[0], []
                else:
                    parts.append(line)
        if name is not None:
            records.append((name, "".join(parts).upper()))
    return records


def write_fasta(path, records):
    with open(path, "w") as f:
        for name, bases in records:
            f.write(">" + name + "\n")
            for i in range(0, len(bases), 60):
                f.write(bases[i:i + 60] + "\n")


def control(records, seed):
    """Each record's length and dinucleotide frequencies, drawn as a Markov chain."""
    rng = random.Random(seed)
    out = []
    for name, bases in records:
        counts = {a: {b: 1 for b in "ACGT"} for a in "ACGT"}
        for x, y in zip(bases, bases[1:]):
            if x in counts and y in counts[x]:
                counts[x][y] += 1
        first = [b for b in bases if b in "ACGT"][:1] or ["A"]
        chain = [first[0]]
        choices = {a: (list(counts[a]), list(counts[a].values())) for a in "ACGT"}
        for _ in range(len(bases) - 1):
            letters, weights = choices[chain[-1]]
            chain.append(rng.choices(letters, weights)[0])
        out.append((name + "_control", "".join(chain)))
    return out


def cpu_of(command, stdout):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(command, stdout=stdout, stderr=subprocess.DEVNULL, check=False)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def trf_calls(fasta, work):
    with open(os.path.join(work, "trf.ngs"), "w") as out:
        cpu = cpu_of(["trf", fasta] + TRF_ARGS, out)
    calls, name = [], None
    with open(os.path.join(work, "trf.ngs")) as f:
        for line in f:
            if line.startswith("@"):
                name = line[1:].split()[0]
                continue
            fields = line.split()
            if len(fields) >= 8:
                calls.append((name, int(fields[0]), int(fields[1]), int(fields[2]), int(fields[7])))
    return calls, cpu


def our_calls(batch, fasta, options, work):
    out_path = os.path.join(work, "ours.tsv")
    with open(out_path, "w") as out:
        cpu = cpu_of([batch, "-q", "-t", "1"] + options + [fasta], out)
    calls = []
    with open(out_path) as f:
        for line in f:
            if line.startswith("#") or line.startswith("seqid\t"):
                continue
            fields = line.rstrip("\n").split("\t")
            calls.append((fields[0], int(fields[1]), int(fields[2])))
    return calls, cpu


def by_record(calls):
    table = {}
    for c in calls:
        table.setdefault(c[0], []).append(c)
    for v in table.values():
        v.sort(key=lambda c: (c[1], c[2]))
    return table


def overlap(a0, a1, b0, b1):
    return min(a1, b1) - max(a0, b0) + 1


def measures(ours, trf):
    mine, theirs = by_record(ours), by_record([t for t in trf if t[4] >= 50])
    found = 0
    for name, calls in theirs.items():
        for _, s, e, _, _ in calls:
            found += any(overlap(s, e, a, b) * 2 >= e - s + 1 for _, a, b in mine.get(name, []))
    touching = 0
    for name, calls in mine.items():
        for _, a, b in calls:
            touching += any(overlap(a, b, s, e) > 0 for _, s, e, _, _ in theirs.get(name, []))
    regions = 0
    for calls in mine.values():
        reach = -1
        for _, a, b in calls:
            if a > reach:
                regions += 1
            reach = max(reach, b)
    total_trf = sum(len(v) for v in theirs.values())
    return {
        "calls": len(ours),
        "recall": 100.0 * found / max(1, total_trf),
        "agreement": 100.0 * touching / max(1, len(ours)),
        "per_region": len(ours) / max(1, regions),
    }


def trf_examples(batch, work):
    """TRF's example records with an answer key (the first three of test_seqs):
    our -ngs lines against TRF's own."""
    source = "/usr/share/doc/trf/examples/test_seqs.fasta.gz"
    if not os.path.exists(source):
        return "TRF's examples are not installed (scripts/install-deps.sh --bench)"
    import gzip
    with gzip.open(source, "rt") as f:
        lines, records = [], 0
        for line in f:
            records += line.startswith(">")
            if records > 3:
                break
            lines.append(line)
    path = os.path.join(work, "trf_examples.fa")
    with open(path, "w") as f:
        f.writelines(lines)
    theirs = subprocess.run(["trf", path] + TRF_ARGS, capture_output=True, text=True).stdout
    ours = subprocess.run([batch, "-q", "--format", "trf-ngs", path], capture_output=True, text=True).stdout
    same = "the same bytes" if ours == theirs else "DIFFERENT lines"
    return f"TRF's example records 1-3 (--format trf-ngs against trf -ngs): {same}"


def main():
    batch, work, paths = sys.argv[1], sys.argv[2], sys.argv[3:]
    os.makedirs(work, exist_ok=True)
    records = read_fasta(paths)
    bases = sum(len(b) for _, b in records)
    genome = os.path.join(work, "genome.fa")
    shuffled = os.path.join(work, "control.fa")
    write_fasta(genome, records)
    write_fasta(shuffled, control(records, 2026))
    trf, trf_cpu = trf_calls(genome, work)
    trf_control, _ = trf_calls(shuffled, work)
    print(f"{len(records)} records, {bases / 1e6:.2f} Mb; TRF {' '.join(TRF_ARGS)}: "
          f"{sum(1 for t in trf if t[4] >= 50)} calls, {trf_cpu:.1f} s CPU; "
          f"control genome: {len(trf_control) / (bases / 1e6):.1f} calls per Mb")
    print(trf_examples(batch, work))
    print(f"| options | calls | recall of TRF's | agreement | calls per region | chance calls per Mb | CPU / TRF's |")
    print("|---|---:|---:|---:|---:|---:|---:|")
    for label, options in RUNS:
        ours, cpu = our_calls(batch, genome, options, work)
        chance, _ = our_calls(batch, shuffled, options, work)
        m = measures(ours, trf)
        print(f"| {label} | {m['calls']} | {m['recall']:.1f}% | {m['agreement']:.1f}% | {m['per_region']:.2f} | "
              f"{len(chance) / (bases / 1e6):.1f} | {cpu / max(trf_cpu, 1e-9):.1f} |", flush=True)


if __name__ == "__main__":
    main()
