#!/usr/bin/env bash
# Runs a Windows program under the build tree's private Wine prefix.
# tools/test.sh starts the Xvfb display and the persistent wineserver this relies on.
here=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX="${WINEPREFIX:-$here/build/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export DISPLAY="${DISPLAY:-:97}"
export LANG=ja_JP.UTF-8
exec wine "$@"
