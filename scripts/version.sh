#!/usr/bin/env bash
# Prints the version of Zorvane.exe as the releases name it (1.2.3.4): the FILEVERSION of
# res/Zorvane.rc. The release command names its zips with it; a test checks that the built
# executable carries the same.
set -euo pipefail
cd "$(dirname "$0")/.."
version=$(sed -nE 's/^ *FILEVERSION +([0-9]+) *, *([0-9]+) *, *([0-9]+) *, *([0-9]+) *$/\1.\2.\3.\4/p' res/Zorvane.rc)
[ -n "$version" ] || { echo "version: no FILEVERSION in res/Zorvane.rc" >&2; exit 1; }
echo "$version"
