#!/usr/bin/env bash
# Installs everything the build, the demo and the tests need on Debian 12.
# Idempotent: a second run only checks that the packages are there.
#   setup.sh            install what is missing (as root)
#   setup.sh --missing  print the missing packages, one a line, and install nothing
set -euo pipefail

# Both mingw compilers on every machine: the 32-bit DLL is always built.
PKGS=(wine wine64 g++-mingw-w64-i686 g++-mingw-w64-x86-64-posix libz-mingw-w64-dev
      googletest cmake make xvfb x11-utils openssl python3 xauth
      pcscd vsmartcard-vpcd libpcsclite-dev libwine-dev
      imagemagick icoutils libssl-dev zlib1g-dev time bc clang libclang-rt-14-dev tzdata)
# Wine's 32-bit and 64-bit tools (winegcc for the card bench's bridge) are
# packages that conflict: the 32-bit ones only where 32-bit programs run (they
# also build the 64-bit bridge with libwine-dev), else the 64-bit ones.
. "$(dirname "${BASH_SOURCE[0]}")/bench-env.sh"
if tvl_x86_runs; then
  PKGS+=(wine32:i386 wine32-tools:i386 libwine-dev:i386 libpcsclite1:i386 gcc-multilib)
else
  PKGS+=(wine64-tools)
fi

# One dpkg-query for the whole list: "name:arch status" of what is known.
missing_packages() {
  local -A installed=()
  local name status p
  while read -r name status; do
    [ "$status" = installed ] || continue
    installed[$name]=1
    installed[${name%:*}]=1
  done < <(dpkg-query -W -f='${Package}:${Architecture} ${db:Status-Status}\n' "${PKGS[@]}" 2>/dev/null)
  if tvl_x86_runs && ! dpkg --print-foreign-architectures | grep -qx i386; then
    installed=()  # nothing for i386 can be there yet
  fi
  for p in "${PKGS[@]}"; do
    [ -n "${installed[$p]:-}" ] || echo "$p"
  done
}

mapfile -t missing < <(missing_packages)
if [ "${1:-}" = --missing ]; then
  [ ${#missing[@]} -eq 0 ] || printf '%s\n' "${missing[@]}"
  exit 0
fi
[ ${#missing[@]} -gt 0 ] || exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: missing packages: ${missing[*]}" >&2
  echo "setup: run this command as root (or install them with apt-get)" >&2
  exit 1
fi
echo "installing: ${missing[*]}"
if tvl_x86_runs && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
