#!/usr/bin/env bash
# Builds and runs the NTFS services benchmark under Wine; prints one summary line per figure.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/tools/build.sh" ntfs_bench
source "$here/tools/wine-session.sh"
trap wine_session_stop EXIT
wine_session_start
"$here/tools/wine-run.sh" "$here/build/tests/ntfs_bench.exe"
