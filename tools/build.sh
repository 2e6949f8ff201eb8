#!/usr/bin/env bash
# tools/build.sh          builds what a user installs and tries (Kestrune.dll, checked, the help
#                         file, the MSI, kestrune-try.exe) into build/, then shows it working under
#                         Wine (tools/demo.sh: screenshots in build/demo/)
# tools/build.sh TARGET.. builds those ninja targets only (all: everything, tests included)
# The toolchain is installed first when missing; Kestrune.dll is checked whenever it exists.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/tools/install-deps.sh"
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
if [ $demo = 1 ]; then
  echo "built: $(cd "$here" && ls build/Kestrune.dll build/Kestrune.dll.debug build/Kestrune.chm build/Kestrune-en.chm build/Kestrune-*-x64.msi build/kestrune-try.exe 2>/dev/null | tr '\n' ' ')"
  "$here/tools/demo.sh"
fi
