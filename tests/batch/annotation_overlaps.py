#!/usr/bin/env python3
"""--annotation names the features each repeat overlaps, as bedtools
intersect finds them: the beta-globin record's GenBank features (gene, mRNA,
CDS, exon; joins as one feature line per part) as GFF3 and as BED, against
the repeats of every definition.

Usage: annotation_overlaps.py RIVULON_BATCH SOURCE_DIR [GENBANK FASTA SEQID]
(the developers check other records with the last three)
"""
import os
import re
import subprocess
import sys
import tempfile

batch, source = sys.argv[1], sys.argv[2]
genbank = source + "/tests/data/human_beta_globin_HUMHBB.gb"
fasta = source + "/tests/data/human_beta_globin_HUMHBB.fa"
seqid = "U01317.1"
if len(sys.argv) == 6:
    genbank, fasta, seqid = sys.argv[3:6]


def genbank_features(path):
    """(kind, name, [(start, end)...]) of gene, mRNA, CDS and exon entries, 1-based inclusive."""
    features, current = [], None
    in_table = False
    for line in open(path):
        if line.startswith("FEATURES"):
            in_table = True
            continue
        if in_table and line[:1].strip():
            break
        if not in_table:
            continue
        kind, rest = line[5:21].strip(), line[21:].strip()
        if kind:
            current = [kind, None, rest]
            features.append(current)
        elif current is not None and not rest.startswith("/") and current[1] is None and current[2].endswith(","):
            current[2] += rest
        elif current is not None and current[1] is None:
            m = re.match(r'/(gene|locus_tag)="([^"]+)"', rest)
            if m:
                current[1] = m.group(2)
    out = []
    for number, (kind, name, location) in enumerate(features):
        if kind not in ("gene", "mRNA", "CDS", "exon"):
            continue
        parts = [(int(a), int(b)) for a, b in re.findall(r"<?(\d+)\.\.>?(\d+)", location)]
        out.append((kind, f"{name or 'unnamed'}_{kind}_{number}", parts))
    return out


features = genbank_features(genbank)
assert len(features) > 20, len(features)
work = tempfile.mkdtemp()
gff, bed = os.path.join(work, "f.gff3"), os.path.join(work, "f.bed")
with open(gff, "w") as g, open(bed, "w") as b:
    g.write("##gff-version 3\n")
    for kind, name, parts in features:
        for start, end in parts:
            g.write(f"{seqid}\tGenBank\t{kind}\t{start}\t{end}\t.\t+\t.\tID={name}_{start};Name={name}\n")
            b.write(f"{seqid}\t{start - 1}\t{end}\t{name}\n")

checked = 0
for annotation in (gff, bed):
    for definition in ("1", "3"):
        tsv, repeats_bed = os.path.join(work, "r.tsv"), os.path.join(work, "r.bed")
        subprocess.run([batch, "-q", "--definition", definition, "--max-motif", "100", "--annotation", annotation,
                        "-o", tsv, "--bed-out", repeats_bed, fasta], check=True)
        theirs = {}
        out = subprocess.run(["bedtools", "intersect", "-a", repeats_bed, "-b", annotation, "-wa", "-wb"],
                             capture_output=True, text=True, check=True).stdout
        for line in out.splitlines():
            f = line.split("\t")
            name = re.search(r"Name=([^;]+)", f[-1]).group(1) if annotation == gff else f[-1]
            theirs.setdefault((int(f[1]), int(f[2])), set()).add(name)
        rows = [l.rstrip("\n").split("\t") for l in open(tsv) if not l.startswith("#")]
        assert rows[0][-1] == "annotation", rows[0]
        for r in rows[1:]:
            mine = set() if r[-1] == "." else set(r[-1].split(","))
            expected = theirs.get((int(r[1]) - 1, int(r[2])), set())
            assert mine == expected, f"{r[:3]}: {sorted(mine)} against bedtools' {sorted(expected)}"
            checked += 1
        named = sum(r[-1] != "." for r in rows[1:])
        print(f"{os.path.basename(annotation)}, definition {definition}: {len(rows) - 1} repeats, {named} in features, "
              "as bedtools intersect finds them")
assert checked > 100
