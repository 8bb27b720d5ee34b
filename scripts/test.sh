#!/usr/bin/env bash
# The test command: installs what is missing, builds the host, win64 and win32 presets,
# and runs every test (native unit tests with sanitizers, and the Windows unit, in-process
# and end-to-end tests under Wine and a private Xvfb).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
echo "== check the C++ formatting"
bash scripts/check-format.sh
source scripts/wine-env.sh

# The 32-bit build is only checked, not run: it compiles the programs and the test programs
# that call Windows (a callback that lacks CALLBACK compiles for x64 and fails only here; the
# portable test programs are built natively and for x64), at low priority from now on, on what
# the other builds and the tests (which mostly wait on Wine and the display) leave; the check
# of the shipped files waits for it.
mkdir -p build/test-logs
echo "== build win32 (in the background: build/test-logs/win32-build.log)"
(cmake --preset win32 >/dev/null && nice -n 19 cmake --build --preset win32) \
  >build/test-logs/win32-build.log 2>&1 &
win32_build=$!

# Wine's prefix is made meanwhile: it mostly waits on Wine's own start-up.
export WINEPREFIX=$PWD/build/wineprefix
zorvane_prepare_prefix >/dev/null 2>&1 &
prefix=$!

# The Windows tests need the simulated module, a native program: it is built first, the rest
# of the native build beside the Windows tests.
echo "== build the simulated module (host)"
cmake --preset host >/dev/null
cmake --build --preset host --target zorvane-sim
echo "== build win64"
cmake --preset win64 >/dev/null
cmake --build --preset win64

wait "$prefix"
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

status=0
# The native build and tests run beside the Windows tests, which mostly wait on Wine and the
# display (the build a little behind them, so as not to slow their clock-bound steps). The
# tests that take port 111 take turns through a lock of their own.
echo "== build and test host (beside the Windows tests: build/test-logs/host-build.log, host.log)"
(nice -n 5 cmake --build --preset host >build/test-logs/host-build.log 2>&1 &&
  ctest --preset host -j2 >build/test-logs/host.log 2>&1) &
host_tests=$!
# The Windows tests one at a time: with two Wine test programs at once, the serial tests'
# lines make the shared wineserver dump its object table (seen, cause not found).
echo "== test win64"
ctest --preset win64 -E '^release_executables$' 2>&1 | tee build/test-logs/win64.log || status=1
echo "== build and test host"
if ! wait "$host_tests"; then
  status=1
  [ -s build/test-logs/host.log ] || cat build/test-logs/host-build.log
fi
cat build/test-logs/host.log 2>/dev/null || true

echo "== wait for the win32 build"
if ! wait "$win32_build"; then
  cat build/test-logs/win32-build.log
  echo "the win32 build failed"
  exit 1
fi
echo "== check the 32-bit executables"
for exe in build/win32/app/Zorvane.exe build/win32/ctl/zorvane-ctl.exe; do
  i686-w64-mingw32-objdump -f "$exe" | grep -q 'file format pei-i386'
  echo "$exe is an i386 PE"
done
echo "== test the shipped executables"
ctest --preset win64 -R '^release_executables$' 2>&1 | tee build/test-logs/release.log || status=1

passed=0
failed=0
for log in host win64 release; do
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "build/test-logs/$log.log" || true)
  if [ -z "$line" ]; then status=1; continue; fi
  total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
  bad=$(sed -E 's/.* ([0-9]+) tests failed.*/\1/' <<<"$line")
  passed=$((passed + total - bad))
  failed=$((failed + bad))
done
[ "$failed" -eq 0 ] || status=1
echo "$passed passed, $failed failed"
exit "$status"
