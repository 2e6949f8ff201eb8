#!/usr/bin/env bash
# Builds Kestrune.dll (installing the toolchain when missing) into build/.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/tools/install-deps.sh"
cmake -S "$here" -B "$here/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64-x86_64.cmake" >/dev/null
ninja -C "$here/build" "$@"
