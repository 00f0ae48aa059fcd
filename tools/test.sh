#!/usr/bin/env bash
# Installs what is missing, builds everything (native core, native core with
# ASan/UBSan, Windows x64) and runs every test: the native ones directly, the
# Windows ones under Wine on a virtual display. Exits non-zero on any failure.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
build="${QRNL_BUILD_DIR:-$root/build}"
jobs="${QRNL_JOBS:-2}"
# The end-to-end run is made once more under this Western locale, in a prefix
# of its own.
second_locale=fr_FR.UTF-8
second_prefix=$(source tools/wine-env.sh "$build" "$second_locale" 2>/dev/null && echo "$WINEPREFIX")
# The panes' scale test is made once more at 150 % and 200 %, in a Japanese
# prefix of each scale.
scales=(144 192)
scale_prefixes=()
for dpi in "${scales[@]}"; do
  scale_prefixes+=("$dpi=$(source tools/wine-env.sh "$build" ja_JP.UTF-8 "$dpi" 2>/dev/null && echo "$WINEPREFIX")")
done
start=$(date +%s)
stamp() { echo "== $* ($(($(date +%s) - start)) s)"; }

stamp "set-up"
bash tools/setup.sh

stamp "configure and build"
cmake -S . -B "$build/native" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake -S . -B "$build/native-san" -DCMAKE_BUILD_TYPE=Debug -DQRNL_SANITIZE=ON >/dev/null
cmake -S . -B "$build/win" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DQRNL_ORACLE_DIR="$build/oracle" \
  -DQRNL_SECOND_LOCALE="$second_locale" -DQRNL_SECOND_WINEPREFIX="$second_prefix" \
  -DQRNL_SCALE_WINEPREFIXES="$(IFS=';'; echo "${scale_prefixes[*]}")" >/dev/null
cmake --build "$build/native" -j "$jobs"
cmake --build "$build/native-san" -j "$jobs"
cmake --build "$build/win" -j "$jobs"
# The release archive: the end-to-end test drives the qrnl.exe unpacked from it.
cmake --build "$build/win" --target package

stamp "reference data from GMP"
mkdir -p "$build/oracle"
"$build/native/tools/qrnl_oracle" "$build/oracle"

status=0
stamp "native tests"
(cd "$build/native" && ctest --output-on-failure) || status=1
stamp "native tests under ASan/UBSan"
(cd "$build/native-san" && ctest --output-on-failure) || status=1

stamp "Windows tests under Wine"
source tools/wine-env.sh "$build"
full_disk="$build/full-disk"
# Set before anything below can fail, so that a failed or interrupted run
# leaves no Xvfb, wineserver or mount behind. Each step is harmless when its
# part never started.
cleanup() {
  WINEPREFIX="$second_prefix" wineserver -k 2>/dev/null || true
  for entry in "${scale_prefixes[@]}"; do WINEPREFIX="${entry#*=}" wineserver -k 2>/dev/null || true; done
  wineserver -k 2>/dev/null || true
  qrnl_stop_display
  umount "$full_disk" 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP
qrnl_start_display
# Prepares the prefix of a locale (and scale) and starts its server and services.
start_wine() {
  source tools/wine-env.sh "$build" "$1" "${2:-96}"
  qrnl_prepare_prefix
  # One persistent server for the whole run: each test process then starts in
  # a fraction of a second instead of seconds.
  setsid wineserver -p </dev/null >/dev/null 2>&1 &
  # Start Wine's own services now, away from CTest: started by the first test
  # they would inherit its output pipe and CTest would wait on it until timeout.
  sleep 1  # the persistent server first, or the client would start a passing one
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}
start_wine "$second_locale"
for dpi in "${scales[@]}"; do start_wine ja_JP.UTF-8 "$dpi"; done
start_wine ja_JP.UTF-8  # last: CTest runs in its environment
# A 1 MiB disk as drive Q: for the job's full-disk test, where mounting is
# permitted (the test skips itself otherwise).
mkdir -p "$full_disk"
if mountpoint -q "$full_disk" || mount -t tmpfs -o size=1m qrnl-full-disk "$full_disk" 2>/dev/null; then
  ln -sfn "$full_disk" "$WINEPREFIX/dosdevices/q:"
  export QRNL_FULL_DISK='Q:\'
fi
(cd "$build/win" && ctest --output-on-failure --timeout 600) || status=1

stamp "done"
exit $status
