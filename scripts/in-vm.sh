#!/usr/bin/env bash
# Usage: scripts/in-vm.sh COMMAND [ARGS...]   run COMMAND in the emulated machine
#        scripts/in-vm.sh --stop              power the machine off
#        scripts/in-vm.sh --status            say whether it runs
#
# For machines that cannot run 32-bit code: an emulated x86-64 machine (Debian,
# Wine, Xvfb; built once by scripts/vm/image.sh) in which the Windows side runs.
# The work tree is shared in at the same path, so build trees, logs and results
# are where they would be natively. The machine keeps running between commands
# and powers off after QV_VM_IDLE seconds without one (default 900).
# COMMAND runs as root with the caller's current folder (when shared), the
# QV_*, DEMO_*, BENCH_*, GTEST_*, CTEST_*, CI and WINEDEBUG variables, and
# LANG=C.UTF-8; its output and exit status are handed back. Standard input is
# not passed. More folders can be shared with QV_VM_SHARE (colon-separated).
# QV_VM_ACCEL=kvm uses KVM instead of software emulation, where it works.
set -euo pipefail

die() { echo "in-vm: $*" >&2; exit 2; }

here=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd)
root=$(cd -- "$here/.." && pwd -P)
cache=${QV_VM_CACHE:-/var/cache/qorvand-vm}
[ $# -ge 1 ] || die "usage: $0 COMMAND [ARGS...] | --stop | --status"

# The folders shared in: the work tree and any asked for, each once.
shares=("$root")
IFS=: read -r -a extra <<< "${QV_VM_SHARE:-}"
for d in "${extra[@]}"; do
    [ -n "$d" ] || continue
    d=$(cd -- "$d" && pwd -P) || die "cannot share $d: no such folder"
    case "$d" in "$root"|"$root"/*) continue ;; esac
    shares+=("$d")
done
for d in "${shares[@]}"; do
    case "$d" in *$'\n'*) die "a shared folder's name must not hold a line break: $d" ;; esac
done

# One machine per set of shared folders.
id=$(printf '%s\n' "${shares[@]}" | sha256sum | cut -c1-12)
run=$cache/run/$id
ctl=$run/ctl
mkdir -p "$ctl/jobs"

vm_running() {
    local pid
    pid=$(cat "$run/qemu.pid" 2>/dev/null) || return 1
    [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null &&
        tr '\0' ' ' < "/proc/$pid/cmdline" 2>/dev/null | grep -q "qv-vm-$id"
}

stop_vm() {
    vm_running || return 0
    touch "$ctl/stop"
    local pid
    pid=$(cat "$run/qemu.pid")
    for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || return 0; sleep 0.1; done
    kill "$pid" 2>/dev/null || true
}

start_vm() {
    local image accel mem i
    image=$("$here/vm/image.sh") || die "no image for the emulated machine"
    rm -rf -- "$ctl/ready" "$ctl/stop" "$ctl/jobs"
    mkdir -p "$ctl/jobs"
    : > "$ctl/mounts"
    local args=()
    for i in "${!shares[@]}"; do
        printf 's%d %s\n' "$i" "${shares[$i]}" >> "$ctl/mounts"
        args+=(-virtfs "local,path=${shares[$i]},mount_tag=s$i,security_model=passthrough")
    done
    echo "$here/vm/guest.sh" > "$ctl/loop"
    echo "${QV_VM_IDLE:-900}" > "$ctl/idle-seconds"
    # Software emulation by default: where /dev/kvm exists at all, it may be
    # a nested one that fails at the first CPU setup (seen here).
    if [ "${QV_VM_ACCEL:-tcg}" = kvm ]; then
        accel=(-accel kvm -cpu host)
    else
        accel=(-accel tcg,thread=multi -cpu max,-smap,-smep,-pku)
    fi
    mem=${QV_VM_MEMORY:-4096}
    echo "in-vm: starting the emulated machine (${accel[1]%%,*}, ${mem} MiB; log: $run/console.log)" >&2
    # No network, and nothing of the host but the shares; the disk is used
    # copy-on-write, so the cached image never changes.
    qemu-system-x86_64 -name "qv-vm-$id" -m "$mem" -smp 2 "${accel[@]}" \
        -kernel "$image/vmlinuz" -initrd "$image/initrd.img" \
        -append "root=/dev/vda rw console=ttyS0 init=/sbin/qv-init panic=-1 quiet" \
        -drive "file=$image/root.img,if=virtio,format=raw,snapshot=on" \
        -virtfs "local,path=$ctl,mount_tag=ctl,security_model=passthrough" "${args[@]}" \
        -nic none -no-reboot -display none -monitor none -serial "file:$run/console.log" \
        -daemonize -pidfile "$run/qemu.pid" || die "qemu did not start (see $run/console.log)"
    local start=$SECONDS
    until [ -e "$ctl/ready" ]; do
        if ! vm_running; then
            tail -20 "$run/console.log" >&2 || true
            die "the emulated machine stopped while booting (log: $run/console.log)"
        fi
        if [ $((SECONDS - start)) -ge 300 ]; then
            tail -20 "$run/console.log" >&2 || true
            stop_vm
            die "the emulated machine did not come up within 300 s (log: $run/console.log)"
        fi
        sleep 0.2
    done
    echo "in-vm: up in $((SECONDS - start)) s" >&2
}

case "$1" in
    --stop) stop_vm; exit 0 ;;
    --status) if vm_running; then echo "running ($run)"; else echo "stopped"; fi; exit 0 ;;
esac

command -v qemu-system-x86_64 >/dev/null || die "qemu-system-x86_64 is missing: run scripts/setup.sh"

# The current folder, when it is shared; the work tree otherwise.
cwd=$(pwd -P)
inside=0
for d in "${shares[@]}"; do
    case "$cwd" in "$d"|"$d"/*) inside=1 ;; esac
done
[ "$inside" = 1 ] || cwd=$root

job=$(date +%s%N)-$$
dir=$ctl/jobs/$job
submit() {
    mkdir -p "$dir"
    printf '%s\0' "$@" > "$dir/argv"
    env -0 | grep -z -E '^(QV_[A-Z0-9_]*|DEMO_[A-Z0-9_]*|BENCH_[A-Z0-9_]*|GTEST_[A-Z0-9_]*|CTEST_[A-Z0-9_]*|CI|WINEDEBUG)=' \
        | grep -z -v -E '^QV_VM' > "$dir/env" || true
    printf '%s' "$cwd" > "$dir/cwd"
    : > "$dir/out"
    : > "$dir/err"
    touch "$dir/go"
}

exec 6>"$run/start.lock"
flock -w 900 6 || die "timed out waiting for the machine's start lock"
vm_running && [ -e "$ctl/ready" ] || start_vm
submit "$@"
flock -u 6

cancelled=0
trap 'cancelled=1; touch "$dir/cancel"' INT TERM HUP
sent_out=0
sent_err=0
# Hands on what the job wrote since the last look.
forward() {
    local size
    size=$(stat -c %s "$dir/out")
    if [ "$size" -gt "$sent_out" ]; then
        tail -c +$((sent_out + 1)) "$dir/out" | head -c $((size - sent_out))
        sent_out=$size
    fi
    size=$(stat -c %s "$dir/err")
    if [ "$size" -gt "$sent_err" ]; then
        tail -c +$((sent_err + 1)) "$dir/err" | head -c $((size - sent_err)) >&2
        sent_err=$size
    fi
}
while [ ! -e "$dir/rc" ]; do
    forward
    if ! vm_running; then
        if [ -e "$dir/go" ] && [ "$cancelled" = 0 ]; then
            # It went idle and powered off just before the job came in.
            rm -rf -- "$dir"
            exec 6>"$run/start.lock"; flock -w 900 6
            vm_running && [ -e "$ctl/ready" ] || start_vm
            submit "$@"
            flock -u 6
            continue
        fi
        forward
        die "the emulated machine stopped during the command (log: $run/console.log)"
    fi
    sleep 0.2
done
forward
status=$(cat "$dir/rc")
rm -rf -- "$dir"
[ "$cancelled" = 1 ] && exit 130
exit "$status"
