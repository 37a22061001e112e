# Sourced by the rig scripts: the Wine environment of one build tree.
# WINE_STATE is the build tree's wine folder: prefix/, display, xvfb.pid.
export WINEPREFIX="$WINE_STATE/prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"  # a caller's own come last
WINESERVER=/usr/lib/wine/wineserver64
[ -x "$WINESERVER" ] || WINESERVER=/usr/lib/wine/wineserver32
export WINESERVER
if [ -s "$WINE_STATE/display" ]; then
  export DISPLAY=":$(cat "$WINE_STATE/display")"
fi
