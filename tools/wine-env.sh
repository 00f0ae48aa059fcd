# Sourced by the run and test scripts: a Wine prefix inside the build tree for
# one locale (Japanese unless LOCALE names another: Wine takes the system's
# language and ANSI code page from it) and one display scale (DPI, 96 unless
# given: 144 is 150 %, 192 is 200 %), and a Wine virtual desktop so windows
# get frames without a window manager.
#   source tools/wine-env.sh BUILD_DIR [LOCALE] [DPI]
qrnl_build_dir=${1:?build dir}
qrnl_locale=${2:-ja_JP.UTF-8}
qrnl_dpi=${3:-96}
mkdir -p "$qrnl_build_dir"
qrnl_build_dir="$(cd "$qrnl_build_dir" && pwd)"
# The Japanese prefix at 96 DPI keeps its old name; each other locale and
# scale has its own.
qrnl_wineprefix() {
  local name
  case "$1" in
    ja_JP.*) name=wineprefix ;;
    *) name="wineprefix-${1%%.*}" ;;
  esac
  if [ "${2:-96}" != 96 ]; then name="$name-dpi$2"; fi
  echo "$qrnl_build_dir/$name"
}
export WINEPREFIX="$(qrnl_wineprefix "$qrnl_locale" "$qrnl_dpi")"
export WINEARCH=win64
export WINEDEBUG=-all
export LANG=$qrnl_locale
export LC_ALL=$qrnl_locale
# No Mono or Gecko prompts when the prefix is made.
export WINEDLLOVERRIDES="mscoree,mshtml="

# Bumped whenever the settings below change, so older prefixes get them too.
qrnl_prefix_stamp=4

# The scale, as Windows keeps it (both places Wine reads), and a desktop that
# grows with it, so that a window shows what it shows at 96 DPI, only sharper.
qrnl_scale_settings() {
  local dpi
  dpi=$(printf '%08x' "$qrnl_dpi")
  echo '[HKEY_CURRENT_USER\Control Panel\Desktop]'
  echo "\"LogPixels\"=dword:$dpi"
  echo
  echo '[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts]'
  echo "\"LogPixels\"=dword:$dpi"
  echo
}
qrnl_desktop_size() { echo "$((1024 * qrnl_dpi / 96))x$((768 * qrnl_dpi / 96))"; }

# Japanese glyphs for a prefix of another language, as a Western Windows has
# them: IPA Gothic linked behind the faces the system draws texts in (menus,
# title, message boxes, status bar, tooltips) and the log's, and standing in
# for MS Gothic, the dialog's face, which such a Windows keeps among its
# Japanese fonts. Lines of a REGEDIT4 file.
qrnl_ipa_gothic=/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf
qrnl_font_link_settings() {
  # A multi-string of one entry, as REGEDIT4 writes it: bytes, two NULs.
  local link
  link=$(printf '%s\0\0' "ipag.ttf,IPAGothic" | od -An -v -tx1 | tr -s ' \n' ',' |
    sed 's/^,//; s/,$//')
  echo '[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink]'
  local face
  for face in "Tahoma" "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif" "Fixedsys"; do
    echo "\"$face\"=hex(7):$link"
  done
  echo
  echo '[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]'
  echo '"MS Gothic"="IPAGothic"'
}

