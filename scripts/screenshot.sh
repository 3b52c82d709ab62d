#!/usr/bin/env bash
# Takes the picture of the window that README shows: the window on the simulated
# track with the example locomotive decoder open, on an X server of its own
# (Xvfb, 1024x768), the window alone, as a small PNG.
# Usage: scripts/screenshot.sh [OUT.png]   (default docs/qarn2.png)
# It builds build/ui/qarn2 as ./run does and, run as root, installs what it needs
# besides: xvfb, x11-utils (xwininfo, xprop) and imagemagick (import).
set -euo pipefail
QARN2_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$QARN2_ROOT/scripts/setup.sh"

out=$(realpath -m "${1:-$QARN2_ROOT/docs/qarn2.png}")
qarn2_ensure_packages run
qarn2_install_missing xvfb x11-utils imagemagick
qarn2_build build Release -- qarn2

work=$(mktemp -d "${TMPDIR:-/tmp}/qarn2-screenshot.XXXXXX")
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display and names it on fd 3.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "screenshot: Xvfb did not start:" >&2; cat "$work/xvfb.log" >&2; exit 1; }
DISPLAY=:$(cat "$work/display")
export DISPLAY

# The same look wherever it is taken: Qt's own style, no settings of the user's.
export QT_QPA_PLATFORM=xcb QT_STYLE_OVERRIDE=Fusion LANG=C.UTF-8 LC_ALL=
export XDG_CONFIG_HOME=$work/config
"$QARN2_ROOT/build/ui/qarn2" --simulate "$QARN2_ROOT/examples/lokdecoder.LOC" >"$work/qarn2.log" 2>&1 &
pids+=($!)

# The window: the top-level window of class qarn2 that is on screen (Qt makes hidden
# helper windows of the same class too).
wm_class=$(sed -n 's/^StartupWMClass=//p' "$QARN2_ROOT/packaging/de.qarn2.qarn2.desktop")
window=
for _ in $(seq 100); do
  while read -r id; do
    if xprop -id "$id" WM_CLASS 2>/dev/null | grep -qF "\"$wm_class\"" &&
       xwininfo -id "$id" | grep -q 'Map State: IsViewable'; then
      window=$id
    fi
  done < <(xwininfo -root -children | sed -n 's/^ *\(0x[0-9a-f]*\) .*/\1/p')
  [ -n "$window" ] && break
  sleep 0.1
done
if [ -z "$window" ]; then
  echo "screenshot: no window of class $wm_class (the desktop entry's StartupWMClass) appeared:" >&2
  cat "$work/qarn2.log" >&2
  exit 1
fi
# The start-up (track power, the resets) and the file's mode line settle first.
sleep 3
mkdir -p "$(dirname "$out")"
import -window "$window" -strip -define png:compression-level=9 "png:$out"
geometry=$(xwininfo -id "$window" | sed -n 's/.*-geometry \([0-9x]*\).*/\1/p')
echo "screenshot: $out, $geometry, $(stat -c %s "$out") bytes" >&2
