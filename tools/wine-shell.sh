#!/usr/bin/env bash
# Opens a Wine session on the build tree's prefix (build/wineprefix, or the folder given with
# --session DIR, e.g. build/demo/session for the demo's prefix) and runs COMMAND in it, or an
# interactive shell when no command is given; stops the session when that ends.
# Windows programs then run with tools/wine-run.sh PROGRAM (or plain `wine`). Without a DISPLAY
# the session shows its windows on its own Xvfb; with one, set KESTRUNE_DISPLAY=$DISPLAY to see them.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
if [ "${1:-}" = "--session" ]; then
  export KESTRUNE_SESSION_DIR=$(mkdir -p "$2" && cd "$2" && pwd)
  shift 2
fi
source "$here/tools/wine-session.sh"
trap wine_session_stop EXIT
wine_session_start
if [ -n "${KESTRUNE_DISPLAY:-}" ]; then export DISPLAY="$KESTRUNE_DISPLAY"; fi
if [ $# -gt 0 ]; then
  "$@"
else
  echo "Wine session on $WINEPREFIX (display $DISPLAY): run Windows programs with tools/wine-run.sh PROGRAM; exit to stop it."
  PS1='(kestrune wine) \w\$ ' bash --norc -i
fi
