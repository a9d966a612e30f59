#!/usr/bin/env bash
# make bench: times `uninst.exe /S` against the floor program on fresh copies of
# a generated workload, in a confined prefix of its own, and measures the time
# to the confirmation prompt with 50,000 file entries and the stub's size.
# Usage: bench/run.sh [small|medium|large ...]   (default: small medium)
#   BENCH_RUNS       runs per contender (default: 3; small: 5)
#   BENCH_BUILD      build folder (default: build)
#   BENCH_PROFILE=1  instead of timing, count the system calls of one run per pass
#   BENCH_BASELINE=STUB  also times an uninstaller made with another stub (say,
#                    a clean build of an earlier commit) in the same runs
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(mkdir -p "${BENCH_BUILD:-$root/build}" && cd "${BENCH_BUILD:-$root/build}" && pwd)
prefix="$build/bench-prefix"

if [ -z "${QV_BENCH_INSIDE:-}" ]; then
    exec "$root/scripts/with-wine.sh" "$prefix" -- env QV_BENCH_INSIDE=1 "$0" "$@"
fi

sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(small medium)
drive_c="$prefix/drive_c"
cd "$drive_c"  # Wine starts programs in the current folder; keep it inside C:
user=$(ls "$drive_c/users" | grep -v -x Public | head -n 1)
work="$build/bench"
run_dir="$drive_c/QvBenchRun"   # tools, lists and the uninstaller; never in a workload
mkdir -p "$work" "$run_dir"
cp "$build/win/bench/qvbench.exe" "$build/win/bench/qvfloor.exe" "$run_dir/"
launcher='C:\QvBenchRun\qvbench.exe'
# Wine's desktop process stays up for the whole bench, as a session's desktop
# does on Windows (qvbench.c, HoldDesktop).
wine "$launcher" desktop </dev/null >/dev/null 2>&1 &
holder=$!
trap 'kill "$holder" 2>/dev/null || true' EXIT
results="$work/results.txt"
: >"$results"
say() { echo "$*" | tee -a "$results"; }

# Puts a fresh copy of the laid-out workload in place and imports its keys.
reset_workload() {
    local w=$1
    rm -rf "$drive_c/Program Files/QvBench" "$drive_c/users/$user/AppData/Roaming/QvBench"
    cp -a "$w/drive_c/." "$drive_c/"
    cp "$w/bench.reg" "$run_dir/bench.reg"
    wine regedit /S 'C:\QvBenchRun\bench.reg'
    # Let the copy's write-back finish so that it does not land in a timed run.
    sync
    sleep 0.5
}

# median min max of the numbers on stdin
stats() { sort -n | awk '{a[NR]=$1} END {if (NR) printf "%d %d %d", (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2), a[1], a[NR]} END {print ""}'; }

say "== machine: $(uname -srm), $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), $(wine --version)"
# In the emulated machine (scripts/in-vm.sh) every figure is an emulated one.
emulated=
if [ -n "${QV_IN_VM:-}" ]; then
    emulated=" (emulated)"
    say "== EMULATED: these times were taken in the emulated machine, many times slower than Wine on real hardware; the ratio to the floor is an emulated ratio too"
fi
say "== uninst.exe size: $(stat -c %s "$root/dist/uninst.exe") bytes (budget 49152)"

