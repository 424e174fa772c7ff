# Sourced by the test, demo and benchmark scripts: one line per phase with its
# time, a display, a fresh Wine prefix from a cached template, a warm
# wineserver, the PC/SC bench. tvl_env_stop undoes what tvl_env_start started.
TVL_ROOT=${TVL_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
TVL_ARCH=${TVL_ARCH:-}
TVL_ARCH_ASKED=${TVL_ARCH_ASKED-$TVL_ARCH}  # the user's choice, before any tvl_arch_use
TVL_BUILD=${TVL_BUILD:-$TVL_ROOT/build}
TVL_CACHE=${TVL_CACHE:-${XDG_CACHE_HOME:-${HOME:-$TVL_BUILD}/.cache}/tarvosel}
TVL_STARTED_XVFB=
TVL_KEEPALIVE_PID=
TVL_LOG=${TVL_LOG:-}
TVL_PHASE=
TVL_PHASE_REPORT=

tvl_log() { printf '[tarvosel] %s\n' "$*" >&2; }

# ---- phases: one line each on the terminal, the tools' output in a log ----

tvl_now_us() {
  local t=$EPOCHREALTIME
  echo "${t/[.,]/}"
}

tvl_duration() {  # microseconds
  local us=$1 s=$(($1 / 1000000))
  if [ $s -lt 10 ]; then
    printf '%d.%d s' $s $((us / 100000 % 10))
  elif [ $s -lt 60 ]; then
    printf '%d s' $s
  else
    printf '%d min %02d s' $((s / 60)) $((s % 60))
  fi
}

# A path as the user would type it from the top of the checkout.
tvl_shown() {
  case $1 in
    "$TVL_ROOT"/*) printf '%s' "${1#"$TVL_ROOT"/}" ;;
    "${HOME:-/}"/*) printf '~/%s' "${1#"$HOME"/}" ;;
    *) printf '%s' "$1" ;;
  esac
}

# Starts the log of this command (build/logs/NAME.log), overwritten each run.
# TVL_VERBOSE=1 shows the log on the terminal as well.
tvl_log_open() {
  mkdir -p "$TVL_BUILD/logs" || return 1
  TVL_LOG=$TVL_BUILD/logs/$1.log
  : >"$TVL_LOG"
  TVL_RUN_T0=$(tvl_now_us)
  if [ -n "${TVL_VERBOSE:-}" ]; then
    tail -n +1 -f --pid=$$ "$TVL_LOG" >&2 &
  fi
}

tvl_phase_begin() {  # text
  TVL_PHASE=$1
  TVL_PHASE_T0=$(tvl_now_us)
  if [ -n "${TVL_VERBOSE:-}" ]; then
    printf '[tarvosel] %s\n' "$1" >&2  # the log follows on the terminal
  else
    printf '[tarvosel] %s ... ' "$1" >&2
  fi
  printf '\n==== %s\n' "$1" >>"$TVL_LOG"
  TVL_PHASE_OFFSET=$(stat -c %s "$TVL_LOG")
}

# What a failed phase shows: the end of its part of the log. A phase may name
# a function of its own in TVL_PHASE_REPORT.
tvl_phase_tail() {
  tail -c +$((TVL_PHASE_OFFSET + 1)) "$TVL_LOG" | tail -n 30 | sed 's/^/    /' >&2
}

# Ends the open phase with its time, or, on failure, with its report and the
# log's name.
tvl_phase_end() {  # [status] [note]
  local rc=${1:-0} took
  [ -n "$TVL_PHASE" ] || return "$rc"
  took=$(tvl_duration $(($(tvl_now_us) - TVL_PHASE_T0)))
  if [ -n "$TVL_INTERRUPTED" ]; then
    printf 'stopped by %s after %s\n' "$TVL_INTERRUPTED" "$took" >&2
    TVL_PHASE=
    exit "$TVL_INTERRUPT_STATUS"
  fi
  [ -z "${TVL_VERBOSE:-}" ] || printf '[tarvosel] %s: ' "$TVL_PHASE" >&2
  if [ "$rc" -eq 0 ]; then
    printf '%s%s\n' "$took" "${2:+ ($2)}" >&2
  else
    printf 'failed after %s\n' "$took" >&2
    "${TVL_PHASE_REPORT:-tvl_phase_tail}"
    tvl_log "the whole output is in $(tvl_shown "$TVL_LOG")"
  fi
  TVL_PHASE=
  TVL_PHASE_REPORT=
  return "$rc"
}

# A program run by a phase gets a process group of its own and the script
# waits for it: a signal to the script stops the whole group (make and the
# compilers, CTest and its tests), not just the program.
TVL_RUN_PID=
tvl_run() {  # program args...
  local rc=0
  setsid -w "$@" &
  TVL_RUN_PID=$!
  wait "$TVL_RUN_PID" || rc=$?
  # a signal ends the wait at once: the group was asked to stop, wait for it
  [ -z "$TVL_INTERRUPTED" ] || wait "$TVL_RUN_PID" 2>/dev/null
  TVL_RUN_PID=
  return $rc
}

tvl_phase() {  # text command...
  local text=$1 rc=0
  shift
  tvl_phase_begin "$text"
  if [ "$(type -t "$1")" = file ]; then
    tvl_run "$@" >>"$TVL_LOG" 2>&1 </dev/null || rc=$?
  else
    "$@" >>"$TVL_LOG" 2>&1 </dev/null || rc=$?
  fi
  tvl_phase_end "$rc"
}

tvl_total_time() { tvl_duration $(($(tvl_now_us) - TVL_RUN_T0)); }

# ---- widths ----
# The 32-bit DLL is the product; the 64-bit one serves 64-bit hosts and is the
# only one that runs where the machine refuses 32-bit user code (some
# hypervisors do, whatever the kernel supports). Each width has its own build
# folder, toolchain, Wine prefix template and prefix.

# A 32-bit program that exits with 42 and needs nothing installed (an ELF of
# 96 bytes: two moves and the exit system call). Asking it is the only sure
# way to know; TVL_X86_PROBE names a command to ask instead (tests of the
# scripts on a machine that runs both).
tvl_x86_runs() {
  if [ -z "${TVL_X86_RUNS:-}" ]; then
    local probe rc=0
    if [ -n "${TVL_X86_PROBE:-}" ]; then
      $TVL_X86_PROBE >/dev/null 2>&1 || rc=$?
      [ $rc -eq 0 ] && rc=42
    else
      mkdir -p "$TVL_ROOT/build" || return 1
      probe=$(mktemp "$TVL_ROOT/build/.x86-probe.XXXXXX") || return 1
      printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000%b%b%b' \
        '\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000' \
        '\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010' \
        '\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000\270\001\000\000\000\273\052\000\000\000\315\200' \
        >"$probe" && chmod +x "$probe" && { "$probe" >/dev/null 2>&1 || rc=$?; }
      rm -f "$probe"
    fi
    if [ $rc -eq 42 ]; then TVL_X86_RUNS=1; else TVL_X86_RUNS=0; fi
    export TVL_X86_RUNS
  fi
  [ "$TVL_X86_RUNS" = 1 ]
}

# The widths this run uses: TVL_ARCH if set, else what the machine runs.
tvl_arches() {  # all | one (the demo: the 32-bit DLL where it runs)
  case $TVL_ARCH_ASKED in
    x86|x64) echo "$TVL_ARCH_ASKED"; return 0 ;;
    '') ;;
    *) tvl_log "TVL_ARCH must be x86 or x64, not '$TVL_ARCH_ASKED'"; return 1 ;;
  esac
  if tvl_x86_runs; then
    [ "$1" = all ] && echo "x86 x64" || echo x86
  else
    echo x64
  fi
}

# Why the run uses the widths it uses, in one plain line.
tvl_arch_reason() {
  if [ -n "$TVL_ARCH_ASKED" ]; then
    printf 'TVL_ARCH=%s chose it' "$TVL_ARCH_ASKED"
  elif tvl_x86_runs; then
    printf 'this machine runs 32-bit programs'
  else
    printf 'this machine does not run 32-bit programs: a 32-bit test program was refused to start'
  fi
}

# Selects a width for what follows: build folder, toolchain, prefix.
tvl_arch_use() {  # x86|x64
  TVL_ARCH=$1
  case $1 in
    x86) TVL_BUILD=$TVL_ROOT/build TVL_TOOLCHAIN=$TVL_ROOT/cmake/mingw-i686.cmake
         TVL_WINEARCH=win32 ;;
    x64) TVL_BUILD=$TVL_ROOT/build-x64 TVL_TOOLCHAIN=$TVL_ROOT/cmake/mingw-x86_64.cmake
         TVL_WINEARCH=win64 ;;
    *) return 1 ;;
  esac
  export TVL_ARCH TVL_ARCH_ASKED TVL_BUILD TVL_WINEARCH
  export TVL_WINEPREFIX=$TVL_BUILD/${TVL_PREFIX_NAME:-wineprefix}
  unset TVL_TEMPLATE
}

# ---- packages and build ----

tvl_setup_phase() {
  local missing n
  missing=$(bash "$TVL_ROOT/scripts/setup.sh" --missing) || return 1
  if [ -z "$missing" ]; then
    tvl_phase "checking packages (all there)" true
  else
    n=$(wc -l <<<"$missing")
    [ "$n" -eq 1 ] && n="1 package" || n="$n packages"
    tvl_phase "installing $n with apt-get (all of them: about a minute)" \
      bash "$TVL_ROOT/scripts/setup.sh"
  fi
}

tvl_configure() {
  [ -f "$TVL_BUILD/CMakeCache.txt" ] && return 0
  tvl_run cmake -S "$TVL_ROOT" -B "$TVL_BUILD" \
    -DCMAKE_TOOLCHAIN_FILE="${TVL_TOOLCHAIN:-$TVL_ROOT/cmake/mingw-i686.cmake}" \
    -DCMAKE_BUILD_TYPE=Release ${TVL_CCACHE:+-DCMAKE_CXX_COMPILER_LAUNCHER=ccache} "$@"
}

# Everything, tests included.
tvl_build() {
  tvl_configure "$@" && tvl_run cmake --build "$TVL_BUILD" -j2
}

# Only the named targets (and what they depend on).
tvl_build_targets() {  # target...
  tvl_configure && tvl_run cmake --build "$TVL_BUILD" -j2 --target "$@"
}

# ---- display ----

tvl_display_start() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return; fi
  # Xvfb picks a free display itself: several runs on one machine never meet.
  local fifo n
  fifo=$(mktemp -u "${TMPDIR:-/tmp}/tvl-xvfb.XXXXXX")
  mkfifo "$fifo" || return 1
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

# ---- Wine prefix ----
#
# The template is made once per machine and Wine version (wineboot takes a
# few seconds) under the user's cache folder. Every run gets a fresh prefix of
# its own: Wine's modules in it (about 590 MB, byte for byte the files Wine
# installed) are hard links to the template's, everything else (registry,
# ini files, the users folder: about 2 MB) is a copy. Nothing in a run writes
# to Wine's modules; tvl_template_check proves it at the end of each run.

tvl_template_path() {
  local v
  v=$(wine --version 2>/dev/null | tr -cs 'A-Za-z0-9.' '-')
  printf '%s/wine-template-3-%s-%s' "$TVL_CACHE" "${TVL_ARCH:-x86}" "${v%-}"
}

tvl_template_ready() {
  export TVL_TEMPLATE=${TVL_TEMPLATE:-$(tvl_template_path)}
  [ -f "$TVL_TEMPLATE/.tvl-ready" ]
}

# Files of a new template that are Wine's installed files, byte for byte.
tvl_template_shared() {  # template
  local -A wine_file=()
  local f d
  for d in /usr/lib/i386-linux-gnu/wine /usr/lib/x86_64-linux-gnu/wine /usr/lib/wine \
           /usr/lib32/wine /usr/share/wine; do
    [ -d "$d" ] || continue
    while IFS= read -r -d '' f; do
      wine_file[${f##*/}]=$f
    done < <(find "$d" -type f -print0)
  done
  (cd "$1" && find drive_c -type f) | while IFS= read -r f; do
    d=${wine_file[${f##*/}]:-}
    if [ -n "$d" ] && cmp -s "$d" "$1/$f"; then echo "$f"; fi
  done
}

tvl_template_create() {
  local t=$TVL_TEMPLATE new="$TVL_TEMPLATE.new.$$" srv link
  rm -rf "$new" && mkdir -p "$new" || return 1
  # The server's socket folder goes to a scratch folder of the cache, not /tmp.
  srv=$(mktemp -d "$TVL_CACHE/wineserver.XXXXXX") || return 1
  (
    export WINEARCH=${TVL_WINEARCH:-win32} WINEPREFIX="$new" WINEDEBUG=-all TMPDIR="$srv"
    WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i &&
      wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f &&
      wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f &&
      wineserver -w
  ) </dev/null || { rm -rf "$new" "$srv"; return 1; }
  rm -rf "$srv"
  # Names the socket folder of the server above; each run gets its own.
  rm -f "$new/wineserver"
  # The users' shell folders are links to the home folder: a Windows program
  # that writes to its desktop must not write into the user's home.
  while IFS= read -r -d '' link; do
    rm -f "$link" && mkdir "$link" || return 1
  done < <(find "$new/drive_c/users" -type l -print0)
  tvl_template_shared "$new" >"$new/.tvl-shared" || return 1
  (cd "$new" && find . -type f ! -name '.tvl-*' | sed 's|^\./||' | sort) |
    grep -vxF -f "$new/.tvl-shared" >"$new/.tvl-private"
  touch "$new/.tvl-ready"
  rm -rf "$t" && mv "$new" "$t"
}

# Several checkouts may ask at once: one makes it, the others wait.
tvl_template_ensure() {
  tvl_template_ready && return 0
  mkdir -p "$TVL_CACHE" || return 1
  (
    flock 8 || exit 1
    tvl_template_ready || tvl_template_create
  ) 8>"$TVL_CACHE/template.lock"
}

# A run that wrote to the template (through a hard link) would change the
# prefix of every later run: set such a template aside and fail.
tvl_template_check() {
  local t=${TVL_TEMPLATE:-} changed
  [ -n "$t" ] && [ -f "$t/.tvl-ready" ] || return 0
  changed=$(find "$t" -newer "$t/.tvl-ready" ! -type d -print -quit)
  [ -z "$changed" ] && return 0
  tvl_log "this run changed the shared Wine prefix template: ${changed#"$t"/}"
  mv "$t" "$t.damaged.$$" 2>/dev/null &&
    tvl_log "set aside as $t.damaged.$$; the next run makes a new one"
  return 1
}

# Folder for Wine's server socket folder: beside the prefix, never /tmp.
tvl_wine_tmpdir() { printf '%s/tmp' "$(dirname "$TVL_WINEPREFIX")"; }

# Stops the server of the run prefix and removes its socket folder. Only a
# prefix that names a socket folder ever had a server: asking Wine to stop
# one otherwise would make that folder.
tvl_wine_kill() {
  local p=$TVL_WINEPREFIX tmp dir
  tmp=$(tvl_wine_tmpdir)
  if [ -s "$p/wineserver" ]; then
    dir=$tmp/$(cat "$p/wineserver")
    if compgen -G "$dir/server-*/socket" >/dev/null; then
      WINEPREFIX="$p" TMPDIR="$tmp" wineserver -k >/dev/null 2>&1 || true
      WINEPREFIX="$p" TMPDIR="$tmp" wineserver -w >/dev/null 2>&1 || true
    fi
    rm -rf "$dir"
    rm -f "$p/wineserver"
  fi
  rmdir "$tmp" 2>/dev/null || true
}

tvl_prefix_prepare() {
  tvl_template_ensure || return 1
  export TVL_WINEPREFIX=${TVL_WINEPREFIX:-$TVL_BUILD/wineprefix}
  local p=$TVL_WINEPREFIX t=$TVL_TEMPLATE f
  local -a private=()
  tvl_wine_kill
  if [ ! -f "$t/.tvl-private" ]; then
    tvl_log "$t was not made by this script (no .tvl-private): unset TVL_TEMPLATE"
    return 1
  fi
  rm -rf "$p" "$p.new" && mkdir -p "$(dirname "$p")" || return 1
  # Made under another name: a half-made prefix (with links to the template's
  # registry, which Wine would write in place) must never be used.
  if cp -al "$t" "$p.new" 2>/dev/null; then
    mapfile -t private <"$t/.tvl-private"
    for f in "${private[@]}"; do
      # never write through the link: unlink first
      cp -a --remove-destination "$t/$f" "$p.new/$f" || return 1
    done
    TVL_PREFIX_HOW="Wine's modules shared with the template"
  else
    rm -rf "$p.new"
    cp -a "$t" "$p.new" || return 1
    TVL_PREFIX_HOW="a full copy: the cache folder is on another file system"
  fi
  rm -f "$p.new"/.tvl-*
  mv "$p.new" "$p"
}

# A persistent server and one process that keeps a window open make every
# later Wine process start in a tenth of a second.
tvl_wine_start() {
  # The users' time zone for every Wine process of the run (see wine-run.sh).
  export WINEPREFIX="$TVL_WINEPREFIX" WINEDEBUG=-all TZ=Europe/Madrid
  # Wine keeps its server's socket in a folder under TMPDIR and names that
  # folder in the prefix: every process of the run must see the same TMPDIR.
  export TVL_WINE_TMPDIR TMPDIR
  # kept, so that tvl_wine_stop gives the caller's back (the folder goes then)
  TVL_TMPDIR_BEFORE=${TVL_TMPDIR_BEFORE-${TMPDIR-}}
  TVL_WINE_TMPDIR=$(tvl_wine_tmpdir)
  TMPDIR=$TVL_WINE_TMPDIR
  mkdir -p "$TMPDIR" || return 1
  wineserver -p </dev/null >/dev/null 2>&1
  # The first Wine process starts the services, which inherit its stdio: keep
  # them off any pipe a caller may read to the end.
  wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
  if [ -f "$TVL_BUILD/bin/tvlkeepalive.exe" ]; then
    "$TVL_ROOT/scripts/wine-run.sh" "$TVL_BUILD/bin/tvlkeepalive.exe" </dev/null >/dev/null 2>&1 &
    TVL_KEEPALIVE_PID=$!
  fi
}

tvl_env_start() {
  TVL_ENV_STARTED=1
  tvl_display_start && tvl_prefix_prepare && tvl_wine_start
}

# The Windows environment as a phase (and the template, the first time).
tvl_env_phase() {
  export TVL_WINEPREFIX=${TVL_WINEPREFIX:-$TVL_BUILD/wineprefix}
  local rc=0
  if ! tvl_template_ready; then
    tvl_phase "creating the Wine prefix template in $(tvl_shown "$TVL_TEMPLATE") (once per Wine version)" \
      tvl_template_ensure || return 1
  fi
  local display=Xvfb
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then display="display $DISPLAY"; fi
  tvl_phase_begin "preparing the Windows environment ($display, prefix $(tvl_shown "$TVL_WINEPREFIX"), wineserver)"
  tvl_env_start >>"$TVL_LOG" 2>&1 </dev/null || rc=$?
  tvl_phase_end "$rc" "${TVL_PREFIX_HOW:-}"
}

# Stops the Wine side of one width (server, keep-alive) and checks its template.
tvl_wine_stop() {
  local rc=0
  if [ -n "$TVL_KEEPALIVE_PID" ]; then
    kill "$TVL_KEEPALIVE_PID" >/dev/null 2>&1 || true
    TVL_KEEPALIVE_PID=
  fi
  if [ -n "${TVL_WINEPREFIX:-}" ]; then
    tvl_wine_kill
  fi
  if [ -n "${TVL_TMPDIR_BEFORE+set}" ]; then
    if [ -n "$TVL_TMPDIR_BEFORE" ]; then export TMPDIR=$TVL_TMPDIR_BEFORE; else unset TMPDIR; fi
    unset TVL_TMPDIR_BEFORE
  fi
  tvl_template_check || rc=1
  return $rc
}

tvl_env_stop() {
  local rc=0
  tvl_wine_stop || rc=1
  if [ -n "$TVL_STARTED_XVFB" ]; then
    kill "$TVL_STARTED_XVFB" >/dev/null 2>&1 || true
    wait "$TVL_STARTED_XVFB" 2>/dev/null || true
    TVL_STARTED_XVFB=
  fi
  return $rc
}

# ---- PC/SC bench ----
# pcscd's socket and the readers' ports exist once per machine: runs of
# several checkouts take turns through one lock. The bench's state and logs
# stay in the build folder.

TVL_PCSC_BENCH=$TVL_ROOT/tests/smartcard/bench/pcsc-bench.sh
TVL_PCSC_LOCK=/tmp/tvl-pcsc-bench.lock
TVL_PCSC_STARTED=

tvl_pcsc_busy() { ! flock -n "$TVL_PCSC_LOCK" true 2>/dev/null; }

tvl_pcsc_start() {
  # the lock taken on fd 9 by a child stays with the script's fd 9
  exec 9>"$TVL_PCSC_LOCK" && tvl_run flock 9 || return 1
  export TVL_PCSC_BENCH_DIR=$TVL_BUILD/pcsc-bench
  TVL_PCSC_STARTED=1
  "$TVL_PCSC_BENCH" start 9>&-
}

tvl_pcsc_phase() {
  local text="starting the card bench (pcscd, two virtual readers)"
  tvl_pcsc_busy && text="waiting for the card bench (another run has it), then starting it"
  tvl_phase "$text" tvl_pcsc_start
}

tvl_pcsc_stop() {
  if [ -n "$TVL_PCSC_STARTED" ]; then
    "$TVL_PCSC_BENCH" stop 9>&- >/dev/null 2>&1 || true
    TVL_PCSC_STARTED=
  fi
  exec 9>&-
}

# ---- the end of a command ----

tvl_stop_all() {
  local rc=0
  tvl_pcsc_stop
  tvl_env_stop || rc=1
  return $rc
}

# Ctrl-C, a closed terminal, a kill, or a reader of the output that went away
# (demo.sh | head) end the run through the EXIT trap too, so that Xvfb, Wine
# and the card bench it started are stopped. Inside a phase the signal stops
# the phase's program and the phase ends the script; the trap must not exit
# there, while the phase's output still goes to the log.
TVL_INTERRUPTED=
TVL_INTERRUPT_STATUS=0
tvl_interrupt() {  # signal status
  local sig=TERM
  [ -z "$TVL_INTERRUPTED" ] || sig=KILL  # asked twice
  TVL_INTERRUPTED=$1
  TVL_INTERRUPT_STATUS=$2
  [ -z "$TVL_RUN_PID" ] || kill -"$sig" -- "-$TVL_RUN_PID" 2>/dev/null
  [ -n "$TVL_PHASE" ] || exit "$2"
}

tvl_trap_exit() {  # function
  trap "$1" EXIT
  trap 'tvl_interrupt SIGHUP 129' HUP
  trap 'tvl_interrupt SIGINT 130' INT
  trap 'tvl_interrupt SIGTERM 143' TERM
  trap 'exec >>"$TVL_LOG" 2>&1; tvl_interrupt SIGPIPE 141' PIPE
}

# EXIT trap of the demo and the test command: closes a phase that did not end
# (a failure or Ctrl-C), stops what the run started, and returns the status.
tvl_finish() {  # status
  set +e
  local rc=$1 sig=$TVL_INTERRUPTED open=$TVL_PHASE
  # from here on a signal only stops the program of the cleanup phase
  TVL_INTERRUPTED=
  if [ -n "$open" ] && [ -n "$sig" ]; then
    printf 'stopped by %s after %s\n' "$sig" "$(tvl_duration $(($(tvl_now_us) - TVL_PHASE_T0)))" >&2
    TVL_PHASE=
  elif [ -n "$open" ]; then
    tvl_phase_end 1
  fi
  if [ -n "$sig$open" ] && [ "$rc" -eq 0 ]; then
    rc=1
    [ -z "$sig" ] || rc=$TVL_INTERRUPT_STATUS
  fi
  if [ -n "${TVL_ENV_STARTED:-}$TVL_PCSC_STARTED" ]; then
    tvl_phase "stopping what this run started" tvl_stop_all || rc=1
  fi
  return "$rc"
}
