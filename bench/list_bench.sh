#!/usr/bin/env bash
# Loading and listing a large archive: the component against unzip -Z1 and
# 7zz l on the same file, best of 3 runs each, with peak memory.
#
#   bench/list_bench.sh [BUILD_DIR] [ENTRIES]
#
# BUILD_DIR (default: build) must hold the tarvik-list-bench target; it is
# built when missing. The archive (ENTRIES small stored files, default
# 200000) is written by Python's zipfile into a temporary folder that is
# removed afterwards. Times are wall-clock seconds of the whole process and
# its CPU seconds (user + system; steadier on a busy machine); memory is the
# maximum resident set size reported by /usr/bin/time.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-"$here/../build"}
entries=${2:-200000}
runs=3

bench="$build/bench/tarvik-list-bench"
if [[ ! -x $bench ]]; then
    cmake --build "$build" -j2 --target tarvik-list-bench >&2
fi
for tool in python3 unzip 7zz /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "list_bench: $tool missing" >&2; exit 1; }
done

tmp=$(mktemp -d "${TMPDIR:-/tmp}/tarvik-list-bench.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
archive="$tmp/many.zip"

python3 - "$archive" "$entries" <<'PY'
import sys, zipfile
path, n = sys.argv[1], int(sys.argv[2])
with zipfile.ZipFile(path, 'w', zipfile.ZIP_STORED) as z:
    for i in range(n):
        info = zipfile.ZipInfo('dir%03d/file%06d.txt' % (i % 500, i),
                               (2020, 1 + i % 12, 1 + i % 28, i % 24, i % 60, (i % 30) * 2))
        z.writestr(info, b'entry %d\n' % i * (1 + i % 4))
PY
echo "archive: $entries entries, $(stat -c %s "$archive") bytes"

# best_of NAME CMD...: runs CMD $runs times; sets best_s (wall), best_cpu
# and best_kb (the largest peak seen).
best_of() {
    local name=$1
    shift
    best_s=""
    best_cpu=""
    best_kb=0
    for ((r = 0; r < runs; r++)); do
        local t0 t1 kb s cpu user sys
        t0=$(date +%s%N)
        /usr/bin/time -f '%U %S %M' -o "$tmp/mem" "$@" >"$tmp/out" 2>"$tmp/err" ||
            { echo "list_bench: $name failed:" >&2; cat "$tmp/err" >&2; exit 1; }
        t1=$(date +%s%N)
        s=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.4f", (b - a) / 1e9 }')
        read -r user sys kb < <(tail -n 1 "$tmp/mem")
        cpu=$(awk -v a="$user" -v b="$sys" 'BEGIN { printf "%.2f", a + b }')
        if [[ -z $best_s ]] || awk -v a="$s" -v b="$best_s" 'BEGIN { exit !(a < b) }'; then
            best_s=$s
        fi
        if [[ -z $best_cpu ]] || awk -v a="$cpu" -v b="$best_cpu" 'BEGIN { exit !(a < b) }'; then
            best_cpu=$cpu
        fi
        if ((kb > best_kb)); then best_kb=$kb; fi
    done
}

best_of tarvik "$bench" "$archive"
tarvik_s=$best_s tarvik_cpu=$best_cpu tarvik_kb=$best_kb
echo "tarvik driver: $(cat "$tmp/out")"
best_of unzip unzip -Z1 "$archive"
unzip_s=$best_s unzip_cpu=$best_cpu unzip_kb=$best_kb
unzip_n=$(wc -l <"$tmp/out")
best_of 7zz 7zz l "$archive"
sz_s=$best_s sz_cpu=$best_cpu sz_kb=$best_kb

printf '\n%-12s %10s %10s %14s\n' tool "wall_s" "cpu_s" "max_rss_kb"
printf '%-12s %10s %10s %14s\n' tarvik "$tarvik_s" "$tarvik_cpu" "$tarvik_kb" \
    "unzip -Z1" "$unzip_s" "$unzip_cpu" "$unzip_kb" "7zz l" "$sz_s" "$sz_cpu" "$sz_kb"
echo "(unzip -Z1 listed $unzip_n names)"
awk -v t="$tarvik_s" -v u="$unzip_s" -v s="$sz_s" -v tc="$tarvik_cpu" -v uc="$unzip_cpu" \
    -v sc="$sz_cpu" -v tm="$tarvik_kb" -v um="$unzip_kb" \
    -v sm="$sz_kb" 'BEGIN {
    printf "\nwall   tarvik/unzip = %.2f  tarvik/7zz = %.2f   (goal: tarvik/unzip <= 0.50)\n", t / u, t / s
    if (uc > 0 && sc > 0)
        printf "cpu    tarvik/unzip = %.2f  tarvik/7zz = %.2f\n", tc / uc, tc / sc
    printf "memory tarvik/unzip = %.2f  tarvik/7zz = %.2f   (goal: tarvik/7zz < 1.00)\n", tm / um, tm / sm
}'
