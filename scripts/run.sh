#!/usr/bin/env bash
# Builds Zorvane and opens it under Wine, with the simulated laser module on COM40. Uses
# $DISPLAY when there is one, and leaves the operator in charge; otherwise runs on a private
# Xvfb, opens COM40 in the window as an operator would, saves a screenshot of the window
# showing the module's values and closes.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
source scripts/wine-env.sh

echo "== build"
cmake --preset host >/dev/null
cmake --build --preset host --target zorvane-sim
cmake --preset win64 >/dev/null
cmake --build --preset win64 --target Zorvane zorvane-probe

export WINEPREFIX=$PWD/build/run-prefix
zorvane_prepare_prefix
logs=$PWD/build/run-logs
mkdir -p "$logs"

sim_pid=""
xvfb_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  "$WINESERVER" -k >/dev/null 2>&1 || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  return 0
}
trap cleanup EXIT

headless=0
if [ -z "${DISPLAY:-}" ]; then
  zorvane_start_xvfb
  xvfb_pid=$ZORVANE_XVFB_PID
  headless=1
fi

sim=build/host/sim/zorvane-sim
port_link=$WINEPREFIX/dosdevices/com40
if [ -x "$sim" ]; then
  # The simulator keeps running at the end of its input; it stops on SIGTERM.
  "$sim" --link "$port_link" --log "$logs/sim.log" </dev/null >"$logs/sim.out" 2>&1 &
  sim_pid=$!
  for _ in $(seq 50); do [ -L "$port_link" ] && break; sleep 0.1; done
  echo "simulated module on COM40 ($(head -n1 "$logs/sim.out")); its log: $logs/sim.log"
else
  echo "no simulator at $sim: the port list shows only the machine's own ports"
fi

if [ "$headless" -eq 1 ]; then
  echo "== Zorvane on display $DISPLAY, opening COM40 (Wine's messages: $logs/wine-stderr.log)"
  python3 scripts/operate.py --exe build/win64/app/Zorvane.exe \
    --probe build/win64/tests/e2e/zorvane-probe.exe --port COM40 --shot "$logs/screenshot.png"
  echo "screenshot: $logs/screenshot.png"
else
  echo "== Zorvane on display $DISPLAY (Wine's messages: $logs/wine.log)"
  "$WINE64" build/win64/app/Zorvane.exe >"$logs/wine.log" 2>&1 || true
fi
