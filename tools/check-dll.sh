#!/usr/bin/env bash
# Checks a built Kestrune.dll: exactly the four exports, imports of system DLLs only, and the
# hardening flags (ASLR with high entropy, NX). Prints what it found; exits 1 on any fault.
# The headers are read by tools/pe_file.py, not from a dump whose layout and language vary with
# binutils' version and the user's locale.
set -euo pipefail
export LC_ALL=C # sort in byte order whatever the user's locale
dll="${1:?usage: check-dll.sh Kestrune.dll}"
facts=$(python3 "$(dirname "$0")/pe_file.py" "$dll") || { echo "fault: $dll is no readable 64-bit PE file"; exit 1; }
field() { awk -v kind="$1" '$1 == kind { print $2 }' <<<"$facts" | sort -u | tr '\n' ' '; }
fault=0

[ "$(field machine)" = "0x8664 " ] || { echo "fault: $dll is not built for x64"; fault=1; }
exports=$(field export)
echo "exports: $exports"
[ "$exports" = "DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer " ] || { echo "fault: the exports are not exactly the four COM server functions"; fault=1; }

system='^(ADVAPI32|KERNEL32|USER32|SHELL32|OLE32|OLEAUT32|COMCTL32|COMDLG32|GDI32|SHLWAPI|MSVCRT|VERSION|UXTHEME)\.DLL$'
imports=$(field import)
echo "imports: $imports"
for name in $imports; do
  echo "$name" | tr '[:lower:]' '[:upper:]' | grep -qE "$system" || { echo "fault: imports $name, which is no system DLL"; fault=1; }
done

flags=$(field characteristic)
for flag in HIGH_ENTROPY_VA DYNAMIC_BASE NX_COMPAT; do
  [[ " $flags" == *" $flag "* ]] || { echo "fault: $flag is not set"; fault=1; }
done
[ $fault = 0 ] && echo "Kestrune.dll: exports, imports and hardening as required"
exit $fault
