#!/usr/bin/env bash
# Runs a Windows program under a Kestrune Wine session's prefix (build/wineprefix by default).
# Inside a session (tools/test.sh, tools/wine-shell.sh, tools/demo.sh) it uses that session's
# display and wineserver; outside one it opens a session around the one program.
here=$(cd "$(dirname "$0")/.." && pwd)
if [ -z "${KESTRUNE_SESSION:-}" ]; then
  exec "$here/tools/wine-shell.sh" "$here/tools/wine-run.sh" "$@"
fi
export WINEPREFIX="$KESTRUNE_SESSION/wineprefix"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"
# Wine takes its ANSI code page (932, for the Japanese texts) from LC_ALL when no glibc locale
# is installed; set through env so that bash does not try the locale itself. KESTRUNE_WINE_LOCALE
# (en_US.UTF-8) runs the program as on a Windows whose user interface language is English.
locale="${KESTRUNE_WINE_LOCALE:-ja_JP.UTF-8}"
exec env LANG="$locale" LC_ALL="$locale" wine "$@"
