#!/usr/bin/env bash
# Usage: scripts/vm/image.sh
#
# Makes sure the emulated machine's disk image, kernel and initrd are in the
# cache, building them from Debian's packages when they are missing, damaged
# or made from another package list, and prints the folder that holds them.
# The cache is keyed by what goes into it (this script, the package list, the
# first process); a folder without its completion stamp is rebuilt.
# Cache: $QV_VM_CACHE, by default /var/cache/qorvand-vm. Needs root.
set -euo pipefail
here=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd)
cache=${QV_VM_CACHE:-/var/cache/qorvand-vm}

die() { echo "vm-image: $*" >&2; exit 1; }

key=$(cat "$here/image.sh" "$here/packages" "$here/init" | sha256sum | cut -c1-16)
dir=$cache/image-$key

# Complete when the stamp lists the three files with the sizes they have.
complete() {
    [ -f "$dir/stamp" ] || return 1
    local name size
    while read -r name size; do
        [ -f "$dir/$name" ] && [ "$(stat -c %s "$dir/$name")" = "$size" ] || return 1
    done < "$dir/stamp"
    [ "$(wc -l < "$dir/stamp")" = 3 ]
}

if complete; then
    echo "$dir"
    exit 0
fi

[ "$(id -u)" = 0 ] || die "building the emulated machine needs root (debootstrap and loop-free mkfs as root); run make as root once, or set QV_VM_CACHE to a folder holding a built image"
mkdir -p "$cache"
exec 7>"$cache/.build.lock"
flock -w 1800 7 || die "another build of the image holds $cache/.build.lock"
if complete; then echo "$dir"; exit 0; fi

echo "vm-image: building the emulated machine in $dir (a few minutes, once per machine and package list)" >&2
start=$SECONDS
rm -rf -- "$dir"
mkdir -p "$dir"
root=$dir/root
mapfile -t pkgs < <(grep -v -e '^#' -e '^$' "$here/packages")
include=$(IFS=,; echo "${pkgs[*]}")
mmdebstrap --quiet --mode=root --variant=minbase --architectures=amd64,i386 \
    --aptopt='APT::Install-Recommends "false"' \
    --include="$include" \
    --customize-hook='install -m 755 '"$here/init"' "$1/sbin/qv-init"' \
    --customize-hook='for l in ru_RU el_GR pl_PL ja_JP zh_CN zh_TW ko_KR; do chroot "$1" localedef -i $l -f UTF-8 $l.UTF-8; done' \
    --customize-hook='rm -rf "$1"/var/cache/apt/archives/*.deb "$1"/var/lib/apt/lists/*' \
    bookworm "$root" >"$dir/build.log" 2>&1 ||
    { tail -20 "$dir/build.log" >&2; die "mmdebstrap failed (log: $dir/build.log)"; }

kernel=$(ls "$root"/boot/vmlinuz-* 2>/dev/null | sort -V | tail -1)
initrd=$(ls "$root"/boot/initrd.img-* 2>/dev/null | sort -V | tail -1)
[ -f "$kernel" ] && [ -f "$initrd" ] || die "no kernel or initrd in the new root"
cp -- "$kernel" "$dir/vmlinuz"
cp -- "$initrd" "$dir/initrd.img"
mkfs.ext4 -q -F -L qvroot -d "$root" "$dir/root.img" 8G >>"$dir/build.log" 2>&1 ||
    die "mkfs.ext4 failed (log: $dir/build.log)"
rm -rf -- "$root"
for name in root.img vmlinuz initrd.img; do
    echo "$name $(stat -c %s "$dir/$name")"
done > "$dir/stamp"

# Images of earlier package lists are no longer used.
for old in "$cache"/image-*; do
    [ "$old" = "$dir" ] || rm -rf -- "$old"
done
echo "vm-image: built in $((SECONDS - start)) s" >&2
echo "$dir"
