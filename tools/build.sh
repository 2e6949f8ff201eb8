#!/usr/bin/env bash
# Builds Kestrune.dll (installing the toolchain when missing) into build/.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/tools/install-deps.sh"
cmake -S "$here" -B "$here/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64-x86_64.cmake" >/dev/null
ninja -C "$here/build" "$@"
# The build's main job done: the DLL is what Explorer may load.
if [ $# -eq 0 ]; then "$here/tools/check-dll.sh" "$here/build/Kestrune.dll"; fi
