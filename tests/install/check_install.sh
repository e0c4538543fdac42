#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks what a desktop user gets: the
# programs, a valid menu entry with a Japanese name, the icon, the tips and the demo.
set -euo pipefail
build="$1"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" > /dev/null

for f in bin/snipewell bin/snipewell-service bin/snipewell-sim bin/snipewell-probe \
         share/systemd/user/snipewell-service.service \
         share/applications/snipewell.desktop \
         share/icons/hicolor/scalable/apps/snipewell.svg \
         share/snipewell/TIPOFDAY.TXT share/snipewell/demo.json; do
  [ -e "$prefix/$f" ] || { echo "missing after install: $f"; exit 1; }
done

desktop="$prefix/share/applications/snipewell.desktop"
grep -q '^Name\[ja\]=' "$desktop" || { echo "no Japanese name in the menu entry"; exit 1; }
grep -q '^Comment\[ja\]=' "$desktop" || { echo "no Japanese comment in the menu entry"; exit 1; }
grep -q '^Exec=snipewell' "$desktop" || { echo "the menu entry does not start snipewell"; exit 1; }
if command -v desktop-file-validate > /dev/null; then
  desktop-file-validate "$desktop"
fi

# --help and --version work in a plain terminal, without a display.
env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM= "$prefix/bin/snipewell" --version \
  | grep -qx 'snipewell [0-9.]*' || { echo "--version does not print the version"; exit 1; }
help="$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM= "$prefix/bin/snipewell" --help)"
grep -q -- '--demo' <<< "$help" || { echo "--help does not mention --demo"; exit 1; }
if "$prefix/bin/snipewell" --no-such-option 2> /dev/null; then
  echo "an unknown option was accepted"; exit 1
fi

# The service's unit starts the installed service, and the service links no widgets.
unit="$prefix/share/systemd/user/snipewell-service.service"
grep -q "^ExecStart=$prefix/bin/snipewell-service\$" "$unit" || grep -q '^ExecStart=.*/bin/snipewell-service$' "$unit" \
  || { echo "the unit does not start snipewell-service"; exit 1; }
if command -v systemd-analyze > /dev/null; then
  systemd-analyze verify --user "$unit" 2>&1 | grep -v 'Failed to\|No such file' || true
fi
if ldd "$prefix/bin/snipewell-service" | grep -q 'Qt6Widgets\|Qt6WebEngine'; then
  echo "snipewell-service links widgets or the browser engine"; exit 1
fi
env -u DISPLAY -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS "$prefix/bin/snipewell-service" --version \
  | grep -qx 'snipewell-service [0-9.]*' || { echo "snipewell-service --version"; exit 1; }

# The desktop program does not load the browser engine until the browser is needed: the
# engine is in a module of its own, installed where the program looks for it.
if ldd "$prefix/bin/snipewell" | grep -q 'Qt6WebEngine'; then
  echo "snipewell links the browser engine at start"; exit 1
fi
module="$(find "$prefix" -name libsnipewell-browser.so | head -1)"
[ -n "$module" ] || { echo "missing after install: libsnipewell-browser.so"; exit 1; }
[ -e "$prefix/bin/../${module#"$prefix/"}" ] || { echo "the browser module is not under the prefix"; exit 1; }

# The tips and the demo scenario are the real ones.
grep -q 'ﾜﾝﾎﾟｲﾝﾄ\|入札' "$prefix/share/snipewell/TIPOFDAY.TXT"
[ "$(grep -c '"id": "d1' "$prefix/share/snipewell/demo.json")" -ge 8 ] \
  || { echo "the demo scenario has too few items"; exit 1; }
echo "install ok: $prefix"
