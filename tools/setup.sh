#!/usr/bin/env bash
# Installs from Debian's apt whatever the build and the tests need and is
# missing, and generates the ja_JP.UTF-8 and fr_FR.UTF-8 locales. Idempotent;
# quiet when all is there. Needs root (or sudo) only when something is missing.
set -euo pipefail

packages=(
  cmake make g++ git
  mingw-w64 g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
  wine wine64 xvfb xdotool x11-utils x11-apps imagemagick
  locales fonts-ipafont-gothic fonts-wine
  googletest libgtest-dev libgmp-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Japanese, the program's own language, and a Western one (code page 1252),
# under which it must show the same texts.
for loc in ja_JP fr_FR; do
  if ! locale -a 2>/dev/null | grep -qi "^$loc\.utf-\?8\$"; then
    echo "setup: generating the $loc.UTF-8 locale"
    if ! grep -q "^$loc.UTF-8 UTF-8" /etc/locale.gen 2>/dev/null; then
      echo "$loc.UTF-8 UTF-8" | "${sudo_cmd[@]}" tee -a /etc/locale.gen >/dev/null
    fi
    "${sudo_cmd[@]}" locale-gen >/dev/null
  fi
done
