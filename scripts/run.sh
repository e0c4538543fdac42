#!/usr/bin/env bash
# Installs what Snipewell needs, builds it and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j2 --target snipewell
exec ./build/src/app/snipewell "$@"
