#!/usr/bin/env bash
# The README's main job (tools/demo.sh) in the CI's conditions: no display but the Xvfb it starts.
# It must end with non-empty pictures, each showing what it is named for where the build has the class.
set -euo pipefail
source_dir=$1
log=$("$source_dir/tools/demo.sh" 2>&1) || { echo "$log"; echo "FAILED: tools/demo.sh"; exit 1; }
echo "$log"
shopt -s nullglob
pictures=("$source_dir"/build/demo/*.png)
[ ${#pictures[@]} -gt 0 ] || { echo "FAILED: no picture"; exit 1; }
for picture in "${pictures[@]}"; do
  [ "$(head -c 8 "$picture" | od -An -c | tr -d ' ')" = '211PNG\r\n032\n' ] || { echo "FAILED: $picture is no PNG"; exit 1; }
  # Colours inside a 4-pixel frame of the demo's own PNGs (one IDAT, unfiltered RGB rows): one is blank.
  python3 -c 'import struct,sys,zlib; d=open(sys.argv[1],"rb").read(); w,h=struct.unpack(">II",d[16:24])
rows=zlib.decompress(d[d.index(b"IDAT")+4:d.index(b"IEND")-8]); n=3*w+1
sys.exit(len({rows[y*n+1+3*x:y*n+4+3*x] for y in range(4,h-4) for x in range(4,w-4)}) < 2)' "$picture" ||
    { echo "FAILED: $picture is blank"; exit 1; }
done
# Each picture and what its steps saw in it (the steps fail a blank picture, a page outside its
# sheet, a third link out of view, a browser without the folder selected; these lines prove they ran).
expect() { # CLASS PICTURE LINE
  grep -q "$1 {[^}]*}: ready" <<<"$log" || return 0
  [ -s "$source_dir/build/demo/$2.png" ] || { echo "FAILED: no $2.png"; exit 1; }
  grep -qF -- "$3" <<<"$log" || { echo "FAILED: $2.png: the log lacks \"$3\""; exit 1; }
}
expect HardLink drop-menu '| popup menu'
expect HardLink drop-menu-folder 'drop-menu-folder.bmp'
expect PropNTFS kestrune-tab 'controls of the page inside the sheet'
expect PropNTFS kestrune-tab-link-3 '| item 3 selected, in view'
expect ReparsePoint create-flow ':\デモ\保管 ("保管" in the tree)'
expect OperationHook copy-hook ':\デモ\リンク"'
expect PropNTFS kestrune-tab-en 'kestrune-tab-en.bmp'
# A Japanese dialog font draws the English page's backslashes as yen signs.
font=$(cat "$source_dir/build/demo/kestrune-tab-en.font" 2>/dev/null || true)
[ ! -e "$source_dir/build/demo/kestrune-tab-en.png" ] || grep -qxE 'DejaVu Sans|Liberation Sans' <<<"$font" ||
  { echo "FAILED: kestrune-tab-en.png was taken in the dialog font \"$font\", not a Latin one"; exit 1; }
if ! grep -q 'PropNTFS {[^}]*}: ready' <<<"$log"; then
  echo "SKIPPED: this build has no PropNTFS yet: the Kestrune tab is not checked"
  exit 77
fi
