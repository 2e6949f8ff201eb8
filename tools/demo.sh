#!/usr/bin/env bash
# Kestrune's main job, shown under Wine: installs the MSI with msiexec into a private prefix
# (build/demo/session), makes a small NTFS volume with a file of three hard links and two named
# streams, photographs the drop menu, opens the file's Properties in Wine's own shell and
# photographs the "Kestrune" tab before and after listing the links, then the folder menu's create
# flow with its target selected, and the copy hook's question on a guarded folder. Needs the build's
# MSI and kestrune-try.exe (tools/build.sh makes both and runs this). Exits non-zero when a step
# that this build can show fails.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out="$here/build/demo"
try_exe="$here/build/kestrune-try.exe"
msi=$(ls "$here"/build/Kestrune-*-x64.msi 2>/dev/null | head -1)
[ -f "$msi" ] && [ -f "$try_exe" ] || { echo "demo: build the MSI and kestrune-try.exe first (tools/build.sh)" >&2; exit 1; }

say() { printf 'demo: %s\n' "$*"; }
windows_path() { local path="Z:$1"; printf '%s' "${path//\//\\}"; }
try() {
  local status=0
  "$here/tools/wine-run.sh" "$try_exe" "$@" 2>&1 | sed -e 's/^/  | /' ||
    status=${PIPESTATUS[0]}
  return "$status"
}

