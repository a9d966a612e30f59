#!/usr/bin/env bash
# The main job on a built-in example: lays out a sample application in a
# private confined prefix, generates its uninstaller from examples/sample,
# runs it with its prompts answered, and shows what was there before and
# what is left after.
# Usage: demo.sh [BUILD_DIR]; DEMO_SWITCHES (e.g. /Q) is passed to the uninstaller.
# DEMO_FAMILY=win10x64 runs it on 64-bit Windows, where the installer, a
# 32-bit program, kept its keys in the 32-bit registry view (win7 by default).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
family=${DEMO_FAMILY:-win7}
case "$family" in
    win7) prefix="$build/demo-prefix" view=() ;;
    win10x64) prefix="$build/demo-prefix64" view=(/reg:32) ;;
    *) echo "demo: DEMO_FAMILY is win7 or win10x64, not $family" >&2; exit 2 ;;
esac

if [ -z "${QV_DEMO_INSIDE:-}" ]; then
    exec "$root/scripts/with-wine.sh" "$prefix" -- env QV_DEMO_INSIDE=1 DEMO_FAMILY="$family" "$0" "$build"
fi

drive_c="$prefix/drive_c"
cd "$drive_c"  # Wine starts programs in the current folder; keep it inside C:
app="$drive_c/Program Files/Qorvand Sample"
reg="$drive_c/qvdemo-sample.reg"  # inside C: (the prefix has no Z: drive)
keys=("HKCU\\Software\\Qorvand Sample"
      "HKLM\\Software\\Qorvand Sample"
      "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Qorvand Sample"
      "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs")

snapshot() {
    (cd "$drive_c" && find "Program Files/Qorvand Sample" users/*/AppData/Roaming/"Qorvand Sample" 2>/dev/null | sort)
    for key in "${keys[@]}"; do
        wine reg query "$key" /s "${view[@]}" 2>/dev/null | tr -d '\r' | grep -v -e '^$' -e 'Unable to find' | sed 's/^/  /' ||
            echo "  (nothing under $key)"
    done
}

"$root/examples/sample/layout.sh" "$drive_c" "$reg"
# The 32-bit editor, as a 32-bit installer writes (in a 64-bit prefix "wine
# regedit" starts the 32-bit one); the uninstaller reports its family's version.
wine regedit /S 'C:\qvdemo-sample.reg'
[ "$family" = win7 ] || wine reg add 'HKCU\Software\Wine\AppDefaults\uninst.exe' /v Version /d win10 /f >/dev/null
rm -f "$reg"
"$root/dist/uninstpack" build "$root/examples/sample/manifest.json" -o "$app/uninst.exe"

echo "== Before: the sample application ($family)"
snapshot | tee "$build/demo-before.txt"

echo
echo "== Running C:\\Program Files\\Qorvand Sample\\uninst.exe ${DEMO_SWITCHES:-}"
# Answers the message boxes as a user who agrees: OK to the confirmation, Yes to
# removing the shared library no other program uses, OK to the final message.
# (#65535: message boxes only, not the progress dialog with the same caption.)
wine "$build/win/tools/winrun/winrun.exe" --timeout 60 --answer '1#65535' --answer '6#65535' --answer '1#65535' -- \
    'C:\Program Files\Qorvand Sample\uninst.exe' ${DEMO_SWITCHES:-} | tr -d '\r'

# The uninstaller removes itself through a batch that runs after it ended.
for _ in $(seq 20); do [ -e "$app/uninst.exe" ] || break; sleep 0.5; done

echo
echo "== After: what is left"
snapshot | tee "$build/demo-after.txt"
echo
echo "== Removed"
removed=$(diff "$build/demo-before.txt" "$build/demo-after.txt" | sed -n 's/^< /  /p' || true)
echo "${removed:-  nothing}"
