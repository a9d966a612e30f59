#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need. Safe to run again:
# it does nothing when every package is already present.
set -euo pipefail

packages=(
  make cmake g++ mingw-w64 wine wine32 xvfb
  googletest libgtest-dev nlohmann-json3-dev python3 bc
  clang libclang-rt-dev fonts-wine
)

missing=()
for p in "${packages[@]}"; do
  # wine32 is an i386 package; dpkg names it with the architecture.
  name=$p
  [ "$p" = wine32 ] && name=wine32:i386
  if ! dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
SUDO=
[ "$(id -u)" -ne 0 ] && SUDO=sudo
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]/wine32/wine32:i386}" >/dev/null
echo "setup: done" >&2
