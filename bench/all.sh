#!/usr/bin/env bash
# Every benchmark row in one run, on the same machine state: memory and speed of
# add, extract and test, one big file and many small files (bench/lean.sh), the
# mixed corpus at levels 6 and 9 with extraction and test (bench/run.sh), and
# huge archives in the list and the window (bench/huge-list.sh). Each part's
# full output is kept in $OUT (default $TMPDIR/tarvik-bench-all); at the end the
# rows that carry a ratio against a peer are printed together with the goals.
#   bench/all.sh [BUILD_DIR]       (PARTS="lean run huge" to choose, HUGE_CASES for
#                                   huge-list.sh's cases; the parts'
#                                   own variables pass through)
# Not a test. Takes 20–40 minutes; check `uptime` first, other work distorts it.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "${1:-$here/../build}")
out=${OUT:-${TMPDIR:-/tmp}/tarvik-bench-all}
parts=${PARTS:-"lean run huge"}
mkdir -p "$out"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg); $(nproc) cores; $(date -u '+%F %T') UTC"
for p in $parts; do
    case $p in
        lean) cmd=("$here/lean.sh" "$build") ;;
        run) cmd=("$here/run.sh" "$build") ;;
        huge) cmd=("$here/huge-list.sh" "$build" ${HUGE_CASES:+"$HUGE_CASES"}) ;;
        *) echo "bench/all.sh: unknown part $p" >&2; exit 2 ;;
    esac
    echo "== $p: ${cmd[*]}"
    "${cmd[@]}" 2>&1 | tee "$out/$p.txt"
done

echo
echo "==================== every row against its peer ===================="
[[ -f $out/lean.txt && $parts == *lean* ]] && {
    echo "-- memory and speed (lean.sh: peer time / ours, our memory / peer's, size)"
    grep -E 'x +cpu|^work|^mixed:|^archive:|^extract to|^  (unzip|engine)' "$out/lean.txt" || true
}
[[ -f $out/run.txt && $parts == *run* ]] && {
    echo "-- mixed corpus (run.sh)"
    sed -n '/== ratios (goal) ==/,/byte-identical/p' "$out/run.txt"
}
[[ -f $out/huge.txt && $parts == *huge* ]] && {
    echo "-- huge archives (huge-list.sh)"
    grep -E '^[a-z0-9]+:|^  [a-z7]' "$out/huge.txt" || true
}
cat <<'GOALS'
goals: add/extract/test peak <= 64 MiB on any input; list 200k <= 0.5 x unzip -Z1;
       window 1M < 1 s and < 150 MB; 10M entries open < 15 s and < 1.5 GB;
       one big file >= 3.5 x zip -6 (size <= +1 %); 30,000 small files to tmpfs >= 2.5 x unzip,
       on disk >= 1 x; level 6 >= 4 x zip -6 (size <= +0.5 %); level 9 >= 2 x zip -9 (size <= 0)
GOALS
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
