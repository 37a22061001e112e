#!/usr/bin/env bash
# The patcher's main job on this machine: a local HTTPS update server with a
# sample client, and the patcher repairing a game directory under Wine.
#   bash scripts/demo.sh
# Installs what is missing, builds, publishes the sample client with the
# studio's manifest tool, signs the manifest with a throw-away studio key that
# the demo's patcher is built to trust, serves it over TLS 1.2 from nginx on
# 127.0.0.1 (a throw-away CA trusted only by the demo's own Wine prefix), runs
# the patcher until its run ends, saves a screenshot and prints the end of
# patcher.txt.
# Everything it starts is stopped at the end. Safe to run again.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${PATCHER_BUILD_DIR:-$root/build}
demo=$build/demo
py=/usr/bin/python3

bash "$root/scripts/setup.sh"

# The shipped 32-bit program (through qemu where the kernel runs no 32-bit
# code: setup.sh registered it).
tree=win32 toolchain=i686
cmake -S "$root" -B "$build/$tree" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-$toolchain.cmake" >/dev/null
cmake --build "$build/$tree" --target Zerandis_Patcher Zerandis_PatcherUpdate stand_in_game trust_ca
cmake -S "$root/tools/manifest" -B "$build/native" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/native" --target zerandis-manifest
bin=$build/$tree
tool=$build/native/zerandis-manifest

# --- The studio's signing key (throw-away here; a studio keeps its own offline)
# and a patcher that trusts only it, built in a tree of its own so that the
# test trees stay unkeyed.
keys=$demo/keys
rm -rf "$keys"
mkdir -p "$keys"
"$tool" keygen "$keys/studio.pem" --public "$keys/studio.pub.pem"
signed=$build/$tree-signed
cmake -S "$root" -B "$signed" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPATCHER_BUILD_TESTS=OFF \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-$toolchain.cmake" \
      -DPATCHER_MANIFEST_PUBLIC_KEY="$keys/studio.pub.pem" >/dev/null
cmake --build "$signed" --target Zerandis_Patcher

# --- Wine prefix of the demo (made once), on Xvfb unless there is a display.
wine_state=$demo/wine
mkdir -p "$demo"
if [ -n "${DISPLAY:-}" ]; then export PATCHER_USE_DISPLAY=$DISPLAY; else unset PATCHER_USE_DISPLAY; fi
nginx_pid=$demo/nginx/nginx.pid
cleanup() {
  [ -s "$nginx_pid" ] && kill "$(cat "$nginx_pid")" 2>/dev/null || true
  "$root/tests/rig/wine-prefix.sh" stop "$wine_state" >/dev/null 2>&1 || true
}
trap cleanup EXIT
"$root/tests/rig/wine-prefix.sh" start "$wine_state" /usr/lib/wine/wine64
demo_wine() { (WINE_STATE=$wine_state; . "$root/tests/rig/wine-env.sh"; exec /usr/lib/wine/wine64 "$@" </dev/null); }

# --- Throw-away PKI; its CA is trusted by the demo's prefix only.
"$root/tests/net/make_certs.sh" "$demo/certs"
demo_wine "$bin/tests/net/trust_ca.exe" "Z:$demo/certs/ca.der"

# --- The published client: nested folders, Polish names, one large file, the updater.
www=$demo/www
client=$www/client
rm -rf "$www"
mkdir -p "$client/Data/Tekstury" "$client/Dźwięki" "$client/patcher"
cp "$signed/Zerandis_Patcher.exe" "$client/Zerandis_Patcher.exe"
cp "$bin/tools/updater/Zerandis_PatcherUpdate.bin" "$client/patcher/Zerandis_PatcherUpdate.bin"
cp "$bin/tests/system/stand_in_game.exe" "$client/Zerandis.exe"  # a stand-in for the game
head -c 3000000 /dev/urandom >"$client/Data/Tekstury/żółw_skóra.pak"
head -c 700000 /dev/urandom >"$client/Dźwięki/muzyka główna.ogg"
head -c $((256 << 20)) /dev/urandom >"$client/Data/świat.pak"
printf '[Grafika]\r\nRozdzielczosc=1920x1080\r\n' >"$client/config.ini"
printf 'Zerandis - wersja demonstracyjna\r\n' >"$client/czytaj_mnie.txt"
"$tool" generate "$client" -o "$client/manifest.md5"
"$tool" sign --key "$keys/studio.pem" --release 1 "$client/manifest.md5"
"$tool" verify "$client" "$client/manifest.md5" --public-key "$keys/studio.pub.pem" -q

# --- nginx on a free loopback port, TLS 1.2, the manifest never cached.
port=$("$py" -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
"$root/tests/net/nginx-site.sh" "$demo/nginx" "$port" "$www" "$demo/certs/server.crt" "$demo/certs/server.key"

# --- The player's game directory: the patcher, its settings, a damaged file,
# missing files (the large one among them), the rest current.
game=$demo/game
rm -rf "$game"
mkdir -p "$game/Data/Tekstury" "$game/Dźwięki" "$game/patcher"
cp "$client/Zerandis_Patcher.exe" "$client/Zerandis.exe" "$client/czytaj_mnie.txt" "$game/"
cp "$client/patcher/Zerandis_PatcherUpdate.bin" "$game/patcher/"
cp "$client/Dźwięki/muzyka główna.ogg" "$game/Dźwięki/"
cp "$client/Data/Tekstury/żółw_skóra.pak" "$game/Data/Tekstury/"
printf 'uszkodzony' | dd of="$game/Data/Tekstury/żółw_skóra.pak" bs=1 seek=1000 conv=notrunc status=none
printf '[PATCHER]\r\nBASE_URL=https://localhost:%s/client/\r\n' "$port" >"$game/patcher.ini"

# --- Run the patcher and wait for its run to end.
echo "demo: update server https://localhost:$port/client/ ; game directory $game"
demo_wine "$game/Zerandis_Patcher.exe" >/dev/null 2>&1 &
log=$game/patcher.txt
outcome=""
for _ in $(seq 600); do
  if [ -f "$log" ]; then
    if grep -q 'Aktualizacja zakończona pomyślnie\|Klient jest aktualny\.' "$log"; then outcome=ok; break; fi
    if grep -q '] BLAD: ' "$log"; then outcome=failed; break; fi
  fi
  sleep 0.5
done
sleep 2  # let the window paint its last texts
shot=$demo/screenshot.png
DISPLAY=":$(cat "$wine_state/display")" import -window root "$shot"

echo
echo "demo: the end of $log:"
tail -n 12 "$log" | sed "1s/^\xEF\xBB\xBF//"
echo
echo "demo: screenshot of the window: $shot"
if grep -q '] Podpis listy plików zweryfikowany\.' "$log"; then
  echo "demo: the patcher verified the studio's signature of the manifest (\"Podpis listy plików zweryfikowany.\")"
else
  echo "demo: the manifest's signature was not verified"; outcome=failed
fi
case "$outcome" in
  ok) echo "demo: the run ended with an up-to-date client" ;;
  failed) echo "demo: the run failed (see the BLAD: line above)"; exit 1 ;;
  *) echo "demo: the run did not end within five minutes"; exit 1 ;;
esac
