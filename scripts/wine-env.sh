# Shell functions shared by the run, test and Wine wrapper scripts. Source it, don't run it.

WINE64=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
ZORVANE_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Creates the Wine prefix $WINEPREFIX once (serialised with a lock, since CTest may start
# several Wine processes at a time) and points the dialog font at its metric twin.
# Wine commands run without the lock's descriptor: the server and services they start
# outlive them and would otherwise hold the lock for good.
# Caladea has no CJK glyphs (the step buttons show U+300A/U+300B), so it is font-linked to
# Droid Sans Fallback as Windows links to a CJK font. Wine looks the link up by the face's
# full name ("Caladea Regular"), not by its family name, and finds the file through fontconfig.
zorvane_prepare_prefix() {
  : "${WINEPREFIX:?}"
  export WINEPREFIX WINEDEBUG=${WINEDEBUG:--all}
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.zorvane-ready-2" ]; then
      "$WINE64" wineboot -i >>"$WINEPREFIX.log" 2>&1 9>&- || true
      "$WINE64" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Cambria /d Caladea /f \
        >>"$WINEPREFIX.log" 2>&1 9>&- || true
      "$WINE64" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
        /v 'Caladea Regular' /t REG_MULTI_SZ /d 'DroidSansFallbackFull.ttf,Droid Sans Fallback' /f \
        >>"$WINEPREFIX.log" 2>&1 9>&- || true
      # End the server these commands started: its desktop was made for whatever display
      # was set now (often none), and the next Wine process must make its own. ("-w" would
      # never return while a persistent server runs.)
      "$WINESERVER" -k >/dev/null 2>&1 9>&- || true
      touch "$WINEPREFIX/.zorvane-ready-2"
    fi
  ) 9>"$WINEPREFIX.lock"
}

# Starts a private Xvfb on the first free display from :90 and exports DISPLAY.
# Sets ZORVANE_XVFB_PID so the caller can stop it.
zorvane_start_xvfb() {
  local n=90
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  ZORVANE_XVFB_PID=$!
  export DISPLAY=":$n"
  for _ in $(seq 50); do
    [ -e "/tmp/.X11-unix/X$n" ] && return 0
    sleep 0.1
  done
  echo "Xvfb did not start on :$n" >&2
  return 1
}
