# Sourced by tools/demo.sh after the Japanese pictures: the page once more as on a Windows whose
# display language is English (Wine under en_US.UTF-8 reports user interface language 0x409).
# A file with an English name is linked once through the drop handler, whose English name series
# gives "Hard link to Report.txt", and its page is photographed after listing the links:
# kestrune-tab-en.png.
if ready PropNTFS; then
  say "the page on an English Windows (user interface language English):"
  mkdir -p "$root/Demo"
  printf 'Quarterly report.\r\n' >"$root/Demo/Report.txt"
  (
    export KESTRUNE_WINE_LOCALE=en_US.UTF-8
    try --steps "menu; shot $(windows_path "$out/drop-menu-en.bmp"); close" drop "$drive\\Demo\\Report.txt" "$drive\\Demo"
    mkdir -p "$root/Demo/Archive"
    try --steps "menu; shot $(windows_path "$out/drop-menu-folder-en.bmp"); close" drop "$drive\\Demo\\Archive" "$drive\\Demo"
    try --pick 1 drop "$drive\\Demo\\Report.txt" "$drive\\Demo"
    try --steps "window Report.txt; page 202; click 202; wait-list 204; shot $(windows_path "$out/kestrune-tab-en.bmp"); close" \
      properties "$drive\\Demo\\Report.txt"
  ) || { say "the page did not open on the English Windows"; exit 1; }
fi
