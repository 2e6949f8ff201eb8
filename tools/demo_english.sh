# Sourced by tools/demo.sh after the Japanese pictures: the page once more as on a Windows whose
# display language is English (Wine under en_US.UTF-8 reports user interface language 0x409).
# A file with an English name is linked once through the drop handler, whose English name series
# gives "Hard link to Report.txt", and its page is photographed after listing the links:
# kestrune-tab-en.png, in a Latin dialog font (named beside it in kestrune-tab-en.font); the
# Japanese font comes back for the pictures after it.
if ready PropNTFS; then
  say "the page on an English Windows (user interface language English):"
  mkdir -p "$root/Demo"
  printf 'Quarterly report.\r\n' >"$root/Demo/Report.txt"
  dialog_font 'DejaVu Sans'
  (
    export KESTRUNE_WINE_LOCALE=en_US.UTF-8
    try --pick 1 drop "$drive\\Demo\\Report.txt" "$drive\\Demo"
    try --steps "window Report.txt; page 202; click 202; wait-list 204; shot $(windows_path "$out/kestrune-tab-en.bmp"); close" \
      properties "$drive\\Demo\\Report.txt"
  ) || { say "the page did not open on the English Windows"; exit 1; }
  dialog_font_in_use >"$out/kestrune-tab-en.font"
  say "its dialog font: $(cat "$out/kestrune-tab-en.font")"
  dialog_font IPAPGothic
fi
