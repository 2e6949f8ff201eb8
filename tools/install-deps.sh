#!/usr/bin/env bash
# Installs the cross toolchain, Wine and the test services on Debian 12 when missing.
set -euo pipefail
need=()
have() { command -v "$1" >/dev/null 2>&1; }
have x86_64-w64-mingw32-g++-posix || need+=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools)
have x86_64-w64-mingw32-widl || need+=(mingw-w64-tools)
have wine || need+=(wine wine64)
have wineserver || [ -x /usr/lib/wine/wineserver ] || need+=(wine64)
[ -d /usr/include/wine/wine/windows ] || need+=(libwine-dev)
have Xvfb || need+=(xvfb)
have cmake || need+=(cmake)
have ninja || need+=(ninja-build)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
have iconv || need+=(libc-bin)
have python3 || need+=(python3)
have chmcmd || need+=(fp-utils)
have mkntfs || need+=(ntfs-3g)
have fusermount3 || have fusermount || need+=(fuse3)
# Wine maps Unix file names through the glibc locale: without ja_JP.UTF-8 generated, Japanese
# names cannot be created on its drives even though it reports code page 932.
[ -f /usr/share/i18n/locales/ja_JP ] && have localedef || need+=(locales)
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "missing packages: ${need[*]} (run as root to install)" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
  if [ "$(id -u)" != 0 ]; then
    echo "the ja_JP.UTF-8 locale is missing (run as root to generate it)" >&2
    exit 1
  fi
  localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi
