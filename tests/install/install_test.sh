#!/usr/bin/env bash
# The MSI in a fresh prefix of its own: install, the installed keys and files (installed_product_tests),
# the refusal on ARM64, the summary and the Programs and Features entry, kestrune-try against the
# installed product, reinstall, a rebuilt package over it, the README's repair after damage, the
# upgrade to a later version, uninstall without a trace, and the try host's answer when nothing
# is installed. Exits 77 (skipped) when a check had to wait for a class this build does not have yet.
# Usage: install_test.sh MSI TRY_EXE TESTS_EXE SHELL_KEYS SESSION_DIR FILES NEXT_MSI
set -euo pipefail
msi=$1 try_exe=$2 tests_exe=$3 shell_keys=$4 files=$6 next_msi=$7
here=$(cd "$(dirname "$0")/../.." && pwd)
export KESTRUNE_SESSION_DIR=$5
rm -rf "$KESTRUNE_SESSION_DIR"
source "$here/tools/wine-session.sh"
trap wine_session_stop EXIT
wine_session_start
skipped=0
windows_path() { local path="Z:$1"; printf '%s' "${path//\//\\}"; }
fail() { echo "FAILED: $*" >&2; exit 1; }
try() { "$here/tools/wine-run.sh" "$try_exe" "$@" 2>&1; }
stage() {
  echo "== $1"
  local status=0
  "$here/tools/wine-run.sh" "$tests_exe" --gtest_filter="$1" --gtest_brief=1 || status=$?
  [ $status = 77 ] && skipped=1 && return 0
  [ $status = 0 ] || fail "stage $1"
}
expect() { grep -qF -- "$1" <<<"$2" || fail "expected \"$1\" in: $2"; }
export KESTRUNE_SHELL_KEYS=$(windows_path "$shell_keys") KESTRUNE_SNAPSHOT='C:\kestrune-before.txt' KESTRUNE_FILES=$files

