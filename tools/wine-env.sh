# Sourced by the run and test scripts: a Wine prefix inside the build tree,
# Japanese locale (so the program's ANSI code page is 932), and a Wine virtual
# desktop so windows get frames without a window manager.
#   source tools/wine-env.sh BUILD_DIR
qrnl_build_dir=${1:?build dir}
mkdir -p "$qrnl_build_dir"
export WINEPREFIX="$(cd "$qrnl_build_dir" && pwd)/wineprefix"
export WINEARCH=win64
export WINEDEBUG=-all
export LANG=ja_JP.UTF-8
export LC_ALL=ja_JP.UTF-8
# No Mono or Gecko prompts when the prefix is made.
export WINEDLLOVERRIDES="mscoree,mshtml="

qrnl_prepare_prefix() {
  if [ ! -f "$WINEPREFIX/.qrnl-ready" ]; then
    echo "wine: preparing the prefix in $WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
    cat >"$WINEPREFIX/qrnl-desktop.reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Explorer]
"Desktop"="Default"

[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]
"Default"="1024x768"
REG
    wine regedit "$WINEPREFIX/qrnl-desktop.reg" >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.qrnl-ready"
  fi
  # Marlett draws the caption buttons; without it they show as letters.
  local marlett=/usr/share/wine/fonts/marlett.ttf
  local fonts="$WINEPREFIX/drive_c/windows/Fonts"
  if ! cmp -s "$marlett" "$fonts/marlett.ttf"; then
    mkdir -p "$fonts"
    cp "$marlett" "$fonts/marlett.ttf"
  fi
}

# A virtual X display when there is none: QRNL_XVFB_PID is set when we started it.
qrnl_start_display() {
  QRNL_XVFB_PID=
  if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
    local n=91
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    QRNL_XVFB_PID=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  fi
}

qrnl_stop_display() {
  if [ -n "${QRNL_XVFB_PID:-}" ]; then kill "$QRNL_XVFB_PID" 2>/dev/null || true; fi
}
