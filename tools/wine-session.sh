#!/usr/bin/env bash
# Sourced by the scripts that run Windows programs: one Xvfb display and one persistent
# wineserver on a private prefix, both stopped by wine_session_stop. The session's folder
# (KESTRUNE_SESSION_DIR, build/ by default) holds the prefix, the scratch drive K: and the ntfs-3g
# image behind N:, so that the tests, the demo and the installer tests never share a prefix.
# K: and N: start empty unless KESTRUNE_FRESH_DRIVES=0 keeps what a session before left there (a
# session by hand, tools/wine-shell.sh, does).
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
session_dir="${KESTRUNE_SESSION_DIR:-$here/build}"
mkdir -p "$session_dir"
session_dir=$(cd "$session_dir" && pwd) # Wine wants an absolute prefix
export WINEPREFIX="$session_dir/wineprefix"
export WINEDEBUG=-all
# winemenubuilder would copy the Start-menu entries the MSI makes into the Unix desktop's menus.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
xvfb_pid=""
ntfs_mount="$session_dir/ntfs-mount"
scratch_drive="$session_dir/wine-drive-k"
fat_mount="$session_dir/fat-mount"

# Wine takes its ANSI code page (932, for the Japanese texts) from LC_ALL.
wine_ja() { env LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 "$@"; }

# Runs one of Wine's own programs (msiexec, reg, regsvr32) in the session and shows its output,
# which reaches a pipe in the ANSI code page with CR LF line ends, as UTF-8 lines; keeps its
# exit code.
wine_text() {
  local status=0
  wine_ja wine "$@" </dev/null 2>&1 | iconv -c -f CP932 -t UTF-8 | tr -d '\r' || status=${PIPESTATUS[0]}
  return "$status"
}

# K: is a small scratch folder, so that "the whole drive" of a test stays small.
map_scratch_drive() {
  [ "${KESTRUNE_FRESH_DRIVES:-1}" = 0 ] || rm -rf "$scratch_drive"
  mkdir -p "$scratch_drive"
  ln -sfn "$scratch_drive" "$WINEPREFIX/dosdevices/k:"
}

unmount_ntfs_drive() {
  mountpoint -q "$ntfs_mount" 2>/dev/null || return 0
  fusermount3 -u "$ntfs_mount" 2>/dev/null || fusermount -u "$ntfs_mount" 2>/dev/null || umount "$ntfs_mount" 2>/dev/null || true
}

# N: is a real NTFS volume (ntfs-3g over FUSE, named streams in Windows syntax) where this machine
# allows it; tests that need it skip and say so otherwise.
map_ntfs_drive() {
  rm -f "$WINEPREFIX/dosdevices/n:"
  local PATH="$PATH:/usr/sbin:/sbin"
  command -v mkntfs >/dev/null && command -v ntfs-3g >/dev/null && [ -e /dev/fuse ] || return 0
  mkdir -p "$ntfs_mount"
  unmount_ntfs_drive
  if [ "${KESTRUNE_FRESH_DRIVES:-1}" != 0 ] || [ ! -s "$session_dir/ntfs.img" ]; then
    rm -f "$session_dir/ntfs.img"
    truncate -s 64M "$session_dir/ntfs.img"
    mkntfs -F -Q -q "$session_dir/ntfs.img" >/dev/null 2>&1 || return 0
  fi
  ntfs-3g -o streams_interface=windows "$session_dir/ntfs.img" "$ntfs_mount" >/dev/null 2>&1 || return 0
  ln -sfn "$ntfs_mount" "$WINEPREFIX/dosdevices/n:"
}

# F: is a small FAT volume (an mtools image mounted with fusefat) where the machine allows it:
# a drive whose file system is not NTFS, to try the handlers' refusals on by hand.
map_fat_drive() {
  rm -f "$WINEPREFIX/dosdevices/f:" "$WINEPREFIX/dosdevices/f::"
  command -v mformat >/dev/null && command -v fusefat >/dev/null && [ -e /dev/fuse ] || return 0
  mkdir -p "$fat_mount"
  rm -f "$session_dir/fat.img"
  mformat -C -f 1440 -v KESTRUNE -i "$session_dir/fat.img" :: >/dev/null 2>&1 || return 0
  fusefat -o rw+ "$session_dir/fat.img" "$fat_mount" >/dev/null 2>&1 || return 0
  ln -sfn "$fat_mount" "$WINEPREFIX/dosdevices/f:"
  ln -sfn "$session_dir/fat.img" "$WINEPREFIX/dosdevices/f::" # its device, for the mount manager (tools/wine-shell.sh)
}