echo "== nothing installed yet"
out=$(try overlay 'C:\') && fail "kestrune-try ran without the product" || [ $? = 2 ] || fail "exit code: $out"
expect "Kestrune is not installed here" "$out"
stage 'Snapshot.*'

msiinfo() { LC_ALL=C command msiinfo "$@"; }
property() { msiinfo export "$1" Property | tr -d '\r' | awk -F'\t' -v name="$2" '$1 == name { print $2 }'; }
uninstall_key() { wine_text reg query "HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\\$(property "$1" ProductCode)" "${@:2}"; }
kestrunes() { wine_text reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s | grep -c 'DisplayName.*REG_SZ.*Kestrune$' || true; }
echo "== the summary names the product's language"
expect "Template: x64;$(property "$msi" ProductLanguage)" "$(msiinfo suminfo "$msi")"

echo "== refused on ARM64, whose Explorer cannot load an x64 DLL"
# Wine sets PROCESSOR_ARCHITECTURE itself, but takes it from PROCESSOR_ARCHITEW6432 when given.
if [[ $(PROCESSOR_ARCHITEW6432=ARM64 wine_text cmd /c 'echo %PROCESSOR_ARCHITECTURE%') == ARM64* ]]; then
  PROCESSOR_ARCHITEW6432=ARM64 wine_text msiexec /i "$msi" /qn /l 'C:\arm64.log' && fail "installed on ARM64" || true
  # A quiet install logs no message text (Wine shows it in a message box otherwise): the refusal is
  # that nothing after the launch conditions ran, and the message is the condition's.
  log=$(iconv -f CP932 -t UTF-8 "$WINEPREFIX/drive_c/arm64.log")
  expect LaunchConditions "$log"
  ! grep -q ValidateProductID <<<"$log" || fail "the install went on past the launch conditions"
  [ "$(kestrunes)" = 0 ] || fail "installed on ARM64"
  expect "Explorer on ARM64 Windows cannot load it" "$(msiinfo export "$msi" LaunchCondition | grep ARM64)"
else
  echo "SKIPPED: this Wine cannot pose as ARM64 Windows: the refusal is not checked"
  skipped=1
fi

echo "== install, and its entry in Programs and Features"
wine_text msiexec /i "$msi" /qn || fail "msiexec /i"
stage 'Installed*:*/Installed*'
entry=$(uninstall_key "$msi")
expect "Publisher    REG_SZ    $(property "$msi" Manufacturer)" "$entry"
[ "$(property "$msi" Manufacturer)" != "$(property "$msi" ProductName)" ] || fail "the publisher is only the product's name"
expect 'HelpLink    REG_SZ    C:\Program Files\Kestrune\Kestrune.chm' "$entry"
expect "MIT License" "$(property "$msi" ARPCOMMENTS)"
# The machine's Start menu on Windows; Wine's msiexec puts it into the user's.
menu=$(find "$WINEPREFIX/drive_c" -type d -path '*/Start Menu/Programs/Kestrune' | head -1)
for language in Japanese English; do [ -n "$menu" ] && [ -s "$menu/Kestrune Manual ($language).lnk" ] || fail "no Start-menu entry for the $language manual"; done
# Programs and Features draws the icon Windows Installer keeps for the product.
icon=$(wine_text reg query "HKCR\\Installer\\Products" /s | grep -oE 'ProductIcon +REG_SZ +.*Kestrune\.ico$' || true)
icon=${icon##*C:\\}
[ -n "$icon" ] && [ -s "$WINEPREFIX/drive_c/${icon//\\//}" ] || fail "no product icon: $icon"

echo "== kestrune-try: a real hard link by drop on Wine's drive K:"
mkdir -p "$scratch_drive/t/sub" "$scratch_drive/t/target/inside" "$scratch_drive/t/plain" "$scratch_drive/t/copies"
printf x >"$scratch_drive/t/a.txt"
ln -s "$scratch_drive/t/target" "$scratch_drive/t/linked"
out=$(try --pick 1 drop 'K:\t\a.txt' 'K:\t\sub') || fail "drop: $out"
expect "links of K:\\t\\a.txt: 1 before, 2 after" "$out"
[ "$(stat -c %h "$scratch_drive/t/sub/a.txt")" = 2 ] || fail "K:\\t\\sub\\a.txt is no second link"

echo "== kestrune-try: overlays"
out=$(try overlay 'K:\t\a.txt')
expect '" Kestrune HardLink" {839443F4-21A5-4DB5-9DA7-0D3B18B0DAA5} (Kestrune HardLink): claims it; icon 1 of C:\Program Files\Kestrune\Kestrune.dll; priority' "$out"
expect '" Kestrune ReparsePoint"' "$out"
printf x >"$scratch_drive/t/single.txt"
expect "(Kestrune HardLink): does not claim it" "$(try overlay 'K:\t\single.txt')"

echo "== kestrune-try: the copy hook on a folder Wine reports as a reparse point, and on a plain one"
if try status | grep -q 'OperationHook {[^}]*}: ready'; then
  out=$(try --answer no delete 'K:\t\linked') && fail "the linked folder was deleted" || true
  expect "(a reparse point)" "$out"
  expect "このフォルダはリパースポイントです。" "$out"
  expect "answers IDNO" "$out"
  [ -d "$scratch_drive/t/target/inside" ] || fail "the content behind the linked folder is gone"
  out=$(try --answer yes copy 'K:\t\linked' 'K:\t\copies') && fail "the linked folder was copied" || true
  expect "リパースポイントをコピーする事は出来ません。" "$out"
  [ ! -e "$scratch_drive/t/copies/linked" ] || fail "a copy of the linked folder was made"
  out=$(try copy 'K:\t\plain' 'K:\t\copies') || fail "copy of a plain folder: $out"
  expect "answers IDYES" "$out"
  [ -d "$scratch_drive/t/copies/plain" ] || fail "the plain folder was not copied"
  try delete 'K:\t\plain' >/dev/null || fail "delete of a plain folder"
  [ ! -e "$scratch_drive/t/plain" ] || fail "the plain folder was not deleted"
else
  out=$(try --answer no delete 'K:\t\linked') && fail "deleted without a copy hook" || true
  expect "CLASS_E_CLASSNOTAVAILABLE; without its answer nothing is done" "$out"
  [ -d "$scratch_drive/t/target/inside" ] || fail "the content behind the linked folder is gone"
  echo "SKIPPED: this build has no OperationHook yet: the copy hook's answers are not checked"
  skipped=1
fi

echo "== kestrune-try's exit codes and messages (code | text | arguments), on a display nobody sees"
long="t\\$(printf 'd%.0s' {1..200})\\$(printf 'e%.0s' {1..60})"
mkdir -p "$scratch_drive/t/full/x" "$scratch_drive/t/empty" "$scratch_drive/t/behind/x" "$scratch_drive/t/plain2" "$scratch_drive/${long//\\//}"
ln -s "$scratch_drive/t/behind" "$scratch_drive/t/guarded"
long="K:\\$long"
while IFS='|' read -r code text arguments; do
  status=0
  out=$(eval "try $arguments") || status=$?
  [ "$status" = "$code" ] && grep -qF -- "$text" <<<"$out" || fail "kestrune-try $arguments: exit $status, expected $code, \"$text\": $out"
done <<'ROWS'
0|Kestrune is installed: |status
1|kestrune-try: unknown command "frobnicate"|frobnicate
1|kestrune-try --help shows the full usage|frobnicate
0|usage: kestrune-try|--help
6|nothing to offer here: K:\t\single.txt is not a folder|--pick 1 drop 'K:\t\a.txt' 'K:\t\single.txt'
0|copied K:\t\plain2 to K:\t\copies\renamed|copy 'K:\t\plain2' 'K:\t\copies\renamed'
3|the extension showed an error: リパースポイントを設定出来ませんでした。|--answer yes --pick 1 --steps 'window; select K:\t\sub; click 1' menu 'K:\t\empty'
1|kestrune-try: --answer takes yes or no, not "maybe"|--answer maybe delete 'K:\t\guarded'
1|kestrune-try: drop takes 2 argument(s), drop FILE FOLDER; got 1|drop 'K:\t\a.txt'
1|kestrune-try: option --pick after the command|overlay 'K:\t\a.txt' --pick 1
1|--pick 7: no such item in this menu|--pick 7 drop 'K:\t\a.txt' 'K:\t\sub'
6|the path is too long|--pick 1 menu "$long"
3|cannot drop K:\t\missing.txt on K:\t\sub: 0x80070002 (File not found)|--pick 1 drop 'K:\t\missing.txt' 'K:\t\sub'
4|answers IDNO|--answer no copy 'K:\t\guarded' 'K:\t\copies'
8|opened on display|delete 'K:\t\guarded'
3|the link K:\t\guarded cannot be removed: Directory is not empty|--answer yes delete 'K:\t\guarded'
5|step failed: page 999|--steps 'window; page 999' properties 'K:\t\a.txt'
6|nothing to offer here: K:\t\full is not empty|--pick 1 menu 'K:\t\full'
0|1  ここにシンボリックリンクを作成(&S)|--pick 0 drop 'K:\t\a.txt' 'C:\'
7|timed out after 2 s|--timeout 2 --steps 'window no such title' properties 'K:\t\a.txt'
8|is the session's own Xvfb|properties 'K:\t\a.txt'
8|opened on display|--pick 1 menu 'K:\t\empty'
ROWS
# Wine's RemoveDirectoryW looks through the link and finds the folder behind it not empty.
[ -L "$scratch_drive/t/guarded" ] && [ -d "$scratch_drive/t/behind/x" ] || fail "deleting the link K:\t\guarded deleted what it leads to"
[ "$(try frobnicate | wc -l)" = 2 ] || fail "a usage error takes more than two lines"
expect "  0  Cancel" "$(KESTRUNE_WINE_LOCALE=en_US.UTF-8 try --pick 0 drop 'K:\t\a.txt' 'K:\t\sub')"

echo "== reinstall, a rebuilt package of the same version over it, repair after damage"
wine_text msiexec /i "$msi" /qn || fail "second msiexec /i"
rebuilt="$KESTRUNE_SESSION_DIR/rebuilt.msi"
cp "$msi" "$rebuilt"
msibuild "$rebuilt" -q "UPDATE \`Property\` SET \`Value\` = '{3A1F0B8E-5D6C-4E2B-9F7A-1C0D2E3F4A5B}' WHERE \`Property\` = 'ProductCode'"
msibuild "$rebuilt" -s Kestrune Kestrune 'x64;1041' '{7B2C4D6E-8F90-4A1B-B2C3-D4E5F6A7B8C9}'
wine_text msiexec /i "$rebuilt" /qn || fail "msiexec /i of the rebuilt package"
[ "$(kestrunes)" = 1 ] || fail "$(kestrunes) products named Kestrune are installed"
rm -f "$WINEPREFIX/drive_c/Program Files/Kestrune/Kestrune.dll"
wine_text reg delete 'HKCR\CLSID\{839443F4-21A5-4DB5-9DA7-0D3B18B0DAA5}\InprocServer32' /f >/dev/null
repair=$(grep -oE 'msiexec /f[a-z]+' "$here/README.md" | head -1)
echo "== the README's repair: $repair"
wine_text $repair "$rebuilt" /qn || echo "($repair answered $?)"
# Its result is the ctest entry installer_repair of its own, so that a skip here leaves the rest passed.
if [ -f "$WINEPREFIX/drive_c/Program Files/Kestrune/Kestrune.dll" ]; then
  echo "restored" >"$KESTRUNE_SESSION_DIR/repair.result"
else
  # Wine's msiexec /f answers success and restores nothing; Windows runs it as this.
  echo "SKIPPED: this Wine's $repair restored nothing: its equivalent REINSTALLMODE=${repair#msiexec /f} is checked instead" |
    tee "$KESTRUNE_SESSION_DIR/repair.result"
  wine_text msiexec /i "$rebuilt" REINSTALL=ALL REINSTALLMODE=${repair#msiexec /f} /qn || fail "repair"
fi
stage 'Installed*:*/Installed*'

echo "== the later version replaces it"
wine_text msiexec /i "$next_msi" /qn || fail "msiexec /i of the later version"
[ "$(kestrunes)" = 1 ] || fail "$(kestrunes) products named Kestrune are installed after the upgrade"
uninstall_key "$rebuilt" >/dev/null && fail "the earlier version's entry is left" || true
expect "DisplayVersion    REG_SZ    $(property "$next_msi" ProductVersion)" "$(uninstall_key "$next_msi")"
stage 'Installed*:*/Installed*'

echo "== uninstall"
wine_text msiexec /x "$next_msi" /qn || fail "msiexec /x"
stage 'Removed.*'
[ ! -e "$menu" ] || fail "the Start menu's Kestrune folder is left"
out=$(try status) && fail "kestrune-try ran after the uninstall" || true
expect "Kestrune is not installed here" "$out"

echo "== a session by hand keeps the files on K: and N:, unless started --fresh"
printf kept >"$scratch_drive/kept.txt"
mounted=$(mountpoint -q "$ntfs_mount" && printf kept | tee "$ntfs_mount/kept.txt" || true)
wine_session_stop
kept="test -f '$scratch_drive/kept.txt'${mounted:+ && test -f '$ntfs_mount/kept.txt'}"
env -u DISPLAY -u KESTRUNE_FRESH_DRIVES "$here/tools/wine-shell.sh" --session "$KESTRUNE_SESSION_DIR" bash -c "$kept" || fail "the files were lost"
env -u DISPLAY -u KESTRUNE_FRESH_DRIVES "$here/tools/wine-shell.sh" --fresh --session "$KESTRUNE_SESSION_DIR" bash -c "! test -e $scratch_drive/kept.txt" ||
  fail "--fresh kept the files"

[ $skipped = 0 ] || exit 77
echo "installer: all checks passed"
