#!/usr/bin/env bash
# cmake --install puts the face, the libraries and rivulon.pc in a prefix;
# the example builds there with pkg-config alone and prints what the build's own does.
set -euo pipefail
build=$1 source=$2 built_example=$3
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" > /dev/null
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig:$prefix/lib64/pkgconfig:${PKG_CONFIG_PATH:-}"
[ "$(cd "$prefix/include" && find . -name '*.h' | sort | tr '\n' ' ')" = "./rivulon/executor.h ./rivulon/genome.h ./rivulon/rivulon.h " ] ||
  { echo "headers other than the public ones installed"; exit 1; }
# shellcheck disable=SC2046
g++ -O1 -o "$prefix/find_repeats" "$source/examples/find_repeats.cpp" $(pkg-config --cflags --libs rivulon)
fa="$source/tests/data/human_beta_globin_HUMHBB.fa"
cmp <("$prefix/find_repeats" "$fa" 3) <("$built_example" "$fa" 3)
echo "installed library: the example builds with pkg-config and prints the same rows"
