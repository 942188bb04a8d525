#!/usr/bin/env bash
# Reads Kestrum over AT-SPI (atspi_check.py) in a private session bus, with the accessibility
# bus it starts on demand, and a private X server. Exits 77, which CTest counts as skipped,
# only when a tool the check needs is not installed (scripts/setup installs them all).
set -u
exe=$1
here=$(dirname "$0")
python=/usr/bin/python3
skip() {
  echo "SKIPPED: $1 (scripts/setup installs it)"
  exit 77
}
for tool in dbus-run-session xvfb-run xauth xdotool "$python"; do
  command -v "$tool" >/dev/null || skip "$tool is missing"
done
"$python" -c 'import pyatspi' 2>/dev/null || skip "python3-pyatspi is missing"
[ -e /usr/share/dbus-1/services/org.a11y.Bus.service ] || skip "at-spi2-core is missing"
# The X server's and the bus's own chatter is not the check's.
exec timeout -k 5 120 dbus-run-session -- \
  xvfb-run -a -s "-screen 0 1280x900x24 -nolisten tcp" \
  "$python" "$here/atspi_check.py" "$exe" 2> >(grep -v -e '^dbus-daemon' -e 'XDG_RUNTIME_DIR' >&2)
