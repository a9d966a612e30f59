#!/usr/bin/env bash
# Runs every test: the generator's host tests, then the unit and end-to-end
# tests under Wine in the build's confined prefix with a private display.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
# QV_STOP_ON_FAILURE=1 ends at the first failing test (for fault runs).
stop=()
[ -n "${QV_STOP_ON_FAILURE:-}" ] && stop=(--stop-on-failure)

ctest --test-dir "$build/host" --output-on-failure --timeout 120 "${stop[@]}"
"$root/scripts/with-wine.sh" "$build/wineprefix" -- \
    ctest --test-dir "$build/win" --output-on-failure --timeout 300 "${stop[@]}"
