#!/bin/bash
# The emulated machine's job loop (started by its first process, read from the
# shared work tree). Jobs come as folders in the control share, written by
# scripts/in-vm.sh: argv and env (NUL-separated), cwd; a job starts when its
# "go" file appears. Output goes to out and err, the exit status to rc. The
# machine powers off when asked (a "stop" file) or after an idle time.
ctl=/qv-ctl
jobs=$ctl/jobs
idle_limit=$(cat "$ctl/idle-seconds" 2>/dev/null || echo 900)
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export HOME=/root LANG=C.UTF-8 QV_IN_VM=1
# Programs here run many times slower: the tests' and the demo's waits for a
# window or a process stretch by this factor (a command may set its own).
export QV_TIME_SCALE=5
unset LC_ALL

poweroff_now() {
    sync
    echo o > /proc/sysrq-trigger
    sleep 30
}

run_job() {
    local dir=$1 status argv=() envs=()
    mapfile -d '' argv < "$dir/argv"
    mapfile -d '' envs < "$dir/env"
    # The host may have rebuilt programs since the last job: forget what the
    # cached share holds so they are read again.
    sync
    echo 3 > /proc/sys/vm/drop_caches
    (
        cd -- "$(cat "$dir/cwd")" || exit 126
        exec env "${envs[@]}" "${argv[@]}"
    ) </dev/null >"$dir/out" 2>"$dir/err"
    status=$?
    sync
    echo "$status" > "$dir/rc.new"
    mv "$dir/rc.new" "$dir/rc"
}

declare -A running=()
mkdir -p "$jobs"
echo "$(date +%s)" > "$ctl/ready"
last=$SECONDS
while :; do
    [ -e "$ctl/stop" ] && poweroff_now
    for go in "$jobs"/*/go; do
        [ -e "$go" ] || continue
        dir=${go%/go}
        rm -f -- "$go"
        setsid bash -c "$(declare -f run_job); run_job \"\$1\"" job "$dir" &
        running[$dir]=$!
    done
    for dir in "${!running[@]}"; do
        pid=${running[$dir]}
        if [ -e "$dir/cancel" ]; then
            kill -TERM -- "-$pid" 2>/dev/null
            rm -f -- "$dir/cancel"
        fi
        if ! kill -0 "$pid" 2>/dev/null; then
            wait "$pid" 2>/dev/null
            # A cancelled job's shell died with it: answer for it.
            [ -e "$dir/rc" ] || { echo 143 > "$dir/rc.new"; mv "$dir/rc.new" "$dir/rc"; }
            unset "running[$dir]"
        fi
    done
    [ ${#running[@]} -gt 0 ] && last=$SECONDS
    [ $((SECONDS - last)) -ge "$idle_limit" ] && poweroff_now
    sleep 0.2
done
