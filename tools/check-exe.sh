#!/usr/bin/env bash
# Checks a built kestrune-elevated.exe: x64, imports of system DLLs only (its runtimes are linked
# in), ASLR with high entropy and NX, and a manifest asking for the invoker's level, so that Windows
# neither guesses it an installer nor elevates it unasked (the library starts it with "runas").
set -euo pipefail
export LC_ALL=C
exe="${1:?usage: check-exe.sh kestrune-elevated.exe}"
facts=$(python3 "$(dirname "$0")/pe_file.py" "$exe") || { echo "fault: $exe is no readable 64-bit PE file"; exit 1; }
field() { awk -v kind="$1" '$1 == kind { print $2 }' <<<"$facts" | sort -u | tr '\n' ' '; }
fault=0
[ "$(field machine)" = "0x8664 " ] || { echo "fault: $exe is not built for x64"; fault=1; }
echo "imports: $(field import)"
for name in $(field import); do
  tr '[:lower:]' '[:upper:]' <<<"$name" | grep -qE '^(ADVAPI32|KERNEL32|USER32|SHELL32|OLE32|MSVCRT)\.DLL$' || { echo "fault: imports $name, which is no system DLL"; fault=1; }
done
for flag in HIGH_ENTROPY_VA DYNAMIC_BASE NX_COMPAT; do
  [[ " $(field characteristic)" == *" $flag "* ]] || { echo "fault: $flag is not set"; fault=1; }
done
grep -aq 'requestedExecutionLevel level="asInvoker"' "$exe" || { echo "fault: no manifest with requestedExecutionLevel asInvoker"; fault=1; }
[ $fault = 0 ] && echo "$(basename "$exe"): imports, hardening and manifest as required"
exit $fault
