#!/usr/bin/env bash
# Retakes the README screenshots from real runs of the uninstaller under Xvfb:
# the confirmation box, the progress dialog during the file pass and the
# read-only file prompt, as docs/screenshots/{confirm,progress,read-only}.png,
# with the manifest that produced them (docs/screenshots/manifest.json); and
# the read-only prompt in the built-in languages with the longest button
# texts and in Japanese (double-byte, the CJK font), as read-only-TAG.png, in
# each language's own code page; the NSIS
# example's last page and its uninstaller's confirmation (nsis-*.png).
# Usage: scripts/screenshots.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/docs/screenshots"

if [ -z "${QV_SHOTS_INSIDE:-}" ]; then
    make -C "$root" dist >/dev/null
    build=$(cd "${1:-$root/build}" && pwd)
    exec "$root/scripts/with-wine.sh" "$build/shots-prefix" -- env QV_SHOTS_INSIDE=1 "$0" "$build"
fi
build=$1
prefix="$build/shots-prefix"
drive_c="$prefix/drive_c"
cd "$drive_c"  # Wine starts programs in the current folder; keep it inside C:
app="$drive_c/Program Files/Qorvand Sample"
shots="$drive_c/qvshots"
raw="$build/shots"

# English texts throughout (the built-in table); only the caption is set. The
# files are removed last entry first: six plain ones move the bar, then the
# shared library (counted once, so its question holds the run while the
# progress dialog shows the pass), then the write-protected readme.
mkdir -p "$out"
cat >"$out/manifest.json" <<'JSON'
{
  "codepage": 1252,
  "files": [
    {"folder": ".\\bin", "name": ""},
    {"folder": ".", "name": "readme.txt"},
    {"folder": ".\\bin", "name": "helper.dll", "flags": ["shared"]},
    {"folder": ".", "name": "sample.exe", "flags": ["checkInUse"]},
    {"folder": ".", "name": "license.txt"},
    {"folder": ".\\bin", "name": "core.dll"},
    {"folder": ".\\bin", "name": "render.dll"},
    {"folder": ".", "name": "settings.ini"},
    {"folder": ".", "name": "changes.txt"}
  ],
  "registry": [
    {"root": "HKLM", "key": "Software\\Qorvand Sample"}
  ],
  "messages": {
    "caption": "Qorvand Sample Uninstall"
  }
}
JSON

# The installation the manifest describes, laid out afresh for each run.
rm -rf "$raw"
mkdir -p "$raw"
shoot() {  # LANGUAGE-TAG UNIX-LOCALE
    rm -rf "$app" "$shots"
    mkdir -p "$app/bin"
    for f in readme.txt sample.exe license.txt settings.ini changes.txt bin/helper.dll bin/core.dll bin/render.dll; do
        printf 'Qorvand Sample: %s\r\n' "$f" >"$app/$f"
    done
    chmod a-w "$app/readme.txt"  # Wine reports a file without write permission as read-only
    cat >"$drive_c/qvshots.reg" <<'REG'
REGEDIT4

[HKEY_LOCAL_MACHINE\Software\Qorvand Sample]
"InstallDir"="C:\\Program Files\\Qorvand Sample"

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\SharedDLLs]
"C:\\Program Files\\Qorvand Sample\\bin\\helper.dll"=dword:00000001
REG
    wine regedit /S 'C:\qvshots.reg'
    rm -f "$drive_c/qvshots.reg"
    if [ "$1" = en ]; then
        "$root/dist/uninstpack" build "$out/manifest.json" -o "$app/uninst.exe"
    else  # the language's own table, caption included
        python3 -c 'import json,sys; m=json.load(open(sys.argv[1])); m.pop("messages"); m.pop("codepage"); print(json.dumps(m))' \
            "$out/manifest.json" >"$raw/manifest-$1.json"
        "$root/dist/uninstpack" build "$raw/manifest-$1.json" -o "$app/uninst.exe" --language "$1"
    fi

    # OK to the confirmation, Yes to the shared library, "remove" to the read-only
    # file, OK to the final message. #65535 keeps message-box answers off the
    # dialogs with the same caption; only the read-only prompt has a control 1001.
    LC_ALL=$2 wine "$build/win/tools/winrun/winrun.exe" --timeout 120 --shots 'C:\qvshots' \
        --answer '1#65535' --answer '6#65535' --answer '6#1001' --answer '1#65535' -- \
        'C:\Program Files\Qorvand Sample\uninst.exe' | tr -d '\r' >"$raw/winrun.txt"
}

# Picks a capture by the report line of its window.
pick() {  # PATTERN SUFFIX NAME
    local line shot
    line=$(grep -a -m1 -e "$1" "$raw/winrun.txt") || { echo "screenshots: no window matched $1" >&2; exit 1; }
    shot=$(printf '%s\n' "$line" | grep -o "[0-9][0-9]$2\.bmp" | head -n 1) ||
        { echo "screenshots: no capture $2 for: $line" >&2; exit 1; }
    python3 "$root/scripts/bmp2png.py" "$shots/$shot" "$out/$3.png"
    echo "docs/screenshots/$3.png <- $shot"
}
shoot en en_US.UTF-8
pick '^dialog' '' confirm                   # the first window: the confirmation
pick 'helper\.dll.*-under\.bmp' '-under' progress  # under the shared-library question
pick '\[1001\]' '' read-only
for language in pl:pl_PL.UTF-8 pt-BR:pt_BR.UTF-8 ja:ja_JP.UTF-8; do
    shoot "${language%%:*}" "${language#*:}"
    pick '\[1001\]' '' "read-only-${language%%:*}"
done

# The NSIS example: the wizard's last page after a real installation, and the
# confirmation of the uninstaller it made. The wizard turns its pages inside
# one window, which winrun saves only as it first appears (the folder page),
# so the last page is taken from the display once the uninstaller is there.
rm -rf "$app" "$shots"
cp "$build/win/examples/nsis/qorvand-sample-setup.exe" "$drive_c/qvshots-setup.exe"
# Install on the folder page; the wizard then goes on to its last page alone,
# where it stays until winrun ends it.
wine "$build/win/tools/winrun/winrun.exe" --timeout 20 --answer 1 -- 'C:\qvshots-setup.exe' >/dev/null &
setup=$!
for _ in $(seq 150); do [ -e "$app/uninst.exe" ] && break; sleep 0.2; done
sleep 3  # the last page paints
python3 "$root/scripts/xshot.py" "Qorvand Sample Setup" "$out/nsis-finish.png"
echo "docs/screenshots/nsis-finish.png <- the display"
wait "$setup" || true
rm -f "$drive_c/qvshots-setup.exe"
# OK to the confirmation and to the final message.
wine "$build/win/tools/winrun/winrun.exe" --timeout 60 --shots 'C:\qvshots' --answer '1#65535' --answer '1#65535' -- \
    'C:\Program Files\Qorvand Sample\uninst.exe' | tr -d '\r' >"$raw/winrun.txt"
pick '^dialog' '' nsis-confirm
