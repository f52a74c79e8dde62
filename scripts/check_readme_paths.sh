#!/usr/bin/env bash
# Checks that every path README.md says the main job leaves is there: each
# `build/...` path it names, and each entry of the example's layout (the
# indented lines under "build/example/" in its layout block). Run from the
# repository's root after the main job; names every missing path.
set -euo pipefail
cd "$(dirname "$0")/.."

paths=$(
  {
    grep -o '`build/[^`]*`' README.md | tr -d '`'
    awk '/^build\/example\/$/ { layout = 1; next }
         layout && /^```/    { layout = 0 }
         layout && /^  [^ ]/ { print "build/example/" $1 }' README.md
    # The package the layout's last line names.
    grep -o 'out/Update[^ ]*\.exe' README.md | sed 's#^#build/example/#'
  } | sort -u
)

missing=0
for path in $paths; do
  if [ ! -e "$path" ]; then
    echo "README.md names $path, which is not there" >&2
    missing=1
  fi
done
[ -n "$paths" ] || { echo "README.md names no paths to check" >&2; missing=1; }
exit $missing
