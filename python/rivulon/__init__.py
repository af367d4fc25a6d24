"""Approximate tandem repeats in DNA, found by Rivulon's own engine.

    import rivulon
    repeats = rivulon.find_repeats("ACGT" * 5 + "CAGCAGCAGCAGCAGCAGCAGCAGCAG" + "TTGA" * 3)
    for name, found in rivulon.scan("genome.fa.gz", threads=4):
        frame = rivulon.to_dataframe(found)

The rows are those rivulon-batch writes with the same options: the same
repeats, in the same order, with the same statistics. Positions are 1-based
and inclusive, as in its TSV.
"""

import numbers as _numbers
import operator as _operator
import os as _os
import warnings as _warnings

from . import _rivulon
from ._rivulon import Repeat

__all__ = ["find_repeats", "scan", "to_dataframe", "to_records", "Repeat", "COLUMNS", "__version__"]
__version__ = _rivulon.version()

# The columns of rivulon-batch's TSV after seqid, in order, as the attribute
# of a Repeat that holds each ("value" holds pattern_score or similarity).
COLUMNS = ("start", "end", "motif_length", "units", "value", "definition", "motif", "length", "period", "copies",
           "consensus", "percent_matches", "percent_indels", "consensus_score", "A", "C", "G", "T", "entropy",
           "canonical_motif")

_PARAMETERS = {option: (lo, hi, times_match) for option, lo, hi, times_match in _rivulon.parameters()}
_LONGEST_INT32 = 2147483647


def _as_whole(value):
    """A whole number (int, NumPy's integers, anything with __index__) as
    int; None for anything else (bool too, and floats even when whole)."""
    if isinstance(value, bool):
        return None
    try:
        return _operator.index(value)
    except TypeError:
        return None


def _whole(option, value, lo, hi):
    """`value` as int when it is a whole number from lo to hi; ValueError
    with the batch program's message otherwise."""
    number = _as_whole(value)
    if number is None or not lo <= number <= hi:
        raise ValueError(f"{option} must be a whole number from {lo} to {hi} (got '{value}')")
    return number


def _settings(definition=3, min_score=50, level=None, max_motif=500, match=2, mismatch=7, gap=7, terminal_gap=3,
              overlaps="best", adjacent_copies=True, min_copies=0, min_length=0, min_identity=0,
              min_consensus_score=0, keep_case=False, threads=None):
    given = {"--match": match, "--mismatch": mismatch, "--gap": gap, "--terminal-gap": terminal_gap,
             "--max-motif": max_motif, "--definition": definition, "--min-score": min_score}
    numbers = {}
    for option, value in given.items():
        lo, hi, _ = _PARAMETERS[option]
        numbers[option] = _whole(option, value, lo, hi)
    match, mismatch, gap, terminal_gap = (numbers[o] for o in ("--match", "--mismatch", "--gap", "--terminal-gap"))
    max_motif, definition, min_score = numbers["--max-motif"], numbers["--definition"], numbers["--min-score"]
    if level is not None and definition == 3:
        raise ValueError("--level applies to definitions 1 and 2; definition 3 takes --min-score")
    if definition != 3 and min_score != 50:
        raise ValueError("--min-score applies to definition 3; definitions 1 and 2 take --level")
    if level is not None:
        # the engine checks the range, which depends on match
        level = _as_whole(level)
        if level is None or not 0 <= level <= _LONGEST_INT32:
            raise ValueError(f"--level must be a whole number from 50 to 100 x match = {100 * match} (got '{level}')")
    if overlaps not in ("best", "all"):
        raise ValueError(f"--overlaps must be best or all (got '{overlaps}')")
    if not (isinstance(adjacent_copies, bool) or adjacent_copies in ("yes", "no")):
        raise ValueError(f"--adjacent-copies must be yes or no (got '{adjacent_copies}')")
    if (isinstance(min_copies, bool) or not isinstance(min_copies, _numbers.Real)
            or not 0 <= float(min_copies) <= 1e6):
        raise ValueError(f"--min-copies must be a number from 0 to 1000000 (got '{min_copies}')")
    min_identity = _whole("--min-identity", min_identity, 0, 100)
    min_length = _whole("--min-length", min_length, 0, _LONGEST_INT32)
    min_consensus_score = _whole("--min-consensus-score", min_consensus_score, 0, _LONGEST_INT32)
    if not isinstance(keep_case, bool):
        raise ValueError(f"keep_case must be True or False (got '{keep_case}')")
    if threads is not None:
        threads = _whole("--threads", threads, 1, 1024)
    return _rivulon.Settings(
        definition=definition, min_score=min_score, level=80 if level is None else level, max_motif=max_motif,
        match=match, mismatch=mismatch, gap=gap, terminal_gap=terminal_gap, one_per_locus=overlaps == "best",
        adjacent_copies=adjacent_copies is True or adjacent_copies == "yes", min_copies=float(min_copies),
        min_length=min_length, min_identity=min_identity, min_consensus_score=min_consensus_score, keep_case=keep_case,
        threads=0 if threads is None else threads)


