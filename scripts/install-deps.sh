#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
# Build and tests: the compilers and test libraries, htslib (sequence files of
# the batch program), bedtools and genometools (the tests validate the batch
# program's BED and GFF3 with them), Snakemake, samtools and bgzip (tabix; the workflow),
# Node.js and HTML Tidy (the tests check the summary page's script and HTML),
# pybind11, pytest, NumPy and pandas for Debian's Python (the Python module
# and its tests), python3-venv and python3-pip (its `pip install`).
# --bench adds what the benchmarks against the field's tools need (TRF and its
# examples, perf).
set -euo pipefail
needed=(cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev clang valgrind
        libhts-dev bedtools genometools snakemake samtools tabix nodejs tidy
        pybind11-dev python3-pybind11 python3-dev python3-pytest python3-numpy python3-pandas python3-venv python3-pip python3-setuptools python3-wheel)
# --build: only what building the programs needs (make demo, make install,
# make deb).
if [ "${1:-}" = "--build" ]; then
  needed=(cmake g++ make pkg-config libhts-dev dpkg-dev)
fi
if [ "${1:-}" = "--bench" ]; then
  needed=(trf trf-examples linux-perf time)
fi
# --cluster: a one-node SLURM cluster for the workflow's cluster test.
if [ "${1:-}" = "--cluster" ]; then
  needed=(slurm-wlm munge)
fi
# --browser: what the browser test drives (Chromium, its WebDriver, Selenium).
if [ "${1:-}" = "--browser" ]; then
  needed=(chromium chromium-driver python3-selenium)
fi
missing=()
for pkg in "${needed[@]}"; do
  dpkg -s "$pkg" > /dev/null 2>&1 || missing+=("$pkg")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
