#!/usr/bin/env bash
# Checks a built Kestrune.dll: exactly the four exports, imports of system DLLs only, and the
# hardening flags (ASLR with high entropy, NX). Prints what it found; exits 1 on any fault.
set -euo pipefail
dll="${1:?usage: check-dll.sh Kestrune.dll}"
dump=$(x86_64-w64-mingw32-objdump -p "$dll")
fault=0

exports=$(printf '%s\n' "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | tail -n +2 | { grep -oE '\] [A-Za-z_]+' || true; } | cut -c3- | sort | tr '\n' ' ')
echo "exports: $exports"
[ "$exports" = "DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer " ] || { echo "fault: the exports are not exactly the four COM server functions"; fault=1; }

system='^(ADVAPI32|KERNEL32|USER32|SHELL32|OLE32|OLEAUT32|COMCTL32|COMDLG32|GDI32|SHLWAPI|MSVCRT|VERSION|UXTHEME)\.DLL$'
imports=$(printf '%s\n' "$dump" | awk '/DLL Name:/ {print $3}' | sort -u)
echo "imports: $(echo $imports)"
for name in $imports; do
  echo "$name" | tr '[:lower:]' '[:upper:]' | grep -qE "$system" || { echo "fault: imports $name, which is no system DLL"; fault=1; }
done

flags=$(printf '%s\n' "$dump" | sed -n '/DllCharacteristics/,/SizeOfStackReserve/p')
for flag in HIGH_ENTROPY_VA DYNAMIC_BASE NX_COMPAT; do
  printf '%s\n' "$flags" | grep -q "$flag" || { echo "fault: $flag is not set"; fault=1; }
done
[ $fault = 0 ] && echo "Kestrune.dll: exports, imports and hardening as required"
exit $fault