for size in "${sizes[@]}"; do
    w="$work/$size"
    rm -rf "$w"
    python3 "$root/bench/gen.py" "$size" "$w" "$user"
    "$root/dist/uninstpack" build "$w/manifest.json" -o "$run_dir/uninst-$size.exe" >/dev/null
    contenders=(floor uninst)
    if [ -n "${BENCH_BASELINE:-}" ]; then
        "$root/dist/uninstpack" build "$w/manifest.json" --stub "$BENCH_BASELINE" -o "$run_dir/baseline-$size.exe" >/dev/null
        contenders+=(baseline)
    fi
    cp "$w/list.txt" "$run_dir/list-$size.txt"
    nfiles=$(grep -c '^[FS] ' "$w/list.txt")
    nleft=$(find "$w/drive_c" -type f -name '*.log' -o -type f -name '*.tmp' | wc -l)
    total_files=$((nfiles + nleft))
    if [ -n "${BENCH_PROFILE:-}" ]; then
        # Calls per pass from Wine's relay trace: one untimed run, no figures.
        reset_workload "$w"
        say "== $size: system calls of one uninst.exe /S run, per source file"
        WINEDEBUG=+relay wine "C:\\QvBenchRun\\uninst-$size.exe" /S 2>&1 >/dev/null |
            python3 "$root/bench/profile.py" "$build/win/uninst.map" | tee -a "$results"
        continue
    fi
    case $size in small) runs=${BENCH_RUNS:-5} ;; *) runs=${BENCH_RUNS:-3} ;; esac
    say "== $size: $nfiles installed files, $nleft leftovers, $runs runs per contender"
    for who in "${contenders[@]}"; do : >"$w/$who.us"; done
    failures=0
    for r in $(seq 1 "$runs"); do
        # Rotate which contender goes first, so drift hits all alike.
        n=${#contenders[@]}
        order=()
        for i in $(seq 0 $((n - 1))); do order+=("${contenders[$(((i + r) % n))]}"); done
        for who in "${order[@]}"; do
            reset_workload "$w"
            if [ "$who" = floor ]; then
                out=$(wine "$launcher" time 'C:\QvBenchRun\qvfloor.exe' "C:\\QvBenchRun\\list-$size.txt" | tr -d '\r')
            else
                out=$(wine "$launcher" time "C:\\QvBenchRun\\$who-$size.exe" /S | tr -d '\r')
            fi
            us=$(awk '{print $2}' <<<"$out"); code=$(awk '{print $4}' <<<"$out")
            if check=$(wine "$launcher" check "C:\\QvBenchRun\\list-$size.txt" | tr -d '\r') && [ "$code" = 0 ]; then
                echo "$us" >>"$w/$who.us"
                echo "  run $r $who: $((us / 1000)) ms"
            else
                failures=$((failures + 1))
                say "  run $r $who: FAILED (exit $code), not timed:"
                say "$(sed 's/^/    /' <<<"$check")"
            fi
        done
    done
    for who in "${contenders[@]}"; do
        read -r med min max < <(stats <"$w/$who.us") || true
        if [ -z "${med:-}" ]; then say "  $who: no successful run"; continue; fi
        eval "${who}_med=$med"
        say "$(printf '  %-8s median %8.1f ms  (min %.1f, max %.1f)  %6.1f us per file' "$who" \
            "$(bc -l <<<"$med/1000")" "$(bc -l <<<"$min/1000")" "$(bc -l <<<"$max/1000")" "$(bc -l <<<"$med/$total_files")")"
        med=
    done
    if [ -n "${floor_med:-}" ] && [ -n "${uninst_med:-}" ]; then
        say "$(printf '  ratio uninst/floor%s: %.2f (target at most 1.6 for medium)' "$emulated" "$(bc -l <<<"$uninst_med/$floor_med")")"
    fi
    if [ -n "${baseline_med:-}" ] && [ -n "${uninst_med:-}" ]; then
        say "$(printf '  ratio baseline/floor: %.2f; uninst/baseline: %.2f' "$(bc -l <<<"$baseline_med/$floor_med")" "$(bc -l <<<"$uninst_med/$baseline_med")")"
    fi
    # The peak working set from one more, untimed run (sampling slows it).
    reset_workload "$w"
    out=$(wine "$launcher" memory "C:\\QvBenchRun\\uninst-$size.exe" /S | tr -d '\r')
    if wine "$launcher" check "C:\\QvBenchRun\\list-$size.txt" >/dev/null; then
        say "  uninst peak working set: $(($(awk '{print $2}' <<<"$out") / 1024)) KiB"
    else
        say "  uninst peak working set: run FAILED"
    fi
    floor_med= uninst_med= baseline_med=
    [ "$failures" = 0 ] || say "  $failures failed runs"
done

[ -z "${BENCH_PROFILE:-}" ] || exit 0

# Start to prompt: the reader's cost with a large data block.
p="$work/prompt"
python3 "$root/bench/gen.py" prompt 50000 "$p"
"$root/dist/uninstpack" build "$p/manifest.json" -o "$run_dir/uninst-prompt.exe" >/dev/null
: >"$p/prompt.us"
for r in 1 2 3 4 5; do
    wine "$launcher" prompt 'C:\QvBenchRun\uninst-prompt.exe' | tr -d '\r' | awk '{print $2}' >>"$p/prompt.us"
done
read -r med min max < <(stats <"$p/prompt.us")
say "$(printf '== start to prompt, 50,000 file entries (%s bytes): median %.1f ms (min %.1f, max %.1f; target 500)' \
    "$(stat -c %s "$run_dir/uninst-prompt.exe")" "$(bc -l <<<"$med/1000")" "$(bc -l <<<"$min/1000")" "$(bc -l <<<"$max/1000")")"
rm -rf "$drive_c/Program Files/QvBench" "$drive_c/users/$user/AppData/Roaming/QvBench"
echo "(results also in $results)"
