#!/usr/bin/env bash
# Runs a Windows test program under Wine with virtual serial lines in the prefix:
#   COM41 <-> COM42 and COM43 <-> COM44: null-modem pairs (socat ptys);
#   COM45: /dev/null, a device that opens but is no serial port;
#   COM49: absent.
# Usage: with_ports.sh program.exe [arguments...]
set -euo pipefail
source "$(dirname "$0")/../../../scripts/wine-env.sh"
: "${WINEPREFIX:=$ZORVANE_ROOT/build/wineprefix}"
zorvane_prepare_prefix

lines=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -f "$WINEPREFIX"/dosdevices/com4[1-59]
  rm -rf "$lines"
}
trap cleanup EXIT
trap 'exit 143' TERM INT HUP

for pair in "41 42" "43 44"; do
  read -r a b <<<"$pair"
  socat "pty,raw,echo=0,link=$lines/com$a" "pty,raw,echo=0,link=$lines/com$b" 2>>"$lines/socat.log" &
  pids+=($!)
done
for port in 41 42 43 44; do
  for _ in $(seq 100); do [ -e "$lines/com$port" ] && break; sleep 0.05; done
  [ -e "$lines/com$port" ] || { echo "socat made no pty for COM$port" >&2; exit 1; }
  ln -sfn "$lines/com$port" "$WINEPREFIX/dosdevices/com$port"
done
ln -sfn /dev/null "$WINEPREFIX/dosdevices/com45"
rm -f "$WINEPREFIX/dosdevices/com49"

"$ZORVANE_ROOT/scripts/winerun" "$@"
