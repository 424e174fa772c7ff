#!/usr/bin/env bash
# Checks the run's Wine prefix while the run uses it: only Wine's own modules
# are hard links to the cached template (anything Wine writes, such as the
# registry, is the prefix's own copy), the users' shell folders are not links
# out of the prefix, and the server's socket folder lives in the build folder,
# not in /tmp.
set -uo pipefail
export LC_ALL=C
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$here/../../scripts/bench-env.sh"
p=${TVL_WINEPREFIX:-$TVL_BUILD/wineprefix}
tmp=${TVL_WINE_TMPDIR:-$(dirname "$p")/tmp}
tvl_template_ready || { echo "FAIL: no prefix template at $TVL_TEMPLATE"; exit 1; }
t=$TVL_TEMPLATE
fail=0
check() {  # description, condition
  if eval "$2"; then echo "ok: $1"; else echo "FAIL: $1"; fail=1; fi
}

check "prefix $p exists" '[ -f "$p/system.reg" ]'
for f in system.reg user.reg userdef.reg .update-timestamp drive_c/windows/win.ini; do
  check "$f is the prefix's own copy" \
    '[ "$(stat -c %h "$p/$f")" = 1 ] && [ "$(stat -c %i "$p/$f")" != "$(stat -c %i "$t/$f")" ]'
  check "$f is not among the shared files" '! grep -qxF "$f" "$t/.tvl-shared"'
done
check "the template shares Wine's modules" 'grep -qx "drive_c/windows/system32/kernel32.dll" "$t/.tvl-shared"'

# Every file with more than one link is one of the shared ones, linked to the
# template's own file.
stray=$(join -t $'\t' -a 1 \
  <(cd "$p" && find . -type f -links +1 -printf '%P\t%i\n' | sort) \
  <(cd "$t" && find . -type f -printf '%P\t%i\n' |
    awk -F '\t' 'NR == FNR { shared[$0]; next } $1 in shared' .tvl-shared - | sort) |
  awk -F '\t' '$2 != $3 { print $1 }')
check "only shared modules are links${stray:+ (not: $(head -n 3 <<<"$stray" | tr '\n' ' '))}" '[ -z "$stray" ]'

links=$(find "$p/drive_c/users" -type l | head -n 3)
check "no shell folder links out of the prefix${links:+ ($links)}" '[ -z "$links" ]'

check "the prefix names its server's socket folder" '[ -s "$p/wineserver" ]'
dir=$tmp/$(cat "$p/wineserver" 2>/dev/null)
check "the socket folder $dir is in the build folder" \
  'case $dir in "$TVL_BUILD"/*) true ;; *) false ;; esac && compgen -G "$dir/server-*/socket" >/dev/null'
exit $fail
