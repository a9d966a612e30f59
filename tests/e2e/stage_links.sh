#!/bin/sh
# Links as Wine shows them, made from Linux inside the test prefix (a Windows
# program cannot make one there). What an interrupted run left goes first: rm
# never follows a link, and Wine's file calls cannot remove one.
set -eu
d="$WINEPREFIX/drive_c/qvtest"
rm -rf "$d/Soak.RemovesOnlyWhatTheDataAllows" "$d/soaklinks" "$d"/*FoldersTheWalkIsInCannotBeSwapped \
    "$d/raceslot" "$d/raceoutside" "$d/links"
# The soak test's: each slot folder holds a folder link and a file link into
# soaklinks\outside; a case moves a slot folder into its tree whole (Wine's
# MoveFileA would move a link's target, not the link).
mkdir -p "$d/soaklinks/outside"
for n in 0 1 2; do
    mkdir -p "$d/soaklinks/slot$n"
    ln -s "$d/soaklinks/outside" "$d/soaklinks/slot$n/linked"
    ln -s "$d/soaklinks/outside/keep.log" "$d/soaklinks/slot$n/linked.log"
done
# The race test's slot: a folder whose inner\a is a link to raceoutside.
mkdir -p "$d/raceslot/tree/inner" "$d/raceoutside"
echo keep >"$d/raceoutside/precious.log"
ln -s "$d/raceoutside" "$d/raceslot/tree/inner/a"
# An installation whose listed files, shared library, leftover and folders
# are links to what it does not own (the targets are laid out by the test).
mkdir -p "$d/links/app/logs" "$d/links/outside"
ln -s "$d/links/outside/precious.txt" "$d/links/app/listed.txt"
ln -s "$d/links/outside/shared.dll" "$d/links/app/shared.dll"
ln -s "$d/links/outside/match.log" "$d/links/app/logs/match.log"
ln -s "$d/links/outside/dir" "$d/links/app/dirlink"
ln -s "$d/links/outside/appdir" "$d/links/linkedapp"
