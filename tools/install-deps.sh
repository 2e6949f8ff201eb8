#!/usr/bin/env bash
# Installs on Debian 12 or 13 the packages the build, the installer, the demo and the tests need, when
# missing. Packages are asked of dpkg-query, not found on PATH: a user's PATH may lack /usr/sbin,
# where mkntfs lives.
set -euo pipefail
packages=(
  # the cross toolchain; widl's system IDL files come with libwine-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools libwine-dev
  cmake ninja-build python3 googletest
  # Wine and its display, with the X libraries and fonts its dialogs need (Wine only recommends them)
  wine wine64 xvfb libxi6 libxcursor1 libxcomposite1 libxinerama1 libxrandr2 libxrender1 libxfixes3
  libxxf86vm1 fonts-wine
  # Japanese: the glibc locale Wine maps file names through, and a font for the dialogs
  locales fonts-ipafont-gothic
  # a Latin dialog font for the English picture (a Japanese font draws a backslash as a yen sign)
  fonts-dejavu-core
  # the manual (chmcmd, run by strace on a stopped clock), the installer (wixl, msibuild) and its signature when asked for
  fp-utils strace wixl msitools python3-olefile osslsigncode openssl
  # the commit time the build stamps its outputs with
  git
  # the real NTFS drive N:, and the FAT drive F: of a session by hand
  ntfs-3g fuse3 mtools fusefat
)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null | grep -q ' installed$' || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "missing packages: ${missing[*]} (run as root to install them)" >&2
    exit 1
  fi
  # apt-get's lines are read below: untranslated, whatever the user's locale.
  export DEBIAN_FRONTEND=noninteractive LC_ALL=C
  echo "installing ${missing[*]} and what they need (a few minutes on a fresh machine) ..."
  apt-get update -qq
  # One line per downloaded package, then one per 20 set up, so that a long download shows.
  apt-get install -y -q --no-install-recommends "${missing[@]}" 2>&1 | awk '
    /^Need to get/ { print "  " $0; fflush() }
    /^Get:/ { size = $(NF-1) " " $NF; gsub(/[\[\]]/, "", size); printf "  downloading %s: %s (%s)\n", substr($1, 5), $5, size; fflush() }
    /^Setting up/ { if (++done % 20 == 1) { printf "  setting up packages: %d ...\n", done; fflush() } }
    /^E:/ { print; fflush() }' || { echo "apt-get install failed" >&2; exit 1; }
fi
# Wine maps Unix file names through the glibc locale: without ja_JP.UTF-8 generated, Japanese
# names cannot be created on its drives even though it reports code page 932. en_US.UTF-8 gives
# a Wine process an English user interface language (the English texts' tests and picture).
for wanted in ja_JP en_US; do
  locale -a 2>/dev/null | grep -qix "$wanted.utf8" && continue
  if [ "$(id -u)" != 0 ]; then
    echo "the $wanted.UTF-8 locale is missing (run as root to generate it)" >&2
    exit 1
  fi
  localedef -i "$wanted" -f UTF-8 "$wanted.UTF-8"
done
