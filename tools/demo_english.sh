# Sourced by tools/demo.sh after the Japanese pictures: the page once more as on a Windows whose
# display language is English (Wine under en_US.UTF-8 reports user interface language 0x409).
# A file with an English name is linked once through the drop handler, whose English name series
# gives "Hard link to Report.txt", and its page is photographed after listing the links:
# kestrune-tab-en.png, in a Latin dialog font (named beside it in kestrune-tab-en.font), as an English
# Windows draws it: a Japanese font draws each backslash as a yen sign.
#
# Wine rewrites the "MS Shell Dlg" substitute whenever the locale's code page changes, and leaves
# "MS Shell Dlg 2" at the Japanese font: replacements, which it leaves alone, give the dialog fonts a
# Latin face for this picture only.
latin_dialog_fonts() { # add FONT | delete
  local name
  for name in 'MS Shell Dlg' 'MS Shell Dlg 2' Tahoma; do
    english_wine reg "$1" 'HKCU\Software\Wine\Fonts\Replacements' /v "$name" ${2:+/d "$2"} /f >/dev/null
  done
}
english_wine() { KESTRUNE_WINE_LOCALE=en_US.UTF-8 "$here/tools/wine-run.sh" "$@" </dev/null 2>&1 | tr -d '\r'; }
if ready PropNTFS; then
  say "the page on an English Windows (user interface language English):"
  mkdir -p "$root/Demo"
  printf 'Quarterly report.\r\n' >"$root/Demo/Report.txt"
  latin_dialog_fonts add 'DejaVu Sans'
  (
    export KESTRUNE_WINE_LOCALE=en_US.UTF-8
    try --steps "menu; shot $(windows_path "$out/drop-menu-en.bmp"); close" drop "$drive\\Demo\\Report.txt" "$drive\\Demo"
    mkdir -p "$root/Demo/Archive"
    try --steps "menu; shot $(windows_path "$out/drop-menu-folder-en.bmp"); close" drop "$drive\\Demo\\Archive" "$drive\\Demo"
    try --pick 1 drop "$drive\\Demo\\Report.txt" "$drive\\Demo"
    try --steps "window Report.txt; page 202; click 202; wait-list 204; shot $(windows_path "$out/kestrune-tab-en.bmp"); close" \
      properties "$drive\\Demo\\Report.txt"
  ) || { say "the page did not open on the English Windows"; exit 1; }
  english_wine reg query 'HKCU\Software\Wine\Fonts\Replacements' /v 'MS Shell Dlg 2' |
    sed -n 's/^ *MS Shell Dlg 2 *REG_SZ *//p' >"$out/kestrune-tab-en.font"
  say "its dialog font: $(cat "$out/kestrune-tab-en.font")"
  latin_dialog_fonts delete
fi
