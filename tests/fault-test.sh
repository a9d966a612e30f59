#!/usr/bin/env bash
# The test command for fault runs (../shared/tools/mutants.py --test
# tests/fault-test.sh): a fresh prefix, then first the Windows tests that the
# changed file can affect, and only when they all pass, everything. A caught
# fault is then known after minutes instead of a whole run, which matters in
# the emulated machine. The table only orders the work: a fault that slips
# past its first tests still meets the whole suite.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

first_tests() {
    case "$1" in
        src/removal/files.cpp)       echo 'InUse|Links|RunFlow|ReadOnlyFiles|SharedFiles|Fonts|ComServers|DirectoryEntries|Soak' ;;
        src/removal/com_servers.cpp) echo 'ComServers' ;;
        src/removal/fonts.cpp)       echo 'FontWithdrawal|Fonts|FontName' ;;
        src/removal/wildcards.cpp)   echo 'Links|Wildcards|Soak' ;;
        src/removal/directories.cpp) echo 'FolderRemoval|Links|DirectoryEntries|Soak' ;;
        src/removal/registry.cpp)    echo 'double_byte|ProgramList|Soak' ;;
        src/data/*)                  echo 'NoUser|Records|DataBlock|MessageFormatting|Soak' ;;
        src/ui/*)                    echo 'NoUser|ReadOnlyFiles|RunFlow' ;;
        src/launch/*)                echo 'Launch|Links|RemovalBatch|BatchInterpreter|BatchFolder|SplitCommand|PreRemovalCommand' ;;
        src/app/*)                   echo 'DesktopUser|CommandTail|InstallDir|ShortPath|RunFlow|Launch' ;;
        src/paths/*)                 echo 'ReparseTags|PerUserTokens|ProtectedFolders|double_byte|FolderTokens|DirectoryEntries|Wildcards|Links|Soak' ;;
        tools/uninstpack/*)          echo 'Installation|ProgramList|Languages' ;;
        *)                           echo '' ;;
    esac
}

pattern=
while IFS= read -r file; do
    tests=$(first_tests "$file")
    [ -n "$tests" ] && pattern=${pattern:+$pattern|}$tests
done < <(git diff --name-only)

rm -rf build/wineprefix build/wineprefix64
if [ -n "$pattern" ]; then
    echo "fault-test: first the tests of $(git diff --name-only | tr '\n' ' ')"
    QV_STOP_ON_FAILURE=1 QV_TEST_FILTER="$pattern" make test || exit 1
    echo "fault-test: those passed; now everything"
fi
QV_STOP_ON_FAILURE=1 make test
