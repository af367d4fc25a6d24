"""The Python package against rivulon-batch: the same rows, the same option
messages, and the promises of a library call (threads, the GIL, Ctrl-C)."""
import _thread
import gzip
import os
import subprocess
import sys
import threading
import time

import pytest

import rivulon

BATCH = os.environ.get("RIVULON_BATCH", "build/release/rivulon-batch")
GLOBIN = "tests/data/human_beta_globin_HUMHBB.fa"
BAND = "tests/data/band.fa"


def bases_of(path):
    with open(path) as f:
        return "".join(line.strip() for line in f if not line.startswith(">"))


@pytest.fixture(scope="module")
def genome(tmp_path_factory):
    """Three records: the globin region with soft-masked and N stretches, a band, a tiny one."""
    globin, band = bases_of(GLOBIN), bases_of(BAND)
    path = tmp_path_factory.mktemp("genome") / "genome.fa"
    path.write_text(f">globin region\n{globin[:20000]}{globin[20000:26000].lower()}NNNNN{globin[26000:]}\n"
                    f">band\n{band}\n>tiny\nAC\n")
    return path


def batch(*args):
    run = subprocess.run([BATCH, "--quiet", *args], capture_output=True, text=True)
    return run


def tsv_rows(text):
    return [line.split("\t") for line in text.splitlines() if line and not line.startswith(("#", "seqid\t"))]


def as_tsv(r):
    """A Repeat written as rivulon-batch writes its TSV row."""
    return [r.seqid, str(r.start), str(r.end), str(r.motif_length), r.units_text, r.value_text, str(r.definition),
            r.motif, str(r.length), str(r.period), f"{r.copies:.1f}", r.consensus or ".", str(r.percent_matches),
            str(r.percent_indels), str(r.consensus_score), str(r.A), str(r.C), str(r.G), str(r.T),
            f"{r.entropy:.2f}", r.canonical_motif or "."]


CASES = [
    ({}, []),
    ({"definition": 1, "max_motif": 60}, ["--definition", "1", "--max-motif", "60"]),
    ({"definition": 2, "max_motif": 60, "level": 70, "overlaps": "all"},
     ["--definition", "2", "--max-motif", "60", "--level", "70", "--overlaps", "all"]),
    ({"min_score": 40, "adjacent_copies": False, "min_copies": 2.5, "keep_case": True},
     ["--min-score", "40", "--adjacent-copies", "no", "--min-copies", "2.5", "--keep-case"]),
]


@pytest.mark.parametrize("options,args", CASES)
def test_rows_equal_the_batch_programs(genome, options, args):
    run = batch(*args, str(genome))
    assert run.returncode == 0, run.stderr
    expected = tsv_rows(run.stdout)
    scanned = list(rivulon.scan(genome, threads=2, **options))
    assert [name for name, _ in scanned] == ["globin", "band", "tiny"]
    got = [as_tsv(r) for _, rows in scanned for r in rows]
    assert got == expected and len(got) > 3
    # One sequence alone gives its record's rows, without a seqid.
    with open(genome) as f:
        text = f.read().split(">")[1].split("\n", 1)[1].replace("\n", "")
    alone = rivulon.find_repeats(text, threads=1, **options)
    assert [as_tsv(r)[1:] for r in alone] == [row[1:] for row in expected if row[0] == "globin"]


def test_scan_reads_gzip_and_regions_and_threads_change_nothing(genome, tmp_path):
    packed = tmp_path / "genome.fa.gz"
    packed.write_bytes(gzip.compress(genome.read_bytes()))
    plain = [(n, [as_tsv(r) for r in rows]) for n, rows in rivulon.scan(genome, threads=1)]
    assert [(n, [as_tsv(r) for r in rows]) for n, rows in rivulon.scan(packed, threads=3)] == plain
    subprocess.run(["samtools", "faidx", str(genome)], check=True)
    region = [as_tsv(r) for _, rows in rivulon.scan(genome, region="globin:8000-10000") for r in rows]
    expected = tsv_rows(batch("--region", "globin:8000-10000", str(genome)).stdout)
    assert region == expected and region and all(8000 <= int(row[1]) for row in region)


OPTION_ERRORS = [
    ({"match": "abc"}, ["--match", "abc"]),
    ({"definition": 0}, ["--definition", "0"]),
    ({"max_motif": 501}, ["--max-motif", "501"]),
    ({"min_score": 10}, ["--min-score", "10"]),
    ({"level": 90}, ["--level", "90"]),
    ({"definition": 1, "min_score": 60}, ["--definition", "1", "--min-score", "60"]),
    ({"definition": 1, "level": 300}, ["--definition", "1", "--level", "300"]),
    ({"overlaps": "some"}, ["--overlaps", "some"]),
    ({"adjacent_copies": "maybe"}, ["--adjacent-copies", "maybe"]),
    ({"min_copies": -1}, ["--min-copies", "-1"]),
    ({"min_identity": 101}, ["--min-identity", "101"]),
    ({"threads": 0}, ["--threads", "0"]),
]


