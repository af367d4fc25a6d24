from os import PathLike
from typing import Any, Iterable, Iterator, Literal, Sequence, Union

import numpy

__version__: str
COLUMNS: tuple[str, ...]

class Repeat:
    """One repeat: every column of rivulon-batch's TSV (positions 1-based, inclusive)."""
    seqid: str
    start: int
    end: int
    motif_length: int
    units: float
    units_text: str
    value: float  # pattern_score (definition 3 and adjacent-copy calls) or similarity (definitions 1, 2)
    value_text: str
    definition: int  # 1, 2, 3; 0 for a call of the adjacent-copy search
    motif: str
    length: int
    period: int
    copies: float
    consensus: str
    percent_matches: int
    percent_indels: int
    consensus_score: int
    A: int
    C: int
    G: int
    T: int
    entropy: float
    canonical_motif: str

def find_repeats(
    seq: Union[str, bytes, bytearray, memoryview],
    definition: int = 3,
    min_score: int = 50,
    level: int | None = None,
    max_motif: int = 500,
    match: int = 2,
    mismatch: int = 7,
    gap: int = 7,
    terminal_gap: int = 3,
    overlaps: Literal["best", "all"] = "best",
    adjacent_copies: Union[bool, Literal["yes", "no"]] = True,
    min_copies: float = 0,
    min_length: int = 0,
    min_identity: int = 0,
    min_consensus_score: int = 0,
    keep_case: bool = False,
    threads: int | None = None,
) -> list[Repeat]: ...

def scan(
    path: Union[str, bytes, PathLike[str]],
    threads: int | None = None,
    region: Union[str, bytes, Sequence[Union[str, bytes]], None] = None,
    **options: Any,
) -> Iterator[tuple[str, list[Repeat]]]: ...

def to_dataframe(repeats: Iterable[Union[Repeat, tuple[str, list[Repeat]]]], definition: int | None = None) -> Any: ...
def to_records(repeats: Iterable[Union[Repeat, tuple[str, list[Repeat]]]], definition: int | None = None) -> numpy.ndarray: ...
