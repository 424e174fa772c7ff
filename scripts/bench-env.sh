# Sourced by the test, demo and benchmark scripts: a display, a fresh Wine
# prefix from a cached template, a warm wineserver. tvl_env_stop undoes what
# tvl_env_start started.
TVL_ROOT=${TVL_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
TVL_BUILD=${TVL_BUILD:-$TVL_ROOT/build}
TVL_TEMPLATE=${TVL_TEMPLATE:-${XDG_CACHE_HOME:-$HOME/.cache}/tarvosel/wine-template}
TVL_STARTED_XVFB=
TVL_KEEPALIVE_PID=

tvl_log() { printf '[tarvosel] %s\n' "$*" >&2; }

tvl_display_start() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return; fi
  # Xvfb picks a free display itself: several runs on one machine never meet.
  local fifo n
  fifo=$(mktemp -u "${TMPDIR:-/tmp}/tvl-xvfb.XXXXXX")
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  TVL_STARTED_XVFB=$!
  n=$(timeout 10 head -n 1 "$fifo" || true)
  rm -f "$fifo"
  if [ -z "$n" ]; then
    tvl_log "Xvfb did not come up"
    return 1
  fi
  export DISPLAY=":$n"
}

# The template is made once per machine (wineboot takes a few seconds); every
# run gets a fresh copy so that no test sees what an earlier run left.
tvl_prefix_prepare() {
  if [ ! -f "$TVL_TEMPLATE/.tvl-ready" ]; then
    tvl_log "creating Wine prefix template in $TVL_TEMPLATE"
    rm -rf "$TVL_TEMPLATE"
    mkdir -p "$(dirname "$TVL_TEMPLATE")"
    WINEARCH=win32 WINEPREFIX="$TVL_TEMPLATE" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
      wineboot -i </dev/null >/dev/null 2>&1
    WINEPREFIX="$TVL_TEMPLATE" WINEDEBUG=-all wine reg add 'HKCU\Software\Wine\X11 Driver' \
      /v Managed /t REG_SZ /d N /f </dev/null >/dev/null 2>&1
    WINEPREFIX="$TVL_TEMPLATE" WINEDEBUG=-all wine reg add 'HKCU\Software\Wine\WineDbg' \
      /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
    WINEPREFIX="$TVL_TEMPLATE" wineserver -w
    touch "$TVL_TEMPLATE/.tvl-ready"
  fi
  export TVL_WINEPREFIX=${TVL_WINEPREFIX:-$TVL_BUILD/wineprefix}
  WINEPREFIX="$TVL_WINEPREFIX" wineserver -k >/dev/null 2>&1 || true
  rm -rf "$TVL_WINEPREFIX"
  mkdir -p "$(dirname "$TVL_WINEPREFIX")"
  cp -a "$TVL_TEMPLATE" "$TVL_WINEPREFIX"
}

# A persistent server and one process that keeps a window open make every
# later Wine process start in a tenth of a second.
tvl_wine_start() {
  # The users' time zone for every Wine process of the run (see wine-run.sh).
  export WINEPREFIX="$TVL_WINEPREFIX" WINEDEBUG=-all TZ=Europe/Madrid
  wineserver -p </dev/null >/dev/null 2>&1
  # The first Wine process starts the services, which inherit its stdio: keep
  # them off any pipe a caller may read to the end.
  wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
  if [ -x "$TVL_BUILD/bin/tvlkeepalive.exe" ] || [ -f "$TVL_BUILD/bin/tvlkeepalive.exe" ]; then
    "$TVL_ROOT/scripts/wine-run.sh" "$TVL_BUILD/bin/tvlkeepalive.exe" </dev/null >/dev/null 2>&1 &
    TVL_KEEPALIVE_PID=$!
  fi
}

tvl_env_start() {
  tvl_display_start
  tvl_prefix_prepare
  tvl_wine_start
}

tvl_env_stop() {
  if [ -n "${TVL_WINEPREFIX:-}" ]; then
    WINEPREFIX="$TVL_WINEPREFIX" wineserver -k >/dev/null 2>&1 || true
  fi
  [ -n "$TVL_KEEPALIVE_PID" ] && kill "$TVL_KEEPALIVE_PID" >/dev/null 2>&1 || true
  if [ -n "$TVL_STARTED_XVFB" ]; then
    kill "$TVL_STARTED_XVFB" >/dev/null 2>&1 || true
    wait "$TVL_STARTED_XVFB" 2>/dev/null || true
  fi
  return 0
}

tvl_build() {
  if [ ! -f "$TVL_BUILD/CMakeCache.txt" ]; then
    cmake -S "$TVL_ROOT" -B "$TVL_BUILD" -DCMAKE_TOOLCHAIN_FILE="$TVL_ROOT/cmake/mingw-i686.cmake" \
      -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
  fi
  cmake --build "$TVL_BUILD" -j2
}