# Makes the prefix once and brings its settings up to date. Needs no Wine
# program of this prefix running (it waits for its server to end). Returns
# non-zero, saying why, when the prefix could not be made.
qrnl_prepare_prefix() {
  local log="$WINEPREFIX.log"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine: preparing the prefix in $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    # A server left behind for an earlier folder of the same name (a failed
    # run, then a fresh clone) would take this prefix's requests: end it.
    wineserver -k >/dev/null 2>&1 || true
    wineboot -i >"$log" 2>&1 || true
    # wineboot returns before the programs it started have ended and the
    # registry is on disk; the server exits only after both.
    wineserver -w
    local missing=
    for f in system.reg user.reg drive_c/windows/system32/kernel32.dll; do
      [ -e "$WINEPREFIX/$f" ] || missing="$missing $f"
    done
    if [ -n "$missing" ]; then
      echo "wine: wineboot did not make the prefix in $WINEPREFIX (missing:$missing)." >&2
      echo "wine: its output, from $log:" >&2
      tail -n 20 "$log" >&2
      return 1
    fi
  fi

  if [ "$(cat "$WINEPREFIX/.qrnl-ready" 2>/dev/null)" != "$qrnl_prefix_stamp" ]; then
    # A virtual desktop, and no crash dialog: a crashing test would otherwise
    # wait in it until CTest's time-out.
    {
      cat <<REG
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Explorer]
"Desktop"="Default"

[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]
"Default"="$(qrnl_desktop_size)"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

REG
      qrnl_scale_settings
      case "$LC_ALL" in ja_JP.*) ;; *) qrnl_font_link_settings ;; esac
    } >"$WINEPREFIX/qrnl-settings.reg"
    wine regedit "$WINEPREFIX/qrnl-settings.reg" >>"$log" 2>&1 || true
    wineserver -w
    if ! grep -q '^"ShowCrashDialog"=dword:00000000' "$WINEPREFIX/user.reg" ||
      ! grep -q "^\"Default\"=\"$(qrnl_desktop_size)\"" "$WINEPREFIX/user.reg" ||
      ! grep -q "^\"LogPixels\"=dword:$(printf '%08x' "$qrnl_dpi")" "$WINEPREFIX/user.reg"; then
      echo "wine: regedit did not store the settings in $WINEPREFIX/user.reg (see $log)" >&2
      return 1
    fi
    case "$LC_ALL" in
      ja_JP.*) ;;
      *)
        if ! grep -q '^"Tahoma"=str(7):"ipag.ttf,IPAGothic' "$WINEPREFIX/system.reg"; then
          echo "wine: regedit did not store the font links in $WINEPREFIX/system.reg (see $log)" >&2
          return 1
        fi
        ;;
    esac
    echo "$qrnl_prefix_stamp" >"$WINEPREFIX/.qrnl-ready"
  fi

  # Marlett draws the caption buttons; without it they show as letters.
  qrnl_install_font /usr/share/wine/fonts/marlett.ttf marlett.ttf fonts-wine || return 1
  # The linked font, where Windows keeps its own.
  case "$LC_ALL" in
    ja_JP.*) ;;
    *) qrnl_install_font "$qrnl_ipa_gothic" ipag.ttf fonts-ipafont-gothic || return 1 ;;
  esac
}

# Copies font file $1 into the prefix's Fonts folder as $2 unless it is there;
# $3 is the Debian package that ships it.
qrnl_install_font() {
  local fonts="$WINEPREFIX/drive_c/windows/Fonts"
  if [ ! -f "$1" ]; then
    echo "wine: $1 is missing (Debian package $3)" >&2
    return 1
  fi
  if ! cmp -s "$1" "$fonts/$2"; then
    mkdir -p "$fonts"
    cp "$1" "$fonts/$2"
  fi
}

# A virtual X display when there is none: QRNL_XVFB_PID is set when we started it.
# Xvfb picks a free display number itself and writes it once it takes
# clients, so two runs starting at once never share one.
qrnl_start_display() {
  QRNL_XVFB_PID=
  if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
    local numberFile n=
    numberFile=$(mktemp)
    Xvfb -displayfd 3 -screen 0 2048x1536x24 -nolisten tcp 3>"$numberFile" >/dev/null 2>&1 &
    QRNL_XVFB_PID=$!
    for _ in $(seq 100); do
      n=$(cat "$numberFile")
      [ -n "$n" ] && break
      sleep 0.1
    done
    rm -f "$numberFile"
    if [ -z "$n" ]; then
      echo "display: Xvfb did not start within 10 s" >&2
      return 1
    fi
    export DISPLAY=":$n"
  fi
}

qrnl_stop_display() {
  if [ -n "${QRNL_XVFB_PID:-}" ]; then kill "$QRNL_XVFB_PID" 2>/dev/null || true; fi
}
