#!/usr/bin/env bash
# The test command: installs what is missing, builds the host, win64 and win32 presets,
# and runs every test (native unit tests with sanitizers, then the Windows unit,
# in-process and end-to-end tests under Wine and a private Xvfb).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
echo "== check the C++ formatting"
bash scripts/check-format.sh
source scripts/wine-env.sh

for preset in host win64 win32; do
  echo "== build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

echo "== check the 32-bit executables"
for exe in build/win32/app/Zorvane.exe build/win32/ctl/zorvane-ctl.exe; do
  i686-w64-mingw32-objdump -f "$exe" | grep -q 'file format pei-i386'
  echo "$exe is an i386 PE"
done

export WINEPREFIX=$PWD/build/wineprefix
zorvane_prepare_prefix
zorvane_start_xvfb
cleanup() {
  "$WINESERVER" -k >/dev/null 2>&1 || true
  kill "$ZORVANE_XVFB_PID" 2>/dev/null || true
}
trap cleanup EXIT
# Keep one server for the whole run, so each Wine start takes milliseconds. Start the
# prefix's services now, detached from any test's output: they outlive the first Wine
# process, and would otherwise hold CTest's pipe open until the run ends.
"$WINESERVER" -k >/dev/null 2>&1 || true  # the one left from preparing the prefix exits soon
"$WINESERVER" -p
"$WINE64" wineboot </dev/null >/dev/null 2>&1

mkdir -p build/test-logs
status=0
for preset in host win64; do
  echo "== test $preset"
  ctest --preset "$preset" 2>&1 | tee "build/test-logs/$preset.log" || status=1
done

passed=0
failed=0
for preset in host win64; do
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "build/test-logs/$preset.log" || true)
  if [ -z "$line" ]; then status=1; continue; fi
  total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
  bad=$(sed -E 's/.* ([0-9]+) tests failed.*/\1/' <<<"$line")
  passed=$((passed + total - bad))
  failed=$((failed + bad))
done
[ "$failed" -eq 0 ] || status=1
echo "$passed passed, $failed failed"
exit "$status"
