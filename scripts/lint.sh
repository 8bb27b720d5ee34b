#!/usr/bin/env bash
# Static analysis: clang-tidy (.clang-tidy) over the portable code with the native build's
# compile commands and over the Windows code with the cross build's, then cppcheck over
# both. Findings are fixed, or silenced at the place with the reason. Exits non-zero on any.
# Usage: scripts/lint.sh [FILE|FOLDER...]   (default: the program and its tests)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

folders=(protocol serial dialog app afx link scpi net ctl sim)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${folders[@]}" tests)

for preset in host win64; do
  [ -f "build/$preset/compile_commands.json" ] || cmake --preset "$preset" >/dev/null
done

# The translation units of one build that lie under the targets, one a line.
units() {
  python3 - "$1" "${targets[@]}" <<'PY'
import json, os, sys
root = os.getcwd()
wanted = [os.path.abspath(t) for t in sys.argv[2:]]
for entry in json.load(open(sys.argv[1])):
    path = os.path.abspath(os.path.join(entry["directory"], entry["file"]))
    rel = os.path.relpath(path, root)
    if rel.startswith(("build/", "..")):
        continue
    if any(path == w or path.startswith(w + os.sep) for w in wanted):
        print(rel)
PY
}

status=0
host_units=$(units build/host/compile_commands.json)
# The Windows build's own units: the portable ones are checked natively.
win_units=$(comm -13 <(sort <<<"$host_units") <(units build/win64/compile_commands.json | sort))

# The mingw sysroot's C and C++ headers; GCC's own intrinsics headers stay out (clang
# brings its own, and cannot read GCC's builtins).
sysroot_args=(--extra-arg=--target=x86_64-w64-mingw32)
while read -r dir; do
  case $dir in */include | */include-fixed) [[ $dir == */x86_64-w64-mingw32/include ]] || continue ;; esac
  sysroot_args+=(--extra-arg=-isystem"$dir")
done < <(x86_64-w64-mingw32-g++-posix -E -x c++ - -v </dev/null 2>&1 |
  sed -n '/#include <...> search starts here/,/End of search list/p' | sed -n 's/^ \(\/.*\)/\1/p')

# The builds' compile commands without GCC's precompiled headers, which clang cannot read (the
# files include what they precompile themselves).
without_pch() {
  mkdir -p "build/lint/$1"
  python3 - "build/$1/compile_commands.json" "build/lint/$1/compile_commands.json" <<'PY'
import json, re, sys
entries = json.load(open(sys.argv[1]))
for entry in entries:
    entry["command"] = re.sub(r" -include \S*cmake_pch\.hxx| -Winvalid-pch", "", entry["command"])
json.dump(entries, open(sys.argv[2], "w"))
PY
}

tidy() {
  local build=$1
  shift
  [ $# -gt 0 ] || return 0
  printf '%s\n' "$@" | xargs -P "$(nproc)" -n 4 clang-tidy -p "$build" --quiet \
    --warnings-as-errors='*' "${extra[@]}" 2>/dev/null
}

echo "== clang-tidy, native: $(wc -w <<<"$host_units") files"
extra=()
without_pch host
# shellcheck disable=SC2086
tidy build/lint/host $host_units || status=1
echo "== clang-tidy, Windows: $(wc -w <<<"$win_units") files"
extra=("${sysroot_args[@]}" --extra-arg=-Wno-unknown-warning-option --extra-arg=-Wno-unused-command-line-argument)
without_pch win64
# shellcheck disable=SC2086
tidy build/lint/win64 $win_units || status=1

cppcheck_args=(--quiet --inline-suppr --error-exitcode=1 --std=c++17 --language=c++
  --enable=warning,performance,portability --library=googletest --suppressions-list=scripts/cppcheck-suppressions.txt
  -j "$(nproc)")
# Rooms are included with their folder ("link/Exchange.h"), the window's own headers without.
includes=(-I .)
for f in afx serial dialog app; do includes+=(-I "$f"); done
echo "== cppcheck, native"
# shellcheck disable=SC2086
[ -z "$host_units" ] || cppcheck "${cppcheck_args[@]}" --platform=unix64 "${includes[@]}" \
  -I res $host_units || status=1
echo "== cppcheck, Windows"
# shellcheck disable=SC2086
[ -z "$win_units" ] || cppcheck "${cppcheck_args[@]}" --platform=win64 --library=windows -D_WIN32 -D_WIN64 \
  "${includes[@]}" -I res $win_units || status=1

[ "$status" -eq 0 ] && echo "lint: clean" || echo "lint: findings above"
exit "$status"
