#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, if any is
# missing, and any further packages named as arguments.
# The window tests run under Xvfb and drive the program with xdotool;
# FLTK draws text with Xft, so a TrueType font must be there. The fuzz
# targets are built with clang and its libFuzzer runtime; the soak test also
# runs under Valgrind and measures memory with GNU time. The package is built
# with CPack, whose library dependencies come from dpkg-shlibdeps (dpkg-dev);
# its check renders the manual page and validates the menu entry. PNG, JPEG
# and colour profiles come from libspng, libjpeg-turbo and Little CMS. The
# batch test runs GNU parallel.
set -euo pipefail
packages=(cmake make g++ pkg-config libfltk1.3-dev libspng-dev libjpeg62-turbo-dev liblcms2-dev libgtest-dev xvfb xauth xdotool x11-utils fonts-dejavu-core
  clang libclang-rt-14-dev valgrind time dpkg-dev man-db desktop-file-utils parallel "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
