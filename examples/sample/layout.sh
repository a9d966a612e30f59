#!/usr/bin/env bash
# Lays out the sample application in a prefix's drive C, straight from Linux
# (faster than through Wine), and writes the registry entries it would have made.
# With --staging, only the files an installer ships, in DIR (the NSIS example's).
# Usage: layout.sh DRIVE_C REG_FILE | layout.sh --staging DIR
set -euo pipefail

shipped() {  # FOLDER
    rm -rf "$1"
    mkdir -p "$1/bin" "$1/data"
    printf 'MZ sample program\n' >"$1/sample.exe"
    printf 'Qorvand Sample\r\n' >"$1/readme.txt"
    printf 'Thank you for using Qorvand Sample.\r\n' >"$1/goodbye.txt"
    printf 'MZ helper library\n' >"$1/bin/helper.dll"
    printf '[settings]\r\ncolour=blue\r\n' >"$1/data/settings.ini"
}
if [ "$1" = --staging ]; then
    shipped "$2"
    exit 0
fi

drive_c=$1
reg=$2
app="$drive_c/Program Files/Qorvand Sample"
user=$(ls "$drive_c/users" | grep -v -x Public | head -n 1)
appdata="$drive_c/users/$user/AppData/Roaming/Qorvand Sample"

rm -rf "$appdata"
shipped "$app"
mkdir -p "$app/logs/old" "$appdata"
for f in a b; do printf 'log %s\n' "$f" >"$app/logs/$f.log"; done
printf 'old log\n' >"$app/logs/old/c.log"
printf 'cache\n' >"$appdata/cache.tmp"
printf 'keep me\n' >"$appdata/notes.txt"

cat >"$reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Qorvand Sample]
"Colour"="blue"

[HKEY_CURRENT_USER\Software\Qorvand Sample\Recent]
"1"="C:\\report.txt"

[HKEY_LOCAL_MACHINE\Software\Qorvand Sample]
"InstallDir"="C:\\Program Files\\Qorvand Sample"

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall\Qorvand Sample]
"DisplayName"="Qorvand Sample"
"UninstallString"="\"C:\\Program Files\\Qorvand Sample\\uninst.exe\""

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\SharedDLLs]
"C:\\Program Files\\Qorvand Sample\\bin\\helper.dll"=dword:00000001
REG
