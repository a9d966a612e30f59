#!/usr/bin/env bash
# Lays out the sample application in a prefix's drive C, straight from Linux
# (faster than through Wine), and writes the registry entries it would have made.
# Usage: layout.sh DRIVE_C REG_FILE
set -euo pipefail
drive_c=$1
reg=$2
app="$drive_c/Program Files/Qorvand Sample"
user=$(ls "$drive_c/users" | grep -v -x Public | head -n 1)
appdata="$drive_c/users/$user/AppData/Roaming/Qorvand Sample"

rm -rf "$app" "$appdata"
mkdir -p "$app/bin" "$app/data" "$app/logs/old" "$appdata"
printf 'MZ sample program\n' >"$app/sample.exe"
printf 'Qorvand Sample\r\n' >"$app/readme.txt"
printf 'Thank you for using Qorvand Sample.\r\n' >"$app/goodbye.txt"
printf 'MZ helper library\n' >"$app/bin/helper.dll"
printf '[settings]\r\ncolour=blue\r\n' >"$app/data/settings.ini"
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
