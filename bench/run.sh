#!/usr/bin/env bash
# Benchmark of the engine (through bench/zedrive) against Info-ZIP zip/unzip and 7zz on a
# mixed corpus: headers and sources, documentation (much of it already gzip-compressed),
# program binaries. Not a test: prints times, throughput ratios and compressed sizes.
#   bench/run.sh [BUILD_DIR]      (WORK=/tmp/tarvik-bench, BIN_MB=80 to change)
# BASE_ENGINE=path/to/ZAEngine190.so adds that build to the per-set extraction rows (before and
# after a change, in the same run).
set -euo pipefail
BUILD=${1:-build}
ZEDRIVE=$(realpath "$BUILD/bin/zedrive")
WORK=${WORK:-/tmp/tarvik-bench}
BIN_MB=${BIN_MB:-80}
[ -x "$ZEDRIVE" ] || { echo "build first: cmake --build $BUILD --target zedrive" >&2; exit 1; }

mkdir -p "$WORK"
cd "$WORK"
if [ ! -d corpus ]; then
    echo "making the corpus in $WORK/corpus ..."
    mkdir -p corpus/bin
    cp -rL /usr/include corpus/include 2>/dev/null || true
    cp -rL /usr/share/doc corpus/doc 2>/dev/null || true
    total=0
    for f in /usr/bin/*; do
        [ -f "$f" ] || continue
        s=$(stat -Lc %s "$f")
        cp -L "$f" corpus/bin/ 2>/dev/null || continue
        total=$((total + s))
        [ $total -gt $((BIN_MB * 1024 * 1024)) ] && break
    done
fi
bytes=$(du -sb corpus | cut -f1)
files=$(find corpus -type f | wc -l)
tar cf - corpus > /dev/null  # warm the page cache
printf 'corpus: %d files, %.1f MB\n\n' "$files" "$(echo "$bytes / 1048576" | bc -l)"

# Wall-clock seconds of a command; its CPU seconds (user + system) go to cpu.txt.
secs() {
    local s e
    s=$(date +%s.%N)
    /usr/bin/time -f "%U %S" -o "$WORK/cpu.one" "$@" > /dev/null 2>&1 || true
    e=$(date +%s.%N)
    echo "$1 $(awk '{print $1 + $2}' "$WORK/cpu.one")" >> "$WORK/cpu.txt"
    echo "$e - $s" | bc -l
}
size() { stat -c %s "$1"; }
clean() { rm -rf "$WORK"/x_* "$WORK"/*.zip; }

clean
: > "$WORK/cpu.txt"
declare -A T
T[zip6]=$(secs sh -c "cd corpus && zip -qr -6 ../zip6.zip .")
T[our6]=$(secs "$ZEDRIVE" a -6 -r -H "$WORK/our6.zip" "$WORK/corpus" '*')
T[zip9]=$(secs sh -c "cd corpus && zip -qr -9 ../zip9.zip .")
T[our9]=$(secs "$ZEDRIVE" a -9 -r -H "$WORK/our9.zip" "$WORK/corpus" '*')
T[7z6]=$(secs sh -c "cd corpus && 7zz a -tzip -mx=5 ../7z.zip .")
T[unzip]=$(secs unzip -q zip6.zip -d x_unzip)
mkdir -p x_our
T[ourx]=$(secs "$ZEDRIVE" x zip6.zip x_our)
T[7zx]=$(secs 7zz x zip6.zip -ox_7z)
T[unzipt]=$(secs unzip -tq zip6.zip)
T[ourt]=$(secs "$ZEDRIVE" t zip6.zip)
T[7zt]=$(secs 7zz t zip6.zip)
T[ourt_own]=$(secs "$ZEDRIVE" t our6.zip)

identical=yes
diff -r corpus x_our > /dev/null 2>&1 || identical=NO
[ "$("$ZEDRIVE" t our6.zip | sed -n 's/^result //p')" -ge "$files" ] || identical="NO (own archive test)"
unzip -tq our6.zip > /dev/null 2>&1 || identical="NO (unzip -t of our archive)"

mbps() { echo "$bytes / 1048576 / $1" | bc -l; }
row() { printf '%-28s %8.2f s %8.1f MB/s\n' "$1" "$2" "$(mbps "$2")"; }
echo "== add =="
row "zip -6" "${T[zip6]}"; row "engine level 6" "${T[our6]}"; row "7zz -tzip -mx=5" "${T[7z6]}"
row "zip -9" "${T[zip9]}"; row "engine level 9" "${T[our9]}"
echo "== extract (archive made by zip -6) =="
row "unzip" "${T[unzip]}"; row "engine" "${T[ourx]}"; row "7zz x" "${T[7zx]}"
echo "== test =="
row "unzip -t" "${T[unzipt]}"; row "engine" "${T[ourt]}"; row "7zz t" "${T[7zt]}"
row "engine (own level-6 archive)" "${T[ourt_own]}"
echo "== sizes =="
printf '%-28s %12d\n' "zip -6" "$(size zip6.zip)" "engine 6" "$(size our6.zip)" "7zz mx5" "$(size 7z.zip)" \
    "zip -9" "$(size zip9.zip)" "engine 9" "$(size our9.zip)"
echo "== ratios (goal) =="
printf 'add level 6 speed vs zip -6:  %.2fx (>= 4)\n' "$(echo "${T[zip6]} / ${T[our6]}" | bc -l)"
printf 'add level 9 speed vs zip -9:  %.2fx (>= 2)\n' "$(echo "${T[zip9]} / ${T[our9]}" | bc -l)"
printf 'size level 6 vs zip -6:       %+.2f%% (<= +0.5%%)\n' "$(echo "($(size our6.zip) / $(size zip6.zip) - 1) * 100" | bc -l)"
printf 'size level 9 vs zip -9:       %+.2f%% (<= 0%%)\n' "$(echo "($(size our9.zip) / $(size zip9.zip) - 1) * 100" | bc -l)"
printf 'extract speed vs unzip:       %.2fx (>= 1.5)\n' "$(echo "${T[unzip]} / ${T[ourx]}" | bc -l)"
printf 'test speed vs unzip -t:       %.2fx (>= 1.5)\n' "$(echo "${T[unzipt]} / ${T[ourt]}" | bc -l)"
echo "byte-identical extraction, own archive tests clean: $identical"
# Extraction per data set (sources and headers: many small files; documentation: small
# files, many already compressed; binaries: few large files), each archive made by zip -6.
echo "== extract per data set (archive made by zip -6; wall s, ratio unzip / engine) =="
for set in include doc bin; do
    (cd "corpus/$set" && zip -qr -6 "$WORK/set_$set.zip" .)
    mkdir -p "x_s_our_$set" "x_s_base_$set"
    tu=$(secs unzip -q "set_$set.zip" -d "x_s_unzip_$set")
    to=$(secs "$ZEDRIVE" x "set_$set.zip" "x_s_our_$set")
    line=$(printf '%-8s unzip %6.2f  engine %6.2f  %.2fx (>= 1.5)' "$set" "$tu" "$to" "$(echo "$tu / $to" | bc -l)")
    if [ -n "${BASE_ENGINE:-}" ]; then
        tb=$(secs env TARVIK_ENGINE="$BASE_ENGINE" "$ZEDRIVE" x "set_$set.zip" "x_s_base_$set")
        line="$line  base engine $(printf '%6.2f  %.2fx' "$tb" "$(echo "$tu / $tb" | bc -l)")"
    fi
    diff -r "corpus/$set" "x_s_our_$set" > /dev/null 2>&1 || line="$line  NOT IDENTICAL"
    echo "$line"
done
echo "== CPU seconds (user + system), in the order run =="
cat "$WORK/cpu.txt"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
clean
