#!/usr/bin/env bash
# The Python package as a user installs it: a virtual environment that sees
# Debian's packages, `pip install --no-build-isolation .` from a copy of the
# repository (no network), then the README's example run as written.
# Usage: tests/python/pip_check.sh   (from the repository's root)
set -euo pipefail
root=$(pwd)
work=$(realpath -m build/pip-check)
rm -rf "$work"
mkdir -p "$work"
# The repository's files (those git knows), so that the build leaves nothing in it.
mkdir -p "$work/repo"
git -C "$root" ls-files -z | tar -C "$root" --null -T - -cf - | tar -xf - -C "$work/repo"
/usr/bin/python3 -m venv --system-site-packages "$work/venv"
(cd "$work/repo" && "$work/venv/bin/pip" install --no-build-isolation --no-index -q . > "$work/pip.log" 2>&1) ||
  { tail -n 40 "$work/pip.log"; echo "pip install failed"; exit 1; }
# The example between the README's markers, run from the repository's root.
sed -n '/<!-- python-example -->/,/<!-- end -->/p' README.md | sed '1,2d;$d' | sed '$d' > "$work/example.py"
[ -s "$work/example.py" ] || { echo "no Python example in the README"; exit 1; }
(cd "$work/repo" && "$work/venv/bin/python" "$work/example.py") > "$work/example.out" ||
  { echo "the README's Python example failed"; exit 1; }
cat "$work/example.out"
grep -q "^U01317.1 [0-9]* repeats" "$work/example.out" || { echo "the example printed no repeats"; exit 1; }
# The installed package is the venv's, not the build tree's.
"$work/venv/bin/python" -c "import rivulon, sys; assert rivulon.__file__.startswith('$work/venv'), rivulon.__file__"
echo "pip install and the README's example: ok"
