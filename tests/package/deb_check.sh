#!/usr/bin/env bash
# make deb: the Debian package installs into a scratch root (its own dpkg
# database) with both programs and their manual pages, the programs run from
# there, and removing it leaves nothing behind.
# Usage: tests/package/deb_check.sh PACKAGE.deb
set -euo pipefail
deb=$(realpath "$1")
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
# The libraries it depends on are this machine's, not the scratch root's.
dpkg --root="$root" --force-depends --force-not-root --force-script-chrootless --log=/dev/null -i "$deb" \
  > "$root/dpkg.log" 2>&1 || { cat "$root/dpkg.log"; echo "the package does not install"; exit 1; }
for file in usr/bin/rivulon usr/bin/rivulon-batch usr/share/man/man1/rivulon.1 usr/share/man/man1/rivulon-batch.1; do
  [ -f "$root/$file" ] || { echo "the package does not install /$file"; exit 1; }
done
dpkg-deb -f "$deb" Depends | grep -q 'libhts3' || { echo "the package does not depend on htslib"; exit 1; }
version=$("$root/usr/bin/rivulon-batch" --version)
[ -n "$version" ] || { echo "the installed rivulon-batch does not run"; exit 1; }
printf '>s\nACGTACGTACGTACGTACGTACGTACGTACGTACGTACGTAAAAACCCCCGGGGG\n' > "$root/s.fa"
"$root/usr/bin/rivulon-batch" -q --max-motif 10 "$root/s.fa" | grep -q $'^s\t' ||
  { echo "the installed rivulon-batch finds nothing"; exit 1; }
man -l "$root/usr/share/man/man1/rivulon-batch.1" 2>/dev/null | grep -q -- '--report-dir' ||
  { echo "the installed manual page does not read"; exit 1; }
dpkg --root="$root" --force-not-root --force-script-chrootless --log=/dev/null -r rivulon > /dev/null
left=0
[ ! -d "$root/usr" ] || left=$(find "$root/usr" -type f | wc -l)
[ "$left" = 0 ] || { echo "removing the package left $left file(s)"; exit 1; }
echo "$(basename "$deb"): installs both programs and their manual pages ($version), runs, and removes cleanly"
