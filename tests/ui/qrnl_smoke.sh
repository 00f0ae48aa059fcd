#!/usr/bin/env bash
# The shipped qrnl.exe under Wine: it starts with menu, toolbar, log and status
# bar, shows its about box, and ends with exit code 0 when closed. Saves
# screenshots of the window and the about box into SHOT_DIR.
#   qrnl_smoke.sh QRNL_EXE PROBE_EXE SHOT_DIR
# Needs DISPLAY and the Wine environment (tools/wine-env.sh).
set -u
exe=$1 probe=$2 shots=$3
mkdir -p "$shots"
log="$shots/smoke.log"
: >"$log"

shoot() {  # name, then the probe's "rect x y w h" line
  local name=$1 x y w h
  read -r _ x y w h <<<"$2"
  if [ -n "${h:-}" ] && [ "$w" -gt 0 ] && [ "$h" -gt 0 ]; then
    xwd -root -display "$DISPLAY" | convert xwd:- -crop "${w}x${h}+${x}+${y}" +repage "$shots/$name.png"
  else
    xwd -root -display "$DISPLAY" | convert xwd:- "$shots/$name.png"
  fi
  echo "screenshot $shots/$name.png"
}

wine "$exe" </dev/null >>"$log" 2>&1 &
pid=$!
status=0

out=$(wine "$probe" check 2>>"$log") || status=1
out=${out//$'\r'/}  # Wine's console ends lines with CR LF
echo "$out"
if [ $status -eq 0 ]; then
  sleep 1  # let the first paint settle
  shoot main_window "$(grep '^rect' <<<"$out")"
  about=$(wine "$probe" about 2>>"$log") || status=1
  about=${about//$'\r'/}
  echo "$about"
  sleep 1
  # Wine paints modal boxes but does not always pass them on to X: take this
  # one as the program's own GDI sees the screen.
  read -r _ x y w h <<<"$(grep '^rect' <<<"$about")"
  bmp=$(winepath -w "$shots/about_box.bmp" 2>/dev/null)
  bmp=${bmp//$'\r'/}
  if wine "$probe" shot "$bmp" "$x" "$y" "$w" "$h" >>"$log" 2>&1; then
    convert "$shots/about_box.bmp" "$shots/about_box.png" && rm -f "$shots/about_box.bmp"
    echo "screenshot $shots/about_box.png"
  else
    status=1
  fi
  wine "$probe" dismiss >>"$log" 2>&1 || status=1
fi
wine "$probe" close 2>>"$log" || status=1

# The program's own exit code, as Wine hands it on.
if ! timeout 30 tail --pid=$pid -f /dev/null; then kill $pid 2>/dev/null; status=1; fi
wait $pid
code=$?
echo "qrnl.exe exit code $code"
[ $code -eq 0 ] || status=1
exit $status
