#!/usr/bin/env bash
# Drives the built window from outside through AT-SPI, as a screen reader or a test
# robot would (ui/tests/atspi_drive.py): under Xvfb, with a private D-Bus session and
# accessibility bus, on the simulated track. Usage: check_atspi.sh BUILD_DIR
# Skipped, with a note, where the X server, the bus or pyatspi are not installed.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:?usage: check_atspi.sh BUILD_DIR}" && pwd)

missing=()
for tool in Xvfb dbus-run-session; do
  command -v "$tool" >/dev/null || missing+=("$tool")
done
[ -x /usr/libexec/at-spi-bus-launcher ] || missing+=(at-spi-bus-launcher)
# Debian's pyatspi is for the system's Python, whatever python3 comes first in PATH.
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || missing+=(pyatspi)
if [ ${#missing[@]} -gt 0 ]; then
  echo "AT-SPI check skipped: ${missing[*]} not installed" >&2
  exit 0
fi

[ -x "$build/ui/qarn2" ] || { echo "AT-SPI check: no $build/ui/qarn2" >&2; exit 1; }
echo "== AT-SPI check ==" >&2
exec /usr/bin/python3 "$root/ui/tests/atspi_drive.py" --program "$build/ui/qarn2" --examples "$root/examples"
