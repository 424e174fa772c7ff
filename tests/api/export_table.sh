#!/usr/bin/env bash
# The fourteen exports under the names a host's compiler imports, the twelve
# BinData members, and nothing but system DLLs imported.
set -euo pipefail
dll=$1
dump=$(i686-w64-mingw32-objdump -p "$dll")
fail=0
for name in _Inicializar@4 _Finalizar@0 _Login@4 _Logout@0 _UsuarioValidado@0 _InfoSesion@4 \
    _FirmarFichero@16 _ComprobarFirmaFichero@16 _ExportarCertificado@12 _ObtenerHandleSSL@4 \
    _ObtenerUltimoError@0 _DescripcionError@4 _AsignarRutaLog@4 _AsignarDirectorioTemp@4 \
    '??0BinData@@QAE@XZ' '??ABinData@@QBEEG@Z' '??ABinData@@QBEEK@Z' '??BBinData@@QAEPAEXZ' \
    '??BBinData@@QAEPAFXZ' '??BBinData@@QAEPAGXZ' '??BBinData@@QAEPAJXZ' '??BBinData@@QAEPAKXZ' \
    '?ClrBufferPtr@BinData@@QAEXXZ' '?GetAllocatedLength@BinData@@QBEKXZ' \
    '?GetLength@BinData@@QBEKXZ' '?IsEmpty@BinData@@QAEHXZ'; do
  if ! grep -qF "] $name" <<<"$dump"; then
    echo "missing export: $name"; fail=1
  fi
done
count=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | grep -cE '^\s*\[ *[0-9]+\]')
[ "$count" -eq 26 ] || { echo "expected 26 exports, found $count"; fail=1; }
system='^(KERNEL32|USER32|GDI32|ADVAPI32|OLE32|OLEAUT32|SHELL32|COMCTL32|COMDLG32|VERSION|msvcrt|CRYPT32|WS2_32)\.dll$'
while read -r imp; do
  if ! grep -qiE "$system" <<<"$imp"; then
    echo "non-system import: $imp"; fail=1
  fi
done < <(awk '/DLL Name:/ {print $3}' <<<"$dump")
# Wine's comdlg32 leaves a mutex behind each time it is loaded and unloaded:
# the file dialog loads it for its run (platform/framework/CFileDialog).
if awk '/DLL Name:/ {print $3}' <<<"$dump" | grep -qi '^comdlg32\.dll$'; then
  echo "comdlg32 is imported"; fail=1
fi
# The C++ runtime's POSIX-thread emulation keeps handles and a TLS index per
# load: the DLL carries its own thread layer instead (api/DllRuntime.cpp), and
# its entry point gives that layer's objects back.
syms=$(i686-w64-mingw32-nm "$dll")
for sym in _pthread_self ___emutls_get_address _pthread_key_create; do
  if grep -qE " [TtDdBb] $sym\$" <<<"$syms"; then
    echo "the runtime's thread emulation is linked in: $sym"; fail=1
  fi
done
entry=$(awk '/AddressOfEntryPoint/ {print $2}' <<<"$dump")
base=$(awk '/^ImageBase/ {print $2}' <<<"$dump")
ours=$(awk '$3 == "_TvlDllEntry@12" {print $1}' <<<"$syms")
if [ -z "$ours" ] || [ $((16#$ours - 16#$base)) -ne $((16#$entry)) ]; then
  echo "entry point is not TvlDllEntry (entry $entry, TvlDllEntry ${ours:-missing})"; fail=1
fi
[ $fail -eq 0 ] && echo "export table: 26 exports, system imports only (comdlg32 loaded when used), the DLL's own thread layer"
exit $fail
