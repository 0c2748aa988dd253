#!/usr/bin/env bash
# Wall time, peak resident memory and size of the engine (through bench/zedrive) against
# Info-ZIP zip/unzip in the same run: adding, extracting and testing a mixed set, and adding
# one large text file (compressed on all cores in chunks). Not a test: prints one row per
# work with the ratios (peer time / our time, our memory / peer memory, our size / peer size).
#   bench/lean.sh [BUILD_DIR]   (WORK=/tmp/tarvik-lean, BIN_MB=40, BIG_MB=500; SMALL=0 leaves
#                               out the many-small-files rows of bench/many-small.sh)
# BASE_ENGINE=path/to/ZAEngine190.so adds rows for that build of the library (before and after).
# Check `uptime` first: other builds on the machine distort every time.
set -euo pipefail
BUILD=${1:-build}
ZEDRIVE=$(realpath "$BUILD/bin/zedrive")
HERE=$(dirname "$(realpath "$0")")
WORK=${WORK:-/tmp/tarvik-lean}
BIN_MB=${BIN_MB:-40}
BIG_MB=${BIG_MB:-500}
[ -x "$ZEDRIVE" ] || { echo "build first: cmake --build $BUILD --target zedrive" >&2; exit 1; }
mkdir -p "$WORK"
cd "$WORK"

# Text for the large files: documentation concatenated (not random data).
if [ ! -f text.src ]; then
    find /usr/share/doc /usr/share/common-licenses /usr/include -type f \
        \( -name '*.txt' -o -name 'copyright' -o -name '*.md' -o -name '*.h' \) -size +2k \
        -print0 2>/dev/null | xargs -0 cat > text.src 2>/dev/null || true
fi
repeat_to() {  # FILE MB
    [ -f "$1" ] && [ "$(stat -c %s "$1")" -ge $(($2 * 1048576)) ] && return
    : > "$1"
    while [ "$(stat -c %s "$1")" -lt $(($2 * 1048576)) ]; do cat text.src >> "$1"; done
    truncate -s $(($2 * 1048576)) "$1"
}
# The mixed set: headers, documentation, BIN_MB of programs and two large text files.
if [ ! -d mixed ]; then
    mkdir -p mixed/bin mixed/large
    cp -rL /usr/include mixed/include 2>/dev/null || true
    cp -rL /usr/share/doc mixed/doc 2>/dev/null || true
    total=0
    for f in /usr/bin/*; do
        [ -f "$f" ] || continue
        [ "$total" -gt $((BIN_MB * 1048576)) ] && break
        cp -L "$f" mixed/bin/ 2>/dev/null || continue
        total=$((total + $(stat -Lc %s "$f")))
    done
    repeat_to mixed/large/a.txt 40
    repeat_to mixed/large/b.txt 20
fi
mkdir -p bigset
repeat_to bigset/big.txt "$BIG_MB"
tar cf - mixed bigset > /dev/null  # warm the page cache

# Runs a command, prints "seconds peak-MiB cpu-seconds"; output and errors are discarded.
measure() {
    /usr/bin/time -f "%e %M %U %S" -o "$WORK/time.one" "$@" > /dev/null 2>&1 || true
    awk '{ printf "%.2f %.0f %.2f", $1, $2 / 1024, $3 + $4 }' "$WORK/time.one"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b < 0.01) b = 0.01; printf "%.2f", a / b }'; }
row() {  # WORK OURS PEER [SIZES]
    read -r ts tm tc <<< "$2"
    read -r ps pm pc <<< "$3"
    printf '%-22s %8.2f s %6d MiB | %8.2f s %6d MiB | %5.2fx  cpu %5.2fx  mem %5.2fx' "$1" "$ts" "$tm" \
        "$ps" "$pm" "$(ratio "$ps" "$ts")" "$(ratio "$pc" "$tc")" "$(ratio "$tm" "$pm")"
    [ -n "${4:-}" ] && printf '  size %+.2f%%' "$(echo "($4) * 100" | bc -l)"
    echo
}
printf '%-22s %21s | %21s | %s\n' work "ours" "peer" "peer time / ours (wall, cpu), our memory / peer's"
echo "mixed: $(du -sm mixed | cut -f1) MB, $(find mixed -type f | wc -l) files; big: $BIG_MB MB"

rm -f e.zip z.zip
o=$(measure "$ZEDRIVE" a -6 -r -H e.zip mixed "*")
p=$(measure sh -c "cd mixed && zip -qr -6 ../z.zip .")
row "add -6 mixed" "$o" "$p" "$(stat -c %s e.zip) / $(stat -c %s z.zip) - 1"
if [ -n "${BASE_ENGINE:-}" ]; then
    rm -f eb.zip
    o=$(measure env TARVIK_ENGINE="$BASE_ENGINE" "$ZEDRIVE" a -6 -r -H eb.zip mixed "*")
    row "  base engine" "$o" "$p" "$(stat -c %s eb.zip) / $(stat -c %s z.zip) - 1"
    rm -f eb.zip
fi
rm -rf xo xp && mkdir -p xo xp
o=$(measure "$ZEDRIVE" x -o e.zip xo)
p=$(measure unzip -qo z.zip -d xp)
row "extract mixed" "$o" "$p"
if [ -n "${BASE_ENGINE:-}" ]; then
    rm -rf xo && mkdir -p xo
    o=$(measure env TARVIK_ENGINE="$BASE_ENGINE" "$ZEDRIVE" x -o e.zip xo)
    row "  base engine" "$o" "$p"
fi
o=$(measure "$ZEDRIVE" t e.zip)
p=$(measure unzip -tq z.zip)
row "test mixed" "$o" "$p"
if [ -n "${BASE_ENGINE:-}" ]; then
    o=$(measure env TARVIK_ENGINE="$BASE_ENGINE" "$ZEDRIVE" t e.zip)
    row "  base engine" "$o" "$p"
fi
rm -rf xo xp

rm -f be.zip bz.zip
o=$(measure "$ZEDRIVE" a -6 be.zip bigset big.txt)
p=$(measure sh -c "cd bigset && zip -q -6 ../bz.zip big.txt")
row "add -6 one big file" "$o" "$p" "$(stat -c %s be.zip) / $(stat -c %s bz.zip) - 1"
if [ -n "${BASE_ENGINE:-}" ]; then
    rm -f bb.zip
    o=$(measure env TARVIK_ENGINE="$BASE_ENGINE" "$ZEDRIVE" a -6 bb.zip bigset big.txt)
    row "  base engine" "$o" "$p" "$(stat -c %s bb.zip) / $(stat -c %s bz.zip) - 1"
    rm -f bb.zip
fi
unzip -tq be.zip > /dev/null && echo "unzip -t accepts the big file's archive" || echo "unzip -t FAILS on be.zip"
rm -f e.zip z.zip be.zip bz.zip
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
if [ "${SMALL:-1}" = 1 ]; then
    echo "== many small files =="
    "$HERE/many-small.sh" "$(dirname "$(dirname "$ZEDRIVE")")"
fi
