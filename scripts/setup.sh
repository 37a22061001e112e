#!/usr/bin/env bash
# Installs everything needed to build, test and demo the patcher on Debian 12.
# Safe to run repeatedly: it only calls apt when a package is missing.
set -euo pipefail

PACKAGES=(
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools
  cmake ninja-build
  g++ libssl-dev libcurl4-openssl-dev
  wine wine32:i386 wine64 qemu-user-static
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

# Some kernels (this one among them) run no 32-bit x86 user code at all: exec of an
# i386 ELF fails with ENOEXEC. wine32 then runs through qemu's user-mode emulator,
# registered for i386 ELF files with binfmt_misc.
if ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  binfmt=/proc/sys/fs/binfmt_misc
  [ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || true
  if [ -e "$binfmt/register" ] && [ ! -e "$binfmt/qemu-i386" ]; then
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' >"$binfmt/register"
  fi
fi

# nginx-light enables and starts a system-wide service on install; the tests run their own.
if [[ " ${missing[*]:-} " == *" nginx-light "* ]]; then
  service nginx stop >/dev/null 2>&1 || true
fi
echo "setup.sh: ready"