def _warn_not_examined(stretches):
    for stretch in stretches:
        _warnings.warn(f"not examined: {stretch}", RuntimeWarning, stacklevel=3)


def find_repeats(seq, definition=3, min_score=50, level=None, max_motif=500, match=2, mismatch=7, gap=7,
                 terminal_gap=3, overlaps="best", adjacent_copies=True, min_copies=0, min_length=0, min_identity=0,
                 min_consensus_score=0, keep_case=False, threads=None):
    """The approximate tandem repeats of one sequence, as rivulon-batch finds them.

    seq: the bases, str or bytes. Letters are folded to upper case (unless
        keep_case), and the sequence is split at every letter that is not
        A, C, G or T (N runs, IUPAC codes); each stretch is examined alone.
    definition: what makes a repeat. 1: every adjacent pair of copies reaches
        the similarity level; 2: the adjacent pairs reach it on average;
        3 (default): the stretch aligns with a repeating pattern scoring at
        least min_score.
    min_score: definition 3's minimum score, 30..150 (default 50).
    level: definitions 1 and 2's similarity level, 50..100 x match (default 80).
    max_motif: longest motif, 1..500 (default 500; at most half a stretch).
    match, mismatch, gap, terminal_gap: the alignment's weights, 0..1,000,000;
        penalties as positive numbers (defaults 2, 7, 7, 3).
    overlaps: "best" (default): one call per locus, bounds where its consensus
        aligns; "all": every repeat the definition gives.
    adjacent_copies: with "best" and definition 3, also the search for adjacent
        copies that the screening leaves out (default True; "yes"/"no" too).
    min_copies, min_length, min_identity, min_consensus_score: keep only calls
        with at least this many copies, bases, percent matches of adjacent
        copies, and score against their consensus (default 0: all).
    keep_case: examine lower-case letters as other letters than upper case.
    threads: threads, 1..1024 (default: every hardware thread); the results
        never depend on it.

    Returns a list of Repeat, by start. Each has every column of the TSV:
    start, end (1-based, inclusive), motif_length, units (copies as the
    definition counts them) with units_text, value (pattern_score for
    definition 3 and the adjacent-copy calls, similarity per base for 1 and
    2) with value_text, definition (0: an adjacent-copy call), motif (the
    letters of the detector's motif), length, period (the consensus's
    length), copies, consensus ("" when none), percent_matches and
    percent_indels (of adjacent copies), consensus_score (the repeat against
    its consensus repeated, with these weights), A, C, G, T (percent of the
    bases), entropy (bits), canonical_motif; and seqid ("" here).

    Raises ValueError for an option out of its range (with rivulon-batch's
    message), MemoryError when memory runs out, KeyboardInterrupt on Ctrl-C
    (the work stops after the motif length or the call it is laying out; a
    call over a satellite array of hundreds of kb can take seconds). Whole
    numbers may be int or NumPy's integers. A stretch that cannot be examined
    is named in a RuntimeWarning. The GIL is released while the work runs.
    """
    settings = _settings(definition, min_score, level, max_motif, match, mismatch, gap, terminal_gap, overlaps,
                         adjacent_copies, min_copies, min_length, min_identity, min_consensus_score, keep_case,
                         threads)
    if isinstance(seq, str):
        seq = seq.encode("ascii", "replace")  # a letter beyond ASCII is no base: it splits the sequence
    elif not isinstance(seq, (bytes, bytearray, memoryview)):
        raise TypeError(f"seq must be str or bytes, not {type(seq).__name__}")
    rows, not_examined = _rivulon.find(bytes(seq), settings)
    _warn_not_examined(not_examined)
    return rows


