#!/usr/bin/env bash
# Runs a Windows program under the build tree's private Wine prefix.
# tools/test.sh starts the Xvfb display and the persistent wineserver this relies on.
here=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX="${WINEPREFIX:-$here/build/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export DISPLAY="${DISPLAY:-:97}"
# Wine takes its ANSI code page (932, for the Japanese texts) from LC_ALL when no glibc locale
# is installed; set through env so that bash does not try the locale itself.
exec env LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 wine "$@"