mkdir -p "$out"
rm -f "$out"/*.png "$out"/*.bmp "$out"/*.font
export KESTRUNE_SESSION_DIR="$out/session"
source "$here/tools/wine-session.sh"
trap wine_session_stop EXIT
say "starting Xvfb and Wine on the prefix $WINEPREFIX ..."
wine_session_start

say "installing $(basename "$msi") with msiexec /i ... /qn"
wine_text msiexec /i "$msi" /qn | sed 's/^/  | /'
status=$(try status) || { echo "$status"; say "the installation failed"; exit 1; }
echo "$status"
ready() { grep -q "$1 {[^}]*}: ready" <<<"$status"; }

# The volume: real NTFS through ntfs-3g where FUSE works, else Wine's own drive.
if [ -e "$WINEPREFIX/dosdevices/n:" ]; then
  drive='N:'
  root="$ntfs_mount"
  say "N: is a 64 MB NTFS volume (mkntfs, mounted with ntfs-3g)"
else
  drive='K:'
  root="$scratch_drive"
  say "no FUSE here (ntfs-3g cannot mount): Wine's own drive K: stands in. It keeps real hard links,"
  say "but no named streams: the page's stream list stays empty."
fi
mkdir -p "$root/デモ/保管" "$root/デモ/空のフォルダ"
printf '四半期の報告です。\r\n' >"$root/デモ/報告書.txt"
if [ "$drive" = 'N:' ]; then
  # ntfs-3g's Windows syntax: "file:stream" names a named stream of file.
  printf '売上は前期比 12%% 増。' >"$root/デモ/報告書.txt:要約"
  printf 'Kestrune demo' >"$root/デモ/報告書.txt:作成者"
  say "made $drive\\デモ\\報告書.txt with the named streams 要約 and 作成者 (ntfs-3g reads 要約 back: $(cat "$root/デモ/報告書.txt:要約"));"
  say "the page lists streams through FindFirstStreamW, which Wine 8 answers as for an item without streams, else through BackupRead, which Wine 8 lacks, so its stream list stays empty here."
fi
file="$drive\\デモ\\報告書.txt"

say "two right-drags of the file through the drop handler, as Explorer would load it:"
try --pick 1 drop "$file" "$drive\\デモ"
try --pick 1 drop "$file" "$drive\\デモ\\保管"

say "the overlay identifiers Explorer would ask about the file:"
try overlay "$file"

# Photographs the Kestrune page of FILE's Properties in the current prefix as NAME.png, after
# "ﾘﾝｸの列挙(N)" as NAME-links.png (the list's first two links), and with the third link selected
# (the list scrolled to it) as NAME-link-3.png; fails when a control of the page lies outside the
# sheet or the third link is not in view. One call per prefix and user language.
photograph_page() {
  local file=$1 name=$2
  local tab="$out/$name.bmp" links="$out/$name-links.bmp" third="$out/$name-link-3.bmp"
  say "opening the Properties of $file in Wine's shell ..."
  if try --answer yes --steps "window ${file##*\\}; page 202; shot $(windows_path "$tab"); click 202; wait-list 204;
      shot $(windows_path "$links"); select-item 204 3; shot $(windows_path "$third"); close" \
      properties "$file"; then
    say "the Kestrune tab, before and after listing the links, is photographed ($name.png, $name-links.png, $name-link-3.png)"
  elif ready PropNTFS; then
    say "the Kestrune tab did not load, or does not fit its sheet, although PropNTFS is in this build"
    return 1
  else
    say "the Properties sheet has no Kestrune tab: PropNTFS is not in this build yet."
    say "The picture properties-without-kestrune-tab.png shows the sheet as Wine's shell opens it."
    mv "$tab" "$out/properties-without-kestrune-tab.bmp" 2>/dev/null || true
    rm -f "$links" "$third"
  fi
}

# A Japanese Windows draws its dialogs (and the shell's property sheet) in "MS UI Gothic": "MS Shell
# Dlg" resolves to it there, so the sheet is sized in the same font as our page.
japanese_dialog_fonts() {
  local reg="$KESTRUNE_SESSION_DIR/dialog-fonts.reg"
  {
    printf 'Windows Registry Editor Version 5.00\r\n\r\n'
    printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes]\r\n'
    printf '"%s"="IPAPGothic"\r\n' 'MS Shell Dlg' 'MS Shell Dlg 2'
  } | iconv -f UTF-8 -t UTF-16 >"$reg"
  wine_ja wine regedit /S "$reg" </dev/null >/dev/null 2>&1
}

say "the right-drag menu of the file on its own folder:"
try --steps "menu; shot $(windows_path "$out/drop-menu.bmp"); close" drop "$file" "$drive\\デモ" ||
  { say "the drop menu was not photographed"; exit 1; }
say "the right-drag menu of the folder $drive\\デモ\\保管 on its parent (symbolic link and junction):"
try --steps "menu; shot $(windows_path "$out/drop-menu-folder.bmp"); close" drop "$drive\\デモ\\保管" "$drive\\デモ" ||
  { say "the folder's drop menu was not photographed"; exit 1; }
say "links made: hard links (above). Symbolic links and junctions are skipped here: Wine's CreateSymbolicLinkW"
say "makes nothing on its drives and FSCTL_SET_REPARSE_POINT fails there, so the handler would only list them"
say "as not made; on Windows the same items make them."

japanese_dialog_fonts
photograph_page "$file" kestrune-tab || exit 1

source "$here/tools/demo_english.sh"

if ready ReparsePoint; then
  say "the folder menu of the empty folder $drive\\デモ\\空のフォルダ, and its create flow:"
  try --answer no --pick 'リパースポイントの作成(&A)' \
    --steps "window; select $drive\\デモ\\保管; shot $(windows_path "$out/create-flow.bmp"); close" \
    menu "$drive\\デモ\\空のフォルダ" || { say "the create flow did not open, or did not select the target"; exit 1; }
else
  say "ReparsePoint is not in this build yet: there is no folder menu to show."
fi
if ready OperationHook; then
  # Wine reads a Unix symbolic link to a folder as a reparse point: what the copy hook guards.
  ln -sfn "$root/デモ/保管" "$root/デモ/リンク"
  say "the copy hook's question on deleting $drive\\デモ\\リンク, a folder Wine reports as a reparse point (answered No):"
  status=0
  try --steps "window; shot $(windows_path "$out/copy-hook.bmp"); click 7" delete "$drive\\デモ\\リンク" || status=$?
  [ $status = 4 ] && [ -d "$root/デモ/保管" ] || { say "the copy hook did not keep the folder (exit code $status)"; exit 1; }
else
  say "OperationHook is not in this build yet: there is no copy hook question to show."
fi
say "The reparse-point information dialog needs a folder that carries a junction: Wine can neither make"
say "nor read junctions on its drives (a Unix symbolic link to a folder reads as a reparse point, but"
say "FSCTL_GET_REPARSE_POINT fails with 4390), so it is not shown here."

shopt -s nullglob
pictures=("$out"/*.bmp)
[ ${#pictures[@]} -gt 0 ] || { say "no picture was taken"; exit 1; }
python3 "$here/tools/bmp_to_png.py" "${pictures[@]}"
say "pictures:"
for picture in "$out"/*.png; do printf '  %s\n' "$picture"; done
