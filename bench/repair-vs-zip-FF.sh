#!/usr/bin/env bash
# Rescuing damaged archives: `tarvik-cli repair` against Info-ZIP `zip -FF`
# on the same inputs. The archive (made by Info-ZIP zip from 300 files of
# mixed size and compressibility, plus one copy written to a pipe so that its
# entries carry data descriptors) is damaged: cut at 10 % ... 90 %, its
# directory cut off, its end record overwritten. For each damaged file and
# tool the table shows the entries in the rescued archive, how many of them
# are whole (unzip -t finds their data match their CRC), and whether
# `unzip -t` and Python's zipfile (testzip) accept the result.
#
#   bench/repair-vs-zip-FF.sh [BUILD_DIR]
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-"$here/../build"}
cli="$build/cli/tarvik-cli"
[[ -x $cli ]] || cmake --build "$build" -j2 --target tarvik-cli >&2
for tool in zip unzip python3; do
    command -v "$tool" >/dev/null || { echo "repair-vs-zip-FF: $tool missing" >&2; exit 1; }
done

tmp=$(mktemp -d "${TMPDIR:-/tmp}/tarvik-repair-bench.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
python3 - "$tmp/src" <<'PY'
import os, random, sys
root = sys.argv[1]
random.seed(13)
for i in range(300):
    d = os.path.join(root, "d%02d" % (i % 17))
    os.makedirs(d, exist_ok=True)
    n = random.randint(0, 40000)
    data = (os.urandom(n) if i % 3 == 0 else
            bytes(random.choice(b"abcdefgh \n") for _ in range(n)))
    with open(os.path.join(d, "f%03d.%s" % (i, "bin" if i % 3 == 0 else "txt")), "wb") as f:
        f.write(data)
PY
(cd "$tmp/src" && zip -q -r ../plain.zip . && zip -q -r - . | cat > ../streamed.zip)

# Entries an archive lists (unzip -Z1), and how many of them `unzip -t`
# finds whole (data matching their CRC).
entries_of() { { unzip -Z1 "$1" 2>/dev/null || true; } | wc -l; }
whole_of() { { unzip -t "$1" 2>/dev/null || true; } | grep -c '  OK$' || true; }
python_reads() {
    python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).testzip()' "$1" >/dev/null 2>&1 &&
        echo ok || echo FAIL
}

printf '%-10s %-16s %6s | %-20s %7s %6s %7s %6s | %-20s %7s %6s %7s %6s\n' \
    archive damage bytes "tarvik repair" entries whole unzip python "zip -FF" entries whole unzip python
for base in ${BASES:-plain streamed}; do
    original="$tmp/$base.zip"
    size=$(stat -c %s "$original")
    dirstart=$(python3 -c "
import struct,sys
b=open(sys.argv[1],'rb').read(); e=b.rfind(b'PK\x05\x06'); print(struct.unpack('<I',b[e+16:e+20])[0])" "$original")
    damages=()
    for p in 10 20 30 40 50 60 70 80 90; do damages+=("cut-$p%:$((size * p / 100))"); done
    damages+=("no-directory:$dirstart" "end-overwritten:-1")
    for d in "${damages[@]}"; do
        name=${d%%:*}
        length=${d#*:}
        damaged="$tmp/damaged.zip"
        if [[ $length == -1 ]]; then
            cp "$original" "$damaged"
            printf '\0%.0s' $(seq 22) | dd of="$damaged" bs=1 seek=$((size - 22)) conv=notrunc status=none
        else
            head -c "$length" "$original" > "$damaged"
        fi
        row=$(printf '%-10s %-16s %6s' "$base" "$name" "$(stat -c %s "$damaged")")
        for tool in tarvik zipFF; do
            out="$tmp/out-$tool.zip"
            rm -f "$out"
            if [[ $tool == tarvik ]]; then
                "$cli" repair "$damaged" "$out" >/dev/null 2>&1 && status=0 || status=$?
                label="exit $status"
            else
                # zip -FF asks whether the archive is a single part; it loops on
                # an answer it cannot read, so it gets "y" and a time limit.
                set +o pipefail
                yes | timeout 300 zip -FF "$damaged" --out "$out" >/dev/null 2>&1
                status=${PIPESTATUS[1]}
                set -o pipefail
                label="exit $status"
            fi
            entries=0 whole=0 unzipok=- pyok=-
            if [[ -f $out ]]; then
                entries=$(entries_of "$out")
                whole=$(whole_of "$out")
                unzip -tqq "$out" >/dev/null 2>&1 && unzipok=ok || unzipok=FAIL
                pyok=$(python_reads "$out")
                label="$label $(stat -c %s "$out")B"
            fi
            row+=$(printf ' | %-20s %7s %6s %7s %6s' "$label" "$entries" "$whole" "$unzipok" "$pyok")
        done
        echo "$row"
    done
done
echo "(entries in the original: $(entries_of "$tmp/plain.zip"); whole: entries unzip -t finds OK)"
