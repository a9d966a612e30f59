#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need. Safe to run again:
# it does nothing when every package is already present.
set -euo pipefail

here=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd)

packages=(
  make cmake g++ mingw-w64
  googletest libgtest-dev nlohmann-json3-dev python3 bc
  clang libclang-rt-dev
  nsis locales
  zip dpkg-dev  # make release: the zip, and the package's library dependencies
)
# The Windows side runs under Wine here (wine64 beside wine32 for the 64-bit
# family), or in an emulated machine where this
# machine cannot run 32-bit code (QV_VM=1 chooses that anywhere).
side=$("$here/windows-side.sh")
if [ "$side" = native ]; then
  echo "setup: this machine runs 32-bit code: the Windows side runs here under Wine" >&2
  # A CJK font, so that the pictures of the Japanese, Chinese and Korean
  # tables show letters, not boxes.
  packages+=(wine wine32 wine64 xvfb fonts-wine fonts-wqy-microhei)
else
  echo "setup: the Windows side runs in an emulated machine (scripts/in-vm.sh)$([ "${QV_VM:-}" = 1 ] && echo ", as QV_VM=1 asks")" >&2
  packages+=(qemu-system-x86 mmdebstrap)
fi

missing=()
for p in "${packages[@]}"; do
  # wine32 is an i386 package; dpkg names it with the architecture.
  name=$p
  [ "$p" = wine32 ] && name=wine32:i386
  if ! dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

install_missing() {
  echo "setup: installing ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  local sudo=
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  if [ "$side" = native ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]/wine32/wine32:i386}" >/dev/null
  echo "setup: done" >&2
}
[ ${#missing[@]} -eq 0 ] || install_missing
# The language tests run under these locales, from which Wine takes the ANSI
# code page; without the glibc locale, Wine cannot make a file whose name
# holds the language's letters. glibc has them only once made.
for locale in ru_RU el_GR pl_PL ja_JP zh_CN zh_TW ko_KR; do
  if ! locale -a | grep -qix "$locale.utf8"; then
    $([ "$(id -u)" -ne 0 ] && echo sudo) localedef -i "$locale" -f UTF-8 "$locale.UTF-8"
  fi
done
# Built once per machine and kept outside the clone; quick when it is there.
[ "$side" = native ] || "$here/vm/image.sh" >/dev/null
