#!/usr/bin/env bash
# Builds everything and runs every test under Wine: one Xvfb, one persistent wineserver and a
# private Wine prefix in build/, stopped whatever the outcome.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/tools/build.sh"
source "$here/tools/wine-session.sh"
trap wine_session_stop EXIT
wine_session_start
cd "$here/build"
ctest --output-on-failure --timeout 600 "$@"
