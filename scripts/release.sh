#!/usr/bin/env bash
# The studio's release in one command:
#   bash scripts/release.sh --base-url https://… [--version X.Y.Z] [--studio NAME]
#        [--key PRIVATE.pem --public-key PUBLIC.pem --release N [--expires YYYY-MM-DD]]
#        [--sign-cert CERT.pfx --sign-pass-file FILE] CLIENT_DIR OUT_DIR
# Builds the shipped 32-bit patcher and updater (stripped, with their version
# resource) in a build tree of its own with BASE_URL built in, copies the game
# files of CLIENT_DIR to OUT_DIR, places Zerandis_Patcher.exe and
# patcher/Zerandis_PatcherUpdate.bin there (Authenticode-signed with
# --sign-cert), writes OUT_DIR/manifest.md5 with zerandis-manifest (signed with
# --key as release N, valid until --expires, whose public half the patcher
# then carries), verifies the tree
# against it and prints the programs' SHA-256 and the upload steps of docs/deploying.md.
# OUT_DIR must be new or empty. Installs what is missing, like the other scripts.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${PATCHER_BUILD_DIR:-$root/build}
# Signatures get a timestamp from here (it keeps them valid after the
# certificate expires); empty or unreachable: signed without one.
timestamp_url=${PATCHER_TIMESTAMP_URL-http://timestamp.digicert.com}

say() { echo "release.sh: $*"; }
refuse() { echo "release.sh: $*" >&2; exit 1; }
usage() {
  sed -n '3,5p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
}

base_url="" version="" studio="" key="" public_key="" release="" expires="" sign_cert="" sign_pass=""
have_base_url=0
args=()
while [ $# -gt 0 ]; do
  case $1 in
    --base-url|--version|--studio|--key|--public-key|--release|--expires|--sign-cert|--sign-pass-file)
      [ $# -ge 2 ] || usage
      case $1 in
        --base-url) base_url=$2 have_base_url=1 ;;
        --version) version=$2 ;;
        --studio) studio=$2 ;;
        --key) key=$2 ;;
        --public-key) public_key=$2 ;;
        --release) release=$2 ;;
        --expires) expires=$2 ;;
        --sign-cert) sign_cert=$2 ;;
        --sign-pass-file) sign_pass=$2 ;;
      esac
      shift 2 ;;
    -h|--help) usage ;;
    -*) echo "release.sh: unknown option $1" >&2; usage ;;
    *) args+=("$1"); shift ;;
  esac
