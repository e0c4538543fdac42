#!/bin/bash
# Writes the pictures of docs/images from a built tree: the bid overview before and after
# three auctions on the simulated site, and two notifications as a desktop shows them
# (dunst on a virtual display, with a session bus of its own). Not part of the tests.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out="$here/docs/images"
build="${BUILD:-$here/build}"
need=()
for p in dunst xvfb imagemagick xauth dbus libglib2.0-bin fonts-noto-cjk; do
    dpkg -s "$p" >/dev/null 2>&1 || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
    sudo_cmd=""
    [ "$(id -u)" -eq 0 ] || sudo_cmd=sudo
    $sudo_cmd apt-get install -y "${need[@]}"
fi
mkdir -p "$out"
SNIPEWELL_SCREENSHOTS="$out" QT_QPA_PLATFORM=offscreen \
    "$build/tests/tst_overview" rowsAndVerdictsAfterTheEnd >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/dunstrc" <<'RC'
[global]
font = Noto Sans CJK JP 11
width = 420
origin = top-right
offset = 20x20
frame_width = 1
frame_color = "#888888"
[urgency_normal]
background = "#ffffff"
foreground = "#222222"
timeout = 0
RC
# The two notices as Snipewell hands them to the desktop (the same call, summary and body).
cat >"$work/inside.sh" <<IN
#!/bin/bash
dunst -config "$work/dunstrc" 2>/dev/null &
sleep 1.5
notice() {
    gdbus call --session --dest org.freedesktop.Notifications \\
        --object-path /org/freedesktop/Notifications \\
        --method org.freedesktop.Notifications.Notify -- \\
        Snipewell 0 snipewell "\$1" "\$2" '[]' '{"urgency": <byte 1>}' -1 >/dev/null
}
notice "Snipewell：落札しました" "x1 腕時計 アンティーク
落札しました：4,300円"
notice "Snipewell：落札できませんでした" "x2 文庫本セット
落札できませんでした：より高い入札がありました（最終価格5,250円）"
sleep 1
import -window root "$work/root.png"
IN
chmod +x "$work/inside.sh"
xvfb-run -s "-screen 0 1024x400x24" dbus-run-session "$work/inside.sh"
convert "$work/root.png" -crop 450x210+557+16 +repage "$out/notifications.png"
echo "written: $out/overview-before.png overview-after.png notifications.png"
