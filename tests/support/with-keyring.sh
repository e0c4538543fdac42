#!/usr/bin/env bash
# Runs a command with a keyring of its own: a Secret Service (gnome-keyring) on the private
# D-Bus session that dbus-run-session made, in a throw-away home, unlocked. Nothing of the
# user's own keyring is touched.
set -euo pipefail
home=$(mktemp -d)
export HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config"
export XDG_RUNTIME_DIR="$home/run"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
printf 'test' | gnome-keyring-daemon --foreground --unlock --components=secrets >/dev/null 2>&1 &
daemon=$!
trap 'kill "$daemon" 2>/dev/null || true; wait "$daemon" 2>/dev/null || true; rm -rf "$home"' EXIT
# Until the Secret Service answers on the bus.
for _ in $(seq 50); do
  if dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
       org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null |
     grep -q 'boolean true'; then
    break
  fi
  sleep 0.1
done
export SNIPEWELL_TEST_KEYRING=1
"$@"