@pytest.mark.parametrize("options,args", OPTION_ERRORS)
def test_bad_options_raise_the_batch_programs_message(options, args):
    run = batch(*args, GLOBIN)
    assert run.returncode == 2
    message = run.stderr.strip().removeprefix("rivulon-batch: ")
    with pytest.raises(ValueError) as raised:
        rivulon.find_repeats("ACGT" * 10, **options)
    assert str(raised.value) == message
    with pytest.raises(ValueError):
        next(rivulon.scan(GLOBIN, **options))


def test_numpy_numbers_and_odd_names(tmp_path):
    import numpy
    seq = bases_of(GLOBIN)[8000:10000]
    plain = [as_tsv(r) for r in rivulon.find_repeats(seq, definition=3, min_copies=2.5)]
    given = rivulon.find_repeats(seq, definition=numpy.int32(3), match=numpy.int64(2), min_copies=numpy.float32(2.5))
    assert [as_tsv(r) for r in given] == plain and plain
    with pytest.raises(ValueError):
        rivulon.find_repeats(seq, keep_case="no")
    # A name that is no UTF-8 comes back as os.fsdecode gives it, and the scan goes on.
    odd = tmp_path / "odd.fa"
    odd.write_bytes(b">\xe9t\xe9 latin-1\n" + b"CA" * 20 + b"\n>next\n" + b"CAG" * 12 + b"\n")
    names = [name for name, rows in rivulon.scan(odd) if rows]
    assert names == [os.fsdecode(b"\xe9t\xe9"), "next"]


def test_files_that_cannot_be_read(tmp_path):
    with pytest.raises(OSError):
        next(rivulon.scan(tmp_path / "missing.fa"))
    twice = tmp_path / "twice.fa"
    twice.write_text(">a\nACGTACGT\n>b\nACGT\n>a again\nACGTAC\n")
    run = batch(str(twice))
    with pytest.raises(ValueError) as raised:
        list(rivulon.scan(twice))
    assert str(raised.value) == run.stderr.strip().removeprefix("rivulon-batch: ")


def test_tables_have_the_tsv_columns(genome):
    header = [line for line in batch(str(genome)).stdout.splitlines() if line.startswith("seqid\t")][0].split("\t")
    found = list(rivulon.scan(genome))
    frame = rivulon.to_dataframe(found)
    assert list(frame.columns) == header
    assert len(frame) == sum(len(rows) for _, rows in found)
    records = rivulon.to_records(found)
    assert list(records.dtype.names) == header and records["end"].sum() == frame["end"].sum()
    # The value column follows the definition, also with no rows; rows of both kinds are refused.
    similar = list(rivulon.scan(genome, definition=1, max_motif=30))
    assert "similarity" in rivulon.to_dataframe([], definition=1).columns
    assert "similarity" in rivulon.to_dataframe(similar).columns
    with pytest.raises(ValueError):
        rivulon.to_dataframe(found + similar)


def test_out_of_memory_is_memory_error():
    # A 20 Mb sequence with 120 MB of address space left: MemoryError, no crash.
    program = """
import resource, rivulon
seq = "ACGT" * 5_000_000
with open("/proc/self/status") as f:
    size = [int(line.split()[1]) for line in f if line.startswith("VmSize")][0] * 1024
resource.setrlimit(resource.RLIMIT_AS, (size + 120 * 2**20, resource.RLIM_INFINITY))
try:
    rivulon.find_repeats(seq, threads=1)
except MemoryError:
    print("MemoryError")
"""
    run = subprocess.run([sys.executable, "-c", program], capture_output=True, text=True, timeout=120)
    assert run.stdout.strip() == "MemoryError", run.stderr


def long_sequence():
    return bases_of(GLOBIN) * 6  # about 440 kb: a few seconds of work


def test_gil_is_released_and_ctrl_c_stops_the_call():
    ticks = []
    stop = threading.Event()

    def count():
        while not stop.is_set():
            ticks.append(1)
            time.sleep(0.01)

    counter = threading.Thread(target=count)
    started = time.monotonic()
    counter.start()
    rivulon.find_repeats(long_sequence(), threads=1, max_motif=200)
    took = time.monotonic() - started
    stop.set()
    counter.join()
    assert took > 0.3
    assert len(ticks) > 0.5 * took / 0.01  # the other thread ran all along

    timer = threading.Timer(0.2, _thread.interrupt_main)
    timer.start()
    started = time.monotonic()
    with pytest.raises(KeyboardInterrupt):
        rivulon.find_repeats(long_sequence(), threads=1)
    assert time.monotonic() - started < took
    timer.join()
