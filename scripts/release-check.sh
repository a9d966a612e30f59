#!/usr/bin/env bash
# Builds a commit's release twice, each time from a fresh export in its own
# folder (different paths, different times, a different umask, and another
# user where this runs as root), and compares the files bit for bit.
# scripts/release-check.sh [COMMIT]   (default HEAD; logs in the work folder)
set -euo pipefail

root=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")/.." && pwd)
commit=$(git -C "$root" rev-parse --verify "${1:-HEAD}^{commit}")
epoch=$(git -C "$root" log -1 --format=%ct "$commit")
work=$(mktemp -d "${TMPDIR:-/tmp}/qorvand-release-check.XXXXXX")
chmod 755 "$work"
echo "release-check: $commit, twice, in $work"

# build N FOLDER UMASK [USER]
build() {
  local tree=$work/$2
  mkdir -p "$tree"
  git -C "$root" archive "$commit" | tar -x -C "$tree"
  local as=()
  if [ -n "${4:-}" ]; then
    chown -R "$4" "$work/${2%%/*}"
    as=(setpriv --reuid="$4" --regid="$(id -g "$4")" --clear-groups --)
  fi
  local started=$SECONDS
  (cd "$tree" && umask "$3" &&
    env HOME="$tree" SOURCE_DATE_EPOCH="$epoch" "${as[@]}" make release TESTS=OFF) >"$work/build$1.log" 2>&1 ||
    { tail -20 "$work/build$1.log"; echo "release-check: build $1 failed ($work/build$1.log)" >&2; exit 1; }
  echo "release-check: build $1 in $tree, umask $3${4:+, as $4}: $((SECONDS - started)) s"
}

other=
[ "$(id -u)" -eq 0 ] && id nobody >/dev/null 2>&1 && other=nobody
build 1 one/qorvand 022
build 2 second-build/elsewhere/q 077 "$other"

first=$work/one/qorvand/dist/release
second=$work/second-build/elsewhere/q/dist/release
status=0
for f in "$first"/*; do
  name=${f##*/}
  if cmp -s "$f" "$second/$name"; then
    echo "identical: $name"
  else
    echo "DIFFERENT: $name (diffoscope $f $second/$name explains it)"
    status=1
  fi
done
[ "$(ls "$first")" = "$(ls "$second")" ] || { echo "DIFFERENT: the file lists"; status=1; }
cat "$first/SHA256SUMS"
if [ $status -eq 0 ]; then
  echo "release-check: the two builds are identical"
  rm -rf "$work"
fi
exit $status
