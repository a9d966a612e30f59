#!/usr/bin/env bash
# Usage: scripts/with-wine.sh DIR -- COMMAND [ARGS...]
#
# Runs COMMAND with a private Xvfb display and one persistent wineserver for the
# confined prefix DIR (made or re-confined first by wine-prefix.sh; a name
# ending in "64" makes it 64-bit Windows). Exits with
# COMMAND's status. A call nested inside another for the same prefix just runs
# COMMAND, reusing the display and server already there.
set -euo pipefail

die() { echo "with-wine: $*" >&2; exit 2; }

[ $# -ge 3 ] && [ "$2" = -- ] || die "usage: $0 DIR -- COMMAND [ARGS...]"
here=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd)

# Where this machine cannot run 32-bit code, the whole call runs in the
# emulated machine, with the prefix's folder shared in when it lies outside
# the work tree.
if [ -z "${QV_IN_VM:-}" ] && [ "$("$here/windows-side.sh")" = emulated ]; then
    mkdir -p -- "$(dirname -- "$1")"
    QV_VM_SHARE=${QV_VM_SHARE:+$QV_VM_SHARE:}$(cd -- "$(dirname -- "$1")" && pwd -P) \
        exec "$here/in-vm.sh" "$here/with-wine.sh" "$@"
fi

if [ -n "${QV_IN_VM:-}" ]; then
    # In the emulated machine the prefix lives on the machine's own disk, many
    # times faster than the shared folder: the shared path becomes a link to it.
    # Removing the link (rm -rf from the host) asks for a fresh prefix, as it
    # does natively; after the machine stopped, the prefix is made anew.
    # Named after the path as given (the link itself, not where it leads).
    mkdir -p -- "$(dirname -- "$1")"
    given=$(cd -- "$(dirname -- "$1")" && pwd -P)/$(basename -- "$1")
    store=/var/lib/qv-prefixes/$(printf '%s' "$given" | sha256sum | cut -c1-16)
    if [ "$(readlink -- "$1" || true)" != "$store" ]; then
        rm -rf -- "$1" "$store"
        ln -s -- "$store" "$1"
    fi
    mkdir -p -- "$store"
elif [ -L "$1" ] && [ ! -e "$1" ]; then
    # Left by the emulated machine: its prefix is not here.
    rm -f -- "$1"
fi

"$here/wine-prefix.sh" "$1" || die "could not prepare a confined prefix in $1"
PREFIX_NAME=$1
DIR=$(cd -- "$1" && pwd -P)
shift 2

if [ "${WITH_WINE_PREFIX:-}" = "$DIR" ] && [ -n "${DISPLAY:-}" ]; then
    exec "$@"
fi

# The arch is the prefix's own, by its name (as given, not resolved), as
# wine-prefix.sh made it.
arch=win32
case "${PREFIX_NAME%/}" in *64) arch=win64 ;; esac
export WINEPREFIX=$DIR WINEARCH=$arch WINEDEBUG=-all
unset WINESERVER WINELOADER

# One run per prefix at a time: the wineserver is shared and -k at the end
# would pull it from under another run.
exec 8>"$DIR/.run.lock"
flock -w 600 8 || die "another run holds $DIR (waited 600 s)"

xvfb_pid=
cmd_pid=
tmp=$(mktemp -d)
cleanup() {
    local status=$?
    trap - EXIT INT TERM HUP
    if [ -n "$cmd_pid" ]; then
        kill -TERM "$cmd_pid" 2>/dev/null || true
        wait "$cmd_pid" 2>/dev/null || true
    fi
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    rm -rf -- "$tmp"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# A display number nobody uses: no socket and no lock file. Another starter may
# take the same number between the check and Xvfb's start; Xvfb then fails and
# the next number is tried.
display=
for n in $(seq 90 189); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$tmp/xvfb.log" 2>&1 8>&- &
    xvfb_pid=$!
    # Ready once the socket exists; give up on this number if Xvfb died.
    for _ in $(seq 1 200); do
        [ -S "/tmp/.X11-unix/X$n" ] && break
        kill -0 "$xvfb_pid" 2>/dev/null || break
        sleep 0.025
    done
    if [ -S "/tmp/.X11-unix/X$n" ] && kill -0 "$xvfb_pid" 2>/dev/null; then
        display=:$n
        break
    fi
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=
done
[ -n "$display" ] || { cat "$tmp/xvfb.log" >&2 2>/dev/null; die "could not start Xvfb"; }
export DISPLAY=$display WITH_WINE_PREFIX=$DIR

# A wineserver that lives for the whole run; otherwise every Wine process pays
# seconds of start-up.
# A server left by an earlier plain "wine" call lingers for a few seconds and
# makes -p fail; wait that out, but never stop a server that is not ours.
for try in $(seq 1 25); do
    wineserver -p 8>&- && break
    [ "$try" -lt 25 ] || die "another wineserver runs on $DIR; stop it: WINEPREFIX=$DIR wineserver -k"
    sleep 0.25
done
# The first Wine process starts background services (svchost, winedevice). Start
# them here with closed pipes, or they inherit COMMAND's output pipe and a
# caller reading it (CTest) waits for them forever.
(cd "$DIR/drive_c" && wine cmd /c exit) </dev/null >/dev/null 2>&1 8>&- || die "wine does not start in $DIR"

# In the background so that a signal reaches the traps at once (bash runs a trap
# only after a foreground child ends); stdin is handed on explicitly, as bash
# gives background jobs /dev/null.
exec 3<&0
"$@" <&3 3<&- &
cmd_pid=$!
exec 3<&-
set +e
wait "$cmd_pid"
status=$?
set -e
cmd_pid=
exit "$status"
