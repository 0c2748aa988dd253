#!/usr/bin/env bash
# Wall time and peak resident memory of extracting and testing one large encrypted entry
# (traditional encryption written by the engine, AES-256 written by 7zz; deflated and
# stored) against the peers in the same run (unzip for the traditional entries, 7zz for
# AES). Not a test: prints one row per work; the engine's peak stays bounded whatever the
# entry's size.
#   bench/crypt.sh [BUILD_DIR]   (WORK=/tmp/tarvik-crypt, MB=200)
# BASE_ENGINE=path/to/ZAEngine190.so adds rows for that build of the library.
set -euo pipefail
BUILD=${1:-build}
ZEDRIVE=$(realpath "$BUILD/bin/zedrive")
WORK=${WORK:-/tmp/tarvik-crypt}
MB=${MB:-200}
PW=bench-geheim
[ -x "$ZEDRIVE" ] || { echo "build first: cmake --build $BUILD --target zedrive" >&2; exit 1; }
mkdir -p "$WORK/src"
cd "$WORK"
# Text (documentation concatenated), cut to MB.
if [ ! -f src/big.txt ] || [ "$(stat -c %s src/big.txt)" -ne $((MB * 1048576)) ]; then
    find /usr/share/doc /usr/share/common-licenses /usr/include -type f \
        \( -name '*.txt' -o -name 'copyright' -o -name '*.md' -o -name '*.h' \) -size +2k \
        -print0 2>/dev/null | xargs -0 cat > text.src 2>/dev/null || true
    : > src/big.txt
    while [ "$(stat -c %s src/big.txt)" -lt $((MB * 1048576)) ]; do cat text.src >> src/big.txt; done
    truncate -s $((MB * 1048576)) src/big.txt
fi
rm -f trad6.zip trad0.zip aes6.zip aes0.zip
"$ZEDRIVE" a -6 -P "$PW" trad6.zip src big.txt > /dev/null
"$ZEDRIVE" a -0 -P "$PW" trad0.zip src big.txt > /dev/null
(cd src && 7zz a -tzip -mx5 -mem=AES256 "-p$PW" ../aes6.zip big.txt > /dev/null)
(cd src && 7zz a -tzip -mx0 -mem=AES256 "-p$PW" ../aes0.zip big.txt > /dev/null)
cat ./*.zip > /dev/null  # warm the page cache

# Runs a command, prints "seconds peak-MiB"; output is discarded.
measure() {
    /usr/bin/time -f "%e %M" -o "$WORK/time.one" "$@" > /dev/null 2>&1 || echo "FAILED: $*" >&2
    awk '{ printf "%.2f %.0f", $1, $2 / 1024 }' "$WORK/time.one"
}
row() {  # WORK OURS PEER
    read -r ts tm <<< "$2"
    read -r ps pm <<< "$3"
    printf '%-26s %7.2f s %5d MiB | %7.2f s %5d MiB\n' "$1" "$ts" "$tm" "$ps" "$pm"
}
same() { cmp -s "$1" src/big.txt || echo "  OUTPUT DIFFERS: $1"; }
printf '%-26s %19s | %19s\n' "work ($MB MB entry)" ours peer
for z in trad6 trad0 aes6 aes0; do
    rm -rf xo xp && mkdir -p xo xp
    o=$(measure "$ZEDRIVE" x -o -P "$PW" $z.zip xo)
    if [[ $z == trad* ]]; then
        p=$(measure unzip -qo -P "$PW" $z.zip -d xp)
    else
        p=$(measure 7zz x -y "-p$PW" -oxp $z.zip)
    fi
    row "extract $z" "$o" "$p"
    same xo/big.txt
    if [ -n "${BASE_ENGINE:-}" ]; then
        rm -rf xo && mkdir -p xo
        row "  base engine" "$(measure env TARVIK_ENGINE="$BASE_ENGINE" "$ZEDRIVE" x -o -P "$PW" $z.zip xo)" "$p"
    fi
    o=$(measure "$ZEDRIVE" t -P "$PW" $z.zip)
    if [[ $z == trad* ]]; then
        p=$(measure unzip -tq -P "$PW" $z.zip)
    else
        p=$(measure 7zz t "-p$PW" $z.zip)
    fi
    row "test $z" "$o" "$p"
    if [ -n "${BASE_ENGINE:-}" ]; then
        row "  base engine" "$(measure env TARVIK_ENGINE="$BASE_ENGINE" "$ZEDRIVE" t -P "$PW" $z.zip)" "$p"
    fi
done
rm -rf xo xp
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
