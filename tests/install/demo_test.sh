#!/usr/bin/env bash
# The README's main job (tools/demo.sh) in the CI's conditions: no display but the Xvfb it starts.
# It must end with non-empty pictures; where this build has PropNTFS, with the Kestrune tab.
set -euo pipefail
source_dir=$1
log=$("$source_dir/tools/demo.sh" 2>&1) || { echo "$log"; echo "FAILED: tools/demo.sh"; exit 1; }
echo "$log"
shopt -s nullglob
pictures=("$source_dir"/build/demo/*.png)
[ ${#pictures[@]} -gt 0 ] || { echo "FAILED: no picture"; exit 1; }
for picture in "${pictures[@]}"; do
  [ "$(head -c 8 "$picture" | od -An -c | tr -d ' ')" = '211PNG\r\n032\n' ] || { echo "FAILED: $picture is no PNG"; exit 1; }
  [ "$(stat -c %s "$picture")" -gt 2000 ] || { echo "FAILED: $picture is nearly empty"; exit 1; }
done
if grep -q 'PropNTFS {[^}]*}: ready' <<<"$log"; then
  grep -q '| page "Kestrune"' <<<"$log" || { echo "FAILED: the Properties sheet holds no Kestrune page"; exit 1; }
  [ -s "$source_dir/build/demo/kestrune-tab.png" ] && [ -s "$source_dir/build/demo/kestrune-tab-links.png" ] &&
    [ -s "$source_dir/build/demo/kestrune-tab-en.png" ] ||
    { echo "FAILED: the Kestrune tab was not photographed"; exit 1; }
else
  echo "SKIPPED: this build has no PropNTFS yet: the Kestrune tab is not checked"
  exit 77
fi
