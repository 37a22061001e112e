#!/usr/bin/env bash
# Starts or stops the Wine environment of one build tree:
#   wine-prefix.sh start STATE_DIR [LOADER] create the prefix on first use, start Xvfb and a persistent wineserver
#   wine-prefix.sh stop  STATE_DIR          stop the wineserver and Xvfb
# Nothing here touches the user's own ~/.wine.
set -euo pipefail
action=$1
WINE_STATE=$2
# The prefix is a 64-bit one (with the 32-bit syswow64 half): it runs both
# builds, and 64-bit Wine creates it natively, where 32-bit Wine may be emulated.
BOOT_LOADER=/usr/lib/wine/wine64
[ -x "$BOOT_LOADER" ] || BOOT_LOADER=${3:-/usr/lib/wine/wine}
mkdir -p "$WINE_STATE"
WINE_STATE=$(cd "$WINE_STATE" && pwd)
. "$(dirname "$0")/wine-env.sh"

start_xvfb() {
  # A caller with a display of its own (the demo on a desktop) names it here.
  if [ -n "${PATCHER_USE_DISPLAY:-}" ]; then
    echo "${PATCHER_USE_DISPLAY#:}" >"$WINE_STATE/display"
    export DISPLAY="$PATCHER_USE_DISPLAY"
    return
  fi
  if [ -s "$WINE_STATE/xvfb.pid" ] && kill -0 "$(cat "$WINE_STATE/xvfb.pid")" 2>/dev/null; then
    return
  fi
  rm -f "$WINE_STATE/display"
  # -displayfd picks a free display number and writes it once the server is ready.
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset 3>"$WINE_STATE/display" >/dev/null 2>&1 &
  echo $! >"$WINE_STATE/xvfb.pid"
  for _ in $(seq 100); do
    [ -s "$WINE_STATE/display" ] && break
    sleep 0.1
  done
  [ -s "$WINE_STATE/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
  export DISPLAY=":$(cat "$WINE_STATE/display")"
}

create_prefix() {
  [ -f "$WINEPREFIX/.patcher-ready" ] && return
  rm -rf "$WINEPREFIX"
  echo "Creating Wine prefix $WINEPREFIX (once per build tree)..."
  "$BOOT_LOADER" wineboot -i </dev/null >/dev/null 2>&1
  # Classic window look: no theme, and windows placed by Wine itself rather than a window manager.
  "$BOOT_LOADER" reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\ThemeManager' /v ThemeActive /t REG_SZ /d 0 /f </dev/null >/dev/null 2>&1
  "$BOOT_LOADER" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f </dev/null >/dev/null 2>&1
  "$BOOT_LOADER" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d Y /f </dev/null >/dev/null 2>&1
  # Stop the server so that the registry is written out before the prefix counts as ready.
  "$WINESERVER" -k >/dev/null 2>&1 || true
  "$WINESERVER" -w >/dev/null 2>&1 || true
  touch "$WINEPREFIX/.patcher-ready"
}

case "$action" in
  start)
    start_xvfb
    create_prefix
    # Neither the persistent server nor Wine's own service processes may hold
    # CTest's output pipe open, so both start here with their output discarded;
    # the test programs then find them running and leave them alone.
    "$WINESERVER" -p </dev/null >/dev/null 2>&1 || true  # a server already running is fine
    "$BOOT_LOADER" cmd /c exit </dev/null >/dev/null 2>&1
    ;;
  stop)
    "$WINESERVER" -k >/dev/null 2>&1 || true
    if [ -s "$WINE_STATE/xvfb.pid" ]; then
      kill "$(cat "$WINE_STATE/xvfb.pid")" 2>/dev/null || true
      rm -f "$WINE_STATE/xvfb.pid" "$WINE_STATE/display"
    fi
    ;;
  *)
    echo "usage: $0 start|stop STATE_DIR [LOADER]" >&2
    exit 2
    ;;
esac
