#!/usr/bin/python3
"""Writes a one-record genome of N planted tandem arrays (motifs of 1 to 60
bases, 3 to 12 copies, a few point mutations) between random spacers, the
same for the same seed: a record with tens of thousands of repeats for the
alignments view and the summary page.

Usage: make_genome.py OUT.fa N [SEED]
"""
import random
import sys


def main():
    out, count = sys.argv[1], int(sys.argv[2])
    rng = random.Random(int(sys.argv[3]) if len(sys.argv) > 3 else 25)
    parts = []
    for _ in range(count):
        period = rng.choice([1, 2, 2, 3, 4, 5, 6, rng.randint(7, 60)])
        motif = "".join(rng.choice("ACGT") for _ in range(period))
        array = list(motif * max(3, min(12, 60 // period + rng.randint(0, 3))))
        for _ in range(len(array) // 25):
            array[rng.randrange(len(array))] = rng.choice("ACGT")
        parts.append("".join(rng.choice("ACGT") for _ in range(rng.randint(80, 160))))
        parts.append("".join(array))
    bases = "".join(parts)
    with open(out, "w") as f:
        f.write(">planted many planted arrays\n")
        for i in range(0, len(bases), 60):
            f.write(bases[i:i + 60] + "\n")


main()
