#!/usr/bin/env bash
# Usage: scripts/wine-prefix.sh DIR
#
# Makes DIR a confined Wine prefix, creating it when needed: 64-bit Windows
# (WINEARCH=win64, 32-bit programs under WOW64) when DIR's name ends in "64",
# 32-bit Windows otherwise. Tests and the
# demo run as root, and an uninstaller with a fault deletes whatever it is pointed
# at, so a prefix must not reach outside itself: no Z: drive (Wine maps / there),
# no user folders linked into $HOME, and no crash dialog waiting for a click.
# Confinement is re-applied on every call (it is cheap when nothing is wrong),
# then verified; any link leading out of DIR is a hard error.
set -euo pipefail

die() { echo "wine-prefix: $*" >&2; exit 1; }

[ $# -eq 1 ] || die "usage: $0 DIR"
PREFIX_NAME=$1  # as given: in the emulated machine DIR resolves to a store of another name
mkdir -p -- "$1"
DIR=$(cd -- "$1" && pwd -P)
[ "$DIR" != / ] || die "refusing / as a prefix"

arch=win32
case "${PREFIX_NAME%/}" in *64) arch=win64 ;; esac
export WINEPREFIX=$DIR WINEARCH=$arch WINEDEBUG=-all
unset WINESERVER WINELOADER
MARKER=$DIR/.confined

# Two callers on one prefix must not boot or patch it at the same time. Wine
# commands get "9>&-" so that no daemon of theirs keeps holding the lock.
exec 9>"$DIR/.prefix.lock"
flock -w 300 9 || die "timed out waiting for the lock on $DIR"

# A wineserver runs in its server folder, named after the prefix's device and inode.
server_running() {
    local tag pid
    tag=$(printf 'server-%x-%x' "$(stat -c %d "$DIR")" "$(stat -c %i "$DIR")")
    for pid in $(pgrep -u "$(id -u)" wineserver || true); do
        case "$(readlink "/proc/$pid/cwd" 2>/dev/null)" in */"$tag") return 0 ;; esac
    done
    return 1
}

# --- Create -------------------------------------------------------------------
booted=0
if [ ! -f "$DIR/system.reg" ] || [ ! -d "$DIR/drive_c/windows/system32" ]; then
    rm -f -- "$MARKER"
    echo "wine-prefix: creating ${arch#win}-bit prefix in $DIR" >&2
    wineboot -i >/dev/null 2>&1 9>&- || die "wineboot -i failed for $DIR"
    booted=1
elif [ -f "$DIR/.update-timestamp" ] && [ -f /usr/share/wine/wine.inf ] &&
     ! grep -q disable "$DIR/.update-timestamp" &&
     [ "$(tr -dc 0-9 < "$DIR/.update-timestamp")" != "$(stat -c %Y /usr/share/wine/wine.inf)" ]; then
    # Wine was upgraded: it would update the prefix on its next start and re-create
    # the links into $HOME then. Do it now so the links are removed below.
    echo "wine-prefix: updating $DIR for the installed Wine" >&2
    wineboot -u >/dev/null 2>&1 9>&- || die "wineboot -u failed for $DIR"
    booted=1
fi

# --- Registry -----------------------------------------------------------------
# The crash dialog would wait for a click, so a faulting program would never end;
# with no debugger and no dialog it ends at once with its exception code.
# Windows are made unmanaged: with no window manager on Xvfb, Wine otherwise
# waits 2 s for each closed window (a message box) to be withdrawn.

