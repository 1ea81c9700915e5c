#!/usr/bin/env bash
# The Debian package as a user gets it: unpacked into a scratch folder, its
# programs run from another directory (the device table found through the
# install layout), its manual pages rendered, its desktop entry, AppStream
# metadata and the package itself validated.
#   scripts/package_check.sh build/vantlebld_<version>_amd64.deb
set -euo pipefail
deb=$(realpath "$1")
version=$(dpkg-deb -f "$deb" Version)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
root=$scratch/root
dpkg-deb -x "$deb" "$root"
mkdir "$scratch/elsewhere"
cd "$scratch/elsewhere"

passed=0
failed=0
check() {
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    echo "FAILED: $what" >&2
    failed=$((failed + 1))
  fi
}

cli=$root/usr/bin/vantlebld-cli
table=$root/usr/share/vantlebld/piccodes.ini
# The table comes from ../share/vantlebld beside the program: with it moved
# away the same call finds none.
check "devices lists the table" bash -c "'$cli' devices | grep -q '^\$41  PIC18F252\$'"
mv "$table" "$table.away"
check "devices without the table finds none" bash -c "! '$cli' devices 2>/dev/null | grep -q PIC18F252"
mv "$table.away" "$table"
check "--version" bash -c "'$cli' --version | grep -qx 'vantlebld-cli $version.*'"
for page in "$root"/usr/share/man/man1/*.1.gz; do
  check "man page $(basename "$page") renders without warnings" bash -c \
    "LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l '$page' 2>&1 >/dev/null | (! grep .)"
done
check "desktop entry" desktop-file-validate "$root/usr/share/applications/vantlebld.desktop"
check "AppStream metadata" appstreamcli validate --no-net \
  "$root/usr/share/metainfo/org.vantlebld.VantleBld.metainfo.xml"
check "lintian" lintian --fail-on error --tag-display-limit 0 "$deb"
echo "package: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