# Japanese dialog fonts of Windows, resolved to the IPA fonts the install step brings.
substitute_japanese_fonts() {
  local reg="$session_dir/fonts.reg"
  {
    printf 'Windows Registry Editor Version 5.00\r\n\r\n'
    printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes]\r\n'
    printf '"%s"="IPAPGothic"\r\n' 'ＭＳ Ｐゴシック' 'MS PGothic' 'MS UI Gothic'
    printf '"%s"="IPAGothic"\r\n' 'ＭＳ ゴシック' 'MS Gothic'
  } | iconv -f UTF-8 -t UTF-16 >"$reg"
  wine_ja wine regedit /S "$reg" </dev/null >/dev/null 2>&1 || true
}

# Wine reads the volume label of Z: (the Unix root) from the root's disk whenever the drives are
# listed (the folder browser), and where that disk may not be read it prints "wine: Read access
# denied for device ..." unconditionally, past WINEDEBUG. An empty device for Z: has no label to read.
give_z_a_device() {
  [ -d "$WINEPREFIX/dosdevices" ] && ln -sfn /dev/null "$WINEPREFIX/dosdevices/z::" || true
}

start_wine_services() {
  wine_ja wineserver -p </dev/null >/dev/null 2>&1
  # wineboot starts Wine's services with their output on /dev/null: started by a test instead,
  # they would inherit (and hold open) the pipe that ctest reads.
  wine_ja wineboot </dev/null >/dev/null 2>&1 || true
}

wine_session_start() {
  local display
  # A display whose socket files are free may still be taken through its abstract socket (by a
  # server of another /tmp, a chroot's or the host's): such an Xvfb exits, and the next is tried.
  for display in $(seq 97 140); do
    [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ] && continue
    Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; kill -0 "$xvfb_pid" 2>/dev/null || break; sleep 0.1; done
    sleep 0.2
    kill -0 "$xvfb_pid" 2>/dev/null && break
    wait "$xvfb_pid" 2>/dev/null || true # its exit status is expected: it lost the display
    xvfb_pid=""
  done
  export DISPLAY=":$display"
  # kestrune-try refuses windows that would wait on this display, which nobody sees.
  export KESTRUNE_HIDDEN_DISPLAY="$DISPLAY"
  mkdir -p "$WINEPREFIX"
  give_z_a_device
  start_wine_services
  if [ ! -f "$WINEPREFIX/.kestrune-ready" ]; then
    # Without a window manager, dialogs close in 40 ms instead of 2 s when Wine does not manage them.
    wine_ja wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1 || true
    substitute_japanese_fonts
    # The services of a brand-new prefix started before the drives existed: the shell's folder
    # browser then finds neither K: nor N: nor any folder on them. Restart them once with the
    # drives mapped.
    map_scratch_drive
    map_ntfs_drive
    give_z_a_device
    wineserver -k >/dev/null 2>&1 || true
    start_wine_services
    touch "$WINEPREFIX/.kestrune-ready"
  fi
  map_scratch_drive
  map_ntfs_drive
  # The caption buttons are Marlett's glyphs; Debian's Wine does not find the copy fonts-wine
  # brings (the close button reads "r"), so the prefix gets its own.
  [ -f "$WINEPREFIX/drive_c/windows/Fonts/marlett.ttf" ] || cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  export KESTRUNE_SESSION="$session_dir"
}

wine_session_stop() {
  wineserver -k >/dev/null 2>&1 || true
  unmount_ntfs_drive
  if mountpoint -q "$fat_mount" 2>/dev/null; then fusermount3 -u "$fat_mount" 2>/dev/null || fusermount -u "$fat_mount" 2>/dev/null || true; fi
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" >/dev/null 2>&1 || true
  wait 2>/dev/null || true
}
