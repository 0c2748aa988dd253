#!/usr/bin/env bash
# Sizes and times of every compression level against Info-ZIP zip at the same level, per data
# set: the run.sh corpus (include, doc, bin), a file of numbers and plain text. Not a test:
# marks a level whose archive is more than 0.5 % larger than zip's ("OVER") and one whose
# archive is larger than the level below it ("GROWS").
#   bench/levels.sh [BUILD_DIR]     (WORK=/tmp/tarvik-bench; the corpus is made by run.sh,
#                                    SETS="numbers text" to measure only some sets)
set -euo pipefail
BUILD=${1:-build}
ZEDRIVE=$(realpath "$BUILD/bin/zedrive")
WORK=${WORK:-/tmp/tarvik-bench}
[ -x "$ZEDRIVE" ] || { echo "build first: cmake --build $BUILD --target zedrive" >&2; exit 1; }
mkdir -p "$WORK/levels"
cd "$WORK/levels"

# The two small sets are made here: a column of numbers (what made levels 3-9 larger than
# level 2 once) and English-like plain text.
if [ ! -d numbers ]; then
    mkdir -p numbers text
    seq 1 300000 > numbers/seq.txt
    awk 'BEGIN { srand(1); for (i = 0; i < 150000; i++) printf "%.6f,%d\n", rand() * 1000, int(rand() * 100000) }' > numbers/floats.txt
    for f in /usr/share/common-licenses/* /usr/share/dict/words; do
        [ -f "$f" ] && cp -L "$f" text/ 2>/dev/null || true
    done
    find /usr/share/doc -name '*.txt' -size +4k 2>/dev/null | head -200 | while read -r f; do
        cp -L "$f" "text/$(echo "$f" | tr / _)" 2>/dev/null || true
    done
fi
dir_of() { case "$1" in numbers|text) echo "$WORK/levels/$1" ;; *) echo "$WORK/corpus/$1" ;; esac; }

secs() {
    local s e
    s=$(date +%s.%N)
    "$@" > /dev/null 2>&1 || true
    e=$(date +%s.%N)
    echo "$e - $s" | bc -l
}

printf '%-8s %5s %12s %12s %8s %8s %8s %s\n' set level "zip bytes" "engine" "size" "zip s" "engine s" ""
for set in ${SETS:-include doc bin numbers text}; do
    src=$(dir_of "$set")
    [ -d "$src" ] || { echo "$set: no folder $src (run bench/run.sh once)"; continue; }
    prev=0
    for level in 1 2 3 4 5 6 7 8 9; do
        rm -f z.zip e.zip
        tz=$(secs sh -c "cd '$src' && zip -qr -$level '$WORK/levels/z.zip' .")
        te=$(secs "$ZEDRIVE" a -$level -r -H "$WORK/levels/e.zip" "$src" '*')
        sz=$(stat -c %s z.zip)
        se=$(stat -c %s e.zip)
        mark=""
        [ "$(echo "$se > $sz * 1.005" | bc -l)" = 1 ] && mark="$mark OVER"
        [ "$prev" -gt 0 ] && [ "$se" -gt "$prev" ] && mark="$mark GROWS"
        prev=$se
        printf '%-8s %5d %12d %12d %+7.2f%% %8.2f %8.2f %s\n' "$set" "$level" "$sz" "$se" \
            "$(echo "($se / $sz - 1) * 100" | bc -l)" "$tz" "$te" "$mark"
    done
done
rm -f z.zip e.zip
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
