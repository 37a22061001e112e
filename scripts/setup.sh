#!/usr/bin/env bash
# Installs everything needed to build, test and demo the patcher on Debian 12.
# Safe to run repeatedly: it only calls apt when a package is missing.
set -euo pipefail

PACKAGES=(
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools
  cmake ninja-build
  g++ libssl-dev libcurl4-openssl-dev
  wine wine32:i386 wine64
  xvfb xauth x11-utils imagemagick
  nginx-light tinyproxy openssl curl osslsigncode
  python3 python3-pytest
  googletest
  coreutils procps
)

if [ "$(id -u)" != 0 ]; then
  echo "setup.sh: run as root (it installs Debian packages)" >&2
  exit 1
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup.sh: installing ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The patcher is built with the POSIX thread model of MinGW-w64 (std::thread).
for tool in i686-w64-mingw32-g++ i686-w64-mingw32-gcc; do
  if [ -e "/usr/bin/$tool-posix" ] && [ "$(readlink -f "/usr/bin/$tool")" != "$(readlink -f "/usr/bin/$tool-posix")" ]; then
    update-alternatives --set "$tool" "/usr/bin/$tool-posix" >/dev/null
  fi
done

# Some kernels run no 32-bit x86 user code at all: exec of an i386 ELF fails
# with ENOEXEC. wine32 then runs through qemu's user-mode emulator, registered
# for i386 ELF files with binfmt_misc. Debian 12's own qemu (7.2) stalls and
# faults Wine's thread pool; bookworm-backports' qemu-user (static binaries) does
# not, so that one package comes from there. A kernel that runs 32-bit code
# itself is left alone.
binfmt=/proc/sys/fs/binfmt_misc
[ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || true
entry=$binfmt/qemu-i386
runs_32bit_natively() {  # asks the kernel itself, with any i386 registration off for a moment
  local enabled=0 rc=0
  if [ -e "$entry" ] && grep -qx enabled "$entry"; then enabled=1; echo 0 >"$entry"; fi
  /lib/ld-linux.so.2 --version >/dev/null 2>&1 || rc=$?
  if [ "$enabled" = 1 ]; then echo 1 >"$entry"; fi
  return "$rc"
}
backports_source() {  # the suite on the URI of the machine's own Debian source
  local list=/etc/apt/sources.list.d/patcher-bookworm-backports.sources uri
  [ -e "$list" ] && return 0
  uri=$(grep -h -A4 -E '^Types:.*deb' /etc/apt/sources.list.d/*.sources 2>/dev/null \
          | awk '/^URIs:/{u=$2} /^Suites:/ && / bookworm( |$)/ {print u; exit}')
  [ -n "$uri" ] || uri=$(awk '$1 == "deb" && $3 == "bookworm" {print $2; exit}' /etc/apt/sources.list 2>/dev/null)
  if [ -z "$uri" ]; then
    echo "setup.sh: no Debian bookworm source found to take bookworm-backports from" >&2
    return 1
  fi
  printf 'Types: deb\nURIs: %s\nSuites: bookworm-backports\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
    "$uri" >"$list"
}
if [ -x /lib/ld-linux.so.2 ] && ! runs_32bit_natively; then
  qemu=/usr/bin/qemu-i386
  if ! "$qemu" --version 2>/dev/null | grep -q -E 'version (9\.[1-9]|[1-9][0-9]+\.)'; then
    echo "setup.sh: installing qemu-user from bookworm-backports"
    backports_source
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends qemu-user/bookworm-backports >/dev/null
  fi
  if [ -e "$entry" ] && ! grep -qx "interpreter $qemu" "$entry"; then
    echo -1 >"$entry"  # another emulator's registration (Debian 12's qemu-i386-static)
  fi
  if [ -e "$entry" ] && grep -qx disabled "$entry"; then echo 1 >"$entry"; fi
  if [ -e "$binfmt/register" ] && [ ! -e "$entry" ]; then
    printf '%s' ":qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:$qemu:F" >"$binfmt/register"
  fi
fi

# nginx-light enables and starts a system-wide service on install; the tests run their own.
if [[ " ${missing[*]:-} " == *" nginx-light "* ]]; then
  service nginx stop >/dev/null 2>&1 || true
fi
echo "setup.sh: ready"