done
[ ${#args[@]} -eq 2 ] && [ $have_base_url = 1 ] || usage
client=${args[0]} out=${args[1]}

# --- Refusals, before anything is built or copied.
# A signed release: the public key is built into the patcher, the private key
# signs the manifest with its release number (and expiry); verify then proves
# the two belong together. The tool checks the date's calendar when it signs.
if [ -n "$key" ] || [ -n "$public_key" ] || [ -n "$release" ] || [ -n "$expires" ]; then
  [ -n "$key" ] && [ -n "$public_key" ] && [ -n "$release" ] ||
    refuse "--key, --public-key and --release go together (--expires with them)"
  [[ $release =~ ^[1-9][0-9]{0,17}$ ]] || refuse "--release needs a whole number from 1: $release"
  [[ -z $expires || $expires =~ ^[0-9]{4}-[0-9]{2}-[0-9]{2}$ ]] || refuse "--expires needs a date YYYY-MM-DD: $expires"
  [ -r "$key" ] || refuse "cannot read the private key: $key"
  [ -r "$public_key" ] || refuse "cannot read the public key: $public_key"
  key=$(realpath "$key") public_key=$(realpath "$public_key")
fi
if [ -n "$sign_cert" ] || [ -n "$sign_pass" ]; then
  [ -n "$sign_cert" ] && [ -n "$sign_pass" ] || refuse "--sign-cert and --sign-pass-file go together"
  [ -f "$sign_cert" ] || refuse "no such certificate file: $sign_cert"
  [ -r "$sign_pass" ] || refuse "cannot read the password file: $sign_pass"
fi
# The patcher's own words for a BASE_URL its runs would refuse.
[ -n "$base_url" ] || refuse "Adres serwera aktualizacji jest pusty."
[[ $base_url == https://* ]] || refuse "Adres serwera aktualizacji musi używać HTTPS."
[ -d "$client" ] || refuse "no such folder: $client"
if [ -e "$out" ] && { [ ! -d "$out" ] || [ -n "$(ls -A "$out")" ]; }; then
  refuse "OUT_DIR is not empty: $out (a release goes into a new folder)"
fi
client=$(realpath "$client") out=$(realpath -m "$out")
case "$out/" in "$client"/*) refuse "OUT_DIR must lie outside CLIENT_DIR" ;; esac

bash "$root/scripts/setup.sh" >/dev/null

# --- The two programs, 32-bit, in a tree of their own; the manifest tool natively.
tree=$build/release
configure_log=$(mktemp)
trap 'rm -f "$configure_log"' EXIT
if ! cmake -S "$root" -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=Release \
       -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" -DPATCHER_BUILD_TESTS=OFF \
       -DPATCHER_DEFAULT_BASE_URL="$base_url" -DPATCHER_VERSION="${version:-1.0.0}" \
       -DPATCHER_STUDIO_NAME="${studio:-Zerandis}" -DPATCHER_MANIFEST_PUBLIC_KEY="$public_key" \
       >"$configure_log" 2>&1; then
  grep -A3 'CMake Error' "$configure_log" >&2 || cat "$configure_log" >&2
  exit 1
fi
cmake --build "$tree" --target Zerandis_Patcher Zerandis_PatcherUpdate >/dev/null
cmake -S "$root/tools/manifest" -B "$build/native" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/native" --target zerandis-manifest >/dev/null
tool=$build/native/zerandis-manifest
say "built the patcher and the updater in $tree (unstripped copies: $tree/unstripped)"

# --- The release tree. Should the tool refuse it, OUT_DIR is left empty again.
mkdir -p "$out"
trap 'rm -f "$configure_log"; [ "${released:-0}" = 1 ] || find "$out" -mindepth 1 -delete' EXIT
cp -a "$client/." "$out/"
mkdir -p "$out/patcher"
cp "$tree/Zerandis_Patcher.exe" "$out/Zerandis_Patcher.exe"
cp "$tree/tools/updater/Zerandis_PatcherUpdate.bin" "$out/patcher/Zerandis_PatcherUpdate.bin"
# The build is reproducible: anyone can rebuild this commit in any folder and
# compare these (a signature changes the bytes; its sums follow it).
sums() {
  for file in Zerandis_Patcher.exe patcher/Zerandis_PatcherUpdate.bin; do
    say "SHA-256 $1: $(sha256sum "$out/$file" | cut -d' ' -f1)  $file"
  done
}
sums "as built"

if [ -n "$sign_cert" ]; then
  for file in "$out/Zerandis_Patcher.exe" "$out/patcher/Zerandis_PatcherUpdate.bin"; do
    sign=(osslsigncode sign -pkcs12 "$sign_cert" -readpass "$sign_pass" -h sha256 -n "Zerandis Patcher"
          -in "$file" -out "$file.signed")
    if [ -n "$timestamp_url" ] && "${sign[@]}" -ts "$timestamp_url" >/dev/null 2>&1; then
      stamped="with a timestamp from $timestamp_url"
    else
      rm -f "$file.signed"
      "${sign[@]}" >/dev/null || refuse "osslsigncode could not sign $file"
      stamped="without a timestamp (${timestamp_url:-none asked for}${timestamp_url:+ unreachable}): the signature lasts as long as the certificate"
    fi
    mv "$file.signed" "$file"
  done
  say "signed both programs $stamped"
  sums "as signed"
fi

"$tool" generate -q "$out" -o "$out/manifest.md5" || exit 1
verify_key=()
if [ -n "$key" ]; then
  "$tool" sign --key "$key" --release "$release" ${expires:+--expires "$expires"} "$out/manifest.md5" >/dev/null ||
    exit 1
  verify_key=(--public-key "$public_key")
fi
"$tool" verify -q "$out" "$out/manifest.md5" "${verify_key[@]}" || exit 1
# --- The unstripped programs of this release, for reading a player's crash
# line: found again from the SHA-256 of the player's Zerandis_Patcher.exe (its
# first 16 digits name the folder; shipped.sha256 lists both shipped programs).
patcher_sha=$(sha256sum "$out/Zerandis_Patcher.exe" | cut -c1-64)
symbols=$tree/symbols/${version:-1.0.0}-${patcher_sha:0:16}
mkdir -p "$symbols"
cp "$tree/unstripped/Zerandis_Patcher.exe" "$tree/unstripped/Zerandis_PatcherUpdate.bin" "$symbols/"
(cd "$out" && sha256sum Zerandis_Patcher.exe patcher/Zerandis_PatcherUpdate.bin) >"$symbols/shipped.sha256"
say "unstripped programs of this release: $symbols"
released=1
say "release ready: $out ($(grep -vc '^#' "$out/manifest.md5") files, manifest.md5 verified${key:+, signed as release $release${expires:+ until the end of $expires (UTC)} and its signature verified})"

# --- The upload steps of docs/deploying.md, section 6, with this release's paths.
host=${base_url#https://} host=${host%%/*}
q() { printf '%q' "$1"; }
tree_q=$(q "$out/") manifest_q=$(q "$out/manifest.md5")
cat <<EOF

To publish it (docs/deploying.md, section 6): SERVER is your account on $host,
DIR the folder served as $base_url
  1. Upload everything but the manifest, deleting nothing:
       rsync -rt --exclude='/manifest.md5*' $tree_q SERVER:DIR/
  2. Check the server's tree against the new manifest (no missing, size or md5 line):
       scp $manifest_q SERVER:release.md5
       ssh SERVER zerandis-manifest verify DIR release.md5
     then fetch everything as a patcher would, the new manifest under a name no player
     asks for (exit code 0; a bad file is named with what came instead):
       scp $manifest_q SERVER:DIR/next.md5${key:+
       scp $(q "$out/manifest.md5.sig") SERVER:DIR/next.md5.sig}
       zerandis-manifest check-server $(q "$base_url") --manifest next.md5${key:+ --public-key $(q "$public_key")}
  3. Publish the manifest in one step:
       rsync -t $manifest_q SERVER:DIR/manifest.md5
EOF
if [ -n "$key" ]; then
  cat <<EOF
     and its signature right after it (a player who gets one without the other is
     refused until the pair agrees; the guide's per-release folder switch avoids that):
       rsync -t $(q "$out/manifest.md5.sig") SERVER:DIR/manifest.md5.sig
EOF
fi
cat <<EOF
     and check at once what players get, through the edge if there is one (exit code 0):
       zerandis-manifest check-server $(q "$base_url")${key:+ --public-key $(q "$public_key")}
  4. After a while, remove the old release's files and check again (exit code 0):
       rsync -rt --delete --exclude='/manifest.md5*' $tree_q SERVER:DIR/
       ssh SERVER zerandis-manifest verify DIR DIR/manifest.md5
EOF
