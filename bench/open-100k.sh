#!/usr/bin/env bash
# Opening an archive of 100,000 entries in the main window until its list is
# filled and sorted: generates the archive once (bench/make-many-entries.py),
# then runs `tarvik --bench-open` three times (offscreen) and prints each time.
# Usage: bench/open-100k.sh [BUILD_DIR]   (default build/)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
archive=${TMPDIR:-/tmp}/tarvik-bench-100k.zip
if [ ! -f "$archive" ]; then
    python3 "$root/bench/make-many-entries.py" "$archive" 100000
fi
for i in 1 2 3; do
    LANG=de_DE.UTF-8 QT_QPA_PLATFORM=offscreen "$build/app/tarvik" --bench-open "$archive" 2>/dev/null
done
