#!/usr/bin/env bash
# tools/build.sh          builds what a user installs and tries (Kestrune.dll, checked, the help
#                         file, kestrune-elevated.exe, the MSI, kestrune-try.exe) into build/, then shows it working under
#                         Wine (tools/demo.sh: screenshots in build/demo/)
# tools/build.sh TARGET.. builds those ninja targets only (all: everything, tests included)
# The toolchain is installed first when missing; Kestrune.dll is checked whenever it exists.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/tools/install-deps.sh"
if [ -n "${KESTRUNE_SIGN_PFX:-}" ]; then
  [ -n "${KESTRUNE_SIGN_PASSWORD+set}" ] || { echo "KESTRUNE_SIGN_PFX is set but KESTRUNE_SIGN_PASSWORD is not" >&2; exit 1; }
  echo "signing Kestrune.dll, kestrune-elevated.exe, kestrune-try.exe and the MSI with $KESTRUNE_SIGN_PFX${KESTRUNE_SIGN_TIMESTAMP_URL:+, timestamped by $KESTRUNE_SIGN_TIMESTAMP_URL}"
else
  echo "nothing is signed (KESTRUNE_SIGN_PFX and KESTRUNE_SIGN_PASSWORD name a certificate to sign with)"
fi
cmake -S "$here" -B "$here/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64-x86_64.cmake" >/dev/null
demo=0
if [ $# -eq 0 ]; then
  set -- product
  demo=1
fi
ninja -C "$here/build" "$@"
if [ -f "$here/build/Kestrune.dll" ]; then
  "$here/tools/check-dll.sh" "$here/build/Kestrune.dll"
else
  echo "Kestrune.dll is not built yet, so not checked (tools/build.sh Kestrune builds it)"
fi
[ ! -f "$here/build/kestrune-elevated.exe" ] || "$here/tools/check-exe.sh" "$here/build/kestrune-elevated.exe"
if [ $demo = 1 ]; then
  echo "built: $(cd "$here" && ls build/Kestrune.dll build/Kestrune.dll.debug build/Kestrune.chm build/Kestrune-en.chm build/Kestrune-*-x64.msi build/kestrune-elevated.exe build/kestrune-try.exe 2>/dev/null | tr '\n' ' ')"
  "$here/tools/demo.sh"
fi
