#!/usr/bin/env bash
# The fourteen exports under the names a host's compiler imports, the twelve
# BinData members, and nothing but system DLLs imported.
set -euo pipefail
dll=$1
# The width is read from the file: the PE machine decides which names it must carry.
machine=$(od -An -tx2 -j $(( $(od -An -tu4 -j 60 -N 4 "$dll") + 4 )) -N 2 "$dll" | tr -d ' ')
fail=0
case $machine in
  014c)
    arch=x86 tools=i686-w64-mingw32 entry_sym=_TvlDllEntry@12
    names=(_Inicializar@4 _Finalizar@0 _Login@4 _Logout@0 _UsuarioValidado@0 _InfoSesion@4
      _FirmarFichero@16 _ComprobarFirmaFichero@16 _ExportarCertificado@12 _ObtenerHandleSSL@4
      _ObtenerUltimoError@0 _DescripcionError@4 _AsignarRutaLog@4 _AsignarDirectorioTemp@4
      '??0BinData@@QAE@XZ' '??ABinData@@QBEEG@Z' '??ABinData@@QBEEK@Z' '??BBinData@@QAEPAEXZ'
      '??BBinData@@QAEPAFXZ' '??BBinData@@QAEPAGXZ' '??BBinData@@QAEPAJXZ' '??BBinData@@QAEPAKXZ'
      '?ClrBufferPtr@BinData@@QAEXXZ' '?GetAllocatedLength@BinData@@QBEKXZ'
      '?GetLength@BinData@@QBEKXZ' '?IsEmpty@BinData@@QAEHXZ')
    thread_syms=(_pthread_self ___emutls_get_address _pthread_key_create) ;;
  8664)
    # A 64-bit host's compiler: plain names, and BinData's members as it decorates them.
    arch=x64 tools=x86_64-w64-mingw32 entry_sym=TvlDllEntry
    names=(Inicializar Finalizar Login Logout UsuarioValidado InfoSesion
      FirmarFichero ComprobarFirmaFichero ExportarCertificado ObtenerHandleSSL
      ObtenerUltimoError DescripcionError AsignarRutaLog AsignarDirectorioTemp
      '??0BinData@@QEAA@XZ' '??ABinData@@QEBAEG@Z' '??ABinData@@QEBAEK@Z' '??BBinData@@QEAAPEAEXZ'
      '??BBinData@@QEAAPEAFXZ' '??BBinData@@QEAAPEAGXZ' '??BBinData@@QEAAPEAJXZ'
      '??BBinData@@QEAAPEAKXZ' '?ClrBufferPtr@BinData@@QEAAXXZ'
      '?GetAllocatedLength@BinData@@QEBAKXZ' '?GetLength@BinData@@QEBAKXZ'
      '?IsEmpty@BinData@@QEAAHXZ')
    thread_syms=(pthread_self __emutls_get_address pthread_key_create) ;;
  *) echo "not a PE file of i386 or x86-64 (machine '$machine')"; exit 1 ;;
esac
dump=$($tools-objdump -p "$dll")
for name in "${names[@]}"; do
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
syms=$($tools-nm "$dll")
for sym in "${thread_syms[@]}"; do
  if grep -qE " [TtDdBb] $sym\$" <<<"$syms"; then
    echo "the runtime's thread emulation is linked in: $sym"; fail=1
  fi
done
entry=$(awk '/AddressOfEntryPoint/ {print $2}' <<<"$dump")
base=$(awk '/^ImageBase/ {print $2}' <<<"$dump")
ours=$(awk -v s="$entry_sym" '$3 == s {print $1}' <<<"$syms")
if [ -z "$ours" ] || [ $((16#$ours - 16#$base)) -ne $((16#$entry)) ]; then
  echo "entry point is not TvlDllEntry (entry $entry, TvlDllEntry ${ours:-missing})"; fail=1
fi
[ $fail -eq 0 ] && echo "export table ($arch): 26 exports, system imports only (comdlg32 loaded when used), the DLL's own thread layer"
exit $fail
