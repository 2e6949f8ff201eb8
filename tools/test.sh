#!/usr/bin/env bash
# Builds everything and runs every test under Wine: one Xvfb, one persistent wineserver and a
# private Wine prefix in build/, stopped whatever the outcome. The installer and demo tests start
# sessions of their own (build/install-test, build/demo/session).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/tools/build.sh" all
source "$here/tools/wine-session.sh"
trap wine_session_stop EXIT
wine_session_start
cd "$here/build"
ctest --output-on-failure --timeout 600 "$@"
