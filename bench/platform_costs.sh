#!/usr/bin/env bash
# What the platform's calls cost under Wine, per call and per MiB: ReadFile,
# WriteFile (and the 4-byte-header-then-block pattern), CryptHashData (MD5),
# crc32, memcpy with blocks of 4 KiB, 64 KiB and 1 MiB, and deflate at the
# default level. The figures behind the block sizes the library uses.
#   bench/platform_costs.sh [MiB]      (default 1024)
set -euo pipefail
TVL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$TVL_ROOT"
bash scripts/setup.sh
. scripts/bench-env.sh
# The width the machine runs (the 32-bit DLL where it can; TVL_ARCH picks one).
TVL_PREFIX_NAME=bench-prefix tvl_arch_use "$(tvl_arches one)"
mkdir -p "$TVL_BUILD"
exe=$TVL_BUILD/platform_costs.exe
if [ ! -f "$exe" ] || [ bench/platform_costs.cpp -nt "$exe" ]; then
  "$([ "$TVL_ARCH" = x64 ] && echo x86_64 || echo i686)-w64-mingw32-g++" -O2 -std=c++17 -static bench/platform_costs.cpp -lz -ladvapi32 -o "$exe"
fi
work=$(mktemp -d "$TVL_BUILD/costs.XXXXXX")
cleanup() { rm -rf "$work"; tvl_env_stop; }
trap cleanup EXIT
tvl_env_start
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
"$TVL_ROOT/scripts/wine-run.sh" "$exe" "$(printf 'Z:%s' "$work/file" | tr '/' '\\')" "${1:-1024}" \
  </dev/null 2>&1 | tr -d '\r'
