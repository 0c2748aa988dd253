#!/usr/bin/env bash
# Extracting many small files: a 30,000-file archive (made by Info-ZIP zip -6 from a
# generated tree of small text files in a few hundred folders, like a large jar or a source
# tree) extracted by the engine (through bench/zedrive) and by `unzip -q`, to tmpfs
# (/dev/shm) and to disk. Prints wall time, CPU time, peak memory and the system calls per
# file of both (strace -f -c, on tmpfs). Not a test.
#   bench/many-small.sh [BUILD_DIR]   (WORK=/tmp/tarvik-small, SHM=/dev/shm/tarvik-small,
#                                     FILES=30000, STRACE=1; BASE_ENGINE=other/ZAEngine190.so
#                                     adds rows for that build)
set -euo pipefail
BUILD=${1:-build}
ZEDRIVE=$(realpath "$BUILD/bin/zedrive")
WORK=${WORK:-/tmp/tarvik-small}
SHM=${SHM:-/dev/shm/tarvik-small}
FILES=${FILES:-30000}
STRACE=${STRACE:-1}
[ -x "$ZEDRIVE" ] || { echo "build first: cmake --build $BUILD --target zedrive" >&2; exit 1; }
mkdir -p "$WORK" "$SHM"
cd "$WORK"

# The tree: FILES files of 60 bytes to 20 KB (most of them 1-4 KB), text cut from the
# system's headers, in folders two and three levels deep, with spread dates and modes.
if [ ! -f "small-$FILES.zip" ]; then
    rm -rf tree
    python3 - "$FILES" <<'EOF'
import os, random, sys, glob
count = int(sys.argv[1])
rng = random.Random(17)
text = b""
for p in sorted(glob.glob("/usr/include/*.h"))[:200]:
    try:
        text += open(p, "rb").read()
    except OSError:
        pass
text = text or bytes(range(32, 127)) * 4096
folders = ["tree/%s/%s" % (a, b) for a in ("org", "com", "net", "lib") for b in range(40)]
folders += ["%s/sub%d" % (f, i) for f in folders[:80] for i in range(2)]
for f in folders:
    os.makedirs(f, exist_ok=True)
for i in range(count):
    size = min(20000, max(60, int(rng.lognormvariate(7.7, 0.9))))
    at = rng.randrange(0, len(text) - size) if len(text) > size else 0
    path = "%s/File%05d.%s" % (rng.choice(folders), i, rng.choice(["class", "h", "txt"]))
    with open(path, "wb") as out:
        out.write(text[at:at + size])
    os.chmod(path, rng.choice([0o644, 0o644, 0o600, 0o755]))
    t = 1500000000 + rng.randrange(0, 200000000)
    os.utime(path, (t, t))
EOF
    (cd tree && zip -qr -6 "../small-$FILES.zip" .)
fi
ZIPF="$WORK/small-$FILES.zip"
entries=$(unzip -Z1 "$ZIPF" | wc -l)
files=$(unzip -Z1 "$ZIPF" | grep -vc '/$')
cat "$ZIPF" > /dev/null  # warm the page cache

measure() {  # prints "seconds peak-MiB cpu-seconds user system"
    /usr/bin/time -f "%e %M %U %S" -o "$WORK/time.one" "$@" > /dev/null 2>&1 || true
    awk '{ printf "%.2f %.0f %.2f %.2f %.2f", $1, $2 / 1024, $3 + $4, $3, $4 }' "$WORK/time.one"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b < 0.01) b = 0.01; printf "%.2f", a / b }'; }
line() {  # LABEL "s mib cpu user sys" [PEER-SECONDS]
    read -r s m c u y <<< "$2"
    printf '  %-16s %6.2f s  cpu %5.2f s (user %5.2f, sys %5.2f)  %4d MiB' "$1" "$s" "$c" "$u" "$y" "$m"
    [ -n "${3:-}" ] && printf '   unzip / this %5.2fx' "$(ratio "$3" "$s")"
    echo
}
fresh() { rm -rf "$1"; mkdir -p "$1"; sync; }

echo "archive: $entries entries ($files files), $(($(stat -c %s "$ZIPF") / 1048576)) MiB"
for place in "$SHM" "$WORK"; do
    kind=tmpfs
    [ "$place" = "$WORK" ] && kind="disk ($(df --output=fstype "$WORK" | tail -1))"
    echo "extract to $kind: $place"
    fresh "$place/xp"
    p=$(measure unzip -q "$ZIPF" -d "$place/xp")
    line "unzip -q" "$p"
    read -r ps _ <<< "$p"
    fresh "$place/xo"
    o=$(measure "$ZEDRIVE" x "$ZIPF" "$place/xo")
    line "engine" "$o" "$ps"
    diff -r "$place/xp" "$place/xo" > /dev/null 2>&1 || echo "  engine output differs from unzip's"
    if [ -n "${BASE_ENGINE:-}" ]; then
        fresh "$place/xo"
        o=$(measure env TARVIK_ENGINE="$BASE_ENGINE" "$ZEDRIVE" x "$ZIPF" "$place/xo")
        line "base engine" "$o" "$ps"
    fi
    rm -rf "$place/xp" "$place/xo"
done

if [ "$STRACE" = 1 ] && command -v strace > /dev/null; then
    # System calls per file on tmpfs, all threads counted.
    echo "system calls per file (strace -f -c, tmpfs; top calls per file):"
    count() {  # LABEL COMMAND...
        local label=$1
        shift
        fresh "$SHM/xs"
        strace -f -c -o "$WORK/strace.txt" "$@" > /dev/null 2>&1 || true
        awk -v f="$files" -v l="$label" '
            /^ *[0-9.]+ +[0-9.]+ +[0-9]+ +[0-9]+/ && $NF != "total" { calls[$NF] += $4; total += $4 }
            END {
                printf "  %-10s %5.2f per file:", l, total / f
                for (k in calls) if (calls[k] / f >= 0.05) printf " %s %.2f", k, calls[k] / f
                print ""
            }' "$WORK/strace.txt"
        rm -rf "$SHM/xs"
    }
    count "unzip -q" unzip -q "$ZIPF" -d "$SHM/xs"
    count "engine" "$ZEDRIVE" x "$ZIPF" "$SHM/xs"
fi
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
