#!/usr/bin/env bash
# examples/find_repeats.cpp prints, for every definition, the first six
# columns of the batch program's TSV (records without N runs).
set -euo pipefail
example=$1 batch=$2 source=$3
for file in tests/data/human_beta_globin_HUMHBB.fa examples/phage_lambda_NC_001416.fa; do
  for definition in 1 2 3; do
    expected=$("$batch" -q --overlaps all --definition "$definition" "$source/$file" | grep -v "^#" | tail -n +2 | cut -f 1-6)
    got=$("$example" "$source/$file" "$definition")
    [ "$got" = "$expected" ] || { echo "$file, definition $definition: the example differs"; diff <(echo "$got") <(echo "$expected") | head; exit 1; }
    echo "$file, definition $definition: $(echo "$got" | grep -c . || true) rows as the batch program's"
  done
done
