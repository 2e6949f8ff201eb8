#!/usr/bin/env bash
# Builds and runs the NTFS services benchmark under Wine; prints one summary line per figure.
# "tools/bench.sh real": only the real tree on the ntfs-3g drive.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/tools/build.sh" ntfs_bench
source "$here/tools/wine-session.sh"
trap wine_session_stop EXIT
wine_session_start
# A real tree on the ntfs-3g drive N: where it is mounted: 10 x 10 folders of 100 files and a file
# with five links, the benchmark's layout at 10,000 files, made with ordinary Linux calls.
if mountpoint -q "$ntfs_mount"; then
  tree="$ntfs_mount/kestrune-bench"
  for a in $(seq 0 9); do
    for b in $(seq 0 9); do
      mkdir -p "$tree/top$a/sub$b"
      (cd "$tree/top$a/sub$b" && touch file{0..99}.dat)
    done
  done
  touch "$tree/linked.txt"
  for i in 0 1 2 3; do ln "$tree/linked.txt" "$tree/top$((i * 3))/sub$i/link$i.txt"; done
fi
"$here/tools/wine-run.sh" "$here/build/tests/ntfs_bench.exe" "$@"
