#!/usr/bin/env bash
# The release command: builds the 64- and 32-bit Zorvane.exe and zorvane-ctl.exe, strips them
# and packs each pair with the read-me for Windows users into
# dist/Zorvane-<version>-win64.zip and -win32.zip, then
# writes dist/SHA256SUMS. The version is the version resource's (res/Zorvane.rc). The bytes
# depend only on the commit: no paths or link time in the executables, and every zip entry
# is dated at the commit's time.
# --check: then builds the same commit from two fresh clones in other folders, one after
# the other, and fails unless both give byte-identical dist/ files.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
check=0
case "${1:-}" in
  "") ;;
  --check) check=1 ;;
  *) echo "usage: $0 [--check]" >&2; exit 2 ;;
esac
bash scripts/setup.sh

version=$(bash scripts/version.sh)
commit=$(git rev-parse HEAD)
commit_time=$(git log -1 --format=%ct)
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "release: the working tree has changes that commit ${commit:0:12} does not"
fi

rm -rf dist
mkdir -p dist
for arch in win64 win32; do
  case $arch in
    win64) triple=x86_64-w64-mingw32 ;;
    win32) triple=i686-w64-mingw32 ;;
  esac
  build=build/release/$arch
  stage=build/release/$arch-stage
  echo "== build $arch"
  cmake --preset "$arch" -B "$build" >/dev/null
  cmake --build "$build" --target Zorvane zorvane-ctl
  rm -rf "$stage" && mkdir -p "$stage"
  # strip stamps the time unless told one: the linker's none (0).
  SOURCE_DATE_EPOCH=0 "$triple-strip" -o "$stage/Zorvane.exe" "$build/app/Zorvane.exe"
  SOURCE_DATE_EPOCH=0 "$triple-strip" -o "$stage/zorvane-ctl.exe" "$build/ctl/zorvane-ctl.exe"
  python3 tests/release/pe_check.py --forbid "$root" --windowed "$stage/Zorvane.exe" \
    "$stage/zorvane-ctl.exe"
  name=Zorvane-$version-$arch
  python3 scripts/pack_zip.py "dist/$name.zip" "$commit_time" \
    "$name/Zorvane.exe=$stage/Zorvane.exe" "$name/zorvane-ctl.exe=$stage/zorvane-ctl.exe" \
    "$name/README.txt=docs/README-windows.txt"
  echo "$name.zip: $(stat -c %s "dist/$name.zip") bytes; Zorvane.exe" \
       "$(stat -c %s "$build/app/Zorvane.exe") bytes, stripped $(stat -c %s "$stage/Zorvane.exe")"
done
(cd dist && LC_ALL=C sha256sum Zorvane-*.zip >SHA256SUMS && cat SHA256SUMS)

[ "$check" -eq 1 ] || exit 0
work=$(mktemp -d "${TMPDIR:-/tmp}/zorvane-release-check.XXXXXX")
trap 'rm -rf "$work"' EXIT
# Another folder, name and time zone each time; the second build starts minutes later.
for place in "one/Zorvane Asia/Shanghai" "two/elsewhere/zv-copy America/New_York"; do
  read -r clone zone <<<"$place"
  clone=$work/$clone
  echo "== release check: commit ${commit:0:12} cloned into $clone"
  git clone -q --no-checkout "$root" "$clone"
  git -C "$clone" checkout -q --detach "$commit"
  TZ=$zone bash "$clone/scripts/release.sh" >"$clone.log" 2>&1 ||
    { echo "release check: the build in $clone failed; its log:" >&2; cat "$clone.log" >&2; exit 1; }
  if ! diff -r dist "$clone/dist"; then
    echo "release check: FAILED, $clone/dist differs from dist" >&2
    exit 1
  fi
  echo "byte-identical: $(cd "$clone/dist" && echo *)"
done
echo "release check: passed"
