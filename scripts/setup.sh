#!/usr/bin/env bash
# Installs everything the build, the demo and the tests need on Debian 12.
# Idempotent: a second run only checks that the packages are there.
set -euo pipefail

PKGS=(wine wine32:i386 wine32-tools:i386 g++-mingw-w64-i686 libz-mingw-w64-dev
      googletest cmake make xvfb x11-utils openssl python3 xauth
      pcscd vsmartcard-vpcd libpcsclite1:i386 libpcsclite-dev gcc-multilib
      imagemagick icoutils libssl-dev zlib1g-dev time bc clang libclang-rt-14-dev tzdata)

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  NEED_UPDATE=1
fi
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
