#!/usr/bin/env bash
# Packs what "make dist" built into the release: the Windows zip, the Debian
# package and SHA256SUMS, in OUT (default dist/release).
# scripts/release.sh DIST [OUT]
#
# The same commit gives the same bytes, wherever and whenever it is packed:
# every entry gets the commit's time (SOURCE_DATE_EPOCH, or the commit's own),
# fixed permissions and owner, and a sorted place in its archive.
set -euo pipefail

root=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")/.." && pwd)
dist=$(cd -- "${1:?usage: scripts/release.sh DIST [OUT]}" && pwd)
out=${2:-$root/dist/release}
version=$(<"$root/VERSION")
name=qorvand-uninstaller

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null) ||
    { echo "release: not a git checkout; give the commit's time as SOURCE_DATE_EPOCH" >&2; exit 1; }
  [ -z "$(git -C "$root" status --porcelain)" ] ||
    echo "release: the work tree has uncommitted changes; these files are not the commit's" >&2
fi
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C
umask 022

stage=$(mktemp -d "${TMPDIR:-/tmp}/$name-release.XXXXXX")
trap 'rm -rf "$stage"' EXIT

# Files and folders get their modes here, not from the umask or the checkout.
put() {  # put MODE TARGET SOURCE
  install -D -m "$1" "$3" "$2"
}
settle() {  # settle TREE: one time for every entry, links included
  find "$1" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
}

# The stub and the Windows generator beside the NSIS header and the CMake
# function, which look for them in their own folder (as "make install" lays
# them out); the Windows programs are data on Linux, hence not executable.
programs() {  # programs FOLDER
  local f
  for f in uninst.exe uninstpack.exe; do put 644 "$1/$f" "$dist/$f"; done
  put 644 "$1/Qorvand.nsh" "$root/integrations/nsis/Qorvand.nsh"
  put 644 "$1/Qorvand.cmake" "$root/cmake/Qorvand.cmake"
}

# The notices of the code the programs carry go everywhere they go.
notices=(LICENSE THIRD-PARTY-NOTICES.txt)

# Windows zip: one folder, the programs at its top, so that the header and
# the function need no option.
top=$name-$version
zipdir=$stage/zip/$top
programs "$zipdir"
for f in README.md CHANGELOG.md "${notices[@]}" docs/uninstpack.md docs/manifest.schema.json; do
  put 644 "$zipdir/$f" "$root/$f"
done

# Debian package: the layout of "make install PREFIX=/usr".
deb=$stage/debian/$name
lib=$deb/usr/lib/qorvand
doc=$deb/usr/share/doc/$name
put 755 "$lib/uninstpack" "$dist/uninstpack"
strip --strip-unneeded --remove-section=.comment --remove-section=.note "$lib/uninstpack"
programs "$lib"
install -d -m 755 "$deb/usr/bin"
ln -s ../lib/qorvand/uninstpack "$deb/usr/bin/uninstpack"
for f in README.md CHANGELOG.md docs/uninstpack.md; do put 644 "$doc/${f#docs/}" "$root/$f"; done
put 644 "$doc/manifest.schema.json" "$root/docs/manifest.schema.json"
put 644 "$deb/usr/share/man/man1/uninstpack.1" "$root/packaging/uninstpack.1"
(cd "$root" && cat "${notices[@]}") >"$doc/copyright"
chmod 644 "$doc/copyright"
date=$(date -R -d "@$SOURCE_DATE_EPOCH")
printf '%s (%s) unstable; urgency=medium\n\n  * Release %s; what changed is in CHANGELOG.md.gz beside this file.\n\n -- %s  %s\n' \
  "$name" "$version" "$version" "$(sed -n 's/^Maintainer: //p' "$root/packaging/control")" "$date" >"$doc/changelog"
for f in "$doc"/*.md "$doc/changelog" "$deb/usr/share/man/man1/uninstpack.1"; do gzip -9 -n "$f"; done

# The library versions the Linux generator needs, as Debian's own tool reads them.
printf 'Source: %s\n\nPackage: %s\nArchitecture: any\n' "$name" "$name" >"$stage/debian/control"
depends=$(cd "$stage" && dpkg-shlibdeps -O "$lib/uninstpack" | sed -n 's/^shlibs:Depends=//p')
install -d -m 755 "$deb/DEBIAN"
{
  printf 'Package: %s\nVersion: %s\nArchitecture: amd64\nDepends: %s\nInstalled-Size: %s\n' \
    "$name" "$version" "$depends" "$(du -s -k --apparent-size "$deb/usr" | cut -f1)"
  cat "$root/packaging/control"
} >"$deb/DEBIAN/control"
(cd "$deb" && find usr -type f | sort | xargs md5sum) >"$deb/DEBIAN/md5sums"
chmod 644 "$deb/DEBIAN/control" "$deb/DEBIAN/md5sums"

rm -rf "$out"
mkdir -p "$out"
zip=$name-$version-windows.zip
package=${name}_${version}_amd64.deb
settle "$stage/zip"
(cd "$stage/zip" && find "$top" | sort | zip -X -q -9 "$out/$zip" -@)
settle "$deb"
dpkg-deb --root-owner-group -Zxz --build "$deb" "$out/$package" >/dev/null
(cd "$out" && sha256sum "$zip" "$package" >SHA256SUMS)
echo "release $version (commit time $(date -u -d "@$SOURCE_DATE_EPOCH" +%Y-%m-%dT%H:%M:%SZ)) in $out:"
(cd "$out" && cat SHA256SUMS)
