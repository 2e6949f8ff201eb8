#!/usr/bin/env bash
# Opens a Wine session on the build tree's prefix (build/wineprefix, or the folder given with
# --session DIR, e.g. build/demo/session for the demo's prefix) and runs COMMAND in it, or an
# interactive shell when no command is given; stops the session when that ends.
# Windows programs then run with tools/wine-run.sh PROGRAM (or plain `wine`). Their windows show on
# KESTRUNE_DISPLAY, else on the caller's DISPLAY; without either on the session's own Xvfb, where
# nobody sees them (kestrune-try then refuses what would wait for a person). The files on K: and N:
# stay from one session to the next; --fresh (or KESTRUNE_FRESH_DRIVES=1) starts both empty.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
visible_display=${KESTRUNE_DISPLAY:-${DISPLAY:-}}
export KESTRUNE_FRESH_DRIVES=${KESTRUNE_FRESH_DRIVES:-0}
if [ "${1:-}" = "--fresh" ]; then
  export KESTRUNE_FRESH_DRIVES=1
  shift
fi
if [ "${1:-}" = "--session" ]; then
  export KESTRUNE_SESSION_DIR=$(mkdir -p "$2" && cd "$2" && pwd)
  shift 2
fi
source "$here/tools/wine-session.sh"
trap wine_session_stop EXIT
wine_session_start
# For trying by hand (an interactive session only, so that programs run with a command see the
# drives as the tests do): the FAT drive F: and, on each drive, a file to drop, a folder to drop it
# on, an empty folder to mount and one that is not empty.
prepare_drives_to_try() {
  map_fat_drive
  # Wine's mount manager learns a drive and its device (f::, the image) when it starts; F: reads as
  # FAT only when the services start with both in place and the device link is gone afterwards
  # (measured: with f:: still there, or F: mapped after the start, Wine reports NTFS).
  if [ -e "$WINEPREFIX/dosdevices/f:" ]; then
    wineserver -k >/dev/null 2>&1 || true
    start_wine_services
    rm -f "$WINEPREFIX/dosdevices/f::"
  fi
  for root in "$scratch_drive" "$ntfs_mount" "$fat_mount"; do
    [ "$root" = "$scratch_drive" ] || mountpoint -q "$root" || continue
    mkdir -p "$root/folder" "$root/empty" "$root/full"
    [ -e "$root/a.txt" ] || printf 'Kestrune\r\n' >"$root/a.txt"
    [ -e "$root/full/b.txt" ] || printf 'Kestrune\r\n' >"$root/full/b.txt"
  done
}
if [ -n "$visible_display" ]; then
  export DISPLAY="$visible_display"
  where="windows show on display $DISPLAY"
else
  where="windows go to the session's own Xvfb $DISPLAY, where nobody sees them: drive them with kestrune-try's --pick, --answer and --steps, or start with KESTRUNE_DISPLAY set"
fi
if [ $# -gt 0 ]; then
  "$@"
else
  prepare_drives_to_try
  echo "Wine session on $WINEPREFIX ($where)."
  echo "K: is $scratch_drive (Wine's own drive)"
  [ -e "$WINEPREFIX/dosdevices/n:" ] && echo "N: is $ntfs_mount (NTFS through ntfs-3g)" || echo "N: is absent (no FUSE)"
  [ -e "$WINEPREFIX/dosdevices/f:" ] && echo "F: is $fat_mount (FAT through fusefat)" || echo "F: is absent (no FUSE, mtools or fusefat)"
  echo "Each holds a.txt, folder\\, empty\\ and full\\ (holding b.txt)."
  echo "Run Windows programs with tools/wine-run.sh PROGRAM; exit to stop it."
  PS1='(kestrune wine) \w\$ ' bash --norc -i
fi
