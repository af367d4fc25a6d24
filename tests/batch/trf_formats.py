#!/usr/bin/env python3
"""rivulon-batch's --format trf-dat and trf-ngs, read as TRF's own layouts are
described: a .dat has a "Sequence:" and a "Parameters:" line per sequence,
then a line per repeat of fifteen fields (start end period copies
consensus_size percent_matches percent_indels score A C G T entropy consensus
sequence); -ngs has "@header" lines and the same fields plus the left and
right flanks (at most 50 letters, "." when there are none). Every line must
read so, the fields must agree with the record, and on the beta-globin record
the rows at the bounds TRF reports must equal TRF's own in every field but,
where two letters tie in the copies, the consensus.

Usage: trf_formats.py RIVULON_BATCH SOURCE_DIR
"""
import subprocess
import sys

batch, source = sys.argv[1], sys.argv[2]
fasta = source + "/tests/data/human_beta_globin_HUMHBB.fa"
record = "".join(line.strip() for line in open(fasta) if not line.startswith(">")).upper()


def fields_of(line, count):
    f = line.split(" ")
    assert len(f) == count, f"{count} fields expected: {line!r}"
    start, end, period, copies, size, matches, indels, score = (int(f[0]), int(f[1]), int(f[2]), float(f[3]),
                                                               int(f[4]), int(f[5]), int(f[6]), int(f[7]))
    composition = [int(x) for x in f[8:12]]
    entropy, consensus, sequence = float(f[12]), f[13], f[14]
    assert 1 <= start <= end <= len(record), line
    assert sequence == record[start - 1:end], f"the sequence is not the record's: {line!r}"
    assert size == len(consensus) and period >= 1 and copies > 0, line
    assert 0 <= matches <= 100 and 0 <= indels <= 100 and score > 0, line
    assert 96 <= sum(composition) <= 100 and 0 <= entropy <= 2, line
    if count == 17:
        left, right = f[15], f[16]
        assert left == (record[max(0, start - 51):start - 1] or "."), line
        assert right == (record[end:end + 50] or "."), line
    return f


def run(fmt):
    out = subprocess.run([batch, "-q", "--format", fmt, fasta], capture_output=True, text=True, check=True).stdout
    return out.splitlines()


dat = run("trf-dat")
assert dat[0].startswith("Tandem repeats found by rivulon-batch"), dat[0]
sequences = [line for line in dat if line.startswith("Sequence: ")]
assert sequences == ["Sequence: U01317.1 Human beta globin region on chromosome 11."], sequences
assert sum(line.startswith("Parameters: ") for line in dat) == 1
dat_rows = [fields_of(line, 15) for line in dat if line[:1].isdigit()]

ngs = run("trf-ngs")
assert ngs[0] == "@U01317.1 Human beta globin region on chromosome 11.", ngs[0]
ngs_rows = [fields_of(line, 17) for line in ngs[1:]]
assert [r[:15] for r in ngs_rows] == dat_rows, "the two layouts hold different repeats"

# The TSV's --flanks columns hold the same letters as the -ngs layout.
tsv = subprocess.run([batch, "-q", "--flanks", "50", fasta], capture_output=True, text=True, check=True).stdout
tsv_rows = [line.split("\t") for line in tsv.splitlines() if not line.startswith("#")]
assert tsv_rows[0][-3:] == ["sequence", "left_flank", "right_flank"], tsv_rows[0]
assert [r[-3:] for r in tsv_rows[1:]] == [r[14:17] for r in ngs_rows], "--flanks differs from the -ngs flanks"

trf = {}
for line in open(source + "/tests/data/human_beta_globin_HUMHBB.trf.ngs"):
    if not line.startswith("@"):
        f = line.split()
        trf[(f[0], f[1])] = f
shared = [(r, trf[(r[0], r[1])]) for r in ngs_rows if (r[0], r[1]) in trf]
exact = sum(mine == theirs for mine, theirs in shared)
but_consensus = sum(mine[:13] + mine[14:] == theirs[:13] + theirs[14:] for mine, theirs in shared)
print(f"{len(ngs_rows)} repeats in both layouts; {len(shared)} at TRF's bounds, {exact} equal to TRF's in every field, "
      f"{but_consensus} in every field but the consensus")
assert len(shared) >= 9 and but_consensus == len(shared) and exact >= len(shared) - 1
