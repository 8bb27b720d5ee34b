#!/usr/bin/env bash
# What an open link costs while nothing happens, under Wine: holds the link open on a silent
# virtual line and reports the growth of the program's memory (VmRSS) and the CPU share of a
# core taken by the program and by its wineserver. Run by hand, not by CTest, with an X
# display (DISPLAY) and the win64 build:
#   tests/win/serial/idle_bench.sh SECONDS [zorvane_serial_bench.exe]
# e.g. tests/win/serial/idle_bench.sh 600 for ten minutes. It uses a Wine prefix of its own
# (build/idle-prefix unless WINEPREFIX says otherwise), so its wineserver serves this run only.
set -euo pipefail
seconds=${1:?usage: idle_bench.sh SECONDS [zorvane_serial_bench.exe]}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
exe=$(realpath "${2:-$root/build/win64/tests/win/serial/zorvane_serial_bench.exe}")
export WINEPREFIX=${WINEPREFIX:-$root/build/idle-prefix}
settle=5  # the prefix's services start with the first program: let them finish
samples=10
tick=$(getconf CLK_TCK)

out=$(mktemp)
trap 'rm -f "$out"' EXIT
"$here/with_ports.sh" "$exe" idle $((seconds + settle + 30)) >"$out" 2>/dev/null &
runner=$!
for _ in $(seq 600); do grep -q idling "$out" && break; sleep 0.1; done
grep -q idling "$out" || { echo "the link did not open:" >&2; cat "$out" >&2; exit 1; }

# The process of this prefix whose command name matches $1.
pid_of() {
  local pid
  for pid in $(pgrep "$1"); do
    if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX"; then
      echo "$pid"
      return
    fi
  done
  echo "no $1 process in $WINEPREFIX" >&2
  exit 1
}
ticks() { sed 's/.*) //' "/proc/$1/stat" | awk '{print $12 + $13}'; }
rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }

# Linux keeps the first 15 characters of a command name.
program=$(pid_of "^$(basename "$exe" | cut -c1-15)")
server=$(pid_of '^wineserver')
sleep "$settle"
start=$(date +%s.%N)
rss0=$(rss_kb "$program"); prog0=$(ticks "$program"); serv0=$(ticks "$server")
printf '%8s %10s %10s %12s\n' seconds "VmRSS kB" "program %" "wineserver %"
for i in $(seq "$samples"); do
  sleep "$(awk -v s="$seconds" -v n="$samples" 'BEGIN {print s / n}')"
  now=$(date +%s.%N)
  rss1=$(rss_kb "$program")
  awk -v t="$now" -v t0="$start" -v rss="$rss1" -v hz="$tick" \
      -v p="$(ticks "$program")" -v p0="$prog0" -v s="$(ticks "$server")" -v s0="$serv0" \
      'BEGIN {d = t - t0; printf "%8.0f %10d %10.2f %12.2f\n", d, rss, 100 * (p - p0) / hz / d, 100 * (s - s0) / hz / d}'
done
echo "memory growth over ${seconds} s: $((rss1 - rss0)) kB (VmRSS $rss0 -> $rss1 kB)"
# Ends the program (it would idle a little longer) and the prefix's server.
/usr/lib/wine/wineserver -k 2>/dev/null || true
wait "$runner" || true
