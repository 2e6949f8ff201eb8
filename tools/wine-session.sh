#!/usr/bin/env bash
# Sourced by the scripts that run Windows programs: one Xvfb display and one persistent
# wineserver on the build tree's private prefix, both stopped by wine_session_stop.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX="$here/build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
xvfb_pid=""
ntfs_mount="$here/build/ntfs-mount"

# K: is a small scratch folder, so that "the whole drive" of a test stays small.
map_scratch_drive() {
  rm -rf "$here/build/wine-drive-k"
  mkdir -p "$here/build/wine-drive-k"
  ln -sfn "$here/build/wine-drive-k" "$WINEPREFIX/dosdevices/k:"
}

unmount_ntfs_drive() {
  mountpoint -q "$ntfs_mount" 2>/dev/null || return 0
  fusermount3 -u "$ntfs_mount" 2>/dev/null || fusermount -u "$ntfs_mount" 2>/dev/null || umount "$ntfs_mount" 2>/dev/null || true
}

# N: is a real NTFS volume (ntfs-3g over FUSE, named streams in Windows syntax) where this machine
# allows it; tests that need it skip and say so otherwise.
map_ntfs_drive() {
  rm -f "$WINEPREFIX/dosdevices/n:"
  command -v mkntfs >/dev/null && command -v ntfs-3g >/dev/null && [ -e /dev/fuse ] || return 0
  mkdir -p "$ntfs_mount"
  unmount_ntfs_drive
  rm -f "$here/build/ntfs.img"
  truncate -s 64M "$here/build/ntfs.img"
  mkntfs -F -Q -q "$here/build/ntfs.img" >/dev/null 2>&1 || return 0
  ntfs-3g -o streams_interface=windows "$here/build/ntfs.img" "$ntfs_mount" >/dev/null 2>&1 || return 0
  ln -sfn "$ntfs_mount" "$WINEPREFIX/dosdevices/n:"
}

start_wine_services() {
  env LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 wineserver -p </dev/null >/dev/null 2>&1
  # wineboot starts Wine's services with their output on /dev/null: started by a test instead,
  # they would inherit (and hold open) the pipe that ctest reads.
  env LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 wineboot </dev/null >/dev/null 2>&1 || true
}

wine_session_start() {
  local display
  for display in $(seq 97 140); do
    [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ] || break
  done
  export DISPLAY=":$display"
  Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
  mkdir -p "$WINEPREFIX"
  start_wine_services
  if [ ! -f "$WINEPREFIX/.kestrune-ready" ]; then
    # Without a window manager, dialogs close in 40 ms instead of 2 s when Wine does not manage them.
    env LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1 || true
    # The services of a brand-new prefix started before the drives existed: the shell's folder
    # browser then finds neither K: nor any folder on it. Restart them once with the drives mapped.
    map_scratch_drive
    wineserver -k >/dev/null 2>&1 || true
    start_wine_services
    touch "$WINEPREFIX/.kestrune-ready"
  fi
  map_scratch_drive
  map_ntfs_drive
}

wine_session_stop() {
  wineserver -k >/dev/null 2>&1 || true
  unmount_ntfs_drive
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" >/dev/null 2>&1 || true
  wait 2>/dev/null || true
}
