#!/usr/bin/env bash
# Runs every test: the generator's host tests, then the unit and end-to-end
# tests under Wine in the build's confined 32-bit prefix, then the 64-bit
# family's end-to-end tests in a 64-bit one, each with a private display.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
# QV_STOP_ON_FAILURE=1 ends at the first failing test, QV_TEST_FILTER=REGEX
# runs only the Windows tests it matches (both for fault runs).
stop=()
[ -n "${QV_STOP_ON_FAILURE:-}" ] && stop=(--stop-on-failure)
filter=()
[ -n "${QV_TEST_FILTER:-}" ] && filter=(-R "$QV_TEST_FILTER")

# A test's time limit: the emulated machine runs Wine many times slower.
# There the soak also runs the first 20 of its 40 cases per family (the same
# cases; make soak runs any number), to keep a run within about 20 minutes.
limit=300
if [ "$("$root/scripts/windows-side.sh")" != native ]; then
    limit=1800
    export QV_SOAK_COUNT=${QV_SOAK_COUNT:-20}
fi

ctest --test-dir "$build/host" --output-on-failure --timeout 120 "${stop[@]}"
"$root/scripts/with-wine.sh" "$build/wineprefix" -- \
    ctest --test-dir "$build/win" --output-on-failure --timeout "$limit" -LE win10x64 "${stop[@]}" "${filter[@]}"
# The 64-bit family in a 64-bit prefix: the same 32-bit programs under WOW64.
"$root/scripts/with-wine.sh" "$build/wineprefix64" -- \
    ctest --test-dir "$build/win" --output-on-failure --timeout "$limit" -L win10x64 "${stop[@]}" "${filter[@]}"