def scan(path, threads=None, region=None, **options):
    """Yields (record_name, repeats) for every record of a FASTA file.

    path: a FASTA file, plain, gzip or bgzip, read through htslib as
        rivulon-batch reads it: every record in file order, each folded to
        upper case and split at the letters that are not bases.
    threads: threads, 1..1024 (default: every hardware thread); the stretches
        of a record, and definition 3's motif lengths, run on them. The rows
        never depend on it.
    region: None, or one region or a list of them ("chr", "chr:start-end",
        "{name:with:colons}"): only those are read, in the order given, from
        an indexed file (.fai, and .gzi for bgzip), positions still in their
        record's coordinates.
    options: those of find_repeats().

    The repeats of each record are those rivulon-batch writes for it, in its
    order, each with seqid set. Raises OSError when the file cannot be opened,
    ValueError for a bad option, a damaged file, a file with no record, or two
    records of one name (as rivulon-batch refuses them).
    """
    settings = _settings(threads=threads, **options)
    if isinstance(region, (str, bytes)):
        region = [region]
    regions = [_os.fsdecode(r) for r in (region or [])]
    path = _os.fsdecode(path)
    scanner = _rivulon.Scanner(path, regions, settings)  # OSError here, before the first record
    return _records(path, regions, scanner)


def _records(path, regions, scanner):
    if scanner.warning:
        _warnings.warn(scanner.warning, RuntimeWarning, stacklevel=3)
    first = {}
    while True:
        record = scanner.next()
        if record is None:
            if not first and not regions:
                raise ValueError(f"'{path}' holds no FASTA record")
            return
        name, rows, not_examined = record
        if not regions:
            number = len(first) + 1
            if not name:
                raise ValueError(f"record {number} has no name (no word right after the '>' of its header line)")
            if name in first:
                raise ValueError(f"records {first[name]} and {number} are both named '{name}'; "
                                 "give every record its own name")
            first[name] = number
        _warn_not_examined(not_examined)
        yield name, rows


def _rows(repeats):
    """Repeats from a list of Repeat, or from scan()'s (name, repeats) pairs."""
    for item in repeats:
        if isinstance(item, Repeat):
            yield item
        else:
            yield from item[1]


def _value_name(rows, definition):
    """The TSV's name of the value column: similarity for definitions 1 and 2,
    pattern_score for 3 (whose adjacent-copy calls have definition 0)."""
    if definition is not None:
        return "similarity" if definition in (1, 2) else "pattern_score"
    kinds = {r.definition in (1, 2) for r in rows}
    if len(kinds) > 1:
        raise ValueError("rows of definitions 1 or 2 and of definition 3 have different value columns; "
                         "make a table of each")
    return "similarity" if kinds == {True} else "pattern_score"


def _columns(r, scores):
    """A repeat's TSV columns after seqid; a score as the whole number it is."""
    return [int(r.value) if scores and c == "value" else getattr(r, c) for c in COLUMNS]


def to_dataframe(repeats, definition=None):
    """The repeats as a pandas DataFrame with rivulon-batch's TSV columns
    (seqid first; pattern_score as whole numbers, or similarity for
    definitions 1 and 2), or, without pandas, a list of dicts with those
    keys. `repeats` is a list of Repeat or what scan() yields. The value
    column is named after the rows' definition; give `definition` (the one
    they were found with) so that a table with no rows has the same columns."""
    rows = list(_rows(repeats))
    value = _value_name(rows, definition)
    names = ["seqid"] + [(value if c == "value" else c) for c in COLUMNS]
    records = [dict(zip(names, [r.seqid] + _columns(r, value == "pattern_score"))) for r in rows]
    try:
        import pandas
    except ImportError:
        return records
    return pandas.DataFrame.from_records(records, columns=names)


def to_records(repeats, definition=None):
    """The repeats as a NumPy structured array (one record per repeat, the
    TSV's columns as fields, named as to_dataframe() names them; the texts as
    Python objects): compact for large results and quick to filter."""
    import numpy
    rows = list(_rows(repeats))
    numbers = {"start": "i8", "end": "i8", "motif_length": "i4", "units": "f8", "value": "f8", "definition": "i4",
               "length": "i8", "period": "i8", "copies": "f8", "percent_matches": "i4", "percent_indels": "i4",
               "consensus_score": "i8", "A": "i4", "C": "i4", "G": "i4", "T": "i4", "entropy": "f8"}
    value = _value_name(rows, definition)
    if value == "pattern_score":
        numbers["value"] = "i8"
    dtype = [("seqid", "O")] + [((value if c == "value" else c), numbers.get(c, "O")) for c in COLUMNS]
    out = numpy.empty(len(rows), dtype=dtype)
    for k, r in enumerate(rows):
        out[k] = tuple([r.seqid] + _columns(r, value == "pattern_score"))
    return out

