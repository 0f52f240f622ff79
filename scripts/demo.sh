#!/usr/bin/env bash
# The main job: installs what the build needs, builds the component, the
# service daemons and the command-line host into build/, and runs the guided
# demo (`morvala demo`) on a fresh device root.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
cd "$top"
"$top/scripts/install-deps.sh"

cmake -S "$top" -B "$top/build" -G Ninja >/dev/null
cmake --build "$top/build" -j "$(nproc)" --target morvala
exec "$top/build/bin/morvala" demo
