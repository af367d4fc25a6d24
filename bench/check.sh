#!/usr/bin/env bash
# Byte-identity on real data: runs this checkout's optimised build and the
# build of another commit (REF) on every sequence of ../shared/data, each
# definition, with the alignments page, the text report and, where a GenBank
# record stands beside the sequence, its coding regions; compares the sha256
# of standard output, the exit status and every file each run leaves.
# Usage: bench/check.sh REF [DATA_DIR]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
ref=${1:?usage: bench/check.sh REF [DATA_DIR]}
data=$(realpath "${2:-$top/../shared/data}")
ref_sha=$(git -C "$top" rev-parse --short "$ref^{commit}")
head_sha=$(git -C "$top" rev-parse --short HEAD)
mkdir -p "$top/build/bench"

# Builds commit $1 (a worktree under build/ref) unless it is this checkout.
build_of() {
  if [ "$1" = "$head_sha" ] && [ -z "$(git -C "$top" status --porcelain -- ':!build')" ]; then
    echo "$top/build/release/rivulon"
    return
  fi
  local tree="$top/build/ref/$1"
  if [ ! -x "$tree/build/rivulon" ]; then
    rm -rf "$tree"
    git -C "$top" worktree prune
    git -C "$top" worktree add --detach "$tree" "$1" > /dev/null 2>&1
    cmake -S "$tree" -B "$tree/build" -DCMAKE_BUILD_TYPE=Release -DRIVULON_TESTS=OFF > /dev/null
    cmake --build "$tree/build" -j 2 --target rivulon > /dev/null
  fi
  echo "$tree/build/rivulon"
}

# Writes the sums of every run of executable $1 to file $2.
sums_of() {
  local exe=$1 out=$2 work
  work=$(mktemp -d)
  : > "$out"
  for fa in "$data"/*.fa; do
    name=$(basename "$fa" .fa)
    gb="${fa%.fa}.gb"
    for def in 1 2 3; do
      level=80; [ "$def" = 3 ] && level=50
      dir="$work/$name-$def"
      mkdir -p "$dir"
      args=("$fa"); extra=""
      if [ -f "$gb" ]; then args+=("$gb"); [ "$def" != 1 ] && extra="$gb\n"; fi
      status=0
      (cd "$dir" && printf "2\n7\n7\n3\n500\n$def\n$level\nY\nY\n$extra" |
        "$exe" "${args[@]}" > stdout 2> stderr) || status=$?
      echo "$status" > "$dir/status"
      (cd "$dir" && for f in *; do echo "$name def$def $f $(sha256sum < "$f" | cut -c1-64)"; done) >> "$out"
      rm -rf "$dir"
    done
  done
  rm -rf "$work"
}

ref_sums="$top/build/bench/check-$ref_sha.sha256"
[ -s "$ref_sums" ] || sums_of "$(build_of "$ref_sha")" "$ref_sums"
head_sums="$top/build/bench/check-$head_sha-worktree.sha256"
sums_of "$top/build/release/rivulon" "$head_sums"
if diff "$ref_sums" "$head_sums"; then
  echo "byte-identical to $ref_sha: $(wc -l < "$head_sums") outputs of $(ls "$data"/*.fa | wc -l) sequences x 3 definitions"
else
  echo "outputs differ from $ref_sha"
  exit 1
fi
