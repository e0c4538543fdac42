#!/usr/bin/env bash
# Installs what Snipewell needs, builds it, installs it for this user (~/.local: the
# program, its menu entry, icon, tips and demo scenario) and starts it.
#   ./scripts/run.sh --demo     the demo, against a simulated auction site
#   ./scripts/run.sh            the real thing
# PREFIX=/some/where ./scripts/run.sh installs elsewhere.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
prefix="${PREFIX:-$HOME/.local}"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX="$prefix"
cmake --build build -j2 --target snipewell snipewell-service snipewell-sim snipewell-probe
cmake --install build
exec "$prefix/bin/snipewell" "$@"
