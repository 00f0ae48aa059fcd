#!/usr/bin/env bash
# Installs what is missing, builds qrnl.exe and starts it under Wine, in a
# Japanese locale or the one named (bash tools/run.sh fr_FR.UTF-8). Without
# a display it starts a virtual one and says how to look at it.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
build="${QRNL_BUILD_DIR:-$root/build}"

bash tools/setup.sh
cmake -S . -B "$build/win" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$build/win" -j 2 --target qrnl

source tools/wine-env.sh "$build" "${1:-ja_JP.UTF-8}"
trap 'qrnl_stop_display' EXIT
trap 'exit 1' INT TERM HUP
qrnl_start_display
qrnl_prepare_prefix
if [ -n "${QRNL_XVFB_PID:-}" ]; then
  cat <<MSG
Quarnel runs on the virtual display $DISPLAY (there was no display here).
To see it, from another shell:
  xwd -root -display $DISPLAY | convert xwd:- quarnel.png     (a screenshot)
  DISPLAY=$DISPLAY xdotool search --name Quarnel              (its window)
Close it with Ctrl+C here.
MSG
fi
wine "$build/win/ui/qrnl.exe"
