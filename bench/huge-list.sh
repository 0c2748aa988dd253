#!/usr/bin/env bash
# Huge archives: listing and opening archives of 200,000 to 10,000,000 entries,
# against unzip -Z1 and 7zz l on the same files. Prints one row per case with
# wall-clock and CPU seconds, peak memory (maximum resident set) and the
# ratios to the peers.
#
#   bench/huge-list.sh [BUILD_DIR] [CASES]
#
# CASES (default "list200k list1m window1m open10m") picks rows:
#   list200k, list1m   tarvik-cli list --tsv (and the table) of 200k / 1M entries
#   window1m           the window opening 1M entries: loaded, filled, sorted by
#                      name and shown (tarvik --bench-open, offscreen)
#   open10m            10M entries (Zip64): tarvik-cli list --tsv and the window
# The archives (stored files in 500 folders, bench/make_many.cpp) are written
# once into $HUGE_DIR (default $TMPDIR/tarvik-huge; the 10M one takes 1.2 GB)
# and kept. RUNS (default 3; 1 for 10M) runs each, best time, largest peak.
# 7zz on 10M entries takes minutes: it runs only with PEERS_10M=1.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "${1:-$here/../build}")
cases=${2:-"list200k list1m window1m open10m"}
runs=${RUNS:-3}
dir=${HUGE_DIR:-${TMPDIR:-/tmp}/tarvik-huge}
mkdir -p "$dir"

for t in tarvik-make-many; do
    [[ -x $build/bench/$t ]] || cmake --build "$build" -j2 --target "$t" >&2
done
cli=$build/cli/tarvik-cli
app=$build/app/tarvik
for tool in unzip 7zz /usr/bin/time "$cli" "$app"; do
    command -v "$tool" >/dev/null || { echo "huge-list: $tool missing" >&2; exit 1; }
done

archive() {  # archive COUNT -> path (made when missing)
    local f="$dir/many-$1.zip"
    if [[ ! -s $f ]]; then
        "$build/bench/tarvik-make-many" "$f.part" "$1" && mv "$f.part" "$f"
    fi
    echo "$f"
}

# measure NAME RUNS CMD...: sets wall, cpu, kb (best wall and cpu, largest peak).
measure() {
    local name=$1 n=$2
    shift 2
    wall="" cpu="" kb=0
    local r w c k u s
    for ((r = 0; r < n; r++)); do
        /usr/bin/time -f '%e %U %S %M' -o "$dir/time" "$@" >"$dir/out" 2>"$dir/err" ||
            { echo "huge-list: $name failed:" >&2; tail -5 "$dir/err" >&2; return 1; }
        read -r w u s k < <(tail -n 1 "$dir/time")
        c=$(awk -v a="$u" -v b="$s" 'BEGIN { printf "%.2f", a + b }')
        if [[ -z $wall ]] || awk -v a="$w" -v b="$wall" 'BEGIN { exit !(a < b) }'; then wall=$w; fi
        if [[ -z $cpu ]] || awk -v a="$c" -v b="$cpu" 'BEGIN { exit !(a < b) }'; then cpu=$c; fi
        if ((k > kb)); then kb=$k; fi
    done
}

printf '%-26s %8s %7s %9s   %-22s %-22s\n' case wall_s cpu_s peak_MB "vs unzip -Z1 (t, mem)" \
    "vs 7zz l (t, mem)"
row() {  # row LABEL: prints the last measure against the peers' (uz_*, sz_*)
    local ratio_u="-" ratio_s="-"
    if [[ -n ${uz_wall:-} ]]; then
        ratio_u=$(awk -v a="$wall" -v b="$uz_wall" -v m="$kb" -v n="$uz_kb" \
            'BEGIN { printf "%.2f, %.2f", a / b, m / n }')
    fi
    if [[ -n ${sz_wall:-} ]]; then
        ratio_s=$(awk -v a="$wall" -v b="$sz_wall" -v m="$kb" -v n="$sz_kb" \
            'BEGIN { printf "%.2f, %.2f", a / b, m / n }')
    fi
    printf '%-26s %8s %7s %9.1f   %-22s %-22s\n' "$1" "$wall" "$cpu" "$(echo "$kb / 1024" | bc -l)" \
        "$ratio_u" "$ratio_s"
}
peers() {  # peers FILE RUNS [7zz too: 1]
    uz_wall="" sz_wall=""
    measure unzip "$2" unzip -Z1 "$1"
    uz_wall=$wall uz_kb=$kb
    row "  unzip -Z1"
    if [[ ${3:-1} == 1 ]]; then
        measure 7zz "$2" 7zz l "$1"
        sz_wall=$wall sz_kb=$kb
        row "  7zz l"
    fi
}
window() {  # window FILE RUNS: the window's load, fill and sort
    measure tarvik "$2" env LANG=de_DE.UTF-8 QT_QPA_PLATFORM=offscreen "$app" --bench-open "$1"
    row "  window open+fill+sort"
    echo "    (the program: $(grep -o 'in [0-9]* ms.*' "$dir/out" || cat "$dir/out"))"
}

for c in $cases; do
    case $c in
        list200k | list1m)
            n=$([[ $c == list200k ]] && echo 200000 || echo 1000000)
            f=$(archive "$n")
            echo "$c: $n entries, $(stat -Lc %s "$f") bytes"
            peers "$f" "$runs"
            measure tarvik "$runs" "$cli" list --tsv "$f"
            row "  tarvik-cli list --tsv"
            measure tarvik "$runs" "$cli" list "$f"
            row "  tarvik-cli list"
            ;;
        window1m)
            f=$(archive 1000000)
            echo "$c: 1000000 entries"
            peers "$f" "$runs"
            window "$f" "$runs"
            ;;
        open10m)
            f=$(archive 10000000)
            echo "$c: 10000000 entries (Zip64), $(stat -Lc %s "$f") bytes"
            peers "$f" 1 "${PEERS_10M:-0}"
            measure tarvik 1 "$cli" list --tsv "$f"
            row "  tarvik-cli list --tsv"
            window "$f" 1 || echo "  window: failed (see above)"
            ;;
        *)
            echo "huge-list: unknown case $c" >&2
            exit 2
            ;;
    esac
done
echo "goals: list 200k <= 0.5 x unzip -Z1; window 1M < 1 s and < 150 MB;" \
    "10M open < 15 s and < 1.5 GB"
echo "load: $(uptime | sed 's/.*load average/load average/')"