# True when section [$2] of registry file $1 holds a line starting with $3.
reg_has() {
    [ -f "$1" ] || return 1
    awk -v sect="[$2]" -v line="$3" '
        index($0, "[") == 1 { inside = (index($0, sect " ") == 1 || $0 == sect); next }
        inside && index($0, line) == 1 { found = 1 }
        END { exit found ? 0 : 1 }' "$1"
}
settings_ok() {
    [ -f "$DIR/system.reg" ] &&
    reg_has "$DIR/user.reg" 'Software\\\\Wine\\\\WineDbg' '"ShowCrashDialog"=dword:00000000' &&
    reg_has "$DIR/user.reg" 'Software\\\\Wine\\\\X11 Driver' '"Managed"="N"' &&
    ! reg_has "$DIR/system.reg" 'Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion\\\\AeDebug' '"Debugger"=' &&
    ! reg_has "$DIR/system.reg" 'Software\\\\Wow6432Node\\\\Microsoft\\\\Windows NT\\\\CurrentVersion\\\\AeDebug' '"Debugger"='
}
if ! settings_ok; then
    # Our own boot's server may still run; anybody else's must not, as it would
    # keep the registry in memory and overwrite the change.
    if [ "$booted" = 0 ] && server_running; then
        die "a wineserver is running on $DIR; stop it (wineserver -k) and retry"
    fi
    regfile=$DIR/drive_c/windows/temp/prefix-settings.reg
    mkdir -p -- "${regfile%/*}"
    printf '%s\r\n' 'REGEDIT4' '' \
        '[HKEY_CURRENT_USER\Software\Wine\WineDbg]' \
        '"ShowCrashDialog"=dword:00000000' '' \
        '[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\AeDebug]' \
        '"Debugger"=-' '' \
        '[HKEY_CURRENT_USER\Software\Wine\X11 Driver]' \
        '"Managed"="N"' '' > "$regfile"
    (cd "$DIR/drive_c" && wine regedit /S 'C:\windows\temp\prefix-settings.reg') >/dev/null 2>&1 9>&- ||
        die "regedit failed for $DIR"
    # A 64-bit prefix has the debugger in both registry views; regedit there
    # reached only the 32-bit one, reg.exe takes the view as an option.
    if [ "$arch" = win64 ]; then
        for view in 32 64; do
            (cd "$DIR/drive_c" && wine reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
                /v Debugger /f "/reg:$view") >/dev/null 2>&1 9>&- || true
        done
    fi
    # -k makes the server save the registry at once; -w would linger for seconds.
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    rm -f -- "$regfile"
    settings_ok || die "the registry settings did not take in $DIR"
elif [ "$booted" = 1 ]; then
    # Do not leave the boot's server lingering: a caller's "wineserver -p" would fail.
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
fi

# --- Drives -------------------------------------------------------------------
# Only c: stays. Wine re-creates com1 -> /dev/ttyS0 on each start (the steps above
# may have started it); a serial port is harmless, but the check below would have
# to special-case it, so it goes too.
for entry in "$DIR"/dosdevices/* "$DIR"/dosdevices/.[!.]*; do
    [ -e "$entry" ] || [ -L "$entry" ] || continue
    name=${entry##*/}
    if [ "$name" = "c:" ] && [ -L "$entry" ] &&
       [ "$(readlink -f -- "$entry")" = "$DIR/drive_c" ]; then
        continue
    fi
    rm -rf -- "$entry"
done
[ -L "$DIR/dosdevices/c:" ] || ln -s ../drive_c "$DIR/dosdevices/c:"

# --- User folders -------------------------------------------------------------
# Desktop, Documents, ... (and Templates deep under AppData) are links into $HOME.
# Replace every link under the profile folders by a real empty folder.
if [ -d "$DIR/drive_c/users" ]; then
    while IFS= read -r -d '' link; do
        rm -f -- "$link"
        mkdir -p -- "$link"
    done < <(find "$DIR/drive_c/users" -depth -type l -print0)
fi

# --- Fonts --------------------------------------------------------------------
# Wine's own fonts (Marlett for the caption buttons, a Tahoma stand-in for the
# dialogs) come with fonts-wine in /usr/share/wine/fonts, where this Wine does
# not look; it reads the prefix's Fonts folder at every start. Copies, since
# the prefix must not reach outside itself.
for font in /usr/share/wine/fonts/*.ttf; do
    if [ -f "$font" ] && [ ! -f "$DIR/drive_c/windows/Fonts/${font##*/}" ]; then
        cp -- "$font" "$DIR/drive_c/windows/Fonts/"
    fi
done

# --- Verify -------------------------------------------------------------------
bad=0
while IFS= read -r -d '' link; do
    target=$(readlink -f -- "$link" || true)
    case "$target" in
        "$DIR"|"$DIR"/*) ;;
        *) echo "wine-prefix: link leads out of the prefix: $link -> $(readlink -- "$link")" >&2
           bad=1 ;;
    esac
done < <(find "$DIR" -type l -print0)
[ -L "$DIR/dosdevices/z:" ] && { echo "wine-prefix: z: is still there" >&2; bad=1; }
[ "$bad" = 0 ] || die "$DIR is NOT confined"
[ -f "$MARKER" ] || date -u +%FT%TZ > "$MARKER"
